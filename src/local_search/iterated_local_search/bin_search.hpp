// BinSearch: iterated local search over the bins of a first-fit packing.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/first_fit_scratch.hpp"
#include "support/rng.hpp"
#include "support/word.hpp"

namespace kestrum {

// Works on bins, not on the order: a packing is a list of bins, each the list of its items.
// The local search tries to empty the least-filled bin (on a fair coin, the two least-filled:
// where bins must end exactly full, one bin's items alone rarely leave room to move): its
// items become free, then each bin
// in turn trades up to two of its items for up to two free ones (adding a free item is a
// trade of none) whenever that fills it more without overfilling it, the fullest result
// first (passes go round the bins from one drawn at random). What stays free goes back best fit, fullest item first, into new bins when no bin
// has room. An attempt is kept when it lowers the score (bins - sum (fill / capacity)^2 /
// bins), else undone, and the search stops at the first failed attempt. A kick dissolves the
// least-filled bin and 1 to 5 random ones and puts their items back the same way.
//
// The order handed back lists the bins fullest first, each bin's items heaviest first. First
// fit on that order puts the items of the k-th bin into the first k bins (those of earlier
// bins use at most the first k - 1, and the k-th bin's items fit together), so its packing
// never has more bins; it is the packing the search continues from, so that the order and
// the packing always agree.
class BinSearch {
 public:
  BinSearch(const BinPacking& packing, Xoshiro128pp& rng);

  // Takes the packing first fit makes of `order` (values below the number of weights).
  void load(std::span<const Word> order);
  // The order described above; then load()s it.
  void normalise(std::span<Word> order);
  // Local search, asking stop() between attempts.
  template <class Stop>
  void descend(const Stop& stop) {
    while (!stop() && attempt()) {
    }
  }
  void kick();
  [[nodiscard]] std::size_t bins() const noexcept { return bins_.size(); }

 private:
  struct Bin {
    std::vector<Word> items;
    double fill = 0.0;
  };

  // Empties the least-filled bin and repacks; true when kept.
  bool attempt();
  // Frees the items of bin b (removed from the list).
  void dissolve(std::size_t b);
  // Trades until no bin gains, then puts the rest back.
  void repack();
  bool trade(Bin& bin);
  void put_back();
  void refill(Bin& bin) const;
  [[nodiscard]] std::size_t least_filled() const;
  [[nodiscard]] double score() const;

  const std::vector<double>& w_;
  double capacity_;
  Xoshiro128pp& rng_;
  std::vector<Bin> bins_;
  std::vector<Bin> saved_;
  std::vector<Word> free_;
  FirstFitScratch decoder_;
};

}  // namespace kestrum
