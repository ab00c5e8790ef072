// TourTabuList: a tabu list of closed tours, so that rotations and mirror images count as one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "local_search/tabu_search/tabu_list.hpp"
#include "support/word.hpp"

namespace kestrum {

// The last `bound` tours moved to (a bound of 0 acts as 1), each kept as its edge-sum hash
// (TourHash) and its canonical form (canonical_form). Membership asks the hash first, in
// O(1) through a TabuList of the same bound; only on a hit is the neighbour's form built
// (O(n)) and compared with the forms stored under that hash, so a collision of two different
// tours never makes one of them tabu. Forms take n words per entry: the storage grows while
// the list fills up and never after.
class TourTabuList {
 public:
  // n: the length of every tour. Stops with "capacity overflow" as TabuList does.
  TourTabuList(Word tabu_list_size, std::size_t n);

  // `form_of(out)` writes the candidate's canonical form into `out` (n words); it is called
  // only when the hash is in the list.
  template <class FormOf>
  [[nodiscard]] bool contains(std::uint64_t hash, FormOf&& form_of) {
    if (!hashes_.contains(hash)) return false;
    form_of(std::span<Word>(candidate_));
    for (std::size_t k = 0; k < ring_hashes_.size(); ++k) {
      if (ring_hashes_[k] != hash) continue;
      const auto stored = ring_forms_.begin() + static_cast<std::ptrdiff_t>(k * n_);
      if (std::equal(candidate_.begin(), candidate_.end(), stored)) return true;
    }
    return false;
  }
  // Drops the oldest tour when the list is full, then appends this one (`form`: n words).
  void push(std::uint64_t hash, std::span<const Word> form);
  [[nodiscard]] std::size_t size() const noexcept { return ring_hashes_.size(); }

 private:
  TabuList hashes_;
  std::size_t bound_;
  std::size_t n_;
  std::vector<std::uint64_t> ring_hashes_;  // as TabuList's ring: push_back, then overwrite
  std::vector<Word> ring_forms_;            // n words per entry of ring_hashes_
  std::size_t oldest_ = 0;
  std::vector<Word> candidate_;
};

}  // namespace kestrum
