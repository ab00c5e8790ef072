// The ring of canonical tours beside the hash counts.
#include "local_search/tabu_search/tour_tabu_list.hpp"

namespace kestrum {

TourTabuList::TourTabuList(Word tabu_list_size, std::size_t n)
    : hashes_(tabu_list_size), bound_(std::max<std::size_t>(tabu_list_size, 1)), n_(n),
      candidate_(n) {}

void TourTabuList::push(std::uint64_t hash, std::span<const Word> form) {
  hashes_.push(hash);
  if (ring_hashes_.size() < bound_) {
    ring_hashes_.push_back(hash);
    ring_forms_.insert(ring_forms_.end(), form.begin(), form.end());
    return;
  }
  ring_hashes_[oldest_] = hash;
  std::copy(form.begin(), form.end(), ring_forms_.begin() + static_cast<std::ptrdiff_t>(oldest_ * n_));
  oldest_ = (oldest_ + 1) % bound_;
}

}  // namespace kestrum
