// Custom evaluations: moves on a copy, one delta, and the proposal kernel.
#include "problem/custom_evaluation.hpp"

#include <algorithm>
#include <utility>

#include "problem/kernels/common.hpp"
#include "problem/or_opt.hpp"
#include "support/tags.hpp"

namespace kestrum {

void ScoreFunction::delta_row(std::span<const Word> s, CustomMove kind, Word i, Word j_begin,
                              Word j_end, std::span<double> out) const {
  for (Word j = j_begin; j < j_end; ++j) out[j - j_begin] = delta(s, kind, i, j);
}

std::optional<CustomMove> custom_move_of(Rearrangement r) {
  switch (r) {
    case Rearrangement::kReverse: return CustomMove::kReverse;
    case Rearrangement::kExchange: return CustomMove::kSwap;
    case Rearrangement::kSegment: return std::nullopt;
  }
  unknown_tag("rearrangement", r);
}

void check_custom_move(Rearrangement r, std::size_t len, Move m) { kernels::check_move(r, len, m); }

void apply_custom_move(Rearrangement r, std::span<Word> s, Move m) {
  check_custom_move(r, s.size(), m);
  switch (r) {
    case Rearrangement::kSegment: return or_opt::apply(s, m);
    case Rearrangement::kReverse:
      std::reverse(s.begin() + static_cast<std::ptrdiff_t>(m.i), s.begin() + static_cast<std::ptrdiff_t>(m.j) + 1);
      return;
    case Rearrangement::kExchange: std::swap(s[m.i], s[m.j]); return;
  }
  unknown_tag("rearrangement", r);
}

void undo_custom_move(Rearrangement r, std::span<Word> s, Move m) { apply_custom_move(r, s, inverse(r, m)); }

double custom_eval(const Custom& c, std::span<const Word> s) { return CustomScorer(c).evaluate(s); }

double custom_delta(const Custom& c, Rearrangement r, std::span<Word> s, Move m) {
  const CustomScorer scorer(c);
  const std::optional<CustomMove> kind = custom_move_of(r);
  if (scorer.delta_scores(kind)) {
    check_custom_move(r, s.size(), m);
    return scorer.delta(s, *kind, m.i, m.j);
  }
  const double before = scorer.evaluate(s);
  apply_custom_move(r, s, m);
  const double after = scorer.evaluate(s);
  undo_custom_move(r, s, m);
  return after - before;
}

double CustomKernel::delta(std::span<const Word> s, Move m) const {
  if (scorer_.delta_scores(kind_)) {
    check_custom_move(rearrangement_, s.size(), m);
    return scorer_.delta(s, *kind_, m.i, m.j);
  }
  // The copy equals the solution unless a move was applied since the last proposal (or this
  // is the first): only then is it refreshed and its score taken again.
  if (!std::ranges::equal(work_, s)) {
    work_.assign(s.begin(), s.end());
    before_ = scorer_.evaluate(s);
  }
  const std::span<Word> w(work_);
  apply_custom_move(rearrangement_, w, m);
  const double after = scorer_.evaluate(w);
  undo_custom_move(rearrangement_, w, m);
  return after - before_;
}

}  // namespace kestrum
