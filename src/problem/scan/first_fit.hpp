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

// delta(s, m) is delta_eval of the move m, checked reads included. The workspace is
// the kernel's own (one per proposal loop): proposals rejected on an unchanged solution
// reuse its run, and it allocates only while growing.
struct FirstFitKernel {
  const BinPacking* packing;
  Rearrangement kind;
  FirstFitScratch* scratch;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const {
    return kernels::first_fit::delta(*scratch, packing->weights, packing->capacity, kind, s, m);
  }
};

// A move's run starts from the open bins before its first changed position, which for every
// move of a row is i (the recorded checkpoint before i, moved forward); where too many bins
// stay open, from the tree before i, which moves forward one position a row while each move
// undoes its own changes. A solution the weights do not cover is scored move by move by the checked kernel,
// which stops where delta_eval would.
template <class Visit>
void scan_first_fit(const BinPacking& b, const ScanContext& c, Visit& visit) {
  const Rearrangement kind = c.moves.rearrangement;
  const std::span<const Word> s = c.s;
  FirstFitScratch& f = c.scratch.first_fit;
  if (c.n <= s.size() && values_below(s, b.weights.size())) {
    if (!kernels::first_fit::holds_run_of(f, b.weights, b.capacity, s)) {
      kernels::first_fit::record(f, b.weights, b.capacity, s);
    }
    return scan_moves(c, visit, [&](Move m) {
      return kernels::first_fit::recorded_delta(f, b.weights, b.capacity, kind, s, m);
    });
  }
  return scan_checked(FirstFitKernel{&b, kind, &f}, c, visit);
}

}  // namespace kestrum::scan
