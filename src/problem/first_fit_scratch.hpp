// FirstFitScratch: the workspace of first-fit decoding, kept between moves (data only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// What kernels/first_fit.hpp keeps between the deltas of one solution: the solution's own
// run (where each position's item went and its bin's fill after it, and the score), the tree
// of the bins' fills at a prefix of that run, the open bins at its checkpoints, and the marks
// of a moved run compared with the original. O(n) doubles and words for n positions (the
// checkpoint lists are bounded too); grown, never shrunk, so that a warm scratch allocates
// nothing.
struct FirstFitScratch {
  // The solution, weights and capacity the run below belongs to.
  std::vector<Word> key_solution;
  std::vector<double> key_weights;
  double key_capacity = 0.0;
  bool valid = false;

  // The original run.
  std::vector<Word> bin_of;
  std::vector<double> fill_after;
  std::vector<double> final_fill;   // each bin's fill at the end, +inf past the last bin
  std::size_t final_bins = 0;
  std::vector<double> suffix_least;  // the least weight at positions p.., +inf at the end
  double score = 0.0;
  std::vector<double> prefix_square;  // sum of (final fill / capacity)^2 over bins < b, in bin order

  // The open bins (those the lightest item still to come fits) before every checkpoint
  // position of the original run, in bin order: checkpoint c's bins and fills are entries
  // open_first[c] .. open_first[c + 1], and open_count[c] bins had been opened by then. Only
  // the first `checkpoints` are kept: past it some list grew too long.
  std::vector<std::size_t> open_first;
  std::vector<Word> open_count;
  std::vector<Word> open_bin;
  std::vector<double> open_fill;
  std::size_t checkpoints = 0;

  // A moved run's open bins, and the fills of the bins it closed or ends with, marked with
  // the move's stamp.
  std::vector<Word> list_bin;
  std::vector<double> list_fill;
  std::vector<double> moved_fill;
  std::vector<std::uint32_t> moved_mark;

  // Min tree over the bins' fills: leaves_ leaves from node leaves_ on, +inf for a bin not
  // opened. It holds the original run's state before position `at`, or a moved run's while
  // one is measured (undone afterwards).
  std::vector<double> node;
  std::size_t leaves = 0;
  std::size_t bins = 0;
  std::size_t at = 0;
  std::vector<double> at_fill;  // the leaves before position `at`, not touched by a moved run

  // A moved run: the nodes it wrote (node, value before) in order, and the original run's
  // fills as it advances beside it, marked with the move's stamp.
  std::vector<std::pair<Word, double>> undo;
  std::vector<double> replay;
  std::vector<std::uint32_t> replay_mark;
  std::vector<std::uint32_t> differ_mark;
  std::vector<Word> differ_list;  // bins marked differing at some point of the moved run
  std::uint32_t stamp = 0;
};

}  // namespace kestrum
