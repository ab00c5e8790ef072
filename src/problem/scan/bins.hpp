// Bin-packing scans: the states before each position, and runs that rejoin the original.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "problem/evaluation.hpp"
#include "problem/kernels/bins.hpp"
#include "problem/scan/common.hpp"
#include "problem/scan_scratch.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

// delta(s, m) is delta_eval of the move m, checked reads included.
template <class Bins>
struct BinsKernel {
  const Bins* bins;
  Rearrangement kind;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const {
    return kernels::bins_delta<typename kernels::BinsOf<Bins>::State>(bins->weights, bins->max_fill,
                                                                      kind, s, m);
  }
};

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

// The original run's states: totals[p] and fills[p] before position p, p = 0..len.
template <class State, bool FillDecides>
struct Rejoin {
  const double* totals;
  const double* fills;
  std::size_t len;
  double max_fill;
  [[nodiscard]] bool rejoins(const State& t, std::size_t p) const {
    return kernels::same_bits(t.fill, fills[p]) &&
           (FillDecides || kernels::same_bits(t.total, totals[p]));
  }
  // The moved run's state at q, given that it rejoined the original at p <= q.
  [[nodiscard]] State jump(const State& t, std::size_t p, std::size_t q) const {
    if constexpr (FillDecides) {
      return State{t.total + (totals[q] - totals[p]), fills[q]};
    } else {
      return State{totals[q], fills[q]};
    }
  }
  [[nodiscard]] double before() const { return State{totals[len], fills[len]}.finish(max_fill); }
  // The score of the moved solution whose state before position p is t, positions p.. holding
  // their original weights.
  [[nodiscard]] double finish_from(State t, std::size_t p, const double* ws) const {
    for (;; ++p) {
      if (p == len) return t.finish(max_fill);
      if (rejoins(t, p)) return jump(t, p, len).finish(max_fill);
      t.step(ws[p], max_fill);
    }
  }
};

// Pair moves (the kind lists every pair).
template <class State, bool FillDecides, class Visit>
void bins_moves(const double* ws, const double* totals, const double* fills, std::size_t len,
                double max_fill, Rearrangement kind, std::size_t first, std::size_t n, Visit& visit) {
  const Rejoin<State, FillDecides> original{totals, fills, len, max_fill};
  auto rejoins = [&](const State& t, std::size_t p) { return original.rejoins(t, p); };
  auto jump = [&](const State& t, std::size_t p, std::size_t q) { return original.jump(t, p, q); };
  const double before = original.before();
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    for (std::size_t j = i + 1; j < n; ++j) {
      State t{totals[i], fills[i]};
      switch (kind) {
        case Rearrangement::kExchange:
          t.step(ws[j], max_fill);
          for (std::size_t p = i + 1; p < j; ++p) {
            if (rejoins(t, p)) {
              t = jump(t, p, j);
              break;
            }
            t.step(ws[p], max_fill);
          }
          t.step(ws[i], max_fill);
          break;
        case Rearrangement::kReverse:
          for (std::size_t p = j + 1; p-- > i;) t.step(ws[p], max_fill);
          break;
        case Rearrangement::kSegment: unknown_tag("pair rearrangement", kind);  // bins_segment_moves
      }
      const double after = original.finish_from(t, j + 1, ws);
      visit(move_at(i, j), after - before);
    }
  }
}

// Segment moves: the run i..j is stepped through in its new order from the state before i,
// then the rest as for the pair moves.
template <class State, bool FillDecides, class Visit>
void bins_segment_moves(const double* ws, const double* totals, const double* fills, std::size_t len,
                        double max_fill, const ScanContext& c, Visit& visit) {
  const Rejoin<State, FillDecides> original{totals, fills, len, max_fill};
  const double before = original.before();
  scan_moves(c, visit, [&](Move m) {
    const std::size_t i = m.i;
    const std::size_t j = m.j;
    const std::uint8_t shape = m.shape;
    const std::size_t l = or_opt::length(shape);
    const bool reversed = or_opt::reversed(shape);
    // The segment's positions lo..lo+l-1, the rest's rest_lo..rest_hi, in the new order.
    const std::size_t lo = or_opt::back(shape) ? j + 1 - l : i;
    const std::size_t rest_lo = or_opt::back(shape) ? i : i + l;
    const std::size_t rest_hi = or_opt::back(shape) ? j - l : j;
    State t{totals[i], fills[i]};
    auto segment = [&] {
      for (std::size_t k = 0; k < l; ++k) t.step(ws[reversed ? lo + l - 1 - k : lo + k], max_fill);
    };
    if (or_opt::back(shape)) segment();
    for (std::size_t p = rest_lo; p <= rest_hi; ++p) t.step(ws[p], max_fill);
    if (!or_opt::back(shape)) segment();
    return original.finish_from(t, j + 1, ws) - before;
  });
}

template <class Bins, class Visit>
void scan_bins(const Bins& b, const ScanContext& c, Visit& visit) {
  using State = typename kernels::BinsOf<Bins>::State;
  const Rearrangement kind = c.moves.rearrangement;
  const std::span<const Word> s = c.s;
  const std::size_t n = c.n;
  ScanScratch& scratch = c.scratch;
  const std::size_t len = s.size();
  if (n > len || !values_below(s, b.weights.size())) return scan_checked(BinsKernel<Bins>{&b, kind}, c, visit);
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
  const bool fill_decides =
      State::kFillDecides || whole_number_run(ws, len, max_fill, std::is_same_v<State, kernels::SpaceExpState>);
  switch (kind) {
    case Rearrangement::kReverse:
    case Rearrangement::kExchange:
      if (fill_decides) {
        bins_moves<State, true>(ws, totals, fills, len, max_fill, kind, c.first(), n, visit);
      } else {
        bins_moves<State, false>(ws, totals, fills, len, max_fill, kind, c.first(), n, visit);
      }
      return;
    case Rearrangement::kSegment:
      if (fill_decides) {
        bins_segment_moves<State, true>(ws, totals, fills, len, max_fill, c, visit);
      } else {
        bins_segment_moves<State, false>(ws, totals, fills, len, max_fill, c, visit);
      }
      return;
  }
  unknown_tag("rearrangement", kind);
}

}  // namespace kestrum::scan
