// First-fit scans: the solution's run recorded once, each move's run from the state before i.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/evaluation.hpp"
#include "problem/first_fit_scratch.hpp"
#include "problem/kernels/first_fit.hpp"
#include "problem/scan/common.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

// delta(s, i, j, shape) is delta_eval of the move, checked reads included. The workspace is
// the kernel's own (one per proposal loop): proposals rejected on an unchanged solution
// reuse its run, and it allocates only while growing.
struct FirstFitKernel {
  const BinPacking* packing;
  Rearrangement kind;
  FirstFitScratch* scratch;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j,
                             std::uint8_t shape = 0) const {
    return kernels::first_fit::delta(*scratch, packing->weights, packing->capacity, kind, s, i, j, shape);
  }
};

// A move's run starts from the open bins before its first changed position, which for every
// move of a row is i (the recorded checkpoint before i, moved forward); where too many bins
// stay open, from the tree before i, which moves forward one position a row while each move
// undoes its own changes. A solution the weights do not cover is scored move by move by the checked kernel,
// which stops where delta_eval would.
template <class Visit>
void scan_first_fit(const BinPacking& b, Rearrangement kind, std::span<const Word> s, std::size_t first,
                    std::size_t n, ScanScratch& scratch, Visit& visit) {
  FirstFitScratch& f = scratch.first_fit;
  if (n <= s.size() && values_below(s, b.weights.size())) {
    if (!kernels::first_fit::holds_run_of(f, b.weights, b.capacity, s)) {
      kernels::first_fit::record(f, b.weights, b.capacity, s);
    }
    const auto score = [&](std::size_t i, std::size_t j, std::uint8_t shape) {
      return kernels::first_fit::recorded_delta(f, b.weights, b.capacity, kind, s, i, j, shape);
    };
    if (kind == Rearrangement::kSegment) return scan_segments(n, visit, score);
    for (std::size_t i = first; i + 1 < n; ++i) {
      if (scan_stop(visit, n - 1 - i)) return;
      for (std::size_t j = i + 1; j < n; ++j) visit(move_at(i, j), score(i, j, 0));
    }
    return;
  }
  const FirstFitKernel k{&b, kind, &f};
  if (kind == Rearrangement::kSegment) {
    return scan_segments(n, visit, [&](std::size_t i, std::size_t j, std::uint8_t shape) {
      return k.delta(s, i, j, shape);
    });
  }
  return scan_checked(k, s, first, n, visit);
}

}  // namespace kestrum::scan
