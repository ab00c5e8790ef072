// Tests of SimulatedAnnealing: the integer schedule, acceptance, best tracking, iteration gaps.
#include "local_search/simulated_annealing/simulated_annealing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Cooling, RoundsHalvesAwayFromZeroAndSaturates) {
  struct Case {
    double alpha;
    std::uint32_t t;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0.95, 100, 95},  {0.95, 10, 10},   // 9.5 rounds up: the schedule rests at 10
      {0.5, 3, 2},      {0.5, 1, 1},      {0.25, 2, 1}, {0.2, 2, 0},
      {2.0, 3000000000U, 4294967295U},    {1.0, 4294967295U, 4294967295U},
      {-0.5, 100, 0},   {kNaN, 100, 0},   {std::numeric_limits<double>::infinity(), 1, 4294967295U},
      {std::numeric_limits<double>::infinity(), 0, 0},  // inf * 0 is NaN
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cool(c.alpha, c.t), c.expected) << c.alpha << " * " << c.t;
  }
}

TEST(Cooling, HundredAtNinetyFivePercentReachesTenAtTheFortyThirdStep) {
  const std::uint32_t head[] = {95, 90, 86, 82, 78, 74, 70, 67, 64, 61, 58, 55, 52, 49, 47,
                                45, 43, 41, 39, 37, 35, 33, 31, 29, 28, 27};
  std::uint32_t t = 100;
  for (std::uint32_t expected : head) {
    t = cool(0.95, t);
    EXPECT_EQ(t, expected);
  }
  int steps = 26;
  while (t != 10) {
    t = cool(0.95, t);
    ++steps;
  }
  EXPECT_EQ(steps, 43);
  EXPECT_EQ(cool(0.95, 10), 10U);
}

// A problem where no proposal changes the score: every move is accepted, so each
// proposal is visible in the log.
Shared<Problem> flat(std::size_t n = 5) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(3), n, [](const std::vector<Word>&) { return 1.0; });
}

SimulatedAnnealing annealing(Shared<Problem> p, TerminationFunction stop, std::uint32_t start_temp,
                             double alpha, std::uint32_t per_temp, bool minimize = true) {
  return SimulatedAnnealing(start_temp, minimize, std::move(p), stop, alpha, per_temp);
}

TEST(SimulatedAnnealing, MinTempEndsTheRunAfterTheCoolingThatReachesIt) {
  // Resting value 10: min_temp(10) ends after 43 temperatures, min_temp(9) never does.
  auto sa = annealing(flat(), TerminationFunction::min_temp(10), 100, 0.95, 2);
  const RunLog log = sa.run(false);
  EXPECT_EQ(rows_of(log), (std::vector<Row>{{1, 1, 86}}));
  EXPECT_EQ(sa.temperature(), 10U);

  auto never = annealing(flat(), TerminationFunction::multi_crit_and(
                                     {TerminationFunction::min_temp(9), TerminationFunction::max_iterations(500)}),
                         100, 0.95, 2);
  EXPECT_EQ(rows_of(never.run(false)), (std::vector<Row>{{1, 1, 500}}));
}

TEST(SimulatedAnnealing, NoProposalsPerTemperatureOnlyCools) {
  auto sa = annealing(flat(), TerminationFunction::min_temp(10), 100, 0.95, 0);
  EXPECT_EQ(rows_of(sa.run(true)), (std::vector<Row>{{1, 1, 0}, {1, 1, 0}}));
  EXPECT_EQ(sa.temperature(), 10U);
}

TEST(SimulatedAnnealing, TemperatureAboveTwoToThe31ReachesTheCriterionNegative) {
  // 2^30 * 2 = 2^31 is -2147483648 as a signed word: min_temp(0) stops at once.
  auto sa = annealing(flat(), TerminationFunction::min_temp(0), 1U << 30, 2.0, 1);
  EXPECT_EQ(rows_of(sa.run(false)), (std::vector<Row>{{1, 1, 1}}));
  EXPECT_EQ(sa.temperature(), 2147483648U);
  // Saturation: 10^9 * 10 is capped at 4294967295, which is -1 as a signed word.
  auto saturated = annealing(flat(), TerminationFunction::min_temp(0), 1000000000U, 10.0, 0);
  (void)saturated.run(false);
  EXPECT_EQ(saturated.temperature(), 4294967295U);
  // Each run starts again from start_temp.
  (void)sa.run(false);
  EXPECT_EQ(sa.temperature(), 2147483648U);
}

TEST(SimulatedAnnealing, StopInsideTheInnerLoopStillCoolsOnce) {
  struct Case {
    Word max_iterations;
    std::uint32_t temperature;
  };
  // 10 proposals per temperature from 100 at alpha 0.5.
  for (const Case c : {Case{3, 50}, Case{10, 50}, Case{11, 25}, Case{0, 100}}) {
    auto sa = annealing(flat(), TerminationFunction::max_iterations(c.max_iterations), 100, 0.5, 10);
    EXPECT_EQ(rows_of(sa.run(false)).back().iteration, c.max_iterations);
    EXPECT_EQ(sa.temperature(), c.temperature) << c.max_iterations;
  }
}

// Fewer fixed points is worse (minimising -fixed points): from the identity every move
// worsens the score.
double minus_fixed_points(const std::vector<Word>& s) {
  double fixed = 0;
  for (std::size_t k = 0; k < s.size(); ++k) fixed += s[k] == k;
  return -fixed;
}

TEST(SimulatedAnnealing, ZeroTemperatureRejectsEveryWorseningMove) {
  auto p = Shared<Problem>::make<ScoredProblem>(MoveType::swap(5), 6, &minus_fixed_points);
  auto sa = annealing(p, TerminationFunction::min_temp(0), 0, 0.9, 5);
  EXPECT_EQ(rows_of(sa.run(true)), (std::vector<Row>{{-6, -6, 0}, {-6, -6, 5}}));
  auto& scored = static_cast<ScoredProblem&>(*p.lock());
  EXPECT_EQ(scored.solution, identity(6));
  EXPECT_EQ(scored.set_best_calls, 1);  // only the run's start
}

// Two positions: the only move is (0, 1). The identity scores 0, the swapped solution
// `other`. Maximising with other = -10, every proposal from the identity worsens by 10
// and every proposal from the swapped solution gets back to 0.
Shared<Problem> two(double other) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(11), 2, [other](const std::vector<Word>& s) {
    return s[0] == 0 ? 0.0 : other;
  });
}

TEST(SimulatedAnnealing, MaximisingAcceptsADropOfTenAtTemperatureTenWithProbabilityOneOverE) {
  constexpr Word kProposals = 200000;
  auto p = two(-10);
  auto sa = annealing(p, TerminationFunction::max_iterations(kProposals), 10, 1.0, kProposals, false);
  sa.set_acceptance_seed(2024);
  const RunLog log = sa.run(true);
  int accepted_drops = 0;
  int returns = 0;
  for (std::size_t k = 1; k + 1 < log.size(); ++k) {
    EXPECT_EQ(log[k].best_score, 0.0);  // a drop never moves the best
    (log[k].current_score == -10 ? accepted_drops : returns) += 1;
    if (k > 1) {
      EXPECT_GT(log[k].iteration, log[k - 1].iteration);
    }
  }
  // Drops and returns alternate; every proposal from the identity that was not accepted
  // left a gap in the iteration numbers.
  EXPECT_LE(returns, accepted_drops);
  const int from_identity = static_cast<int>(kProposals) - returns;
  const double rate = static_cast<double>(accepted_drops) / from_identity;
  EXPECT_NEAR(rate, std::exp(-1.0), 0.005);
  // Maximising, getting back to the best score ties it, and a tie makes a new best.
  EXPECT_EQ(static_cast<ScoredProblem&>(*p.lock()).set_best_calls, 1 + returns);
}

TEST(SimulatedAnnealing, RejectedProposalsLeaveGapsAndTheStartRowSharesIterationZero) {
  auto p = two(-10);
  auto sa = annealing(p, TerminationFunction::max_iterations(300), 1, 1.0, 300, false);
  sa.set_acceptance_seed(5);
  const RunLog log = sa.run(true);
  // At T = 1 a drop of 10 is accepted with probability e^-10: essentially never. Every
  // odd-looking row would be an accepted drop.
  EXPECT_EQ(log.size(), 2U);
  EXPECT_EQ(rows_of(log).back(), (Row{0, 0, 300}));
  // Minimising the same problem, proposal 0 goes to -10 at once (improving), logged with
  // iteration 0 like the start row; from there every proposal worsens and is rejected.
  auto q = two(-10);
  auto down = annealing(q, TerminationFunction::max_iterations(50), 1, 1.0, 50, true);
  down.set_acceptance_seed(5);
  EXPECT_EQ(rows_of(down.run(true)), (std::vector<Row>{{0, 0, 0}, {-10, -10, 0}, {-10, -10, 50}}));
}

TEST(SimulatedAnnealing, MinimisingTieWithTheBestKeepsTheEarlierBest) {
  // Both solutions score 0: every proposal is accepted (zero delta) but none is a new best.
  auto p = two(0);
  auto sa = annealing(p, TerminationFunction::max_iterations(7), 10, 1.0, 100, true);
  const RunLog log = sa.run(true);
  EXPECT_EQ(log.size(), 9U);
  auto& scored = static_cast<ScoredProblem&>(*p.lock());
  EXPECT_EQ(scored.set_best_calls, 1);
  EXPECT_EQ(scored.best, identity(2));
  EXPECT_EQ(scored.solution, (std::vector<Word>{1, 0}));  // 7 swaps
}

TEST(SimulatedAnnealing, NaNDeltaIsAcceptedMinimisingAndRejectedMaximising) {
  for (const bool minimize : {true, false}) {
    auto p = Shared<Problem>::make<ScoredProblem>(
        MoveType::swap(1), 2, [](const std::vector<Word>&) { return 0.0; },
        [](const std::vector<Word>&, Move) { return kNaN; });
    auto sa = annealing(p, TerminationFunction::max_iterations(1), 10, 1.0, 1, minimize);
    const RunLog log = sa.run(true);
    if (minimize) {
      // Applied, and NaN < 0 is false, so the best stays.
      EXPECT_EQ(rows_of(log), (std::vector<Row>{{0, 0, 0}, {0, kNaN, 0}, {0, kNaN, 1}}));
    } else {
      EXPECT_EQ(rows_of(log), (std::vector<Row>{{0, 0, 0}, {0, 0, 1}}));
    }
  }
}

TEST(SimulatedAnnealing, ImprovementCriteriaNeverStopIt) {
  auto p = Shared<Problem>::make<ScoredProblem>(MoveType::swap(5), 6, &minus_fixed_points);
  auto sa = annealing(p, TerminationFunction::multi_crit_and({TerminationFunction::must_improve(),
                                                             TerminationFunction::max_iterations(40)}),
                      0, 1.0, 10);
  EXPECT_EQ(rows_of(sa.run(false)).back().iteration, 40U);
}

TEST(SimulatedAnnealing, SeededAcceptanceRepeatsRunsAndMatchesTheGenericPath) {
  for (const bool minimize : {true, false}) {
    const Evaluation e = random_tour(30, 4);
    auto fast = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(77), e);
    auto slow = Shared<Problem>::make<GenericView>(ArrayProblem(MoveType::reverse(77), e));
    const auto stop = TerminationFunction::max_iterations(3000);
    auto a = annealing(fast, stop, 2, 0.99, 50, minimize);
    auto b = annealing(slow, stop, 2, 0.99, 50, minimize);
    a.set_acceptance_seed(9);
    b.set_acceptance_seed(9);
    const RunLog la = a.run(true);
    EXPECT_EQ(rows_of(la), rows_of(b.run(true))) << "minimize " << minimize;
    // The carried score is the score of the solution the run ended on.
    EXPECT_NEAR(la.back().current_score, fast.lock()->eval(), 1e-9);
    // A second seeded run from a reset problem with a reseeded move type repeats the first.
    a.reset();
    fast.lock()->set_seed(77);
    EXPECT_EQ(rows_of(a.run(true)), rows_of(la));
  }
}

TEST(SimulatedAnnealing, RefusesAndFailsOnMultiNeighbour) {
  const MoveType multi = MoveType::multi_neighbor({Swap{Xoshiro128pp::from_seed(1)}}, std::nullopt);
  auto kept = flat();
  auto refused = Shared<Problem>::make<ArrayProblem>(multi, flat_tour(4));
  auto sa = annealing(kept, TerminationFunction::max_iterations(1), 10, 0.9, 1);
  EXPECT_EQ(fatal_message_of([&] { sa.set_problem(refused); }),
            "Can't use multiNeighbor in Simulated Annealing");
  EXPECT_TRUE(refused.poisoned());
  EXPECT_EQ(rows_of(sa.run(false)), (std::vector<Row>{{1, 1, 1}}));

  auto p = Shared<Problem>::make<ArrayProblem>(multi, flat_tour(4));
  auto fails = annealing(p, TerminationFunction::max_iterations(1), 10, 0.9, 1);
  EXPECT_EQ(fatal_message_of([&] { (void)fails.run(true); }), "MultiNeighbor doesn't support get_move");
  EXPECT_TRUE(p.poisoned());
}

TEST(SimulatedAnnealing, StartingSolutionIsRecordedAsBest) {
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(1), random_tour(6, 1));
  {
    auto locked = p.lock();
    locked->do_mov(Move{0, 3});
  }
  auto sa = annealing(p, TerminationFunction::max_iterations(0), 10, 0.9, 1);
  (void)sa.run(false);
  EXPECT_EQ(as_vector(p.lock()->as_array_problem()->best_solution()), (std::vector<Word>{3, 1, 2, 0, 4, 5}));
}

}  // namespace
}  // namespace kestrum
