// Bin-packing delta routines: the left-to-right state machine of each measure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/evaluation.hpp"
#include "problem/kernels/common.hpp"
#include "support/word.hpp"

namespace kestrum::kernels {

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
[[nodiscard]] double bins_delta(std::span<const double> w, double max_fill, Rearrangement kind,
                                std::span<const Word> s, Move m) {
  const std::size_t len = s.size();
  const std::size_t resume = m.i < len ? m.i : len;
  auto original = [&](std::size_t p) { return s[p]; };
  const State head = run_bins<State, Checked>(w, max_fill, State{}, 0, resume, original);
  const double before =
      run_bins<State, Checked>(w, max_fill, head, resume, len, original).finish(max_fill);
  check_move(kind, len, m);
  auto moved = [&](std::size_t p) { return after_move<Unchecked>(kind, s, m, p); };
  const double after =
      run_bins<State, Checked>(w, max_fill, head, resume, len, moved).finish(max_fill);
  return after - before;
}

}  // namespace kestrum::kernels
