// Specialised neighbourhood scans and proposal kernels, chosen once per (evaluation, move) pair.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <variant>

#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/scan/assignment.hpp"
#include "problem/scan/bins.hpp"
#include "problem/scan/first_fit.hpp"
#include "problem/scan/tour.hpp"
#include "problem/scan_scratch.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum {

// Whether the specialised scans walk exactly the kind's moves: those written for pairs walk
// every pair from the first position, those for segment moves the shapes the kind lists.
[[nodiscard]] inline bool scans_fit(const MoveGeometry& g) {
  switch (g.rearrangement) {
    case Rearrangement::kReverse:
    case Rearrangement::kExchange: return all_pairs(g);
    case Rearrangement::kSegment: return true;
  }
  unknown_tag("rearrangement", g.rearrangement);
}

namespace scan {

// The tour kernel of a rearrangement, with reads of kind R, over distances d.
template <class R, class D, class F>
decltype(auto) with_tour_kernel(const D& d, bool symmetric, Rearrangement kind, F&& f) {
  switch (kind) {
    case Rearrangement::kReverse: {
      const TspReverseKernel<R, D> k{&d, symmetric};
      return f(k);
    }
    case Rearrangement::kExchange: {
      const TspSwapKernel<R, D> k{&d, symmetric};
      return f(k);
    }
    case Rearrangement::kSegment: {
      const TspSegmentKernel<R, D> k{&d, symmetric};
      return f(k);
    }
  }
  unknown_tag("rearrangement", kind);
}

}  // namespace scan

// For random proposals: resolves the pair once and calls f with a const kernel whose
// delta(s, m) is bit-identical to Evaluation::delta_eval of the move m.
template <class F>
decltype(auto) with_delta_kernel(const Evaluation& e, const SimpleMoveType& mt, F&& f) {
  const Rearrangement kind = geometry(mt).rearrangement;
  using Tag = Evaluation::Tag;
  switch (e.tag()) {
    case Tag::kEmptyBins: {
      const scan::BinsKernel<EmptyBins> k{&std::get<EmptyBins>(e.kind()), kind};
      return f(k);
    }
    case Tag::kEmptySpace: {
      const scan::BinsKernel<EmptySpace> k{&std::get<EmptySpace>(e.kind()), kind};
      return f(k);
    }
    case Tag::kEmptySpaceExp: {
      const scan::BinsKernel<EmptySpaceExp> k{&std::get<EmptySpaceExp>(e.kind()), kind};
      return f(k);
    }
    case Tag::kTsp: {
      const Tsp& t = std::get<Tsp>(e.kind());
      return scan::with_tour_kernel<kernels::Checked>(t.distance_matrix, t.symmetric, kind, f);
    }
    case Tag::kQap: {
      const scan::QapKernel k{&std::get<Qap>(e.kind()), kind};
      return f(k);
    }
    case Tag::kTspPoints:
      return std::get<TspPoints>(e.kind()).points.with_distances([&](const auto& d) -> decltype(auto) {
        return scan::with_tour_kernel<kernels::Checked>(d, true, kind, f);
      });
    case Tag::kCustom: {
      const CustomKernel k(std::get<Custom>(e.kind()), kind);
      return f(k);
    }
    case Tag::kBinPacking: {
      FirstFitScratch scratch;  // one per proposal loop, kept across its proposals
      const scan::FirstFitKernel k{&std::get<BinPacking>(e.kind()), kind, &scratch};
      return f(k);
    }
  }
  unknown_tag("evaluation", e.tag());
}

// As above, for use on `s` or a rearrangement of it: when the data covers every move of
// `mt` over it, tours are read without per-read checks, which cannot fail there and give
// the same values.
template <class F>
decltype(auto) with_delta_kernel(const Evaluation& e, const SimpleMoveType& mt,
                                 std::span<const Word> s, F&& f) {
  const Rearrangement kind = geometry(mt).rearrangement;
  if (const Tsp* t = std::get_if<Tsp>(&e.kind());
      t != nullptr && scan::tour_covered(t->distance_matrix, s, size_of(mt))) {
    return scan::with_tour_kernel<kernels::Unchecked>(t->distance_matrix, t->symmetric, kind, f);
  }
  if (const TspPoints* t = std::get_if<TspPoints>(&e.kind());
      t != nullptr && size_of(mt) <= s.size() && scan::values_below(s, t->points.size())) {
    return t->points.with_distances([&](const auto& d) -> decltype(auto) {
      return scan::with_tour_kernel<kernels::Unchecked>(d, true, kind, f);
    });
  }
  return with_delta_kernel(e, mt, std::forward<F>(f));
}

// The specialised scan of evaluation e over the moves of c (scans_fit(c.moves) holds): the
// family scan of the evaluation kind, which picks its loop by the rearrangement.
template <class Visit>
void scan_family(const Evaluation& e, const scan::ScanContext& c, Visit& visit) {
  using Tag = Evaluation::Tag;
  switch (e.tag()) {
    case Tag::kEmptyBins: return scan::scan_bins(std::get<EmptyBins>(e.kind()), c, visit);
    case Tag::kEmptySpace: return scan::scan_bins(std::get<EmptySpace>(e.kind()), c, visit);
    case Tag::kEmptySpaceExp: return scan::scan_bins(std::get<EmptySpaceExp>(e.kind()), c, visit);
    case Tag::kTsp: {
      const Tsp& t = std::get<Tsp>(e.kind());
      return scan::scan_tour(t.distance_matrix, t.symmetric, c, visit);
    }
    case Tag::kQap: return scan::scan_qap(std::get<Qap>(e.kind()), c, visit);
    case Tag::kTspPoints:
      return std::get<TspPoints>(e.kind()).points.with_distances(
          [&](const auto& d) { scan::scan_tour(d, true, c, visit); });
    case Tag::kCustom: return scan_custom(std::get<Custom>(e.kind()), c, visit);
    case Tag::kBinPacking: return scan::scan_first_fit(std::get<BinPacking>(e.kind()), c, visit);
  }
  unknown_tag("evaluation", e.tag());
}

// Calls visit(m, delta) for every move m of `mt` over `s`, in get_all_mov order, with delta
// bit-identical to Evaluation::delta_eval. The evaluation kind and the move kind are resolved
// once per call. The data is checked against the solution once; if it does not cover it, the
// moves are scored with the checked routines and stop where delta_eval would. `s` is only
// read. A warm `scratch` makes the scan allocation-free.
template <class Visit>
void for_each_delta(const Evaluation& e, const SimpleMoveType& mt, std::span<Word> s,
                    ScanScratch& scratch, Visit&& visit) {
  const MoveGeometry& g = geometry(mt);
  const std::size_t n = size_of(mt);
  if (n < g.first_position + 2) return;  // no moves
  const scan::ScanContext c{s, g, n, scratch};
  if (!scans_fit(g)) {
    // A kind the family scans were not written for: its own moves, each by the kernel.
    return with_delta_kernel(e, mt, s, [&](const auto& kernel) { scan::scan_checked(kernel, c, visit); });
  }
  scan_family(e, c, visit);
}

}  // namespace kestrum
