// Delta routines per (evaluation kind, move kind), shared by delta_eval and the neighbourhood scans.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "support/fatal.hpp"
#include "support/word.hpp"

// None of these routines applies the move. The values the array would hold after it are read
// from the unchanged array (after a reversal of i..j, position p holds s[i + j - p]; after an
// exchange, p = i holds s[j] and p = j holds s[i]), and every sum is formed with the same
// operations in the same order as applying the move, measuring and undoing it would. The
// results are therefore the same bit for bit, and a failed read leaves the array untouched.
//
// Every floating-point expression here is written out in full order; the build must not
// contract a * b + c into a fused multiply-add, which would change the bits.
namespace kestrum::kernels {

// How a move rearranges positions. SwapTsp exchanges exactly like Swap.
enum class Moves { kReverse, kSwap };

// Reads with the index checks of a nested list: what delta_eval and eval use.
struct Checked {
  [[nodiscard]] static Word pos(std::span<const Word> s, std::size_t p) { return at(s, p); }
  [[nodiscard]] static double dist(const Matrix& m, std::size_t a, std::size_t b) {
    return m.at(a, b);
  }
  [[nodiscard]] static double weight(std::span<const double> w, std::size_t v) { return at(w, v); }
};

// Reads without checks, for a scan that has verified the solution against the data once:
// every value below the (square) matrix's size, every position below the array's length.
struct Unchecked {
  [[nodiscard]] static Word pos(std::span<const Word> s, std::size_t p) noexcept { return s[p]; }
  [[nodiscard]] static double dist(const Matrix& m, std::size_t a, std::size_t b) noexcept {
    return m.fast(a, b);
  }
  [[nodiscard]] static double weight(std::span<const double> w, std::size_t v) noexcept {
    return w[v];
  }
};

// A reversal needs i <= j; the move type refuses an inverted run with this same stop.
[[noreturn]] inline void refuse_inverted_run(std::size_t i, std::size_t j) {
  fatal("reverse needs i <= j, got i = " + std::to_string(i) + " and j = " + std::to_string(j));
}

// The checks applying the move would make, in its order, before anything is exchanged.
inline void check_move(Moves kind, std::size_t len, std::size_t i, std::size_t j) {
  if (kind == Moves::kReverse) {
    if (i > j) refuse_inverted_run(i, j);
    if (i == j) return;  // an empty pair walk checks nothing
  }
  if (i >= len) fatal_index(len, i);
  if (j >= len) fatal_index(len, j);
}

// Value at position p after the move, read from the unchanged array. The position itself is
// read (and checked) first, as reading the changed array would.
template <class R>
[[nodiscard]] Word after_move(Moves kind, std::span<const Word> s, std::size_t i, std::size_t j,
                              std::size_t p) {
  const Word v = R::pos(s, p);
  if (kind == Moves::kSwap) return p == i ? s[j] : (p == j ? s[i] : v);
  return (i <= p && p <= j) ? s[i + j - p] : v;
}

[[nodiscard]] inline bool same_bits(double a, double b) noexcept {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// ---------------------------------------------------------------------------------------
// Bin packing: a left-to-right state machine over the items' weights.

// Counts the items that did not fit: a new bin starts with the item that overflowed.
// `total` is the count.
struct CountState {
  // What happens next depends on the fill alone, and the count only ever grows by 1.0
  // (exact below 2^53), so two runs whose fills agree add the same whole number from there.
  static constexpr bool kFillDecides = true;
  double total = 0.0;
  double fill = 0.0;
  void step(double w, double max_fill) noexcept {
    fill = fill + w;
    if (fill > max_fill) {
      total = total + 1.0;
      fill = w;
    }
  }
  [[nodiscard]] double finish(double /*max_fill*/) const noexcept { return total; }
};

// Adds the free capacity of every closed bin, and of the last one at the end.
struct SpaceState {
  // Sums of rounded terms depend on where they start: in general only an identical state
  // continues identically.
  static constexpr bool kFillDecides = false;
  double total = 0.0;
  double fill = 0.0;
  void step(double w, double max_fill) noexcept {
    const double filled = fill + w;
    if (filled > max_fill) {
      total = total + (max_fill - fill);
      fill = w;
    } else {
      fill = filled;
    }
  }
  [[nodiscard]] double finish(double max_fill) const noexcept { return total + (max_fill - fill); }
};

// As SpaceState with every free capacity squared.
struct SpaceExpState {
  static constexpr bool kFillDecides = false;
  double total = 0.0;
  double fill = 0.0;
  void step(double w, double max_fill) noexcept {
    const double filled = fill + w;
    if (filled > max_fill) {
      const double free = max_fill - fill;
      total = total + free * free;
      fill = w;
    } else {
      fill = filled;
    }
  }
  [[nodiscard]] double finish(double max_fill) const noexcept {
    const double free = max_fill - fill;
    return total + free * free;
  }
};

// The state machine of each bin-packing kind.
template <class Kind> struct BinsOf;
template <> struct BinsOf<EmptyBins> { using State = CountState; };
template <> struct BinsOf<EmptySpace> { using State = SpaceState; };
template <> struct BinsOf<EmptySpaceExp> { using State = SpaceExpState; };

template <class State, class R, class Value>
[[nodiscard]] State run_bins(std::span<const double> w, double max_fill, State st,
                             std::size_t from, std::size_t to, Value value) {
  for (std::size_t p = from; p < to; ++p) st.step(R::weight(w, value(p)), max_fill);
  return st;
}

template <class State>
[[nodiscard]] double bins_eval(std::span<const double> w, double max_fill,
                               std::span<const Word> s) {
  return run_bins<State, Checked>(w, max_fill, State{}, 0, s.size(),
                                  [&](std::size_t p) { return s[p]; })
      .finish(max_fill);
}

// eval after the move minus eval before. The state before position min(i, L) is the same
// for both solutions, so the second evaluation resumes from there.
template <class State>
[[nodiscard]] double bins_delta(std::span<const double> w, double max_fill, Moves kind,
                                std::span<const Word> s, std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  const std::size_t resume = i < len ? i : len;
  auto original = [&](std::size_t p) { return s[p]; };
  const State head = run_bins<State, Checked>(w, max_fill, State{}, 0, resume, original);
  const double before =
      run_bins<State, Checked>(w, max_fill, head, resume, len, original).finish(max_fill);
  check_move(kind, len, i, j);
  auto moved = [&](std::size_t p) { return after_move<Unchecked>(kind, s, i, j, p); };
  const double after =
      run_bins<State, Checked>(w, max_fill, head, resume, len, moved).finish(max_fill);
  return after - before;
}

// ---------------------------------------------------------------------------------------
// Tours.

// Length of the closed tour visiting value(0), ..., value(len - 1).
template <class R, class Value>
[[nodiscard]] double tour_length(const Matrix& d, std::size_t len, Value value) {
  // The closing edge reads position len - 1, which for an empty tour wraps past the end.
  if (len == 0) fatal_index(0, static_cast<std::size_t>(-1));
  double total = 0.0;
  for (std::size_t k = 0; k + 1 < len; ++k) {
    const Word from = value(k);
    const Word to = value(k + 1);
    total = total + R::dist(d, from, to);
  }
  const Word last = value(len - 1);
  const Word first = value(0);
  return total + R::dist(d, last, first);
}

// Exact change of the tour length by two full evaluations. Used for the move (0, L-1) on an
// asymmetric matrix, where the local formulas would count the closing edge twice.
template <class R>
[[nodiscard]] double tsp_full_delta(const Matrix& d, Moves kind, std::span<const Word> s,
                                    std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  const double before = tour_length<R>(d, len, [&](std::size_t p) { return R::pos(s, p); });
  check_move(kind, len, i, j);
  const double after =
      tour_length<R>(d, len, [&](std::size_t p) { return after_move<R>(kind, s, i, j, p); });
  return after - before;
}

[[nodiscard]] inline bool closes_tour(std::size_t len, std::size_t i, std::size_t j) noexcept {
  return i == 0 && j + 1 == len;
}

// Exchange of positions i and j: the (up to) four edges at the two positions.
// a = D[pred(i)][s_i], b = D[s_i][s_i+1], c = D[s_j-1][s_j] (left out when j - 1 = i),
// e = D[s_j][next(j)]; delta = ((((a'+0)+b')+c')+e') - ((((a+0)+b)+c)+e).
template <class R>
[[nodiscard]] double tsp_swap(const Matrix& d, bool symmetric, std::span<const Word> s,
                              std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  if (!symmetric && closes_tour(len, i, j)) return tsp_full_delta<R>(d, Moves::kSwap, s, i, j);
  const bool adjacent = j - 1 == i;
  auto four_edges = [&](auto value) {
    const Word pred = value(i > 0 ? i - 1 : len - 1);
    const Word si = value(i);
    const double a = R::dist(d, pred, si);
    const Word si1 = value(i + 1);
    double sum = (a + 0.0) + R::dist(d, si, si1);
    if (!adjacent) {
      const Word sj1 = value(j - 1);
      const Word sj = value(j);
      sum = sum + R::dist(d, sj1, sj);
    }
    const Word sj = value(j);
    const Word next = value((j + 1) % len);
    return sum + R::dist(d, sj, next);
  };
  const double before = four_edges([&](std::size_t p) { return R::pos(s, p); });
  check_move(Moves::kSwap, len, i, j);
  const double after =
      four_edges([&](std::size_t p) { return after_move<R>(Moves::kSwap, s, i, j, p); });
  return after - before;
}

// The quantity a reversal delta subtracts: (a + 0) + e on a symmetric matrix, where only the
// two edges at the ends of the run change, and (inner + a) + e on an asymmetric one, where
// the edges inside the run change direction too.
template <class R, class Value>
[[nodiscard]] double tsp_reverse_edges(const Matrix& d, bool symmetric, std::size_t len,
                                       std::size_t i, std::size_t j, Value value) {
  double inner = 0.0;
  if (!symmetric) {
    for (std::size_t k = i; k < j; ++k) {
      const Word from = value(k);
      const Word to = value(k + 1);
      inner = inner + R::dist(d, from, to);
    }
  }
  const Word pred = value(i > 0 ? i - 1 : len - 1);
  const Word si = value(i);
  const double a = R::dist(d, pred, si);
  const Word sj = value(j);
  const Word next = value((j + 1) % len);
  const double e = R::dist(d, sj, next);
  return symmetric ? (a + 0.0) + e : (inner + a) + e;
}

template <class R>
[[nodiscard]] double tsp_reverse_before(const Matrix& d, bool symmetric, std::span<const Word> s,
                                        std::size_t i, std::size_t j) {
  return tsp_reverse_edges<R>(d, symmetric, s.size(), i, j,
                              [&](std::size_t p) { return R::pos(s, p); });
}

template <class R>
[[nodiscard]] double tsp_reverse(const Matrix& d, bool symmetric, std::span<const Word> s,
                                 std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  if (!symmetric && closes_tour(len, i, j)) return tsp_full_delta<R>(d, Moves::kReverse, s, i, j);
  const double before = tsp_reverse_before<R>(d, symmetric, s, i, j);
  check_move(Moves::kReverse, len, i, j);
  const double after = tsp_reverse_edges<R>(d, symmetric, len, i, j, [&](std::size_t p) {
    return after_move<R>(Moves::kReverse, s, i, j, p);
  });
  return after - before;
}

// ---------------------------------------------------------------------------------------
// Assignment.

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

// The assignment delta of move (i, j). Symmetric data: the exchange formula, which is exact
// for exchanges and for reversals of two or three positions (an exchange of the run's ends).
// Otherwise, and for longer reversals, the exact change: by the local routines when the data
// is verified, by two checked evaluations when it is not.
[[nodiscard]] inline double qap_delta(const Qap& q, Moves kind, std::span<const Word> s,
                                      std::size_t i, std::size_t j) {
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  if (kind == Moves::kReverse && i > j) refuse_inverted_run(i, j);
  const bool exchange = kind == Moves::kSwap || j - i <= 2;
  if (q.symmetric && exchange) return qap_exchange_formula<Checked>(d, f, s, i, j);
  if (i < j && j < d.rows() && qap_verified(q, s)) {
    return exchange ? qap_exchange_exact(d, f, s, i, j) : qap_reversal_exact(d, f, s, i, j);
  }
  const double before = qap_cost<Checked>(d, f, [&](std::size_t p) { return at(s, p); });
  const Moves as = exchange ? Moves::kSwap : Moves::kReverse;
  check_move(kind, s.size(), i, j);
  const double after = qap_cost<Checked>(
      d, f, [&](std::size_t p) { return after_move<Checked>(as, s, i, j, p); });
  return after - before;
}

}  // namespace kestrum::kernels
