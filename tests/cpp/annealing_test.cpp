// Tests of Annealing: the budget a criterion gives, the calibrated start, the real-valued
// schedule, acceptance and best tracking, and the sample leaving the problem as it was.
#include "local_search/annealing/annealing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "local_search/annealing/schedule.hpp"
#include "local_search/steepest_descent/steepest_descent.hpp"
#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;
using annealing::Budget;
using annealing::budget_of;
using annealing::kUnbounded;
using TF = TerminationFunction;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(AnnealingBudget, BoundsComeFromIterationsAndSecondsThroughCombinations) {
  struct Case {
    const char* name;
    TF criterion;
    double seconds;
    double iterations;
  };
  const Case cases[] = {
      {"iterations", TF::max_iterations(50), kUnbounded, 50},
      {"seconds", TF::max_sec(3), 3, kUnbounded},
      {"fractional seconds", TF::time_limit(0.25), 0.25, kUnbounded},
      {"unbounded", TF::always_true(), kUnbounded, kUnbounded},
      {"temperature", TF::min_temp(2), kUnbounded, kUnbounded},
      {"improvement", TF::no_improve(10), kUnbounded, kUnbounded},
      // "and" runs while all its children run: the first end counts, unbounded ones aside.
      {"and", TF::multi_crit_and({TF::max_iterations(9), TF::max_sec(2), TF::max_iterations(4), TF::must_improve()}), 2, 4},
      {"empty and", TF::multi_crit_and({}), kUnbounded, kUnbounded},
      // "or" runs while any child runs: the last end, known only along one dimension.
      {"or of iterations", TF::multi_crit_or({TF::max_iterations(5), TF::max_iterations(9)}), kUnbounded, 9},
      {"or of seconds", TF::multi_crit_or({TF::max_sec(5), TF::max_sec(1)}), 5, kUnbounded},
      {"or mixing", TF::multi_crit_or({TF::max_sec(5), TF::max_iterations(9)}), kUnbounded, kUnbounded},
      {"or with an unbounded child", TF::multi_crit_or({TF::max_iterations(5), TF::min_temp(0)}), kUnbounded, kUnbounded},
      {"nested", TF::multi_crit_and({TF::multi_crit_or({TF::max_iterations(5), TF::max_iterations(8)}), TF::max_sec(7)}), 7, 8},
  };
  for (const Case& c : cases) {
    const Budget b = budget_of(c.criterion);
    EXPECT_EQ(b.seconds, c.seconds) << c.name;
    EXPECT_EQ(b.iterations, c.iterations) << c.name;
    EXPECT_EQ(b.bounded(), c.seconds != kUnbounded || c.iterations != kUnbounded) << c.name;
  }
}

TEST(AnnealingBudget, DoneIsTheLargerShareAndAZeroBudgetIsDone) {
  EXPECT_EQ((Budget{4, 100}.done(1, 50)), 0.5);
  EXPECT_EQ((Budget{4, 100}.done(3, 50)), 0.75);
  EXPECT_EQ((Budget{kUnbounded, 100}.done(1e9, 25)), 0.25);
  EXPECT_EQ((Budget{}.done(1e9, 1e9)), 0.0);
  EXPECT_EQ((Budget{0, kUnbounded}.done(0, 0)), 1.0);
}

TEST(AnnealingCalibration, HalfOfTheWorseningMovesAreAcceptedOnAverage) {
  // One delta: e^(-d/T) = 1/2. Two deltas 1 and 3: x + x^3 = 1 for x = e^(-1/T).
  EXPECT_NEAR(annealing::half_acceptance_temperature(std::vector<double>{2.0}), 2.0 / std::numbers::ln2, 1e-10);
  EXPECT_NEAR(annealing::half_acceptance_temperature(std::vector<double>{1.0, 3.0}), 2.6161225795810132, 1e-10);
  EXPECT_NEAR(annealing::half_acceptance_temperature(std::vector<double>{3.0, 1.0, 1.0, 3.0}), 2.6161225795810132,
              1e-10);
  EXPECT_EQ(annealing::half_acceptance_temperature(std::vector<double>{}), 0.0);
  // Scores far from 1 in either direction keep their scale.
  std::mt19937_64 gen(3);
  std::exponential_distribution<double> spread(1.0);
  for (const double scale : {1e-9, 1.0, 1e12}) {
    std::vector<double> d(500);
    for (double& x : d) x = scale * (0.01 + spread(gen));
    const double t = annealing::half_acceptance_temperature(d);
    double accepted = 0.0;
    for (const double x : d) accepted += std::exp(-x / t);
    EXPECT_NEAR(accepted / 500.0, 0.5, 1e-9) << scale;
  }
}

TEST(AnnealingCalibration, CriterionSeesTheTemperatureRoundedUp) {
  EXPECT_EQ(annealing::criterion_temperature(0.0), 0);
  EXPECT_EQ(annealing::criterion_temperature(1e-300), 1);
  EXPECT_EQ(annealing::criterion_temperature(1.0), 1);
  EXPECT_EQ(annealing::criterion_temperature(1.5), 2);
  EXPECT_EQ(annealing::criterion_temperature(3e9), 2147483647);
  EXPECT_EQ(annealing::criterion_temperature(std::numeric_limits<double>::infinity()), 2147483647);
}

// Every proposal keeps the score: each one is taken and shows in the log.
Shared<Problem> flat(std::size_t n = 5) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(3), n, [](const std::vector<Word>&) { return 1.0; });
}

Annealing::Params schedule(std::optional<double> t0, std::optional<double> alpha, std::optional<std::uint32_t> per,
                           std::optional<std::uint64_t> seed = 1) {
  return {.start_temperature = t0, .alpha = alpha, .iterations_per_temperature = per, .seed = seed};
}

TEST(AnnealingSchedule, AlphaMultipliesTheTemperatureWithoutRounding) {
  Annealing a(true, flat(), TF::max_iterations(7), schedule(10.0, 0.3, 2));
  EXPECT_EQ(rows_of(a.run(true)),
            (std::vector<Row>{{1, 1, 0}, {1, 1, 0}, {1, 1, 1}, {1, 1, 2}, {1, 1, 3}, {1, 1, 4}, {1, 1, 5}, {1, 1, 6},
                              {1, 1, 7}}));
  // Four blocks of two proposals (the last cut to one): four coolings.
  EXPECT_EQ(a.start_temperature(), 10.0);
  EXPECT_EQ(a.temperature(), 10.0 * 0.3 * 0.3 * 0.3 * 0.3);
}

TEST(AnnealingSchedule, MinTempStopsOnceTheTemperatureIsDownToIt) {
  // 10, 5, 2.5, 1.25, 0.625: min_temp(1) stops after the fourth block; an integer schedule
  // rounding 1.25 down to 1 or 0.625 up to 1 would stop one block early or never.
  Annealing a(true, flat(), TF::multi_crit_and({TF::min_temp(1), TF::max_iterations(1000)}), schedule(10.0, 0.5, 3));
  EXPECT_EQ(rows_of(a.run(false)), (std::vector<Row>{{1, 1, 12}}));
  EXPECT_EQ(a.temperature(), 0.625);
}

TEST(AnnealingSchedule, WithoutAlphaTheIterationBudgetCoolsToTheEndRatio) {
  Annealing a(true, flat(), TF::max_iterations(1000), schedule(4.0, std::nullopt, 10));
  (void)a.run(false);
  EXPECT_NEAR(a.temperature(), 4.0 * Annealing::kEndRatio, 1e-15);
  // Through combinations: an "and" ends at its first bound, an "or" at its last.
  for (const auto& [criterion, iterations] :
       {std::pair{TF::multi_crit_and({TF::max_iterations(1000), TF::max_iterations(500)}), 500},
        std::pair{TF::multi_crit_or({TF::max_iterations(300), TF::max_iterations(700)}), 700}}) {
    Annealing combined(true, flat(), criterion, schedule(4.0, std::nullopt, 10));
    EXPECT_EQ(rows_of(combined.run(false)), (std::vector<Row>{{1, 1, static_cast<std::uint64_t>(iterations)}}));
    EXPECT_NEAR(combined.temperature(), 4.0 * Annealing::kEndRatio, 1e-15);
  }
}

TEST(AnnealingSchedule, WithoutAlphaATimeBudgetCoolsWithTheShareOfTimeUsed) {
  // Each score read takes 5 ms of a fake clock, so a proposal (two reads) takes 10 ms and
  // max_sec(1) allows 100. From 1000, the temperature after block k of 10 is
  // 1000 * 0.001^(k / 10): 63.1 after the fourth, 31.6 after the fifth, where min_temp(32)
  // stops the run.
  FakeClock clock;
  auto slow = Shared<Problem>::make<ScoredProblem>(MoveType::swap(3), 5, [&clock](const std::vector<Word>&) {
    clock.advance_ns(5'000'000);
    return 1.0;
  });
  Annealing halfway(true, slow, TF::multi_crit_and({TF::max_sec(1), TF::min_temp(32)}),
                    schedule(1000.0, std::nullopt, 10));
  EXPECT_EQ(rows_of(halfway.run(false)), (std::vector<Row>{{1, 1, 50}}));
  EXPECT_NEAR(halfway.temperature(), 1000.0 * std::sqrt(Annealing::kEndRatio), 1e-9);

  Annealing whole(true, slow, TF::max_sec(1), schedule(1000.0, std::nullopt, 10));
  EXPECT_EQ(rows_of(whole.run(false)), (std::vector<Row>{{1, 1, 100}}));
  EXPECT_NEAR(whole.temperature(), 1000.0 * Annealing::kEndRatio, 1e-9);
}

TEST(AnnealingSchedule, WithoutBudgetTheDefaultCoolingSpansTheSizesProposals) {
  // Five positions: at least kMinDefaultCooling proposals from T0 to T0 * kEndRatio, five
  // per temperature. From 1000 down to 2: 1000 * r^(5k / 1e5) <= 2 first at k = 17994.
  ASSERT_EQ(Annealing::kMinDefaultCooling, 1e5);
  ASSERT_EQ(Annealing::kEndRatio, 1e-3);
  Annealing a(true, flat(5), TF::min_temp(2), schedule(1000.0, std::nullopt, std::nullopt));
  EXPECT_EQ(rows_of(a.run(false)), (std::vector<Row>{{1, 1, 5 * 17994}}));
  EXPECT_LE(a.temperature(), 2.0);
  EXPECT_GT(a.temperature(), 1.999);
}

// Two positions, one move: the identity scores `kept`, the swapped array `swapped`.
Shared<Problem> pair(double kept, double swapped) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(3), 2, table({{{0, 1}, kept}}, swapped));
}

ScoredProblem& scored(const Shared<Problem>& p) { return dynamic_cast<ScoredProblem&>(*p.lock()); }

TEST(AnnealingTies, AnEqualScoreIsTakenButNeverBecomesTheBest) {
  for (const bool minimize : {true, false}) {
    Shared<Problem> p = pair(5, 5);
    Annealing a(minimize, p, TF::max_iterations(3), schedule(0.0, 0.5, 1));
    EXPECT_EQ(rows_of(a.run(true)), (std::vector<Row>{{5, 5, 0}, {5, 5, 0}, {5, 5, 1}, {5, 5, 2}, {5, 5, 3}}));
    EXPECT_EQ(scored(p).set_best_calls, 1) << minimize;  // the start only
    EXPECT_EQ(scored(p).best, (std::vector<Word>{0, 1}));
    EXPECT_EQ(scored(p).solution, (std::vector<Word>{1, 0}));
  }
}

TEST(AnnealingTies, AtZeroTemperatureOnlyBetterMovesAreTakenEitherWay) {
  Shared<Problem> low = pair(5, 3);
  Annealing down(true, low, TF::max_iterations(3), schedule(0.0, 0.5, 1));
  EXPECT_EQ(rows_of(down.run(true)), (std::vector<Row>{{5, 5, 0}, {3, 3, 0}, {3, 3, 3}}));
  EXPECT_EQ(scored(low).best, (std::vector<Word>{1, 0}));

  Shared<Problem> high = pair(5, 7);
  Annealing up(false, high, TF::max_iterations(3), schedule(0.0, 0.5, 1));
  EXPECT_EQ(rows_of(up.run(true)), (std::vector<Row>{{5, 5, 0}, {7, 7, 0}, {7, 7, 3}}));
  EXPECT_EQ(scored(high).best, (std::vector<Word>{1, 0}));
}

TEST(AnnealingTies, AtAnEnormousTemperatureEveryWorseningMoveIsTaken) {
  // p = e^(-2/1e300) rounds to 1, above every draw.
  Shared<Problem> p = pair(5, 3);
  Annealing a(true, p, TF::max_iterations(4), schedule(1e300, 1.0, 1));
  EXPECT_EQ(rows_of(a.run(true)), (std::vector<Row>{{5, 5, 0}, {3, 3, 0}, {3, 5, 1}, {3, 3, 2}, {3, 5, 3}, {3, 5, 4}}));
}

TEST(AnnealingTies, ANaNDeltaIsTakenWhenMinimisingAndRefusedWhenMaximising) {
  auto nan_moves = [] {
    return Shared<Problem>::make<ScoredProblem>(
        MoveType::swap(3), 4, [](const std::vector<Word>&) { return 1.0; },
        [](const std::vector<Word>&, Move) { return kNaN; });
  };
  Annealing down(true, nan_moves(), TF::max_iterations(2), schedule(1e300, 1.0, 1));
  const std::vector<Row> rows = rows_of(down.run(true));
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[1].best, 1.0);  // a NaN score never becomes the best
  EXPECT_TRUE(std::isnan(rows[1].current));
  EXPECT_EQ(rows.back().iteration, 2U);

  Annealing up(false, nan_moves(), TF::max_iterations(2), schedule(1e300, 1.0, 1));
  EXPECT_EQ(rows_of(up.run(true)), (std::vector<Row>{{1, 1, 0}, {1, 1, 2}}));
}

// Every move changes the score by `delta` (for either direction of the search).
Shared<Problem> constant_delta(double delta) {
  return Shared<Problem>::make<ScoredProblem>(
      MoveType::swap(3), 6, [](const std::vector<Word>&) { return 0.0; },
      [delta](const std::vector<Word>&, Move) { return delta; });
}

TEST(AnnealingCalibration, TheStartTemperatureComesFromTheSampledDeltas) {
  struct Case {
    bool minimize;
    double delta;
    double expected;
  };
  const Case cases[] = {
      {true, 2.0, 2.0 / std::numbers::ln2},
      {false, -2.0, 2.0 / std::numbers::ln2},
      // Nothing worsens: the improving moves' size sets the scale.
      {true, -3.0, 3.0 / std::numbers::ln2},
      {false, 3.0, 3.0 / std::numbers::ln2},
      {true, 0.0, 0.0},
      {true, kNaN, 0.0},
      {true, std::numeric_limits<double>::infinity(), 0.0},
  };
  for (const Case& c : cases) {
    Annealing a(c.minimize, constant_delta(c.delta), TF::max_iterations(0), schedule(std::nullopt, 0.5, 1));
    (void)a.run(false);
    EXPECT_NEAR(a.start_temperature(), c.expected, 1e-9) << c.minimize << " " << c.delta;
  }
}

Shared<Problem> tour(std::size_t n, std::uint64_t seed) {
  ArrayProblem p(MoveType::reverse(seed + 1), random_tour(n, seed));
  return Shared<Problem>::make<ArrayProblem>(std::move(p));
}

TEST(AnnealingCalibration, TheSampleLeavesTheProblemAsItWas) {
  Shared<Problem> p = tour(30, 4);
  Shared<Problem> twin = tour(30, 4);
  Annealing a(true, p, TF::max_iterations(0), schedule(std::nullopt, std::nullopt, std::nullopt));
  EXPECT_EQ(rows_of(a.run(true)).size(), 2U);
  EXPECT_GT(a.start_temperature(), 0.0);
  auto locked = p.lock();
  auto same = twin.lock();
  EXPECT_EQ(as_vector(locked->as_array_problem()->solution()), as_vector(same->as_array_problem()->solution()));
  for (int k = 0; k < 20; ++k) EXPECT_EQ(locked->get_mov(), same->get_mov());  // the generator untouched
}

TEST(AnnealingRuns, ASeedRepeatsTheRunAndTheGenericPathAgreesWithTheSpecialisedOne) {
  auto run = [](Shared<Problem> p, std::optional<std::uint64_t> seed, double* t0) {
    Annealing a(true, std::move(p), TF::max_iterations(3000), schedule(std::nullopt, std::nullopt, 40, seed));
    RunLog log = a.run(true);
    if (t0 != nullptr) *t0 = a.start_temperature();
    return rows_of(log);
  };
  double t_first = 0.0;
  double t_again = 0.0;
  const std::vector<Row> first = run(tour(25, 8), 11, &t_first);
  EXPECT_EQ(run(tour(25, 8), 11, &t_again), first);
  EXPECT_EQ(t_again, t_first);
  ArrayProblem inner(MoveType::reverse(9), random_tour(25, 8));
  EXPECT_EQ(run(Shared<Problem>::make<GenericView>(std::move(inner)), 11, nullptr), first);
  EXPECT_NE(run(tour(25, 8), 12, nullptr), first);
  EXPECT_GT(first.size(), 100U);
}

TEST(AnnealingRuns, EndsBelowASteepestDescentAndTheBestRowIsTheBestSolution) {
  Shared<Problem> p = tour(60, 21);
  Annealing a(true, p, TF::max_iterations(400'000), schedule(std::nullopt, std::nullopt, std::nullopt, 5));
  a.run_settings().log_mode = LogMode::kFinal;
  const RunLog log = a.run(true);
  Shared<Problem> q = tour(60, 21);
  SteepestDescent descent(true, q, TF::always_true());
  const RunLog descended = descent.run(false);
  EXPECT_LT(log.back().best_score, descended.back().best_score);
  auto locked = p.lock();
  ArrayProblem& array = *locked->as_array_problem();
  EXPECT_NEAR(array.evaluation().eval(array.best_solution()), log.back().best_score, 1e-9);
  EXPECT_NEAR(array.eval(), log.back().current_score, 1e-9);
}

TEST(AnnealingRuns, SettingsOutOfRangeAreRefused) {
  const std::pair<Annealing::Params, const char*> cases[] = {
      {schedule(-1.0, std::nullopt, std::nullopt), "start_temperature must be a finite number >= 0"},
      {schedule(std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt),
       "start_temperature must be a finite number >= 0"},
      {schedule(kNaN, std::nullopt, std::nullopt), "start_temperature must be a finite number >= 0"},
      {schedule(std::nullopt, 0.0, std::nullopt), "alpha must be a number > 0 and <= 1"},
      {schedule(std::nullopt, 1.5, std::nullopt), "alpha must be a number > 0 and <= 1"},
      {schedule(std::nullopt, kNaN, std::nullopt), "alpha must be a number > 0 and <= 1"},
      {schedule(std::nullopt, std::nullopt, 0), "iterations_per_temperature must be at least 1"},
  };
  for (const auto& [params, message] : cases) {
    EXPECT_EQ(fatal_message_of([&] { Annealing(true, flat(), TF::max_iterations(1), params); }), message);
  }
}

}  // namespace
}  // namespace kestrum
