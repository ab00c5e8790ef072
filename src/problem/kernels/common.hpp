// What every delta routine shares: checked and unchecked reads, and the solution after a move.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/or_opt.hpp"
#include "support/fatal.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

// None of these routines applies the move. The values the array would hold after it are read
// from the unchanged array (after a reversal of i..j, position p holds s[i + j - p]; after an
// exchange, p = i holds s[j] and p = j holds s[i]; after a segment move, or_opt::value_after),
// and every sum is formed with the same
// operations in the same order as applying the move, measuring and undoing it would. The
// results are therefore the same bit for bit, and a failed read leaves the array untouched.
//
// Every floating-point expression here is written out in full order; the build must not
// contract a * b + c into a fused multiply-add, which would change the bits.
namespace kestrum::kernels {

// Reads with the index checks of a nested list: what delta_eval and eval use.
struct Checked {
  static constexpr bool kChecksReads = true;
  [[nodiscard]] static Word pos(std::span<const Word> s, std::size_t p) { return at(s, p); }
  // D: a Matrix, or any distances read like a square one (PointDistances).
  template <class D>
  [[nodiscard]] static double dist(const D& m, std::size_t a, std::size_t b) {
    return m.at(a, b);
  }
  [[nodiscard]] static double weight(std::span<const double> w, std::size_t v) { return at(w, v); }
};

// Reads without checks, for a scan that has verified the solution against the data once:
// every value below the (square) matrix's size, every position below the array's length.
struct Unchecked {
  static constexpr bool kChecksReads = false;
  [[nodiscard]] static Word pos(std::span<const Word> s, std::size_t p) noexcept { return s[p]; }
  template <class D>
  [[nodiscard]] static double dist(const D& m, std::size_t a, std::size_t b) noexcept {
    return m.fast(a, b);
  }
  [[nodiscard]] static double weight(std::span<const double> w, std::size_t v) noexcept {
    return w[v];
  }
};

// The checks applying the move would make, in its order, before anything is exchanged.
inline void check_move(Rearrangement kind, std::size_t len, Move m) {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  switch (kind) {
    case Rearrangement::kSegment: return or_opt::check(len, m);
    case Rearrangement::kReverse:
      if (i > j) refuse_inverted_run(i, j);
      if (i == j) return;  // an empty pair walk checks nothing
      break;
    case Rearrangement::kExchange: break;
  }
  if (i >= len) fatal_index(len, i);
  if (j >= len) fatal_index(len, j);
}

// Value at position p after the move, read from the unchanged array. The position itself is
// read (and checked) first, as reading the changed array would.
template <class R>
[[nodiscard]] Word after_move(Rearrangement kind, std::span<const Word> s, Move m, std::size_t p) {
  const Word v = R::pos(s, p);
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  switch (kind) {
    case Rearrangement::kExchange: return p == i ? s[j] : (p == j ? s[i] : v);
    case Rearrangement::kReverse: return (i <= p && p <= j) ? s[i + j - p] : v;
    case Rearrangement::kSegment: return or_opt::value_after(s, m, p);
  }
  unknown_tag("rearrangement", kind);
}

[[nodiscard]] inline bool same_bits(double a, double b) noexcept {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace kestrum::kernels
