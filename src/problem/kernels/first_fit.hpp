// First-fit bin packing: decoding an order over a tree of the bins' fills, and one move's delta.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <span>
#include <utility>

#include "problem/first_fit_scratch.hpp"
#include "problem/kernels/common.hpp"
#include "support/word.hpp"

// Each item, in solution order, goes into the lowest-numbered bin whose fill f has f + w <=
// capacity (computed as written), else into a new bin whose fill is w; a bin's fill is the
// sum of its items in the order they came. The score reads the final fills in bin order.
//
// The bins are the leaves of a min tree over their fills. Since x -> x + w never decreases
// in floating point, a subtree holds a bin with room iff its least fill has room, so the
// first bin with room is one descent: O(log n) an item, O(n log n) a solution.
//
// A move changes positions lo..hi only. Its run starts from the original run's state before
// lo (kept in the scratch and moved forward or rebuilt from the recorded run, never
// recomputed), and advances beside a replay of the original run, counting the bins whose
// fills differ (bit for bit). Past hi both runs read the same items, so:
// - when no bin differs, the rest is the original's: the final fills, hence the score, are
//   the original's, and the delta is exactly 0;
// - when the runs have as many bins and every bin that differs is dead in both (its fill
//   plus the least weight still to come exceeds the capacity, so no later item can go
//   there), every later item goes where it went originally: the final fills are the
//   original ones except in those bins, which keep the fills they have now.
// Otherwise the moved run goes to the end. Every fill is formed by the same additions in the
// same order as eval's, and the score sums the final fills in bin order as eval does, so the
// scores are eval's bits and so is their difference.
//
// Most moved runs never rejoin the original, so what a move costs is that of placing the items
// from lo on. A bin is open while the lightest item still to come fits it; once closed it
// stays closed, and only open bins can take an item, so the first open bin with room is the
// first bin with room. Runs keep few bins open (about ten on 1,000 items of 20..100 in bins of
// 150), so a moved run places its items on the list of its open bins, in bin order, and the
// tree is not needed: the list before lo comes from the original run's list at the checkpoint
// before lo, moved forward. Bins closed before lo keep their original final fills, and the
// squares of those below the first open bin are summed already (prefix_square, summed in bin
// order as eval sums them). A list longer than kMostOpen hands the move to the tree.
namespace kestrum::kernels {

inline constexpr double kUnopened = std::numeric_limits<double>::infinity();

// bins - (sum over bins of (fill / capacity)^2) / bins; 0 without bins.
[[nodiscard]] inline double first_fit_score(const double* fills, std::size_t bins,
                                            double capacity) noexcept {
  if (bins == 0) return 0.0;
  double sum = 0.0;
  for (std::size_t b = 0; b < bins; ++b) {
    const double r = fills[b] / capacity;
    sum = sum + r * r;
  }
  const double count = static_cast<double>(bins);
  return count - sum / count;
}

namespace first_fit {

inline constexpr std::size_t kCheckpointEvery = 32;
inline constexpr std::size_t kMostOpen = 64;

// One step of the original run, at position p, on an open list of m bins (ascending) of
// which `opened` have been opened so far; false when the list would outgrow kMostOpen.
inline bool replay_open(const FirstFitScratch& f, double capacity, std::size_t p, Word* bins,
                        double* fills, std::size_t& m, std::size_t& opened) noexcept {
  const Word b = f.bin_of[p];
  std::size_t k = 0;
  if (b == opened) {
    if (m == kMostOpen) return false;
    k = m++;
    bins[k] = b;
    ++opened;
  } else {
    while (bins[k] != b) ++k;  // the run put an item there, so it was open
  }
  fills[k] = f.fill_after[p];
  if (!(fills[k] + f.suffix_least[p + 1] <= capacity)) {
    std::copy(bins + k + 1, bins + m, bins + k);
    std::copy(fills + k + 1, fills + m, fills + k);
    --m;
  }
  return true;
}

// The first of m open bins with room for w, or m.
[[nodiscard]] inline std::size_t first_open_with_room(const double* fills, std::size_t m, double w,
                                                      double capacity) noexcept {
  std::size_t k = 0;
  while (k < m && !(fills[k] + w <= capacity)) ++k;
  return k;
}

// A new stamp for the marks of a moved run.
inline std::uint32_t next_stamp(FirstFitScratch& f) {
  if (++f.stamp == 0) {  // marks of 2^32 moves ago would read as current
    std::fill(f.replay_mark.begin(), f.replay_mark.end(), 0);
    std::fill(f.differ_mark.begin(), f.differ_mark.end(), 0);
    std::fill(f.moved_mark.begin(), f.moved_mark.end(), 0);
    f.stamp = 1;
  }
  return f.stamp;
}

// Empty tree with a leaf for each of `items` possible bins.
inline void reset(FirstFitScratch& f, std::size_t items) {
  f.leaves = std::bit_ceil(std::max<std::size_t>(items, 1));
  f.node.assign(2 * f.leaves, kUnopened);
  f.bins = 0;
  f.at = 0;
}

[[nodiscard]] inline double leaf(const FirstFitScratch& f, std::size_t b) noexcept {
  return f.node[f.leaves + b];
}

// Sets bin b's fill and the least fills above it, stopping where nothing changes. Journal:
// with a list, each node's value before it is written, so that the change can be put back
// by plain stores.
template <class Journal = std::nullptr_t>
inline void set_leaf(FirstFitScratch& f, std::size_t b, double fill, Journal journal = nullptr) noexcept {
  double* const node = f.node.data();
  std::size_t p = f.leaves + b;
  if constexpr (!std::is_same_v<Journal, std::nullptr_t>) journal->emplace_back(static_cast<Word>(p), node[p]);
  node[p] = fill;
  for (p >>= 1; p != 0; p >>= 1) {
    const double least = std::min(node[2 * p], node[2 * p + 1]);
    if (same_bits(least, node[p])) return;
    if constexpr (!std::is_same_v<Journal, std::nullptr_t>) journal->emplace_back(static_cast<Word>(p), node[p]);
    node[p] = least;
  }
}

// The lowest-numbered open bin with room for w, or f.bins when none has.
[[nodiscard]] inline std::size_t first_with_room(const FirstFitScratch& f, double w,
                                                 double capacity) noexcept {
  const double* const node = f.node.data();
  if (!(node[1] + w <= capacity)) return f.bins;
  std::size_t p = 1;
  while (p < f.leaves) {
    p = 2 * p;
    p += node[p] + w <= capacity ? 0 : 1;
  }
  return p - f.leaves;
}

// Packs one item of weight w; returns its bin. Its fill is then leaf(f, bin).
inline std::size_t place(FirstFitScratch& f, double w, double capacity) noexcept {
  const std::size_t b = first_with_room(f, w, capacity);
  if (b == f.bins) {
    ++f.bins;
    set_leaf(f, b, w);
  } else {
    set_leaf(f, b, leaf(f, b) + w);
  }
  return b;
}

// The score of `s` by the reads of R; the tree is left holding the final state.
template <class R>
[[nodiscard]] double decode(FirstFitScratch& f, std::span<const double> w, double capacity,
                            std::span<const Word> s) {
  reset(f, s.size());
  for (std::size_t p = 0; p < s.size(); ++p) (void)place(f, R::weight(w, R::pos(s, p)), capacity);
  return first_fit_score(f.node.data() + f.leaves, f.bins, capacity);
}

// Whether the recorded run is the one of (w, capacity, s).
[[nodiscard]] inline bool holds_run_of(const FirstFitScratch& f, std::span<const double> w,
                                       double capacity, std::span<const Word> s) noexcept {
  return f.valid && same_bits(f.key_capacity, capacity) && f.key_solution.size() == s.size() &&
         f.key_weights.size() == w.size() &&
         std::memcmp(f.key_solution.data(), s.data(), s.size() * sizeof(Word)) == 0 &&
         std::memcmp(f.key_weights.data(), w.data(), w.size() * sizeof(double)) == 0;
}

// The original run's open lists at its checkpoints, up to the first that outgrows kMostOpen.
inline void record_open_lists(FirstFitScratch& f, double capacity) {
  const std::size_t len = f.bin_of.size();
  const std::size_t count = len / kCheckpointEvery + 1;
  f.open_first.resize(count + 1);
  f.open_count.resize(count);
  f.open_bin.clear();
  f.open_fill.clear();
  f.list_bin.resize(kMostOpen);
  f.list_fill.resize(kMostOpen);
  Word* const bins = f.list_bin.data();
  double* const fills = f.list_fill.data();
  std::size_t m = 0;
  std::size_t opened = 0;
  f.checkpoints = 0;
  for (std::size_t c = 0; c < count; ++c) {
    f.open_first[c] = f.open_bin.size();
    f.open_count[c] = static_cast<Word>(opened);
    f.open_bin.insert(f.open_bin.end(), bins, bins + m);
    f.open_fill.insert(f.open_fill.end(), fills, fills + m);
    f.checkpoints = c + 1;
    const std::size_t end = std::min(len, (c + 1) * kCheckpointEvery);
    bool fits = true;
    for (std::size_t p = c * kCheckpointEvery; p < end && fits; ++p) {
      fits = replay_open(f, capacity, p, bins, fills, m, opened);
    }
    if (!fits) break;
  }
  f.open_first[f.checkpoints] = f.open_bin.size();
}

// Records the run of s with checked reads (a failing read stops as eval's would), and
// leaves the tree before position 0.
inline void record(FirstFitScratch& f, std::span<const double> w, double capacity,
                   std::span<const Word> s) {
  f.valid = false;
  const std::size_t len = s.size();
  reset(f, len);
  f.bin_of.resize(len);
  f.fill_after.resize(len);
  for (std::size_t p = 0; p < len; ++p) {
    const std::size_t b = place(f, Checked::weight(w, s[p]), capacity);
    f.bin_of[p] = static_cast<Word>(b);
    f.fill_after[p] = leaf(f, b);
  }
  f.score = first_fit_score(f.node.data() + f.leaves, f.bins, capacity);
  f.final_fill.assign(f.node.begin() + static_cast<std::ptrdiff_t>(f.leaves), f.node.end());
  f.final_bins = f.bins;
  f.suffix_least.resize(len + 1);
  f.suffix_least[len] = kUnopened;
  for (std::size_t p = len; p-- > 0;) f.suffix_least[p] = std::min(f.suffix_least[p + 1], w[s[p]]);
  f.prefix_square.resize(f.final_bins + 1);
  f.prefix_square[0] = 0.0;
  for (std::size_t b = 0; b < f.final_bins; ++b) {
    const double r = f.final_fill[b] / capacity;
    f.prefix_square[b + 1] = f.prefix_square[b] + r * r;
  }
  record_open_lists(f, capacity);
  f.key_solution.assign(s.begin(), s.end());
  f.key_weights.assign(w.begin(), w.end());
  f.key_capacity = capacity;
  f.valid = true;
  f.at_fill.assign(f.leaves, kUnopened);
  f.replay.resize(f.leaves);
  f.replay_mark.assign(f.leaves, 0);
  f.differ_mark.assign(f.leaves, 0);
  f.moved_fill.resize(f.leaves);
  f.moved_mark.assign(f.leaves, 0);
  f.stamp = 0;
  std::fill(f.node.begin(), f.node.end(), kUnopened);
  f.bins = 0;
  f.at = 0;
}

// Puts the tree in the recorded run's state before position lo: forwards from where it is
// when that is short, else rebuilt from the recorded fills in O(lo + leaves).
inline void seek(FirstFitScratch& f, std::size_t lo) {
  if (f.at == lo) return;
  if (f.at < lo && 4 * (lo - f.at) < lo + f.leaves) {
    for (std::size_t p = f.at; p < lo; ++p) {
      const std::size_t b = f.bin_of[p];
      if (b == f.bins) ++f.bins;
      set_leaf(f, b, f.fill_after[p]);
      f.at_fill[b] = f.fill_after[p];
    }
  } else {
    std::fill(f.at_fill.begin(), f.at_fill.end(), kUnopened);
    f.bins = 0;
    for (std::size_t p = 0; p < lo; ++p) {
      f.at_fill[f.bin_of[p]] = f.fill_after[p];
      f.bins = std::max<std::size_t>(f.bins, f.bin_of[p] + std::size_t{1});
    }
    double* const node = f.node.data();
    std::copy(f.at_fill.begin(), f.at_fill.end(), node + f.leaves);
    for (std::size_t p = f.leaves; p-- > 1;) node[p] = std::min(node[2 * p], node[2 * p + 1]);
  }
  f.at = lo;
}

// The moved run of moved_score on open lists; false when a list outgrows kMostOpen, and then
// `score` is not set.
template <class Value>
[[nodiscard]] bool listed_score(FirstFitScratch& f, std::span<const double> w, double capacity,
                                std::size_t lo, std::size_t hi, Value value, double& score) {
  const std::size_t c = lo / kCheckpointEvery;
  if (c >= f.checkpoints) return false;
  Word* const bins = f.list_bin.data();
  double* const fills = f.list_fill.data();
  std::size_t m = f.open_first[c + 1] - f.open_first[c];
  std::copy_n(f.open_bin.data() + f.open_first[c], m, bins);
  std::copy_n(f.open_fill.data() + f.open_first[c], m, fills);
  std::size_t opened = f.open_count[c];
  for (std::size_t p = c * kCheckpointEvery; p < lo; ++p) {
    if (!replay_open(f, capacity, p, bins, fills, m, opened)) return false;
  }
  const std::uint32_t stamp = next_stamp(f);
  // Bins below the first open one are closed: their final fills are the original's.
  const std::size_t first_open = m > 0 ? bins[0] : opened;
  // Up to hi the items to come are those of lo.. in another order: none is lighter than
  // the lightest of them.
  const double least_within = f.suffix_least[lo];
  // Places an item of weight wp; false when the list would outgrow kMostOpen.
  const auto place = [&](double wp, double least) {
    const std::size_t k = first_open_with_room(fills, m, wp, capacity);
    if (k == m) {
      if (m == kMostOpen) return false;
      bins[m++] = static_cast<Word>(opened++);
      fills[k] = wp;
    } else {
      fills[k] = fills[k] + wp;
    }
    if (!(fills[k] + least <= capacity)) {
      f.moved_fill[bins[k]] = fills[k];
      f.moved_mark[bins[k]] = stamp;
      std::copy(bins + k + 1, bins + m, bins + k);
      std::copy(fills + k + 1, fills + m, fills + k);
      --m;
    }
    return true;
  };
  const std::size_t len = f.bin_of.size();
  std::size_t p = lo;
  for (; p < std::min(hi, len); ++p) {
    if (!place(w[value(p)], least_within)) return false;
  }
  for (; p < len; ++p) {
    if (!place(w[value(p)], f.suffix_least[p + 1])) return false;
  }
  for (std::size_t k = 0; k < m; ++k) {
    f.moved_fill[bins[k]] = fills[k];
    f.moved_mark[bins[k]] = stamp;
  }
  if (opened == 0) {
    score = 0.0;
    return true;
  }
  double sum = f.prefix_square[first_open];
  for (std::size_t b = first_open; b < opened; ++b) {
    const double r = (f.moved_mark[b] == stamp ? f.moved_fill[b] : f.final_fill[b]) / capacity;
    sum = sum + r * r;
  }
  const double count = static_cast<double>(opened);
  score = count - sum / count;
  return true;
}

// The score of the solution whose position p holds value(p) for lo <= p <= hi and the
// recorded one elsewhere, read unchecked (the recorded run has read every value). The tree
// is left as it was.
template <class Value>
[[nodiscard]] double moved_score(FirstFitScratch& f, std::span<const double> w, double capacity,
                                 std::size_t lo, std::size_t hi, Value value) {
  if (double listed = 0.0; listed_score(f, w, capacity, lo, hi, value, listed)) return listed;
  const std::size_t len = f.bin_of.size();
  seek(f, lo);
  const std::uint32_t stamp = next_stamp(f);
  const std::size_t bins_before = f.bins;
  std::size_t original_bins = f.bins;  // the original run's bins before position p
  std::size_t differing = 0;
  f.undo.clear();
  f.differ_list.clear();
  auto original = [&](std::size_t b) { return f.replay_mark[b] == stamp ? f.replay[b] : f.at_fill[b]; };
  auto recheck = [&](std::size_t b) {
    const bool differs = !same_bits(leaf(f, b), original(b));
    const bool was = f.differ_mark[b] == stamp;
    if (differs != was) {
      f.differ_mark[b] = differs ? stamp : 0;
      if (differs) {
        ++differing;
        f.differ_list.push_back(static_cast<Word>(b));
      } else {
        --differing;
      }
    }
  };
  // Whether every differing bin is dead in both runs before position p; drops the bins that
  // no longer differ from the list on the way.
  auto all_dead = [&](std::size_t p) {
    const double least = f.suffix_least[p];
    std::size_t kept = 0;
    bool dead = true;
    for (const Word b : f.differ_list) {
      if (f.differ_mark[b] != stamp) continue;
      f.differ_list[kept++] = b;
      if (leaf(f, b) + least <= capacity || original(b) + least <= capacity) dead = false;
    }
    f.differ_list.resize(kept);
    return dead;
  };
  constexpr std::size_t kMostDeadChecked = 8;  // beyond that, the run is unlikely to settle
  enum class End { kRan, kSame, kSettled } end = End::kRan;
  for (std::size_t p = lo; p < len; ++p) {
    if (p > hi) {
      if (differing == 0) {
        end = End::kSame;
        break;
      }
      if (differing <= kMostDeadChecked && f.bins == original_bins && all_dead(p)) {
        end = End::kSettled;
        break;
      }
    }
    const double wp = w[value(p)];
    const std::size_t b = first_with_room(f, wp, capacity);
    if (b == f.bins) {
      ++f.bins;
      set_leaf(f, b, wp, &f.undo);
    } else {
      set_leaf(f, b, leaf(f, b) + wp, &f.undo);
    }
    const std::size_t ob = f.bin_of[p];
    if (ob == original_bins) ++original_bins;
    f.replay[ob] = f.fill_after[p];
    f.replay_mark[ob] = stamp;
    recheck(b);
    if (ob != b) recheck(ob);
  }
  double score = f.score;
  switch (end) {
    case End::kSame: break;
    case End::kRan: score = first_fit_score(f.node.data() + f.leaves, f.bins, capacity); break;
    case End::kSettled: {
      // The original final bins and fills, with the differing bins' present fills, summed as
      // eval sums them.
      double sum = 0.0;
      for (std::size_t b = 0; b < f.final_bins; ++b) {
        const double r = (f.differ_mark[b] == stamp ? leaf(f, b) : f.final_fill[b]) / capacity;
        sum = sum + r * r;
      }
      const double count = static_cast<double>(f.final_bins);
      score = count - sum / count;
      break;
    }
  }
  for (std::size_t k = f.undo.size(); k-- > 0;) f.node[f.undo[k].first] = f.undo[k].second;
  f.bins = bins_before;
  return score;
}

// The delta of the move m of `kind` on the recorded solution s, checked as applying
// it would check it.
[[nodiscard]] inline double recorded_delta(FirstFitScratch& f, std::span<const double> w,
                                           double capacity, Rearrangement kind,
                                           std::span<const Word> s, Move m) {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  check_move(kind, s.size(), m);
  const std::size_t lo = std::min({i, j, s.size()});  // an empty reversal may lie past the end
  const std::size_t hi = std::max(i, j);
  const double after = moved_score(f, w, capacity, lo, hi, [&](std::size_t p) {
    return after_move<Unchecked>(kind, s, m, p);
  });
  return after - f.score;
}

// eval after the move minus eval before: the solution's run first (reused when the
// scratch holds it), then the move's checks, then the moved run.
[[nodiscard]] inline double delta(FirstFitScratch& f, std::span<const double> w, double capacity,
                                  Rearrangement kind, std::span<const Word> s, Move m) {
  if (!holds_run_of(f, w, capacity, s)) record(f, w, capacity, s);
  return recorded_delta(f, w, capacity, kind, s, m);
}

}  // namespace first_fit
}  // namespace kestrum::kernels
