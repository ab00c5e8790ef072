// Tour: a cyclic order of cities as an array plus a position index, changed only by reversals.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// The tour is an undirected cycle; the array fixes one direction of travel. Every change is
// a reversal of a path, which may be done on its complement instead (the same cycle, read the
// other way), so the direction is not stable across changes: callers read next/prev afresh
// after each one.
//
// Reversing the shorter side bounds a change by n / 2 element moves, which is cheap up to
// some tens of thousands of cities; TwoLevelTour takes over beyond.
class Tour {
 public:
  // `order` must be a permutation of 0..n-1.
  explicit Tour(std::span<const Word> order);

  [[nodiscard]] Word size() const noexcept { return n_; }
  [[nodiscard]] Word next(Word c) const noexcept {
    const Word p = pos_[c] + 1;
    return order_[p == n_ ? 0 : p];
  }
  [[nodiscard]] Word prev(Word c) const noexcept {
    const Word p = pos_[c];
    return order_[p == 0 ? n_ - 1 : p - 1];
  }
  // The tour read forwards from city `first` into `out` (n entries).
  void order_from(Word first, std::span<Word> out) const;

  // Removes edges {a, b} and {c, d} and adds {a, c} and {b, d}. Needs b == next(a) and
  // d == next(c), or b == prev(a) and d == prev(c): the one reconnection that keeps a
  // single cycle.
  void two_opt(Word a, Word b, Word c, Word d);

 private:
  // Reverses the path from city `from` forwards to city `to`, or its complement.
  void reverse_path(Word from, Word to);
  // Reverses the run of `len` positions starting at `first`, wrapping at the end.
  void reverse_run(Word first, Word len);

  Word n_;
  std::vector<Word> order_;
  std::vector<Word> pos_;
};

}  // namespace kestrum
