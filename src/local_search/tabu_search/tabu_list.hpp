// TabuList: the bounded first-in-first-out list of solution hashes, with O(1) membership.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// The hashes of the last `bound` solutions moved to (a bound of 0 acts as 1). The FIFO is
// a ring over a vector; beside it an open-addressing table counts each hash, so a scan
// asks about every neighbour in O(1) instead of walking the list. Storage grows while the
// list fills up and never after, so a step allocates nothing once the list is full.
class TabuList {
 public:
  // Room is reserved for min(tabu_list_size, 1024) hashes and grows with the list. A bound
  // whose room in bytes would exceed the largest signed 32-bit value stops with
  // "capacity overflow".
  explicit TabuList(Word tabu_list_size);

  [[nodiscard]] bool contains(std::uint64_t hash) const noexcept;
  // Drops the oldest hash when the list is full, then appends `hash` as the newest.
  void push(std::uint64_t hash);
  [[nodiscard]] std::size_t size() const noexcept { return length_; }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t count = 0;  // 0: empty
  };

  [[nodiscard]] std::size_t home(std::uint64_t hash) const noexcept;
  void insert(std::uint64_t hash);
  void erase(std::uint64_t hash) noexcept;
  void grow_table();

  std::size_t bound_;
  std::vector<std::uint64_t> ring_;  // push_back until it holds bound_ entries, then a ring
  std::size_t oldest_ = 0;           // position of the oldest entry once the ring is full
  std::size_t length_ = 0;
  std::vector<Slot> table_;  // power-of-two size, at most half full
  int shift_ = 64;           // 64 - log2(table size)
};

}  // namespace kestrum
