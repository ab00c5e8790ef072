// The stop criteria: constructors and the seven operations, one switch each in tag order.
#include "termination/termination_function.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "support/tags.hpp"

namespace kestrum {

namespace {

using Tag = TerminationFunction::Tag;

// The counters saturate instead of wrapping: inside a multi_crit_or another child can keep
// a search going far past a max_iterations limit, and a wrapped count would turn a spent
// limit back into "go on".
Word saturating_increment(Word count) { return count == kWordMax ? count : count + 1; }

double reset_score(bool minimize) {
  return minimize ? TerminationFunction::kResetScore : -TerminationFunction::kResetScore;
}

}  // namespace

TerminationFunction TerminationFunction::always_true() { return TerminationFunction(AlwaysTrue{}); }

TerminationFunction TerminationFunction::max_iterations(Word max_iterations) {
  return TerminationFunction(MaxIterations{max_iterations, 0});
}

TerminationFunction TerminationFunction::max_sec(std::uint64_t max_sec) {
  return TerminationFunction(MaxSec{max_sec, now()});
}

TerminationFunction TerminationFunction::min_temp(std::int32_t min_temp) {
  return TerminationFunction(MinTemp{min_temp});
}

TerminationFunction TerminationFunction::multi_crit_and(std::vector<TerminationFunction> vec) {
  return TerminationFunction(MultiCritAnd{std::move(vec)});
}

TerminationFunction TerminationFunction::multi_crit_or(std::vector<TerminationFunction> vec) {
  return TerminationFunction(MultiCritOr{std::move(vec)});
}

TerminationFunction TerminationFunction::must_improve() {
  return TerminationFunction(MustImprove{true, true, kResetScore});
}

TerminationFunction TerminationFunction::no_improve(Word iter_without_imp) {
  return TerminationFunction(NoImprove{true, true, iter_without_imp, 0, kResetScore});
}

TerminationFunction TerminationFunction::time_limit(double seconds) {
  return TerminationFunction(TimeLimit{seconds, limit_ns_of(seconds), now()});
}

std::uint64_t TerminationFunction::limit_ns_of(double seconds) noexcept {
  // 2^64 is exact in a double; anything at or above it (inf included) saturates. The
  // negation also sends a NaN to 0, though callers never pass one.
  constexpr double kTwoTo64 = 18446744073709551616.0;
  const double ns = seconds * 1e9;
  if (!(ns > 0.0)) return 0;
  if (ns >= kTwoTo64) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(ns);
}

bool TerminationFunction::keep_running() const {
  switch (tag()) {
    case Tag::kAlwaysTrue:
      return true;
    case Tag::kMaxIterations: {
      const auto& c = std::get<MaxIterations>(kind_);
      return c.iteration_count < c.max_iterations;
    }
    case Tag::kMaxSec: {
      // Whole seconds only: max_sec(5) goes on until a full 5 s have passed.
      const auto& c = std::get<MaxSec>(kind_);
      return elapsed(c.start, now()).seconds < c.max_sec;
    }
    case Tag::kMinTemp:
      return true;
    case Tag::kMultiCritAnd:
      // In order, stopping at the first false; no children means nothing objects.
      for (const auto& child : std::get<MultiCritAnd>(kind_).children) {
        if (!child.keep_running()) return false;
      }
      return true;
    case Tag::kMultiCritOr:
      // In order, stopping at the first true; no children means nothing agrees.
      for (const auto& child : std::get<MultiCritOr>(kind_).children) {
        if (child.keep_running()) return true;
      }
      return false;
    case Tag::kMustImprove:
      return std::get<MustImprove>(kind_).running;
    case Tag::kNoImprove:
      return std::get<NoImprove>(kind_).running;
    case Tag::kTimeLimit: {
      // Strict, as max_sec: time_limit(0) stops before the first step.
      const auto& c = std::get<TimeLimit>(kind_);
      return elapsed_ns(c.start, now()) < c.limit_ns;
    }
  }
  return true;  // unreachable: the switch covers every tag
}

void TerminationFunction::init() {
  switch (tag()) {
    case Tag::kAlwaysTrue:
      return;
    case Tag::kMaxIterations:
      std::get<MaxIterations>(kind_).iteration_count = 0;
      return;
    case Tag::kMaxSec:
      std::get<MaxSec>(kind_).start = now();
      return;
    case Tag::kMinTemp:
      return;
    case Tag::kMultiCritAnd:
      for (auto& child : std::get<MultiCritAnd>(kind_).children) child.init();
      return;
    case Tag::kMultiCritOr:
      for (auto& child : std::get<MultiCritOr>(kind_).children) child.init();
      return;
    case Tag::kMustImprove: {
      auto& c = std::get<MustImprove>(kind_);
      c.running = true;
      c.best_score = reset_score(c.minimize);
      return;
    }
    case Tag::kNoImprove: {
      auto& c = std::get<NoImprove>(kind_);
      c.non_improvement_count = 0;
      c.running = true;
      c.best_score = reset_score(c.minimize);
      return;
    }
    case Tag::kTimeLimit:
      std::get<TimeLimit>(kind_).start = now();
      return;
  }
}

bool TerminationFunction::check_variable(std::int32_t variable) const {
  switch (tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMaxIterations:
    case Tag::kMaxSec:
      return true;
    case Tag::kMinTemp:
      // Strict: the search stops once the temperature is down to min_temp.
      return std::get<MinTemp>(kind_).min_temp < variable;
    case Tag::kMultiCritAnd:
      for (const auto& child : std::get<MultiCritAnd>(kind_).children) {
        if (!child.check_variable(variable)) return false;
      }
      return true;
    case Tag::kMultiCritOr:
      for (const auto& child : std::get<MultiCritOr>(kind_).children) {
        if (child.check_variable(variable)) return true;
      }
      return false;
    case Tag::kMustImprove:
    case Tag::kNoImprove:
    case Tag::kTimeLimit:
      return true;
  }
  return true;  // unreachable: the switch covers every tag
}

void TerminationFunction::check_new_variable(double score) {
  switch (tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMaxIterations:
    case Tag::kMaxSec:
    case Tag::kMinTemp:
    case Tag::kTimeLimit:
      return;
    case Tag::kMultiCritAnd:
      // Every child sees every score: no early stop here.
      for (auto& child : std::get<MultiCritAnd>(kind_).children) child.check_new_variable(score);
      return;
    case Tag::kMultiCritOr:
      for (auto& child : std::get<MultiCritOr>(kind_).children) child.check_new_variable(score);
      return;
    case Tag::kMustImprove: {
      // Strict both ways; written as a positive comparison so a NaN is never an improvement.
      auto& c = std::get<MustImprove>(kind_);
      const bool improved = c.minimize ? score < c.best_score : score > c.best_score;
      if (improved) {
        c.best_score = score;
      } else {
        c.running = false;  // latched until init or set_goal
      }
      return;
    }
    case Tag::kNoImprove: {
      // Asymmetric on purpose: an equal score improves when minimising but not when
      // maximising. The count is a total since init, so an improvement does not reset it.
      auto& c = std::get<NoImprove>(kind_);
      const bool improved = c.minimize ? score <= c.best_score : score > c.best_score;
      if (improved) {
        c.best_score = score;
      } else {
        c.non_improvement_count = saturating_increment(c.non_improvement_count);
        if (c.non_improvement_count > c.iter_without_imp) c.running = false;
      }
      return;
    }
  }
}

void TerminationFunction::iteration_done() {
  switch (tag()) {
    case Tag::kAlwaysTrue:
      return;
    case Tag::kMaxIterations: {
      auto& c = std::get<MaxIterations>(kind_);
      c.iteration_count = saturating_increment(c.iteration_count);
      return;
    }
    case Tag::kMaxSec:
    case Tag::kMinTemp:
      return;
    case Tag::kMultiCritAnd:
      for (auto& child : std::get<MultiCritAnd>(kind_).children) child.iteration_done();
      return;
    case Tag::kMultiCritOr:
      for (auto& child : std::get<MultiCritOr>(kind_).children) child.iteration_done();
      return;
    case Tag::kMustImprove:
    case Tag::kNoImprove:
    case Tag::kTimeLimit:
      return;
  }
}

void TerminationFunction::set_goal(bool minimize) {
  switch (tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMaxIterations:
    case Tag::kMaxSec:  // deliberately no init: the clock keeps its start instant
    case Tag::kMinTemp:
    case Tag::kTimeLimit:
      return;
    case Tag::kMultiCritAnd:
      for (auto& child : std::get<MultiCritAnd>(kind_).children) child.set_goal(minimize);
      return;
    case Tag::kMultiCritOr:
      for (auto& child : std::get<MultiCritOr>(kind_).children) child.set_goal(minimize);
      return;
    case Tag::kMustImprove:
      std::get<MustImprove>(kind_).minimize = minimize;
      init();
      return;
    case Tag::kNoImprove:
      std::get<NoImprove>(kind_).minimize = minimize;
      init();
      return;
  }
}

Budget TerminationFunction::budget() const {
  switch (tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMinTemp:
    case Tag::kMustImprove:
    case Tag::kNoImprove:
      return {};
    case Tag::kMaxIterations:
      return {std::get<MaxIterations>(kind_).max_iterations, std::nullopt};
    case Tag::kMaxSec:
      return {std::nullopt, static_cast<double>(std::get<MaxSec>(kind_).max_sec)};
    case Tag::kTimeLimit:
      return {std::nullopt, std::get<TimeLimit>(kind_).seconds};
    case Tag::kMultiCritAnd: {
      Budget b;
      for (const auto& child : std::get<MultiCritAnd>(kind_).children) {
        const Budget c = child.budget();
        if (c.iterations && (!b.iterations || *c.iterations < *b.iterations)) b.iterations = c.iterations;
        if (c.seconds && (!b.seconds || *c.seconds < *b.seconds)) b.seconds = c.seconds;
      }
      return b;
    }
    case Tag::kMultiCritOr: {
      // An empty or stops before the first step, but has no bound to show.
      const auto& children = std::get<MultiCritOr>(kind_).children;
      if (children.empty()) return {};
      Budget b = children.front().budget();
      for (const auto& child : children) {
        const Budget c = child.budget();
        b.iterations = b.iterations && c.iterations ? std::max(b.iterations, c.iterations) : std::nullopt;
        b.seconds = b.seconds && c.seconds ? std::max(b.seconds, c.seconds) : std::nullopt;
      }
      return b;
    }
  }
  return {};  // unreachable: the switch covers every tag
}

std::vector<TerminationFunction>* TerminationFunction::children_if_combination() {
  switch (tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMaxIterations:
    case Tag::kMaxSec:
    case Tag::kMinTemp:
    case Tag::kMustImprove:
    case Tag::kNoImprove:
    case Tag::kTimeLimit:
      return nullptr;
    case Tag::kMultiCritAnd:
      return &std::get<MultiCritAnd>(kind_).children;
    case Tag::kMultiCritOr:
      return &std::get<MultiCritOr>(kind_).children;
  }
  unknown_tag("criterion", tag());
}

TerminationFunction::~TerminationFunction() {
  std::vector<TerminationFunction>* mine = children_if_combination();
  if (mine == nullptr) return;
  // Each child taken out hands its own children to this list before it is dropped, so every
  // criterion is destroyed childless: one level deep, however deep the nesting was. A chain
  // (one child per level) never grows the list.
  while (!mine->empty()) {
    TerminationFunction last = std::move(mine->back());
    mine->pop_back();
    if (std::vector<TerminationFunction>* theirs = last.children_if_combination()) {
      for (TerminationFunction& c : *theirs) mine->push_back(std::move(c));
      theirs->clear();
    }
  }
}

// Tag values and the alternatives of Kind must stay in step.
template <Tag T, class Alternative>
constexpr bool kTagIs = std::is_same_v<
    std::variant_alternative_t<static_cast<std::size_t>(T), TerminationFunction::Kind>, Alternative>;
static_assert(std::variant_size_v<TerminationFunction::Kind> == 9);
static_assert(kTagIs<Tag::kAlwaysTrue, TerminationFunction::AlwaysTrue> &&
              kTagIs<Tag::kMaxIterations, TerminationFunction::MaxIterations> &&
              kTagIs<Tag::kMaxSec, TerminationFunction::MaxSec> &&
              kTagIs<Tag::kMinTemp, TerminationFunction::MinTemp> &&
              kTagIs<Tag::kMultiCritAnd, TerminationFunction::MultiCritAnd> &&
              kTagIs<Tag::kMultiCritOr, TerminationFunction::MultiCritOr> &&
              kTagIs<Tag::kMustImprove, TerminationFunction::MustImprove> &&
              kTagIs<Tag::kNoImprove, TerminationFunction::NoImprove> &&
              kTagIs<Tag::kTimeLimit, TerminationFunction::TimeLimit>);

}  // namespace kestrum
