// BinSearch: trades between bins and free items, the kick, and the order that packs as found.
#include "local_search/iterated_local_search/bin_search.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

#include "problem/kernels/first_fit.hpp"

namespace kestrum {

namespace {

// Bins dissolved by a kick beside the least-filled one: 1 to kMaxKickBins, uniformly.
constexpr std::uint32_t kMaxKickBins = 5;

}  // namespace

BinSearch::BinSearch(const BinPacking& packing, Xoshiro128pp& rng)
    : w_(packing.weights), capacity_(packing.capacity), rng_(rng) {}

void BinSearch::load(std::span<const Word> order) {
  kernels::first_fit::record(decoder_, w_, capacity_, order);
  std::size_t count = 0;
  for (const Word b : decoder_.bin_of) count = std::max<std::size_t>(count, std::size_t{b} + 1);
  for (Bin& bin : bins_) bin.items.clear();
  bins_.resize(count);
  for (std::size_t p = 0; p < order.size(); ++p) bins_[decoder_.bin_of[p]].items.push_back(order[p]);
  for (Bin& bin : bins_) refill(bin);
}

void BinSearch::normalise(std::span<Word> order) {
  std::vector<std::size_t> by_fill(bins_.size());
  std::iota(by_fill.begin(), by_fill.end(), std::size_t{0});
  std::stable_sort(by_fill.begin(), by_fill.end(),
                   [&](std::size_t a, std::size_t b) { return bins_[a].fill > bins_[b].fill; });
  std::size_t p = 0;
  for (const std::size_t b : by_fill) {
    std::vector<Word>& items = bins_[b].items;
    std::stable_sort(items.begin(), items.end(), [&](Word x, Word y) { return w_[x] > w_[y]; });
    for (const Word v : items) order[p++] = v;
  }
  load(order);
}

// A bin's fill summed in the order of its items, as first fit sums it.
void BinSearch::refill(Bin& bin) const {
  double fill = 0.0;
  for (const Word v : bin.items) fill = fill + w_[v];
  bin.fill = fill;
}

std::size_t BinSearch::least_filled() const {
  std::size_t least = 0;
  for (std::size_t b = 1; b < bins_.size(); ++b) {
    if (bins_[b].fill < bins_[least].fill) least = b;
  }
  return least;
}

double BinSearch::score() const {
  if (bins_.empty()) return 0.0;
  double sum = 0.0;
  for (const Bin& bin : bins_) {
    const double r = bin.fill / capacity_;
    sum = sum + r * r;
  }
  const double count = static_cast<double>(bins_.size());
  return count - sum / count;
}

void BinSearch::dissolve(std::size_t b) {
  free_.insert(free_.end(), bins_[b].items.begin(), bins_[b].items.end());
  bins_[b] = std::move(bins_.back());
  bins_.pop_back();
}

// Tie rule: among trades that raise the fill, the fullest result wins, the first found of
// equal ones (out sets none, one, two; in sets one, two; in index order).
bool BinSearch::trade(Bin& bin) {
  const std::vector<Word>& in = bin.items;
  const std::size_t m = in.size();
  const std::size_t f = free_.size();
  double best = bin.fill;
  std::size_t out_a = m, out_b = m, in_a = f, in_b = f;
  auto consider = [&](double out, std::size_t oa, std::size_t ob) {
    for (std::size_t x = 0; x < f; ++x) {
      const double wx = w_[free_[x]];
      const double one = bin.fill - out + wx;
      if (one > best && one <= capacity_) {
        best = one;
        out_a = oa, out_b = ob, in_a = x, in_b = f;
      }
      for (std::size_t y = x + 1; y < f; ++y) {
        const double two = one + w_[free_[y]];
        if (two > best && two <= capacity_) {
          best = two;
          out_a = oa, out_b = ob, in_a = x, in_b = y;
        }
      }
    }
  };
  consider(0.0, m, m);
  for (std::size_t a = 0; a < m && best < capacity_; ++a) {
    consider(w_[in[a]], a, m);
    for (std::size_t b = a + 1; b < m && best < capacity_; ++b) consider(w_[in[a]] + w_[in[b]], a, b);
  }
  if (in_a == f) return false;
  // Collect, then exchange: the indices refer to the lists as they were.
  Word taken[2];
  std::size_t taken_count = 0;
  taken[taken_count++] = free_[in_a];
  if (in_b != f) taken[taken_count++] = free_[in_b];
  Word given[2];
  std::size_t given_count = 0;
  if (out_a != m) given[given_count++] = in[out_a];
  if (out_b != m) given[given_count++] = in[out_b];
  // Remove from the back first so that the front index stays valid.
  if (in_b != f) free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(in_b));
  free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(in_a));
  if (out_b != m) bin.items.erase(bin.items.begin() + static_cast<std::ptrdiff_t>(out_b));
  if (out_a != m) bin.items.erase(bin.items.begin() + static_cast<std::ptrdiff_t>(out_a));
  free_.insert(free_.end(), given, given + given_count);
  bin.items.insert(bin.items.end(), taken, taken + taken_count);
  refill(bin);
  return true;
}

// Best fit of what is left, heaviest first: the bin left with the least room, the first of
// equal ones; a new bin when none has room.
void BinSearch::put_back() {
  std::stable_sort(free_.begin(), free_.end(), [&](Word x, Word y) { return w_[x] > w_[y]; });
  for (const Word v : free_) {
    const double w = w_[v];
    std::size_t chosen = bins_.size();
    double fullest = -1.0;
    for (std::size_t b = 0; b < bins_.size(); ++b) {
      const double after = bins_[b].fill + w;
      if (after <= capacity_ && after > fullest) {
        fullest = after;
        chosen = b;
      }
    }
    if (chosen == bins_.size()) bins_.emplace_back();
    bins_[chosen].items.push_back(v);
    refill(bins_[chosen]);
  }
  free_.clear();
}

void BinSearch::repack() {
  // Each pass starts at a bin drawn at random and goes round: which bins trade first decides
  // which free items are left, and a fixed start would repeat the same choices every kick.
  bool traded = true;
  while (traded && !free_.empty() && !bins_.empty()) {
    traded = false;
    const std::size_t count = bins_.size();
    const std::size_t start = rng_.range(0, static_cast<std::uint32_t>(count));
    for (std::size_t k = 0; k < count && !free_.empty(); ++k) {
      Bin& bin = bins_[(start + k) % count];
      if (bin.fill < capacity_ && trade(bin)) traded = true;
    }
  }
  put_back();
}

bool BinSearch::attempt() {
  if (bins_.size() < 2) return false;
  const double before = score();
  saved_ = bins_;
  dissolve(least_filled());
  if (bins_.size() >= 2 && rng_.range(0, 2) == 0) dissolve(least_filled());  // the next one too
  repack();
  if (score() < before) return true;
  std::swap(bins_, saved_);
  return false;
}

void BinSearch::kick() {
  if (bins_.empty()) return;
  dissolve(least_filled());
  const std::uint32_t extra = rng_.range(1, kMaxKickBins + 1);
  for (std::uint32_t k = 0; k < extra && !bins_.empty(); ++k) {
    dissolve(rng_.range(0, static_cast<std::uint32_t>(bins_.size())));
  }
  repack();
}

}  // namespace kestrum
