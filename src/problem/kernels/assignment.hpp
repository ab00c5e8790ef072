// Assignment delta routines: the cost, the exchange formula and the exact local changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/evaluation.hpp"
#include "problem/kernels/common.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/or_opt.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum::kernels {

template <class R, class Value>
[[nodiscard]] double qap_cost(const Matrix& d, const Matrix& f, Value value) {
  const std::size_t m = d.rows();
  double total = 0.0;
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = a + 1; b < m; ++b) {
      const double dist = R::dist(d, a, b);
      const Word u = value(a);
      const Word v = value(b);
      total = total + dist * R::dist(f, u, v);
    }
  }
  return total;
}

// The exchange formula: sum over k != i, j of (D[j][k] - D[i][k]) * (F[s_i][s_k] - F[s_j][s_k]).
// It is the change of the cost when both matrices are symmetric.
template <class R>
[[nodiscard]] double qap_exchange_formula(const Matrix& d, const Matrix& f,
                                          std::span<const Word> s, std::size_t i, std::size_t j) {
  const std::size_t m = d.rows();
  double total = 0.0;
  for (std::size_t k = 0; k < m; ++k) {
    if (k == i || k == j) continue;
    const double dd = R::dist(d, j, k) - R::dist(d, i, k);
    const Word si = R::pos(s, i);
    const Word sk = R::pos(s, k);
    const double fi = R::dist(f, si, sk);
    const Word sj = R::pos(s, j);
    const double fj = R::dist(f, sj, sk);
    total = total + dd * (fi - fj);
  }
  return total;
}

// The exact routines below read without checks: they run only where qap_verified holds.
// D is m x m, F is square, the solution has m positions and its values are rows of F.
[[nodiscard]] inline bool qap_verified(const Qap& q, std::span<const Word> s) noexcept {
  const std::size_t m = q.distance_matrix.rows();
  if (!q.distance_matrix.is_square() || !q.flow_matrix.is_square() || s.size() != m) return false;
  const std::size_t f = q.flow_matrix.rows();
  for (const Word v : s) {
    if (v >= f) return false;
  }
  return true;
}

// Exact change of the cost when positions i < j exchange their facilities, for any matrices:
// every pair that contains i or j contributes D[pair] * (F[new pair] - F[old pair]).
[[nodiscard]] inline double qap_exchange_exact(const Matrix& d, const Matrix& f,
                                               std::span<const Word> s, std::size_t i,
                                               std::size_t j) noexcept {
  const std::size_t m = d.rows();
  const Word u = s[i];  // leaves position i for j
  const Word v = s[j];  // leaves position j for i
  double total = 0.0;
  for (std::size_t k = 0; k < m; ++k) {
    if (k == i || k == j) continue;
    const Word w = s[k];
    const double ti = k < i ? d.fast(k, i) * (f.fast(w, v) - f.fast(w, u))
                            : d.fast(i, k) * (f.fast(v, w) - f.fast(u, w));
    const double tj = k < j ? d.fast(k, j) * (f.fast(w, u) - f.fast(w, v))
                            : d.fast(j, k) * (f.fast(u, w) - f.fast(v, w));
    total = total + (ti + tj);
  }
  return total + d.fast(i, j) * (f.fast(v, u) - f.fast(u, v));
}

// Exact change of the cost when the run i..j (i < j) is reversed: the pairs with one end in
// the run and the pairs inside it. The middle of an odd run keeps its facility, so its pairs
// with outside positions do not change.
[[nodiscard]] inline double qap_reversal_exact(const Matrix& d, const Matrix& f,
                                               std::span<const Word> s, std::size_t i,
                                               std::size_t j) noexcept {
  const std::size_t m = d.rows();
  double total = 0.0;
  for (std::size_t p = i; p <= j; ++p) {
    const std::size_t q = i + j - p;
    if (q == p) continue;
    const Word u = s[p];
    const Word v = s[q];
    for (std::size_t k = 0; k < i; ++k) {
      const Word w = s[k];
      total = total + d.fast(k, p) * (f.fast(w, v) - f.fast(w, u));
    }
    for (std::size_t k = j + 1; k < m; ++k) {
      const Word w = s[k];
      total = total + d.fast(p, k) * (f.fast(v, w) - f.fast(u, w));
    }
  }
  for (std::size_t a = i; a <= j; ++a) {
    for (std::size_t b = a + 1; b <= j; ++b) {
      const double now = f.fast(s[a], s[b]);
      const double then = f.fast(s[i + j - a], s[i + j - b]);
      total = total + d.fast(a, b) * (then - now);
    }
  }
  return total;
}

// Exact change of the assignment cost when the run i..j is rearranged and position p gets
// after(p): every pair with an end in the run contributes D[pair] * (F[new pair] - F[old pair]).
// For verified data (qap_verified) and i < j < m; O((j - i + 1) * m).
template <class After>
[[nodiscard]] double qap_run_exact(const Matrix& d, const Matrix& f, std::span<const Word> s,
                                   std::size_t i, std::size_t j, After after) noexcept {
  const std::size_t m = d.rows();
  double total = 0.0;
  for (std::size_t p = i; p <= j; ++p) {
    const Word u = s[p];
    const Word v = after(p);
    if (u == v) continue;
    for (std::size_t k = 0; k < i; ++k) {
      const Word w = s[k];
      total = total + d.fast(k, p) * (f.fast(w, v) - f.fast(w, u));
    }
    for (std::size_t k = j + 1; k < m; ++k) {
      const Word w = s[k];
      total = total + d.fast(p, k) * (f.fast(v, w) - f.fast(u, w));
    }
  }
  for (std::size_t a = i; a <= j; ++a) {
    const Word na = after(a);
    for (std::size_t b = a + 1; b <= j; ++b) {
      const double now = f.fast(s[a], s[b]);
      const double then = f.fast(na, after(b));
      total = total + d.fast(a, b) * (then - now);
    }
  }
  return total;
}

// delta_eval of the segment move on an assignment: the exact local change on verified data,
// otherwise two checked evaluations (which stop where a read fails).
[[nodiscard]] inline double qap_segment(const Qap& q, std::span<const Word> s, Move m) {
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  or_opt::check(s.size(), m);
  auto after = [&](std::size_t p) { return or_opt::value_after(s, m, p); };
  if (m.j < d.rows() && qap_verified(q, s)) return qap_run_exact(d, f, s, m.i, m.j, after);
  const double before = qap_cost<Checked>(d, f, [&](std::size_t p) { return at(s, p); });
  const double moved = qap_cost<Checked>(d, f, [&](std::size_t p) {
    return after_move<Checked>(Rearrangement::kSegment, s, m, p);
  });
  return moved - before;
}

// Whether move (i, j) changes the assignment as an exchange of two positions does: every
// exchange, and a reversal of two or three positions (an exchange of the run's ends). An
// inverted run is refused here, before anything is read.
[[nodiscard]] inline bool qap_as_exchange(Rearrangement kind, std::size_t i, std::size_t j) {
  switch (kind) {
    case Rearrangement::kExchange: return true;
    case Rearrangement::kReverse:
      if (i > j) refuse_inverted_run(i, j);
      return j - i <= 2;
    case Rearrangement::kSegment: return false;
  }
  unknown_tag("rearrangement", kind);
}

// The assignment delta of a pair move (i, j): symmetric data takes the exchange formula,
// which is exact for exchanges and for reversals of two or three positions (an exchange of
// the run's ends). Otherwise, and for longer reversals, the exact change: by the local
// routines when the data is verified, by two checked evaluations when it is not.
[[nodiscard]] inline double qap_pair_delta(const Qap& q, Rearrangement kind, std::span<const Word> s, Move m) {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  const bool exchange = qap_as_exchange(kind, i, j);
  if (q.symmetric && exchange) return qap_exchange_formula<Checked>(d, f, s, i, j);
  if (i < j && j < d.rows() && qap_verified(q, s)) {
    return exchange ? qap_exchange_exact(d, f, s, i, j) : qap_reversal_exact(d, f, s, i, j);
  }
  const double before = qap_cost<Checked>(d, f, [&](std::size_t p) { return at(s, p); });
  const Rearrangement as = exchange ? Rearrangement::kExchange : Rearrangement::kReverse;
  check_move(kind, s.size(), m);
  const double after = qap_cost<Checked>(
      d, f, [&](std::size_t p) { return after_move<Checked>(as, s, m, p); });
  return after - before;
}

// The assignment delta of move m of `kind`.
[[nodiscard]] inline double qap_delta(const Qap& q, Rearrangement kind, std::span<const Word> s, Move m) {
  switch (kind) {
    case Rearrangement::kReverse:
    case Rearrangement::kExchange: return qap_pair_delta(q, kind, s, m);
    case Rearrangement::kSegment: return qap_segment(q, s, m);
  }
  unknown_tag("rearrangement", kind);
}

}  // namespace kestrum::kernels
