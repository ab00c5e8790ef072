// The tabu search's solution hash: a polynomial hash modulo 2^61 - 1 with O(1) neighbour hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "problem/move.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum {

// H(s) = sum over positions p of g(s_p) * B^p, modulo the prime M = 2^61 - 1, where g
// scrambles a value into [0, M) and B is a fixed base. The tabu search only compares
// hashes for equality, so any strong 64-bit hash serves; this one is chosen because a
// neighbour's hash follows from the current solution's in O(1):
//
//   swap(i, j):    H' = H + (g(s_j) - g(s_i)) * (B^i - B^j)
//   reverse(i, j): position p in i..j receives s_{i+j-p}, so the run contributes
//                  sum_{q=i..j} g(s_q) * B^(i+j-q) = B^(i+j) * sum_{q=i..j} g(s_q) * B^-q;
//                  with prefix sums P (of g(s_q) B^q) and Q (of g(s_q) B^-q):
//                  H' = H - (P[j+1] - P[i]) + B^(i+j) * (Q[j+1] - Q[i])
//   segment(i, j): the rest of the run shifts by l positions, so its part of the sum is
//                  multiplied by B^-l (front segment) or B^l (back segment); the segment's
//                  l <= 3 positions are summed directly at their new places.
//
// load() builds the prefix sums of one solution in O(n); every neighbour hash after that
// is a handful of multiplications. Two different solutions of length n collide when a
// nonzero polynomial of degree below n vanishes at B, which for a scrambled g behaves like
// a 1 in 2^61 event: over a run that compares about n^2 * list-size pairs per step the
// chance of any collision is about n^2 * list / 2^61. A collision makes a different
// solution tabu, as it would with any hash.
class SolutionHash {
 public:
  static constexpr std::uint64_t kModulus = (std::uint64_t{1} << 61) - 1;

  // The hash of a whole solution, computed directly from the definition.
  [[nodiscard]] static std::uint64_t of(std::span<const Word> s);

  // Sizes the power tables for solutions of length n. Allocates; call once per run.
  void prepare(std::size_t n);
  // Takes the current solution (length n as prepared). O(n), no allocation.
  void load(std::span<const Word> s);

  // Hashes of the loaded solution and of its neighbours (i < j < n).
  [[nodiscard]] std::uint64_t hash() const noexcept { return prefix_[n_]; }
  [[nodiscard]] std::uint64_t after_swap(Word i, Word j) const noexcept;
  [[nodiscard]] std::uint64_t after_reverse(Word i, Word j) const noexcept;
  [[nodiscard]] std::uint64_t after_segment(Move m) const noexcept;
  // The neighbour's hash after the move m, which rearranges as `r` does.
  [[nodiscard]] std::uint64_t after(Rearrangement r, Move m) const {
    switch (r) {
      case Rearrangement::kExchange: return after_swap(m.i, m.j);
      case Rearrangement::kReverse: return after_reverse(m.i, m.j);
      case Rearrangement::kSegment: return after_segment(m);
    }
    unknown_tag("rearrangement", r);
  }

 private:
  std::size_t n_ = 0;
  std::vector<std::uint64_t> pow_;      // B^k, k < 2n
  std::vector<std::uint64_t> inv_pow_;  // B^-k, k < n
  std::vector<std::uint64_t> g_;        // g(s_p) of the loaded solution
  std::vector<std::uint64_t> prefix_;   // P[k] = sum_{q<k} g(s_q) B^q
  std::vector<std::uint64_t> inv_prefix_;  // Q[k] = sum_{q<k} g(s_q) B^-q
};

}  // namespace kestrum
