// Tour delta routines: closed tour length and the local change of an exchange or a reversal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/kernels/common.hpp"
#include "problem/matrix.hpp"
#include "problem/or_opt.hpp"
#include "support/fatal.hpp"
#include "support/word.hpp"

// D is the distance source: a Matrix, or points read like a square matrix (PointDistances,
// problem/points.hpp). The formulas are the same for both.
namespace kestrum::kernels {

// Length of the closed tour visiting value(0), ..., value(len - 1).
template <class R, class D, class Value>
[[nodiscard]] double tour_length(const D& d, std::size_t len, Value value) {
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
template <class R, class D>
[[nodiscard]] double tsp_full_delta(const D& d, Rearrangement kind, std::span<const Word> s, Move m) {
  const std::size_t len = s.size();
  const double before = tour_length<R>(d, len, [&](std::size_t p) { return R::pos(s, p); });
  check_move(kind, len, m);
  const double after =
      tour_length<R>(d, len, [&](std::size_t p) { return after_move<R>(kind, s, m, p); });
  return after - before;
}

[[nodiscard]] inline bool closes_tour(std::size_t len, std::size_t i, std::size_t j) noexcept {
  return i == 0 && j + 1 == len;
}

// One move of i < j < len on a tour reads only the cities at a few positions. When each of
// them is a row and a column of a square distance source, a checked read cannot fail and
// returns what an unchecked one does: a single checked delta (delta_eval) then reads them
// unchecked, with one test per city instead of two per read. Reads of kind Unchecked (scans
// and a run's proposals, whose caller verified the whole solution once) keep the walk, which
// inlines into their loops.
template <class D, class... Cities>
[[nodiscard]] bool cities_readable(const D& d, Cities... cities) noexcept {
  const std::size_t n = d.rows();
  return d.is_square() && ((static_cast<std::size_t>(cities) < n) & ...);
}

// Exchange of positions i and j: the (up to) four edges at the two positions.
// a = D[pred(i)][s_i], b = D[s_i][s_i+1], c = D[s_j-1][s_j] (left out when j - 1 = i),
// e = D[s_j][next(j)]; delta = ((((a'+0)+b')+c')+e') - ((((a+0)+b)+c)+e).
// Any pair, in the order a checked walk reads and fails; tsp_swap takes it for unchecked
// reads and for pairs the local form does not cover.
template <class R, class D>
[[nodiscard]] double tsp_swap_walk(const D& d, bool symmetric, std::span<const Word> s,
                                   std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  const Move m{static_cast<Word>(i), static_cast<Word>(j)};
  if (!symmetric && closes_tour(len, i, j)) return tsp_full_delta<R>(d, Rearrangement::kExchange, s, m);
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
  check_move(Rearrangement::kExchange, len, m);
  const double after =
      four_edges([&](std::size_t p) { return after_move<R>(Rearrangement::kExchange, s, m, p); });
  return after - before;
}

// The exchange's delta. For i < j < len (every pair a move type draws or lists) the sums
// above are formed from the six cities around the pair: s_i and s_j change places, and the
// closing pair (0, len - 1) also turns its outer neighbours (s_j before position 0, s_i after
// position len - 1) into each other. At most eight reads, no position or index test beyond
// one per city.
template <class R, class D>
[[nodiscard]] double tsp_swap(const D& d, bool symmetric, std::span<const Word> s,
                              std::size_t i, std::size_t j) {
  if constexpr (R::kChecksReads) {
    const std::size_t len = s.size();
    const bool closes = closes_tour(len, i, j);
    if (i < j && j < len && (symmetric || !closes)) {
      const Word pred = s[i > 0 ? i - 1 : len - 1];
      const Word si = s[i];
      const Word si1 = s[i + 1];
      const Word sj1 = s[j - 1];
      const Word sj = s[j];
      const Word next = s[j + 1 < len ? j + 1 : 0];
      if (cities_readable(d, pred, si, si1, sj1, sj, next)) {
        const bool adjacent = j == i + 1;
        double before = (d.fast(pred, si) + 0.0) + d.fast(si, si1);
        if (!adjacent) before = before + d.fast(sj1, sj);
        before = before + d.fast(sj, next);
        const Word pred_after = closes ? si : pred;
        const Word next_after = closes ? sj : next;
        double after = (d.fast(pred_after, sj) + 0.0) + d.fast(sj, adjacent ? si : si1);
        if (!adjacent) after = after + d.fast(sj1, si);
        after = after + d.fast(si, next_after);
        return after - before;
      }
    }
  }
  return tsp_swap_walk<R>(d, symmetric, s, i, j);
}

// The quantity a reversal delta subtracts: (a + 0) + e on a symmetric matrix, where only the
// two edges at the ends of the run change, and (inner + a) + e on an asymmetric one, where
// the edges inside the run change direction too.
template <class R, class D, class Value>
[[nodiscard]] double tsp_reverse_edges(const D& d, bool symmetric, std::size_t len,
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

template <class R, class D>
[[nodiscard]] double tsp_reverse_before(const D& d, bool symmetric, std::span<const Word> s,
                                        std::size_t i, std::size_t j) {
  return tsp_reverse_edges<R>(d, symmetric, s.size(), i, j,
                              [&](std::size_t p) { return R::pos(s, p); });
}

// Any run, in the order a checked walk reads and fails; tsp_reverse takes it for unchecked
// reads and for runs the local form does not cover.
template <class R, class D>
[[nodiscard]] double tsp_reverse_walk(const D& d, bool symmetric, std::span<const Word> s,
                                      std::size_t i, std::size_t j) {
  const std::size_t len = s.size();
  const Move m{static_cast<Word>(i), static_cast<Word>(j)};
  if (!symmetric && closes_tour(len, i, j)) return tsp_full_delta<R>(d, Rearrangement::kReverse, s, m);
  const double before = tsp_reverse_before<R>(d, symmetric, s, i, j);
  check_move(Rearrangement::kReverse, len, m);
  const double after = tsp_reverse_edges<R>(d, symmetric, len, i, j, [&](std::size_t p) {
    return after_move<R>(Rearrangement::kReverse, s, m, p);
  });
  return after - before;
}

// Every city of the run i..j and its two outer neighbours can be read (an asymmetric
// reversal reads the whole run).
template <class D>
[[nodiscard]] bool run_readable(const D& d, std::span<const Word> s, std::size_t i, std::size_t j,
                                Word pred, Word next) noexcept {
  if (!cities_readable(d, pred, next)) return false;
  Word largest = 0;
  for (std::size_t k = i; k <= j; ++k) largest = s[k] > largest ? s[k] : largest;
  return largest < d.rows();
}

// The reversal's delta. For i < j < len the sums above are formed from the cities at the
// run's ends and just outside it: after the move s_j follows pred and s_i precedes next, and
// the closing run (0, len - 1) on a symmetric source also turns pred and next into s_i and
// s_j. Four reads on a symmetric source; an asymmetric one adds the run's inner edges, forwards
// before and backwards after, in the walk's order.
template <class R, class D>
[[nodiscard]] double tsp_reverse(const D& d, bool symmetric, std::span<const Word> s,
                                 std::size_t i, std::size_t j) {
  if constexpr (R::kChecksReads) {
    const std::size_t len = s.size();
    const bool closes = closes_tour(len, i, j);
    if (i < j && j < len && (symmetric || !closes)) {
      const Word pred = s[i > 0 ? i - 1 : len - 1];
      const Word si = s[i];
      const Word sj = s[j];
      const Word next = s[j + 1 < len ? j + 1 : 0];
      if (symmetric) {
        if (cities_readable(d, pred, si, sj, next)) {
          const double before = (d.fast(pred, si) + 0.0) + d.fast(sj, next);
          const Word pred_after = closes ? si : pred;
          const Word next_after = closes ? sj : next;
          const double after = (d.fast(pred_after, sj) + 0.0) + d.fast(si, next_after);
          return after - before;
        }
      } else if (run_readable(d, s, i, j, pred, next)) {
        double inner = 0.0;
        for (std::size_t k = i; k < j; ++k) inner = inner + d.fast(s[k], s[k + 1]);
        double inner_after = 0.0;
        for (std::size_t k = j; k > i; --k) inner_after = inner_after + d.fast(s[k], s[k - 1]);
        const double before = (inner + d.fast(pred, si)) + d.fast(sj, next);
        const double after = (inner_after + d.fast(pred, sj)) + d.fast(si, next);
        return after - before;
      }
    }
  }
  return tsp_reverse_walk<R>(d, symmetric, s, i, j);
}

// Tour change of the segment move m = (i, j, shape) when the run i..j is not the whole tour, with
// pred and next the cities just outside it (which the move leaves in place). Moving the front
// segment a..b behind the rest c..e of the run:
//   pred a..b c..e next  ->  pred c..e a..b next   (a..b walked as b..a when reversed)
//   before = (D[pred][a] + D[b][c]) + D[e][next],  after = (D[pred][c] + D[e][a']) + D[b'][next]
// and the back segment g..e in front of the rest a..c mirrors it:
//   pred a..c g..e next  ->  pred g..e a..c next
//   before = (D[pred][a] + D[c][g]) + D[e][next],  after = (D[pred][g'] + D[e'][a]) + D[c][next]
// On an asymmetric matrix a reversed segment's inner edges are added to both sums, forwards
// before and backwards after. O(1): at most seven reads of the array.
template <class R, class D>
[[nodiscard]] double tsp_segment_local(const D& d, bool symmetric, std::span<const Word> s, Move m,
                                       Word pred, Word next) {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const std::uint8_t shape = m.shape;
  const std::size_t l = or_opt::length(shape);
  const bool reversed = or_opt::reversed(shape);
  // The segment runs from position lo to hi; the rest of the run from rest_lo to rest_hi.
  const bool back = or_opt::back(shape);
  const std::size_t lo = back ? j + 1 - l : i;
  const std::size_t hi = lo + l - 1;
  const Word seg_first = R::pos(s, lo);
  const Word seg_last = R::pos(s, hi);
  const Word rest_first = R::pos(s, back ? i : i + l);
  const Word rest_last = R::pos(s, back ? j - l : j);
  const Word new_first = reversed ? seg_last : seg_first;  // where the segment now starts
  const Word new_last = reversed ? seg_first : seg_last;
  double before = 0.0;
  double after = 0.0;
  if (!back) {
    before = (R::dist(d, pred, seg_first) + R::dist(d, seg_last, rest_first)) + R::dist(d, rest_last, next);
    after = (R::dist(d, pred, rest_first) + R::dist(d, rest_last, new_first)) + R::dist(d, new_last, next);
  } else {
    before = (R::dist(d, pred, rest_first) + R::dist(d, rest_last, seg_first)) + R::dist(d, seg_last, next);
    after = (R::dist(d, pred, new_first) + R::dist(d, new_last, rest_first)) + R::dist(d, rest_last, next);
  }
  if (!symmetric && reversed) {
    for (std::size_t k = lo; k < hi; ++k) {
      const Word from = R::pos(s, k);
      const Word to = R::pos(s, k + 1);
      before = before + R::dist(d, from, to);
      after = after + R::dist(d, to, from);
    }
  }
  return after - before;
}

// delta_eval of the segment move m on a tour. The move is checked first. When the run is the
// whole tour its two outer edges are one edge, and the change is measured on the whole tour
// (a handful of moves per scan).
template <class R, class D>
[[nodiscard]] double tsp_segment(const D& d, bool symmetric, std::span<const Word> s, Move m) {
  const std::size_t len = s.size();
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  or_opt::check(len, m);
  if (closes_tour(len, i, j)) return tsp_full_delta<R>(d, Rearrangement::kSegment, s, m);
  const Word pred = R::pos(s, i > 0 ? i - 1 : len - 1);
  const Word next = R::pos(s, j + 1 < len ? j + 1 : 0);
  return tsp_segment_local<R>(d, symmetric, s, m, pred, next);
}

}  // namespace kestrum::kernels
