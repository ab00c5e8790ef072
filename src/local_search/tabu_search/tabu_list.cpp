// The tabu list's ring and its linear-probing count table (backward-shift deletion).
#include "local_search/tabu_search/tabu_list.hpp"

#include <algorithm>
#include <bit>

#include "support/fatal.hpp"

namespace kestrum {

namespace {
// The room the list asks for is 8 bytes per hash; beyond this many hashes it would exceed
// the largest signed 32-bit byte count.
constexpr Word kMaxListSize = 268435455;
// Reserving the full bound up front would cost memory a run may never use.
constexpr std::size_t kInitialRoom = 1024;
}  // namespace

TabuList::TabuList(Word tabu_list_size) : bound_(std::max<std::size_t>(tabu_list_size, 1)) {
  if (tabu_list_size > kMaxListSize) fatal("capacity overflow");
  const std::size_t room = std::min(bound_, kInitialRoom);
  ring_.reserve(room);
  const std::size_t slots = std::bit_ceil(std::max<std::size_t>(2 * room, 8));
  table_.resize(slots);
  shift_ = 64 - std::countr_zero(slots);
}

std::size_t TabuList::home(std::uint64_t hash) const noexcept {
  // Fibonacci hashing: the top bits of the product spread any key pattern over the table.
  return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ULL) >> shift_);
}

bool TabuList::contains(std::uint64_t hash) const noexcept {
  const std::size_t mask = table_.size() - 1;
  for (std::size_t k = home(hash);; k = (k + 1) & mask) {
    if (table_[k].count == 0) return false;
    if (table_[k].hash == hash) return true;
  }
}

void TabuList::insert(std::uint64_t hash) {
  if (2 * length_ > table_.size()) grow_table();  // length_ already counts `hash`
  const std::size_t mask = table_.size() - 1;
  for (std::size_t k = home(hash);; k = (k + 1) & mask) {
    if (table_[k].count == 0) {
      table_[k] = {hash, 1};
      return;
    }
    if (table_[k].hash == hash) {
      ++table_[k].count;
      return;
    }
  }
}

void TabuList::erase(std::uint64_t hash) noexcept {
  const std::size_t mask = table_.size() - 1;
  std::size_t k = home(hash);
  while (table_[k].hash != hash || table_[k].count == 0) k = (k + 1) & mask;
  if (--table_[k].count != 0) return;
  // Backward shift: move later members of the probe run into the hole when their home
  // does not lie cyclically after the hole, so no lookup ever stops early.
  std::size_t hole = k;
  for (std::size_t next = (hole + 1) & mask; table_[next].count != 0; next = (next + 1) & mask) {
    const std::size_t h = home(table_[next].hash);
    const bool stays = hole <= next ? (hole < h && h <= next) : (hole < h || h <= next);
    if (!stays) {
      table_[hole] = table_[next];
      hole = next;
    }
  }
  table_[hole] = {};
}

void TabuList::grow_table() {
  std::vector<Slot> old(table_.size() * 2);
  old.swap(table_);
  shift_ -= 1;
  const std::size_t mask = table_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.count == 0) continue;
    std::size_t k = home(slot.hash);
    while (table_[k].count != 0) k = (k + 1) & mask;
    table_[k] = slot;
  }
}

void TabuList::push(std::uint64_t hash) {
  if (length_ >= bound_) {
    erase(ring_[oldest_]);
    ring_[oldest_] = hash;
    oldest_ = (oldest_ + 1) % bound_;
  } else {
    ring_.push_back(hash);
    ++length_;
  }
  insert(hash);
}

}  // namespace kestrum
