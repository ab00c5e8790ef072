// Assignment scans: the exchange formula over contiguous rows, the exact local change, or the
// exchange table kept between scans.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/evaluation.hpp"
#include "problem/kernels/assignment.hpp"
#include "problem/matrix.hpp"
#include "problem/scan/common.hpp"
#include "problem/scan_scratch.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

// delta(s, m) is delta_eval of the move m.
struct QapKernel {
  const Qap* qap;
  Rearrangement kind;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const { return kernels::qap_delta(*qap, kind, s, m); }
};

// Assignment. With symmetric data, exchanges (and reversals of up to three positions) use
// the exchange formula over rows of D and of P, the flow matrix permuted by the solution
// (P[a][k] = F[s_a][s_k]), so the inner loop reads four contiguous rows.
[[nodiscard]] inline double qap_formula_rows(const double* di, const double* dj, const double* pi,
                                             const double* pj, std::size_t i, std::size_t j,
                                             std::size_t m) noexcept {
  double total = 0.0;
  for (std::size_t k = 0; k < i; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  for (std::size_t k = i + 1; k < j; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  for (std::size_t k = j + 1; k < m; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  return total;
}

// The exchange table (ExchangeTable) of verified integral data (Qap::integral), where every
// route computes an exchange's change exactly: the formula with symmetric data, the exact
// change otherwise. The table then holds the very numbers those routes give.
//
// After an exchange (r, s) the change of an exchange (u, v) away from r and s moves by terms
// that involve only rows and columns r and s, and they factor. With symmetric data, the
// formula sum_k (D[v][k] - D[u][k]) * (P[u][k] - P[v][k]) (P[a][k] = F[s_a][s_k]) moves by
//   (a_v - a_u) * (b_u - b_v),  a_k = D[k][r] - D[k][s],  b_k = P'[k][r] - P'[k][s]
// (P' after the exchange): one product of differences of per-position values, prepared in
// O(n), and the whole table updates in one loop without branches. Otherwise the cost is
// sum over a != b of A[a][b] * P[a][b] with A the part of D above its diagonal, and the same
// steps give two such terms, over columns and over rows of A and P'. The exchanges that touch
// r or s do not factor: with asymmetric data they are scored afresh, in O(n) each; with
// symmetric data they come from the products N = D P, kept beside the table. Expanding the
// formula,
//   change(k, r) = N[r][k] + N[k][r] - N[r][r] - N[k][k] - (the terms l = k and l = r),
// and an exchange moves N by a swap of two columns and one outer product,
//   N' = N Q + a b^T  (Q exchanges r and s; a, b as above),
// about n^2 multiply-adds instead of the 4 n^2 of scoring 2n exchanges afresh.
namespace exchange_table {

// The loops over rows of the table (scan/assignment_lanes.cpp). With symmetric data, for
// u < v < m: row[v] += (a[v] - a[u]) * (b[u] - b[v]), giving the bounds of the new values;
// otherwise the same with a second such term over a2 and b2. `row` is row u of the table.
[[nodiscard]] RowBounds add_row_differences(double* row, const double* a, const double* b, std::size_t u,
                                            std::size_t m) noexcept;
void add_row_differences(double* row, const double* a, const double* b, const double* a2, const double* b2,
                         std::size_t u, std::size_t m) noexcept;
// N' = N Q + a b^T over the m x m products: columns r and s exchanged, then a[x] * b[k] added.
// Columns r and s and the diagonal of N' are copied out as each row is done (the column and
// diagonal reads of the exchanges beside (r, s) then come from three short arrays).
struct ProductColumns {
  double* at_r;
  double* at_s;
  double* diagonal;
};
void move_products(double* products, const double* a, const double* b, std::size_t r, std::size_t s,
                   std::size_t m, ProductColumns out) noexcept;

// sum_{k != i, j} (dj[k] - di[k]) * (pi[k] - pj[k]) on integral data: every partial sum is
// exact, so four independent sums give the formula's number and let the loop run in lanes.
[[nodiscard]] inline double formula(const double* di, const double* dj, const double* pi, const double* pj,
                                    std::size_t i, std::size_t j, std::size_t m) noexcept {
  double acc0 = 0.0;
  double acc1 = 0.0;
  double acc2 = 0.0;
  double acc3 = 0.0;
  std::size_t k = 0;
  for (; k + 4 <= m; k += 4) {
    acc0 = acc0 + (dj[k] - di[k]) * (pi[k] - pj[k]);
    acc1 = acc1 + (dj[k + 1] - di[k + 1]) * (pi[k + 1] - pj[k + 1]);
    acc2 = acc2 + (dj[k + 2] - di[k + 2]) * (pi[k + 2] - pj[k + 2]);
    acc3 = acc3 + (dj[k + 3] - di[k + 3]) * (pi[k + 3] - pj[k + 3]);
  }
  for (; k < m; ++k) acc0 = acc0 + (dj[k] - di[k]) * (pi[k] - pj[k]);
  const double at_i = (dj[i] - di[i]) * (pi[i] - pj[i]);
  const double at_j = (dj[j] - di[j]) * (pi[j] - pj[j]);
  return ((acc0 + acc1) + (acc2 + acc3)) - (at_i + at_j);
}

// The change of exchange (i, j), i < j, scored afresh over `s`.
[[nodiscard]] inline double afresh(const Qap& q, const ExchangeTable& t, std::span<const Word> s, std::size_t i,
                                   std::size_t j) noexcept {
  const Matrix& d = q.distance_matrix;
  if (!q.symmetric) return kernels::qap_exchange_exact(d, q.flow_matrix, s, i, j);
  const std::size_t m = s.size();
  const double* const p = t.permuted.data();
  return formula(d.row(i), d.row(j), p + i * m, p + j * m, i, j, m);
}

// N = D P for symmetric data (P = t.permuted, of the kept solution), each row built up along
// rows of P. O(n^3): once for a table that takes exchanges. Every partial sum is an integer
// below n |D| |F|, so the products are exact. The room is reserved (catch_up), so nothing is
// allocated here.
inline void build_products(const Qap& q, ExchangeTable& t) noexcept {
  const Matrix& d = q.distance_matrix;
  const std::size_t m = t.solution.size();
  const double* const p = t.permuted.data();
  t.products.assign(m * m, 0.0);
  for (std::size_t x = 0; x < m; ++x) {
    const double* const dx = d.row(x);
    double* const out = t.products.data() + x * m;
    for (std::size_t l = 0; l < m; ++l) {
      const double dxl = dx[l];
      if (dxl == 0.0) continue;  // adds nothing
      const double* const pl = p + l * m;
      for (std::size_t k = 0; k < m; ++k) out[k] = out[k] + dxl * pl[k];
    }
  }
}

// Brings the table from its solution to s after r < s have exchanged (t.solution is already
// the solution after the exchange), and calls done(u, bounds) once row u holds its final
// values (bounds: of the row's values from column u + 1 on), in row order: the scan looks at
// each row while it is still in the nearest cache. The changes of the exchanges that touch r
// or s do not depend on the table, so they are worked out first (with_r, with_s: 2m values
// of `prepared`) and written as each row passes.
template <class Done>
void exchange(const Qap& q, ExchangeTable& t, std::size_t r, std::size_t s, Done&& done) noexcept {
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  const std::span<const Word> sol = t.solution;
  const std::size_t m = sol.size();
  double* const deltas = t.deltas.data();
  double* const a = t.prepared.data();
  double* const b = a + m;
  double* const a2 = b + m;
  double* const b2 = a2 + m;
  double* const with_r = b2 + m;  // with_r[k]: the change of exchange {k, r}
  double* const with_s = with_r + m;
  if (q.symmetric) {
    double* const p = t.permuted.data();
    std::swap_ranges(p + r * m, p + (r + 1) * m, p + s * m);
    for (std::size_t k = 0; k < m; ++k) std::swap(p[k * m + r], p[k * m + s]);
    // The diagonals of D and of P' (D's is kept as built; P's moves with the solution).
    const double* const d_diagonal = t.diagonals.data();
    double* const p_diagonal = t.diagonals.data() + m;
    std::swap(p_diagonal[r], p_diagonal[s]);
    const double* const dr = d.row(r);
    const double* const ds = d.row(s);
    const double* const pr = p + r * m;
    const double* const ps = p + s * m;
    for (std::size_t k = 0; k < m; ++k) {
      a[k] = dr[k] - ds[k];
      b[k] = pr[k] - ps[k];
    }
    // N' = N Q + a b^T, built in full the first time (from P', which the kept solution now has).
    const ProductColumns columns{a2, b2, t.diagonals.data() + 2 * m};  // a2, b2: free with symmetric data
    if (t.products.empty()) {
      build_products(q, t);
      for (std::size_t x = 0; x < m; ++x) {
        columns.at_r[x] = t.products[x * m + r];
        columns.at_s[x] = t.products[x * m + s];
        columns.diagonal[x] = t.products[x * m + x];
      }
    } else {
      move_products(t.products.data(), a, b, r, s, m, columns);
    }
    const double* const nr = t.products.data() + r * m;
    const double* const ns = t.products.data() + s * m;
    // D and P' are symmetric, so D[k][r] = D[r][k] and P'[k][r] = P'[r][k]: every read below
    // is of a row or a short array.
    for (std::size_t k = 0; k < m; ++k) {
      const double dkk = d_diagonal[k];
      const double pkk = p_diagonal[k];
      const double nkk = columns.diagonal[k];
      const double own_r = (dr[k] - dkk) * (pkk - pr[k]) + (d_diagonal[r] - dr[k]) * (pr[k] - p_diagonal[r]);
      with_r[k] = ((nr[k] + columns.at_r[k]) - (nr[r] + nkk)) - own_r;
      const double own_s = (ds[k] - dkk) * (pkk - ps[k]) + (d_diagonal[s] - ds[k]) * (ps[k] - p_diagonal[s]);
      with_s[k] = ((ns[k] + columns.at_s[k]) - (ns[s] + nkk)) - own_s;
    }
  } else {
    auto above = [&](std::size_t x, std::size_t y) { return x < y ? d.fast(x, y) : 0.0; };
    const Word vr = sol[r];
    const Word vs = sol[s];
    for (std::size_t k = 0; k < m; ++k) {
      const Word w = sol[k];
      a[k] = above(k, r) - above(k, s);
      b[k] = f.fast(w, vr) - f.fast(w, vs);
      a2[k] = above(r, k) - above(s, k);
      b2[k] = f.fast(vr, w) - f.fast(vs, w);
    }
    for (std::size_t k = 0; k < m; ++k) {
      if (k != r) with_r[k] = kernels::qap_exchange_exact(d, f, sol, std::min(k, r), std::max(k, r));
      if (k != s) with_s[k] = kernels::qap_exchange_exact(d, f, sol, std::min(k, s), std::max(k, s));
    }
  }
  for (std::size_t u = 0; u + 1 < m; ++u) {
    double* const row = deltas + u * m;
    RowBounds bounds;  // open: asymmetric rows are not bounded
    if (q.symmetric) {
      bounds = add_row_differences(row, a, b, u, m);
    } else {
      add_row_differences(row, a, b, a2, b2, u, m);
    }
    auto put = [&](std::size_t v, double value) {
      row[v] = value;
      bounds.lo = std::min(bounds.lo, value);
      bounds.hi = std::max(bounds.hi, value);
    };
    if (u < r) put(r, with_r[u]);
    if (u < s) put(s, with_s[u]);
    if (u == r) {
      for (std::size_t v = r + 1; v < m; ++v) put(v, with_r[v]);
    }
    if (u == s) {
      for (std::size_t v = s + 1; v < m; ++v) put(v, with_s[v]);
    }
    done(u, bounds);
  }
}

// Brings a kept table to `s` by the exchanges that lead there, when they are few; false when
// it has to be built afresh (nothing kept, or too far: an exchange's update costs about
// 2.5 n^2, building n^3 / 2). done(u, bounds) is called as the rows of the last exchange
// are done.
template <class Done>
[[nodiscard]] bool catch_up(const Qap& q, std::span<const Word> s, ExchangeTable& t, Done&& done) {
  const std::size_t m = s.size();
  if (t.solution.size() != m || !t.distances.shares_storage_with(q.distance_matrix) ||
      !t.flows.shares_storage_with(q.flow_matrix) || t.distances.rows() != q.distance_matrix.rows()) {
    return false;
  }
  std::size_t differing = 0;
  for (std::size_t p = 0; p < m; ++p) differing += t.solution[p] != s[p] ? 1 : 0;
  if (differing > std::max<std::size_t>(2, m / 8)) return false;
  if (q.symmetric && differing > 0) t.products.reserve(m * m);
  for (std::size_t p = 0; p < m && differing > 0; ++p) {
    if (t.solution[p] == s[p]) continue;
    std::size_t r = p + 1;
    while (r < m && t.solution[r] != s[p]) ++r;
    if (r == m) return false;  // not a rearrangement of the kept solution
    std::swap(t.solution[p], t.solution[r]);
    differing -= t.solution[r] == s[r] ? 2 : 1;
    if (differing == 0) {
      exchange(q, t, p, r, done);
    } else {
      exchange(q, t, p, r, [](std::size_t, RowBounds) {});
    }
  }
  return true;
}

// Builds the table for `s` row by row, visiting the rows of the moves (first <= i < j < n) as
// they are done. A stop between rows leaves no table kept.
template <class Visit>
void build(const Qap& q, std::span<const Word> s, std::size_t first, std::size_t n, ExchangeTable& t,
           Visit& visit) {
  const std::size_t m = s.size();
  t.solution.clear();
  t.products.clear();
  t.distances = q.distance_matrix;
  t.flows = q.flow_matrix;
  t.deltas.resize(m * m);
  t.prepared.resize(6 * m);
  if (q.symmetric) {
    const Matrix& f = q.flow_matrix;
    t.permuted.resize(m * m);
    t.diagonals.resize(3 * m);
    for (std::size_t a = 0; a < m; ++a) {
      const double* const row = f.row(s[a]);
      double* const out = t.permuted.data() + a * m;
      for (std::size_t k = 0; k < m; ++k) out[k] = row[s[k]];
      t.diagonals[a] = q.distance_matrix.row(a)[a];
      t.diagonals[m + a] = out[a];
    }
  }
  for (std::size_t i = 0; i + 1 < m; ++i) {
    const bool visited = i >= first && i + 1 < n;
    if (visited && scan_stop(visit, n - 1 - i)) return;
    double* const row = t.deltas.data() + i * m;
    for (std::size_t j = i + 1; j < m; ++j) row[j] = afresh(q, t, s, i, j);
    if (!visited) continue;
    visit_row(visit, i, i + 1, row + i + 1, n - 1 - i);
  }
  t.solution.assign(s.begin(), s.end());
}

}  // namespace exchange_table

// Exchanges over the table: caught up with the solution, or built afresh.
template <class Visit>
void scan_exchange_table(const Qap& q, std::span<const Word> s, std::size_t first, std::size_t n,
                         ExchangeTable& t, Visit& visit) {
  const std::size_t m = s.size();
  bool stopped = false;
  std::size_t next = first;  // the next row to visit
  // Rows up to u, the last of them with its bounds (over the whole row: the ones the scan
  // covers can only be narrower).
  auto visit_up_to = [&](std::size_t u, RowBounds bounds) {
    for (; next <= u && next + 1 < n && !stopped; ++next) {
      if (scan_stop(visit, n - 1 - next)) {
        stopped = true;
      } else {
        visit_row(visit, next, next + 1, t.deltas.data() + next * m + next + 1, n - 1 - next,
                  next == u ? bounds : RowBounds{});
      }
    }
  };
  if (!exchange_table::catch_up(q, s, t, visit_up_to)) return exchange_table::build(q, s, first, n, t, visit);
  visit_up_to(m, RowBounds{});  // the rows left: all of them when nothing was exchanged
}

// Segment moves on verified data: the exact change over the run, as qap_segment gives it.
template <class Visit>
void scan_qap_segments(const Qap& q, const ScanContext& c, Visit& visit) {
  scan_moves(c, visit, [&](Move mv) {
    return kernels::qap_run_exact(q.distance_matrix, q.flow_matrix, c.s, mv.i, mv.j,
                                  [&](std::size_t p) { return or_opt::value_after(c.s, mv, p); });
  });
}

template <class Visit>
void scan_qap(const Qap& q, const ScanContext& c, Visit& visit) {
  const Rearrangement kind = c.moves.rearrangement;
  const std::span<const Word> s = c.s;
  const std::size_t first = c.first();
  const std::size_t n = c.n;
  ScanScratch& scratch = c.scratch;
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  const std::size_t m = d.rows();
  if (n > m || !kernels::qap_verified(q, s)) return scan_checked(QapKernel{&q, kind}, c, visit);
  switch (kind) {
    case Rearrangement::kSegment: return scan_qap_segments(q, c, visit);
    case Rearrangement::kExchange:
      if (q.integral) return scan_exchange_table(q, s, first, n, scratch.exchanges, visit);
      break;
    case Rearrangement::kReverse: break;
  }
  const double* permuted = nullptr;
  if (q.symmetric) {
    scratch.values.resize(m * m);
    for (std::size_t a = 0; a < m; ++a) {
      const double* const row = f.row(s[a]);
      double* const out = scratch.values.data() + a * m;
      for (std::size_t k = 0; k < m; ++k) out[k] = row[s[k]];
    }
    permuted = scratch.values.data();
  }
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool exchange = kernels::qap_as_exchange(kind, i, j);
      double delta = 0.0;
      if (!exchange) {
        delta = kernels::qap_reversal_exact(d, f, s, i, j);
      } else if (q.symmetric) {
        delta = qap_formula_rows(d.row(i), d.row(j), permuted + i * m, permuted + j * m, i, j, m);
      } else {
        delta = kernels::qap_exchange_exact(d, f, s, i, j);
      }
      visit(move_at(i, j), delta);
    }
  }
}

}  // namespace kestrum::scan
