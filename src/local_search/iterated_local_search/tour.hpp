// Tour: a cyclic order of cities as an array plus a position index, changed only by reversals.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// The tour is an undirected cycle; the array fixes one direction of travel. Every change is
// a reversal of a run of positions, and a reversal of a path may be done on its complement
// instead (the same cycle, read the other way), so the direction is not stable across
// changes: callers read next/prev afresh after each one.
//
// Reversing the shorter side bounds a reversal by n / 2 element moves. With neighbour lists
// most improving moves join cities that are close on the tour, so in practice the runs are
// far shorter; at n = 100,000 the reversals stay a minor part of a pass.
//
// While journaling is on, every reversal is recorded as its run of positions, and undo()
// replays the runs backwards (a reversal is its own inverse), so an iteration's changes can
// be taken back in time proportional to what they touched.
class Tour {
 public:
  // `order` must be a permutation of 0..n-1.
  explicit Tour(std::span<const Word> order);

  [[nodiscard]] Word size() const noexcept { return n_; }
  [[nodiscard]] Word city(Word position) const noexcept { return order_[position]; }
  [[nodiscard]] Word position(Word c) const noexcept { return pos_[c]; }
  [[nodiscard]] Word next(Word c) const noexcept {
    const Word p = pos_[c] + 1;
    return order_[p == n_ ? 0 : p];
  }
  [[nodiscard]] Word prev(Word c) const noexcept {
    const Word p = pos_[c];
    return order_[p == 0 ? n_ - 1 : p - 1];
  }
  [[nodiscard]] std::span<const Word> order() const noexcept { return order_; }

  // Removes edges {a, b} and {c, d} and adds {a, c} and {b, d}. Needs b == next(a) and
  // d == next(c), or b == prev(a) and d == prev(c): the one reconnection that keeps a
  // single cycle.
  void two_opt(Word a, Word b, Word c, Word d);
  // Reverses the run of `len` positions starting at `first`, wrapping at the end.
  void reverse_run(Word first, Word len);

  void start_journal() noexcept { journaling_ = true; journal_.clear(); }
  void stop_journal() noexcept { journaling_ = false; journal_.clear(); }
  // Forgets the recorded reversals (they are kept) and goes on recording.
  void commit() noexcept { journal_.clear(); }
  // Takes back every reversal recorded since the last start or commit.
  void undo();

 private:
  // Reverses the path from city `from` forwards to city `to`, or its complement.
  void reverse_path(Word from, Word to);

  struct Run {
    Word first;
    Word len;
  };

  Word n_;
  std::vector<Word> order_;
  std::vector<Word> pos_;
  std::vector<Run> journal_;
  bool journaling_ = false;
};

}  // namespace kestrum
