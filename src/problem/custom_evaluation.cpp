// Custom evaluations: moves on a copy, one delta, and the proposal kernel.
#include "problem/custom_evaluation.hpp"

#include <algorithm>
#include <utility>

#include "problem/kernels/common.hpp"
#include "support/tags.hpp"

namespace kestrum {

CustomMove custom_move_of(Rearrangement r) {
  switch (r) {
    case Rearrangement::kReverse: return CustomMove::kReverse;
    case Rearrangement::kExchange: return CustomMove::kSwap;
  }
  unknown_tag("rearrangement", r);
}

void check_custom_move(Rearrangement r, std::size_t len, std::size_t i, std::size_t j) {
  kernels::check_move(r, len, i, j);
}

void apply_custom_move(Rearrangement r, std::span<Word> s, std::size_t i, std::size_t j) {
  check_custom_move(r, s.size(), i, j);
  switch (r) {
    case Rearrangement::kReverse:
      std::reverse(s.begin() + static_cast<std::ptrdiff_t>(i), s.begin() + static_cast<std::ptrdiff_t>(j) + 1);
      return;
    case Rearrangement::kExchange: std::swap(s[i], s[j]); return;
  }
  unknown_tag("rearrangement", r);
}

double custom_eval(const Custom& c, std::span<const Word> s) { return CustomScorer(c).evaluate(s); }

double custom_delta(const Custom& c, Rearrangement r, std::span<Word> s, Word i, Word j) {
  const CustomScorer scorer(c);
  if (scorer.has_delta()) {
    check_custom_move(r, s.size(), i, j);
    return scorer.delta(s, custom_move_of(r), i, j);
  }
  const double before = scorer.evaluate(s);
  apply_custom_move(r, s, i, j);
  const double after = scorer.evaluate(s);
  apply_custom_move(r, s, i, j);
  return after - before;
}

double CustomKernel::delta(std::span<const Word> s, std::size_t i, std::size_t j) const {
  if (scorer_.has_delta()) {
    check_custom_move(rearrangement_, s.size(), i, j);
    return scorer_.delta(s, kind_, i, j);
  }
  // The copy equals the solution unless a move was applied since the last proposal (or this
  // is the first): only then is it refreshed and its score taken again.
  if (!std::ranges::equal(work_, s)) {
    work_.assign(s.begin(), s.end());
    before_ = scorer_.evaluate(s);
  }
  const std::span<Word> w(work_);
  apply_custom_move(rearrangement_, w, i, j);
  const double after = scorer_.evaluate(w);
  apply_custom_move(rearrangement_, w, i, j);
  return after - before_;
}

}  // namespace kestrum
