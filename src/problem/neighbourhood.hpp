// Specialised neighbourhood scans: one loop per (evaluation kind, move kind) pair.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "problem/delta_kernels.hpp"
#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "support/word.hpp"

namespace kestrum {

// Workspace reused by every scan of one problem, so a warm scan allocates nothing.
struct ScanScratch {
  std::vector<double> values;
  std::vector<double> aux;
};

namespace scan {

using kernels::Moves;

[[nodiscard]] inline Moves moves_of(const SimpleMoveType& mt) noexcept {
  return mt.index() == 0 ? Moves::kReverse : Moves::kSwap;
}
// SwapTsp never moves position 0.
[[nodiscard]] inline std::size_t first_position(const SimpleMoveType& mt) noexcept {
  return mt.index() == 2 ? 1 : 0;
}
[[nodiscard]] inline std::size_t size_of(const SimpleMoveType& mt) noexcept {
  return std::visit([](const auto& k) -> std::size_t { return k.size; }, mt);
}
[[nodiscard]] inline bool values_below(std::span<const Word> s, std::size_t bound) noexcept {
  return std::all_of(s.begin(), s.end(), [bound](Word v) { return v < bound; });
}
[[nodiscard]] inline Move move_at(std::size_t i, std::size_t j) noexcept {
  return Move{static_cast<Word>(i), static_cast<Word>(j)};
}

// Kernels: delta(s, i, j) is delta_eval of the move (i, j), checked reads included.
template <class Bins>
struct BinsKernel {
  const Bins* bins;
  Moves kind;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j) const {
    return kernels::bins_delta<typename kernels::BinsOf<Bins>::State>(bins->weights, bins->max_fill,
                                                                      kind, s, i, j);
  }
};
// R = kernels::Unchecked only where the data is known to cover every move (tour_covered).
template <class R = kernels::Checked>
struct TspSwapKernel {
  const Tsp* tsp;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j) const {
    return kernels::tsp_swap<R>(tsp->distance_matrix, tsp->symmetric, s, i, j);
  }
};
template <class R = kernels::Checked>
struct TspReverseKernel {
  const Tsp* tsp;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j) const {
    return kernels::tsp_reverse<R>(tsp->distance_matrix, tsp->symmetric, s, i, j);
  }
};

// Every move of a move type of size n over `s` reads only positions below s.size() and
// matrix entries that exist: the checked and unchecked reads then give the same values.
// Moves only rearrange the values, so this holds as long as the solution is a rearrangement
// of `s` and the move type and the data stay the same.
[[nodiscard]] inline bool tour_covered(const Tsp& t, std::span<const Word> s, std::size_t n) noexcept {
  return n <= s.size() && t.distance_matrix.is_square() && values_below(s, t.distance_matrix.rows());
}
struct QapKernel {
  const Qap* qap;
  Moves kind;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j) const {
    return kernels::qap_delta(*qap, kind, s, i, j);
  }
};

// The enumeration with checked deltas: exactly what calling delta_eval move by move gives,
// failures and their order included. Used when the data does not cover the solution.
template <class Kernel, class Visit>
void scan_checked(const Kernel& k, std::span<const Word> s, std::size_t first, std::size_t n,
                  Visit& visit) {
  for (std::size_t i = first; i + 1 < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) visit(move_at(i, j), k.delta(s, i, j));
  }
}

// Bin packing. The state before each position is kept; a move's second evaluation starts
// from the state before i. Once the moved run's state agrees with the original one at the
// same position, the rest of the run is known: with an identical state it continues
// identically, and where the fill alone decides (FillDecides) the score only differs by
// what it differed at that point.

// True when every fill, free capacity and score of a run over these weights is a whole
// number well below 2^53. Sums are then exact, so their order cannot change a bit, and the
// space measures become fill-decided too.
[[nodiscard]] inline bool whole_number_run(const double* ws, std::size_t len, double max_fill,
                                           bool squared) noexcept {
  auto whole = [](double x) { return std::isfinite(x) && std::floor(x) == x; };
  if (!whole(max_fill)) return false;
  double bound = std::fabs(max_fill);
  for (std::size_t p = 0; p < len; ++p) {
    if (!whole(ws[p])) return false;
    bound = bound + std::fabs(ws[p]);
  }
  constexpr double kLimit = 4503599627370496.0;  // 2^52, leaving room for rounding of the bound
  const double per_bin = squared ? bound * bound : bound;
  return per_bin * static_cast<double>(len + 1) < kLimit;
}

template <class State, bool FillDecides, class Visit>
void bins_moves(const double* ws, const double* totals, const double* fills, std::size_t len,
                double max_fill, Moves kind, std::size_t first, std::size_t n, Visit& visit) {
  auto rejoins = [&](const State& t, std::size_t p) {
    return kernels::same_bits(t.fill, fills[p]) &&
           (FillDecides || kernels::same_bits(t.total, totals[p]));
  };
  // The moved run's state at q, given that it rejoined the original at p <= q.
  auto jump = [&](const State& t, std::size_t p, std::size_t q) {
    if constexpr (FillDecides) {
      return State{t.total + (totals[q] - totals[p]), fills[q]};
    } else {
      return State{totals[q], fills[q]};
    }
  };
  const double before = State{totals[len], fills[len]}.finish(max_fill);
  for (std::size_t i = first; i + 1 < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      State t{totals[i], fills[i]};
      if (kind == Moves::kSwap) {
        t.step(ws[j], max_fill);
        for (std::size_t p = i + 1; p < j; ++p) {
          if (rejoins(t, p)) {
            t = jump(t, p, j);
            break;
          }
          t.step(ws[p], max_fill);
        }
        t.step(ws[i], max_fill);
      } else {
        for (std::size_t p = j + 1; p-- > i;) t.step(ws[p], max_fill);
      }
      double after = 0.0;
      for (std::size_t p = j + 1;; ++p) {
        if (p == len) {
          after = t.finish(max_fill);
          break;
        }
        if (rejoins(t, p)) {
          after = jump(t, p, len).finish(max_fill);
          break;
        }
        t.step(ws[p], max_fill);
      }
      visit(move_at(i, j), after - before);
    }
  }
}

template <class Bins, class Visit>
void scan_bins(const Bins& b, Moves kind, std::span<const Word> s, std::size_t first,
               std::size_t n, ScanScratch& scratch, Visit& visit) {
  using State = typename kernels::BinsOf<Bins>::State;
  const std::size_t len = s.size();
  if (n > len || !values_below(s, b.weights.size())) {
    return scan_checked(BinsKernel<Bins>{&b, kind}, s, first, n, visit);
  }
  const double max_fill = b.max_fill;
  scratch.values.resize(len);
  scratch.aux.resize(2 * (len + 1));
  double* const ws = scratch.values.data();  // weight at each position
  double* const totals = scratch.aux.data();
  double* const fills = totals + (len + 1);
  State st{};
  for (std::size_t p = 0; p < len; ++p) {
    ws[p] = b.weights[s[p]];
    totals[p] = st.total;
    fills[p] = st.fill;
    st.step(ws[p], max_fill);
  }
  totals[len] = st.total;
  fills[len] = st.fill;
  if (State::kFillDecides ||
      whole_number_run(ws, len, max_fill, std::is_same_v<State, kernels::SpaceExpState>)) {
    bins_moves<State, true>(ws, totals, fills, len, max_fill, kind, first, n, visit);
  } else {
    bins_moves<State, false>(ws, totals, fills, len, max_fill, kind, first, n, visit);
  }
}

// Tours. Scratch holds the tour's own edges: edge[k] = D[s_k][s_k+1], edge[L-1] the closing
// one. Moves whose run touches the last position (the closing edge) or, for exchanges,
// whose positions are adjacent go through the general routine; the rest use the hoisted rows
// of the edges at i.
[[nodiscard]] inline const double* tour_edges(const Matrix& d, std::span<const Word> s,
                                              std::vector<double>& out) {
  const std::size_t len = s.size();
  out.resize(len);
  for (std::size_t k = 0; k + 1 < len; ++k) out[k] = d.fast(s[k], s[k + 1]);
  out[len - 1] = d.fast(s[len - 1], s[0]);
  return out.data();
}

template <class Visit>
void scan_tsp_reverse(const Tsp& t, std::span<const Word> s, std::size_t n, ScanScratch& scratch,
                      Visit& visit) {
  const Matrix& d = t.distance_matrix;
  const std::size_t len = s.size();
  if (n > len || !d.is_square() || !values_below(s, d.rows())) {
    return scan_checked(TspReverseKernel<>{&t}, s, 0, n, visit);
  }
  const double* const edge = tour_edges(d, s, scratch.values);
  // reversed[k] = D[s_k+1][s_k]: the edge k walked backwards, as it is after a reversal.
  const double* reversed = nullptr;
  if (!t.symmetric) {
    scratch.aux.resize(len);
    for (std::size_t k = 0; k + 1 < len; ++k) scratch.aux[k] = d.fast(s[k + 1], s[k]);
    reversed = scratch.aux.data();
  }
  const std::size_t inner_end = std::min(n, len - 1);  // runs that end before position L-1
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Word pred = i > 0 ? s[i - 1] : s[len - 1];
    const double* const row_pred = d.row(pred);
    const double* const row_si = d.row(s[i]);
    const double a = row_pred[s[i]];
    if (t.symmetric) {
      // Only the edges at the two ends of the run change.
      const double a0 = a + 0.0;
      for (std::size_t j = i + 1; j < inner_end; ++j) {
        const double before = a0 + edge[j];
        const double after = (row_pred[s[j]] + 0.0) + row_si[s[j + 1]];
        visit(move_at(i, j), after - before);
      }
    } else {
      // The edges inside the run are summed forwards before and backwards after; the
      // forward sum grows by one edge per j, the backward one starts from the new end.
      double inner = 0.0;
      for (std::size_t j = i + 1; j < inner_end; ++j) {
        inner = inner + edge[j - 1];
        const double before = (inner + a) + edge[j];
        double inner_after = 0.0;
        for (std::size_t k = j; k-- > i;) inner_after = inner_after + reversed[k];
        const double after = (inner_after + row_pred[s[j]]) + row_si[s[j + 1]];
        visit(move_at(i, j), after - before);
      }
    }
    for (std::size_t j = std::max(i + 1, inner_end); j < n; ++j) {
      visit(move_at(i, j), kernels::tsp_reverse<kernels::Unchecked>(d, t.symmetric, s, i, j));
    }
  }
}

template <bool Symmetric, class Visit>
void scan_tsp_swap_rows(const Matrix& d, std::span<const Word> s, std::size_t first,
                        std::size_t n, const double* edge, Visit& visit) {
  const std::size_t len = s.size();
  const std::size_t inner_end = std::min(n, len - 1);
  for (std::size_t i = first; i + 1 < n; ++i) {
    const Word pred = i > 0 ? s[i - 1] : s[len - 1];
    const Word si = s[i];
    const Word si1 = s[i + 1];
    const double* const row_pred = d.row(pred);
    const double* const row_si = d.row(si);
    const double* const row_si1 = d.row(si1);
    const double ab = (row_pred[si] + 0.0) + row_si[si1];
    if (i + 1 < inner_end) {
      // Neighbours: pred, s_i, s_i+1, next becomes pred, s_i+1, s_i, next; the edge between
      // them is walked the other way, which is why it is read as D[s_i+1][s_i].
      const double before = ab + edge[i + 1];
      const double after = ((row_pred[si1] + 0.0) + d.fast(si1, si)) + row_si[s[i + 2]];
      visit(move_at(i, i + 1), after - before);
    } else {
      visit(move_at(i, i + 1), kernels::tsp_swap<kernels::Unchecked>(d, Symmetric, s, i, i + 1));
    }
    for (std::size_t j = i + 2; j < inner_end; ++j) {
      const double before = (ab + edge[j - 1]) + edge[j];
      const Word sj = s[j];
      // b' = D[s_j][s_i+1] and c' = D[s_j-1][s_i]. A symmetric matrix may be read along the
      // hoisted rows instead: mirrored entries compare equal, so they differ at most in the
      // sign of a zero, which cannot show once the sum has started from a + 0.0.
      const double b2 = Symmetric ? row_si1[sj] : d.fast(sj, si1);
      const double c2 = Symmetric ? row_si[s[j - 1]] : d.fast(s[j - 1], si);
      const double after = (((row_pred[sj] + 0.0) + b2) + c2) + row_si[s[j + 1]];
      visit(move_at(i, j), after - before);
    }
    for (std::size_t j = std::max(i + 2, inner_end); j < n; ++j) {
      if (i > 0 && j + 1 == len) {
        // The last position, away from position 0: as above with the closing edge, and
        // s_0 after it.
        const double before = (ab + edge[j - 1]) + edge[j];
        const Word sj = s[j];
        const double b2 = Symmetric ? row_si1[sj] : d.fast(sj, si1);
        const double c2 = Symmetric ? row_si[s[j - 1]] : d.fast(s[j - 1], si);
        const double after = (((row_pred[sj] + 0.0) + b2) + c2) + row_si[s[0]];
        visit(move_at(i, j), after - before);
      } else {
        visit(move_at(i, j), kernels::tsp_swap<kernels::Unchecked>(d, Symmetric, s, i, j));
      }
    }
  }
}

template <class Visit>
void scan_tsp_swap(const Tsp& t, std::span<const Word> s, std::size_t first, std::size_t n,
                   ScanScratch& scratch, Visit& visit) {
  const Matrix& d = t.distance_matrix;
  if (n > s.size() || !d.is_square() || !values_below(s, d.rows())) {
    return scan_checked(TspSwapKernel<>{&t}, s, first, n, visit);
  }
  const double* const edge = tour_edges(d, s, scratch.values);
  if (t.symmetric) {
    scan_tsp_swap_rows<true>(d, s, first, n, edge, visit);
  } else {
    scan_tsp_swap_rows<false>(d, s, first, n, edge, visit);
  }
}

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

template <class Visit>
void scan_qap(const Qap& q, Moves kind, std::span<const Word> s, std::size_t first, std::size_t n,
              ScanScratch& scratch, Visit& visit) {
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  const std::size_t m = d.rows();
  if (n > m || !kernels::qap_verified(q, s)) {
    return scan_checked(QapKernel{&q, kind}, s, first, n, visit);
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
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool exchange = kind == Moves::kSwap || j - i <= 2;
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

}  // namespace scan

// Calls visit(Move{i, j}, delta) for every move of `mt` over `s`, in get_all_mov order, with
// delta bit-identical to Evaluation::delta_eval. The evaluation kind and the move kind are
// resolved once per call. The data is checked against the solution once; if it does not cover
// it, the moves are scored with the checked routines and stop where delta_eval would. `s` is
// only read. A warm `scratch` makes the scan allocation-free.
template <class Visit>
void for_each_delta(const Evaluation& e, const SimpleMoveType& mt, std::span<Word> s,
                    ScanScratch& scratch, Visit&& visit) {
  const scan::Moves kind = scan::moves_of(mt);
  const std::size_t first = scan::first_position(mt);
  const std::size_t n = scan::size_of(mt);
  if (n < first + 2) return;  // no moves
  const std::span<const Word> cs = s;
  switch (e.kind().index()) {
    case 0: return scan::scan_bins(std::get<0>(e.kind()), kind, cs, first, n, scratch, visit);
    case 1: return scan::scan_bins(std::get<1>(e.kind()), kind, cs, first, n, scratch, visit);
    case 2: return scan::scan_bins(std::get<2>(e.kind()), kind, cs, first, n, scratch, visit);
    case 3:
      if (kind == scan::Moves::kReverse) {
        return scan::scan_tsp_reverse(std::get<3>(e.kind()), cs, n, scratch, visit);
      }
      return scan::scan_tsp_swap(std::get<3>(e.kind()), cs, first, n, scratch, visit);
    case 4: return scan::scan_qap(std::get<4>(e.kind()), kind, cs, first, n, scratch, visit);
  }
}

// For random proposals: resolves the pair once and calls f with a const kernel whose
// delta(s, i, j) is bit-identical to Evaluation::delta_eval of the move (i, j).
template <class F>
decltype(auto) with_delta_kernel(const Evaluation& e, const SimpleMoveType& mt, F&& f) {
  const scan::Moves kind = scan::moves_of(mt);
  switch (e.kind().index()) {
    case 0: {
      const scan::BinsKernel<EmptyBins> k{&std::get<0>(e.kind()), kind};
      return f(k);
    }
    case 1: {
      const scan::BinsKernel<EmptySpace> k{&std::get<1>(e.kind()), kind};
      return f(k);
    }
    case 2: {
      const scan::BinsKernel<EmptySpaceExp> k{&std::get<2>(e.kind()), kind};
      return f(k);
    }
    case 3:
      if (kind == scan::Moves::kReverse) {
        const scan::TspReverseKernel<> k{&std::get<3>(e.kind())};
        return f(k);
      } else {
        const scan::TspSwapKernel<> k{&std::get<3>(e.kind())};
        return f(k);
      }
    case 4: {
      const scan::QapKernel k{&std::get<4>(e.kind()), kind};
      return f(k);
    }
  }
  __builtin_unreachable();
}

// As above, for use on `s` or a rearrangement of it: when the data covers every move of
// `mt` over it, tours are read without per-read checks, which cannot fail there and give
// the same values.
template <class F>
decltype(auto) with_delta_kernel(const Evaluation& e, const SimpleMoveType& mt,
                                 std::span<const Word> s, F&& f) {
  if (e.kind().index() == 3 && scan::tour_covered(std::get<3>(e.kind()), s, scan::size_of(mt))) {
    if (scan::moves_of(mt) == scan::Moves::kReverse) {
      const scan::TspReverseKernel<kernels::Unchecked> k{&std::get<3>(e.kind())};
      return f(k);
    }
    const scan::TspSwapKernel<kernels::Unchecked> k{&std::get<3>(e.kind())};
    return f(k);
  }
  return with_delta_kernel(e, mt, std::forward<F>(f));
}

}  // namespace kestrum
