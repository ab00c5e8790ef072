// Tests of the stop criteria: score, iteration, temperature and time sequences, direction
// changes, forwarding through combinations, and value semantics.
#include "termination/termination_function.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {
namespace {

using TF = TerminationFunction;

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");
constexpr std::int32_t kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kI32Max = std::numeric_limits<std::int32_t>::max();

template <class... C> TF all(C... c) { return TF::multi_crit_and({c...}); }
template <class... C> TF any(C... c) { return TF::multi_crit_or({c...}); }
template <class Alt> const Alt& as(const TF& t) { return std::get<Alt>(t.kind()); }
const TF& child(const TF& t, std::size_t i) {
  return t.tag() == TF::Tag::kMultiCritAnd ? as<TF::MultiCritAnd>(t).children.at(i)
                                           : as<TF::MultiCritOr>(t).children.at(i);
}
const auto kName = [](const auto& info) { return std::string(info.param.name); };

// keep_running after each check_new_variable, following set_goal (if any) and init.
struct ScoreCase {
  const char* name;
  TF criterion;
  std::optional<bool> minimize;
  std::vector<double> scores;
  std::vector<bool> running_after;
};
class ScoreSequenceTest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreSequenceTest, KeepRunningAfterEachScore) {
  const ScoreCase& c = GetParam();
  ASSERT_EQ(c.scores.size(), c.running_after.size());
  TF t = c.criterion;
  if (c.minimize) t.set_goal(*c.minimize);
  t.init();
  for (std::size_t i = 0; i < c.scores.size(); ++i) {
    t.check_new_variable(c.scores[i]);
    EXPECT_EQ(t.keep_running(), c.running_after[i]) << "after score #" << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ScoreSequenceTest, testing::Values(
    ScoreCase{"MustImproveEqualStops", TF::must_improve(), {}, {10, 9, 9}, {true, true, false}},
    ScoreCase{"MustImproveLatched", TF::must_improve(), true, {10, 11, 5}, {true, false, false}},
    ScoreCase{"MustImproveFirstInf", TF::must_improve(), {}, {kInf}, {false}},
    ScoreCase{"MustImproveFirstNaN", TF::must_improve(), {}, {kNaN}, {false}},
    ScoreCase{"MustImproveFirstMax", TF::must_improve(), {}, {kMax}, {false}},
    ScoreCase{"MustImproveBelowMax", TF::must_improve(), {}, {std::nextafter(kMax, 0.0)}, {true}},
    ScoreCase{"MustImproveNegInfTwice", TF::must_improve(), {}, {-kInf, -kInf}, {true, false}},
    ScoreCase{"MustImproveMaxEqualStops", TF::must_improve(), false, {1, 2, 2}, {true, true, false}},
    ScoreCase{"MustImproveMaxFalling", TF::must_improve(), false, {3, 2}, {true, false}},
    ScoreCase{"MustImproveMaxFirstNegMax", TF::must_improve(), false, {-kMax}, {false}},
    ScoreCase{"MustImproveMaxFirstNaN", TF::must_improve(), false, {kNaN}, {false}},
    ScoreCase{"NoImproveEqualImproves", TF::no_improve(2), {}, {10, 10, 10, 10}, {true, true, true, true}},
    ScoreCase{"NoImproveCountIsTotal", TF::no_improve(2), {}, {10, 11, 12, 9, 13}, {true, true, true, true, false}},
    ScoreCase{"NoImproveMaxEqualCounts", TF::no_improve(2), false, {10, 10, 10, 10}, {true, true, true, false}},
    ScoreCase{"NoImproveMaxRising", TF::no_improve(0), false, {1, 2, 3}, {true, true, true}},
    ScoreCase{"NoImproveZeroTolerance", TF::no_improve(0), {}, {5, 6}, {true, false}},
    ScoreCase{"NoImproveLatched", TF::no_improve(1), {}, {1, 2, 3, 0}, {true, true, false, false}},
    ScoreCase{"NoImproveNaNCounts", TF::no_improve(1), {}, {kNaN, kNaN}, {true, false}},
    ScoreCase{"NoImproveMaxEqualsReset", TF::no_improve(1), {}, {kMax, kInf, kInf}, {true, true, false}},
    ScoreCase{"IgnoredByOthers", any(TF::always_true(), TF::min_temp(kI32Max)), {}, {kNaN, 1}, {true, true}},
    ScoreCase{"AndIterationsMustImprove", all(TF::max_iterations(5), TF::must_improve()), {}, {3, 2, 2}, {true, true, false}},
    ScoreCase{"AndFirstToStop", all(TF::must_improve(), TF::no_improve(1)), {}, {5, 5, 5}, {true, false, false}},
    ScoreCase{"OrLastToStop", any(TF::must_improve(), TF::no_improve(1)), false, {5, 5, 5}, {true, true, false}},
    ScoreCase{"NestedDirection", all(any(TF::must_improve()), TF::no_improve(5)), false, {1, 2, 2}, {true, true, false}},
    ScoreCase{"EmptyAnd", all(), {}, {1}, {true}},
    ScoreCase{"EmptyOr", any(), {}, {1}, {false}}), kName);

// keep_running after 0, 1, 2, ... iteration_done calls; asking twice must not change it.
struct IterationCase {
  const char* name;
  TF criterion;
  std::vector<bool> running_after;
};
class IterationSequenceTest : public testing::TestWithParam<IterationCase> {};

TEST_P(IterationSequenceTest, KeepRunningAfterEachIteration) {
  TF t = GetParam().criterion;
  t.set_goal(true);
  t.init();
  for (std::size_t k = 0; k < GetParam().running_after.size(); ++k) {
    if (k > 0) t.iteration_done();
    EXPECT_EQ(t.keep_running(), GetParam().running_after[k]) << "after " << k << " iterations";
    EXPECT_EQ(t.keep_running(), GetParam().running_after[k]) << "second ask, " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, IterationSequenceTest, testing::Values(
    IterationCase{"Zero", TF::max_iterations(0), {false, false}},
    IterationCase{"Three", TF::max_iterations(3), {true, true, true, false, false}},
    IterationCase{"OthersIgnoreIterations", all(TF::min_temp(kI32Max), TF::must_improve(), TF::no_improve(0)), {true, true, true}},
    IterationCase{"AndFirstLimit", all(TF::max_iterations(5), TF::max_iterations(2)), {true, true, false, false}},
    IterationCase{"OrLastLimit", any(TF::max_iterations(1), TF::max_iterations(3)), {true, true, true, false}},
    IterationCase{"OrWithMinTempNeverStops", any(TF::max_iterations(5), TF::min_temp(3)), {true, true, true, true, true, true, true}},
    IterationCase{"Nested", all(any(TF::max_iterations(1), TF::max_iterations(2)), TF::max_iterations(4)), {true, true, false, false}},
    IterationCase{"EmptyAnd", all(), {true, true}},
    IterationCase{"EmptyOr", any(), {false, false}},
    IterationCase{"OrOfEmptyOrAndEmptyAnd", any(any(), all()), {true, true}}), kName);

TEST(IterationCountTest, SaturatesInsteadOfWrappingPastTheLimit) {
  // Inside an or, another child can keep a search going after this limit is spent.
  TF t(TF::MaxIterations{kWordMax, kWordMax - 1});
  EXPECT_TRUE(t.keep_running());
  t.iteration_done();
  t.iteration_done();
  EXPECT_FALSE(t.keep_running());
}

struct TemperatureCase {
  const char* name;
  TF criterion;
  std::int32_t temperature;
  bool expected;
};
class CheckVariableTest : public testing::TestWithParam<TemperatureCase> {};

TEST_P(CheckVariableTest, Answer) {
  EXPECT_EQ(GetParam().criterion.check_variable(GetParam().temperature), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CheckVariableTest, testing::Values(
    TemperatureCase{"Above", TF::min_temp(10), 11, true},
    TemperatureCase{"Equal", TF::min_temp(10), 10, false},
    TemperatureCase{"Below", TF::min_temp(10), 9, false},
    TemperatureCase{"SignedCompare", TF::min_temp(-1), 0, true},
    TemperatureCase{"LowestBound", TF::min_temp(kI32Min), kI32Min, false},
    TemperatureCase{"OthersGoOn", all(TF::max_iterations(0), TF::max_sec(0), TF::must_improve(), TF::no_improve(0)), kI32Min, true},
    TemperatureCase{"EmptyAnd", all(), kI32Min, true},
    TemperatureCase{"EmptyOr", any(), kI32Max, false},
    TemperatureCase{"OrWithMaxIterations", any(TF::max_iterations(5), TF::min_temp(3)), kI32Min, true},
    TemperatureCase{"OrOneAbove", any(TF::min_temp(3), TF::min_temp(5)), 4, true},
    TemperatureCase{"OrNoneAbove", any(TF::min_temp(3), TF::min_temp(5)), 3, false},
    TemperatureCase{"AndOneBelow", all(TF::min_temp(3), TF::min_temp(5)), 4, false},
    TemperatureCase{"AndWithEmptyOr", all(TF::always_true(), any()), 100, false}), kName);

// keep_running of max_sec against the fake clock, `ns` after init (negative: clock behind).
struct TimeCase {
  const char* name;
  std::uint64_t max_sec;
  std::int64_t ns;
  bool expected;
};
class MaxSecTest : public testing::TestWithParam<TimeCase> {};

TEST_P(MaxSecTest, WholeSecondsOnly) {
  FakeClock clock({1000, 500'000'000});  // half past, so the sub-second borrow is exercised
  TF t = TF::max_sec(GetParam().max_sec);
  t.init();
  if (GetParam().ns >= 0) clock.advance_ns(static_cast<std::uint64_t>(GetParam().ns));
  else clock.set({999, 0});
  EXPECT_EQ(t.keep_running(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MaxSecTest, testing::Values(
    TimeCase{"ZeroAtOnce", 0, 0, false},
    TimeCase{"OneJustBefore", 1, 999'999'999, true},
    TimeCase{"OneExactly", 1, 1'000'000'000, false},
    TimeCase{"FiveAt5s", 5, 5'000'000'000, false},
    TimeCase{"HugeLimit", UINT64_MAX, INT64_MAX, true},
    TimeCase{"ClockBehindIsZero", 1, -1, true},
    TimeCase{"ClockBehindZeroLimit", 0, -1, false}), kName);

TEST(MaxSecClockTest, StartsAtConstructionAndOnlyInitRestartsIt) {
  FakeClock clock({0, 0});
  TF t = any(all(TF::max_sec(2)), TF::max_sec(1));
  clock.advance_ns(2'500'000'000);
  t.set_goal(false);
  EXPECT_FALSE(t.keep_running());
  t.init();
  clock.advance_ns(1'999'999'999);
  EXPECT_TRUE(t.keep_running());  // the nested 2 s clock was restarted too
  clock.advance_ns(1);
  EXPECT_FALSE(t.keep_running());
}

// keep_running of time_limit against the fake clock, `ns` after init (negative: clock behind).
struct FractionalCase {
  const char* name;
  double seconds;
  std::int64_t ns;
  bool expected;
};
class TimeLimitTest : public testing::TestWithParam<FractionalCase> {};

TEST_P(TimeLimitTest, FractionsOfASecond) {
  FakeClock clock({1000, 500'000'000});
  TF t = TF::time_limit(GetParam().seconds);
  t.init();
  if (GetParam().ns >= 0) clock.advance_ns(static_cast<std::uint64_t>(GetParam().ns));
  else clock.set({999, 0});
  EXPECT_EQ(t.keep_running(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TimeLimitTest, testing::Values(
    FractionalCase{"ZeroAtOnce", 0.0, 0, false},
    FractionalCase{"NegativeZeroAtOnce", -0.0, 0, false},
    FractionalCase{"HalfJustBefore", 0.5, 499'999'999, true},
    FractionalCase{"HalfExactly", 0.5, 500'000'000, false},
    FractionalCase{"AcrossTheSecond", 1.25, 1'249'999'999, true},
    FractionalCase{"AcrossTheSecondExactly", 1.25, 1'250'000'000, false},
    FractionalCase{"OneNanosecond", 1e-9, 0, true},
    FractionalCase{"BelowANanosecond", 1e-10, 0, false},
    FractionalCase{"InfinityNeverStops", kInf, INT64_MAX, true},
    FractionalCase{"HugeNeverStops", 1e300, INT64_MAX, true},
    FractionalCase{"ClockBehindIsZero", 0.25, -1, true}), kName);

TEST(TimeLimitTest, LimitInNanosecondsRoundsDownAndSaturates) {
  EXPECT_EQ(TF::limit_ns_of(0.0), 0u);
  EXPECT_EQ(TF::limit_ns_of(-1.0), 0u);
  EXPECT_EQ(TF::limit_ns_of(kNaN), 0u);
  EXPECT_EQ(TF::limit_ns_of(1.5), 1'500'000'000u);
  EXPECT_EQ(TF::limit_ns_of(2.5e-9), 2u);
  EXPECT_EQ(TF::limit_ns_of(18446744073.709551616), UINT64_MAX);  // 2^64 ns
  EXPECT_EQ(TF::limit_ns_of(kInf), UINT64_MAX);
}

TEST(TimeLimitTest, CombinesAndRestartsLikeMaxSec) {
  FakeClock clock({0, 0});
  TF t = all(TF::max_iterations(100), any(TF::time_limit(0.75), TF::max_sec(0)));
  clock.advance_ns(1'000'000'000);
  t.set_goal(true);  // no init: the clock keeps its start
  EXPECT_FALSE(t.keep_running());
  t.init();
  clock.advance_ns(749'999'999);
  EXPECT_TRUE(t.keep_running());
  t.check_new_variable(1.0);  // scores, iterations and temperatures do not touch it
  t.iteration_done();
  EXPECT_TRUE(t.check_variable(kI32Min));
  clock.advance_ns(1);
  EXPECT_FALSE(t.keep_running());
}

// The bounds a progress report can show: and takes the least, or only what every child bounds.
struct BudgetCase {
  const char* name;
  TF criterion;
  Budget expected;
};
class BudgetTest : public testing::TestWithParam<BudgetCase> {};

TEST_P(BudgetTest, BoundsOfARun) { EXPECT_EQ(GetParam().criterion.budget(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Table, BudgetTest, testing::Values(
    BudgetCase{"Unbounded", all(TF::always_true(), TF::no_improve(3), TF::must_improve(), TF::min_temp(1)), {}},
    BudgetCase{"Iterations", TF::max_iterations(7), {7u, std::nullopt}},
    BudgetCase{"WholeSeconds", TF::max_sec(3), {std::nullopt, 3.0}},
    BudgetCase{"Fractional", TF::time_limit(0.5), {std::nullopt, 0.5}},
    BudgetCase{"AndTakesTheLeast", all(TF::max_iterations(9), TF::time_limit(2.5), TF::max_iterations(4), TF::max_sec(2)), {4u, 2.0}},
    BudgetCase{"AndIgnoresTheUnbounded", all(TF::no_improve(1), TF::max_iterations(9)), {9u, std::nullopt}},
    BudgetCase{"OrTakesTheMost", any(TF::max_iterations(9), TF::max_iterations(4)), {9u, std::nullopt}},
    BudgetCase{"OrNeedsEveryChild", any(TF::max_iterations(9), TF::time_limit(1.0)), {}},
    BudgetCase{"OrOfAnds", any(all(TF::max_iterations(5), TF::time_limit(1.0)), TF::time_limit(0.25)), {std::nullopt, 1.0}},
    BudgetCase{"EmptyOr", any(), {}}), kName);

TEST(GoalTest, SetGoalRearmsImprovementCriteriaAndInitKeepsTheirDirection) {
  TF t = all(TF::must_improve(), TF::no_improve(1), TF::max_iterations(2));
  for (double s : {1.0, 2.0, 3.0}) t.check_new_variable(s);
  t.iteration_done();
  ASSERT_FALSE(t.keep_running());
  t.set_goal(false);
  EXPECT_EQ(as<TF::MustImprove>(child(t, 0)), (TF::MustImprove{true, false, -kMax}));
  EXPECT_EQ(as<TF::NoImprove>(child(t, 1)), (TF::NoImprove{true, false, 1, 0, -kMax}));
  EXPECT_EQ(as<TF::MaxIterations>(child(t, 2)).iteration_count, 1u);  // set_goal is no init
  for (double s : {3.0, 2.0}) t.check_new_variable(s);
  t.init();
  EXPECT_EQ(as<TF::MustImprove>(child(t, 0)), (TF::MustImprove{true, false, -kMax}));
  EXPECT_EQ(as<TF::NoImprove>(child(t, 1)), (TF::NoImprove{true, false, 1, 0, -kMax}));
}

TEST(CombinationTest, EveryNestedChildSeesEveryScoreEvenAfterOthersStopped) {
  TF t = all(TF::must_improve(), any(TF::no_improve(3), TF::always_true()), TF::max_iterations(9));
  for (double s : {5.0, 5.0, 4.0}) t.check_new_variable(s);  // the first child stops at 5
  EXPECT_FALSE(as<TF::MustImprove>(child(t, 0)).running);
  EXPECT_EQ(as<TF::NoImprove>(child(child(t, 1), 0)).best_score, 4.0);
  t.iteration_done();
  EXPECT_EQ(as<TF::MaxIterations>(child(t, 2)).iteration_count, 1u);
}

TEST(CombinationTest, CopiesShareNoState) {
  const TF original = all(TF::max_iterations(5), TF::must_improve(), any(TF::no_improve(1)));
  const TF snapshot = original;
  TF copy = original;
  copy.set_goal(false);
  copy.init();
  for (double s : {1.0, 0.0, 0.0}) {
    copy.iteration_done();
    copy.check_new_variable(s);
  }
  EXPECT_FALSE(copy.keep_running());
  EXPECT_EQ(original, snapshot);
  EXPECT_TRUE(original.keep_running());
}

}  // namespace
}  // namespace kestrum
