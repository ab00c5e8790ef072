// TourHash: a hash of a closed tour that is the same for every rotation and both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/move.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum {

// A closed tour is its set of edges: the 2n arrays that rotate or mirror one another (and
// only those, once n >= 3) have the same cyclic edge set. So the hash is
//
//   H(s) = sum over positions p of e(s_p, s_(p+1) mod n)   (mod 2^64),
//
// where e scrambles an unordered pair of cities into 64 bits. A sum does not see where an
// edge sits or which way it is walked, and a move changes only the edges at the positions it
// touches, so a neighbour's hash is H minus the edges that go plus the ones that come:
//
//   reverse(i, j): pred s_i ... s_j next  ->  pred s_j ... s_i next
//                  H' = H - e(pred, s_i) - e(s_j, next) + e(pred, s_j) + e(s_i, next)
//                  (reversing the whole array gives the same tour: H' = H)
//   swap(i, j):    the edges at positions i - 1, i, j - 1 and j (cyclically, each once).
//   segment(i, j): the three edges where the segment leaves and where it goes in, read as
//                  the edges at positions i - 1, the segment's end and j before and after
//                  (cyclically, each once); the segment's own edges stay the same pairs.
//
// Two different tours collide when their edge sums agree, a 1 in 2^64 event for a scrambled
// e; the tabu list confirms a hit by comparing canonical forms (canonical_form below), so a
// collision costs one comparison and never makes a different tour tabu.
class TourHash {
 public:
  [[nodiscard]] static std::uint64_t of(std::span<const Word> s) noexcept;

  // Takes the current tour: O(n). The array must stay as it is while neighbours are asked.
  void load(std::span<const Word> s) noexcept;
  [[nodiscard]] std::uint64_t hash() const noexcept { return hash_; }
  // Hashes of the neighbours of the loaded tour (i < j < n), in O(1).
  [[nodiscard]] std::uint64_t after_reverse(std::size_t i, std::size_t j) const noexcept;
  [[nodiscard]] std::uint64_t after_swap(std::size_t i, std::size_t j) const noexcept;
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
  std::span<const Word> s_;
  std::uint64_t hash_ = 0;
};

// The representative of a tour among its rotations and mirror images: it starts at the
// smallest city and goes on towards the smaller of that city's two neighbours (forwards on
// a tie, which only two cities or fewer can have). `value(p)` gives the city at position p
// of a tour of n cities; `out` receives n cities. For tours whose cities are distinct, two
// arrays have the same form exactly when they are the same closed tour.
template <class Value>
void canonical_form(std::size_t n, Value value, std::span<Word> out) {
  if (n == 0) return;
  std::size_t start = 0;
  Word least = value(0);
  for (std::size_t p = 1; p < n; ++p) {
    const Word v = value(p);
    if (v < least) {
      least = v;
      start = p;
    }
  }
  const bool backwards = value((start + n - 1) % n) < value((start + 1) % n);
  for (std::size_t k = 0; k < n; ++k) {
    out[k] = value(backwards ? (start + n - k) % n : (start + k) % n);
  }
}

}  // namespace kestrum
