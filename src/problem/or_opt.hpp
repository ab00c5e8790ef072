// Or-opt moves: the shape byte of a segment move, the array after it, and the moves listed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "problem/move.hpp"
#include "support/word.hpp"

// A segment move (i, j, shape) rearranges the run i..j only. The shape says which end of the
// run the segment of `length` positions is taken from and whether it is put back reversed:
//
//   front: the segment i..i+l-1 goes behind the rest of the run
//          or_opt(1,4, front 2):            0 1 2 3 4 5 -> 0 3 4 1 2 5
//          or_opt(1,4, front 2 reversed):   0 1 2 3 4 5 -> 0 3 4 2 1 5
//   back:  the segment j-l+1..j goes in front of the rest of the run
//          or_opt(1,4, back 1):             0 1 2 3 4 5 -> 0 4 1 2 3 5
//          or_opt(1,4, back 2 reversed):    0 1 2 3 4 5 -> 0 4 3 1 2 5
//
// Every insertion of a segment of 1 to 3 positions elsewhere in the array is one of these:
// a segment moved to a later place is the front of the run from its first position to the
// last one it crosses, a segment moved earlier the back of the run from the first position
// it crosses. The inverse of a move is the move of the same length and direction from the
// other end of the same run.
//
// Shape byte: bits 0-1 the length (1..3), bit 2 reversed, bit 3 back. Zero is no shape (the
// byte of every other kind's moves), and a single position is never "reversed".
namespace kestrum::or_opt {

inline constexpr std::uint8_t kLengthBits = 3;
inline constexpr std::uint8_t kReversed = 4;
inline constexpr std::uint8_t kBack = 8;

[[nodiscard]] constexpr std::size_t length(std::uint8_t shape) noexcept { return shape & kLengthBits; }
[[nodiscard]] constexpr bool reversed(std::uint8_t shape) noexcept { return (shape & kReversed) != 0; }
[[nodiscard]] constexpr bool back(std::uint8_t shape) noexcept { return (shape & kBack) != 0; }

[[nodiscard]] constexpr bool valid_shape(std::uint8_t shape) noexcept {
  return (shape & ~(kLengthBits | kReversed | kBack)) == 0 && length(shape) != 0 &&
         !(length(shape) == 1 && reversed(shape));
}

// The shapes in enumeration order: front 1, 2, 2 reversed, 3, 3 reversed, then the same
// from the back.
inline constexpr std::array<std::uint8_t, 10> kShapes{
    1, 2, 2 | kReversed, 3, 3 | kReversed,
    kBack | 1, kBack | 2, kBack | 2 | kReversed, kBack | 3, kBack | 3 | kReversed};

// Whether a valid shape is enumerated on a run of `run` positions. It must leave at least one
// position to cross, and a few shapes give an array that another enumerated move already
// gives, so each distinct result is listed once:
// - back l, not reversed, when the rest of the run is 1 to 3 positions: that is the rest
//   moved as the front segment;
// - back l reversed when the run is l + 1 positions: like front l reversed, it reverses the
//   whole run.
// Every enumerated move on a run changes both of its end positions, so moves on different
// runs never give the same array either: the enumeration lists every Or-opt neighbour once.
[[nodiscard]] constexpr bool enumerated(std::uint8_t shape, std::size_t run) noexcept {
  const std::size_t l = length(shape);
  if (l >= run) return false;
  if (!back(shape)) return true;
  return reversed(shape) ? run != l + 1 : run - l > 3;
}

// The moves enumerated on a run of `run` positions.
[[nodiscard]] constexpr std::size_t shapes_on(std::size_t run) noexcept {
  std::size_t count = 0;
  for (const std::uint8_t shape : kShapes) count += enumerated(shape, run) ? 1 : 0;
  return count;
}

static_assert(shapes_on(6) == 9 && shapes_on(7) == 10 && shapes_on(100) == 10);

// Or-opt's moves: every enumerated shape on every run i..j.
inline constexpr MoveGeometry kGeometry{Rearrangement::kSegment, 0, kShapes, shape_table(kShapes, enumerated)};

// Value at position p after the move, read from the unchanged array at positions that the
// caller has checked (i < j < s.size(), the segment shorter than the run).
[[nodiscard]] inline Word value_after(std::span<const Word> s, Move m, std::size_t p) noexcept {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const std::uint8_t shape = m.shape;
  if (p < i || p > j) return s[p];
  const std::size_t l = length(shape);
  if (!back(shape)) {
    if (p + l <= j) return s[p + l];
    const std::size_t t = p - (j + 1 - l);
    return reversed(shape) ? s[i + l - 1 - t] : s[i + t];
  }
  if (p >= i + l) return s[p - l];
  const std::size_t t = p - i;
  return reversed(shape) ? s[j - t] : s[j + 1 - l + t];
}

// Stops unless m is a segment move on an array of `len` positions; the checks applying it
// makes, before anything changes.
void check(std::size_t len, Move m);

// Applies the move after check().
void apply(std::span<Word> array, Move m);

}  // namespace kestrum::or_opt

namespace kestrum {

// The run as reverse draws its pair, then a shape uniformly among the ten, redrawn until it
// is one enumerated on the run (every run of two or more positions has front 1).
[[nodiscard]] Move draw_move(OrOpt& m);
void apply_move(const OrOpt& m, std::span<Word> array, Move move);

}  // namespace kestrum
