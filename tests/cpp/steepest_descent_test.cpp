// Tests of SteepestDescent: log rows, tie rules, stopping, refusals, poisoning, scan paths.
#include "local_search/steepest_descent/steepest_descent.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;

constexpr double kMax = std::numeric_limits<double>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Three positions under Swap: from 0 1 2 the moves (0,1), (0,2), (1,2) lead to
// 1 0 2, 2 1 0 and 0 2 1.
Shared<Problem> three(std::map<std::vector<Word>, double> scores, double otherwise) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 3, table(std::move(scores), otherwise));
}
ScoredProblem& scored(const Shared<Problem>& p) {
  return static_cast<ScoredProblem&>(*p.lock());
}

TEST(SteepestDescent, MinimisingTakesTheLastOfEqualBestMovesAndStopsWithoutImprovement) {
  // From 0 1 2 (10): (0,1) and (0,2) both lead to 7; the later, (0,2), is applied. From
  // 2 1 0 the best neighbour scores 8, one worse: the run ends there.
  auto p = three({{{0, 1, 2}, 10}, {{1, 0, 2}, 7}, {{2, 1, 0}, 7}, {{0, 2, 1}, 9},
                  {{1, 2, 0}, 8}, {{2, 0, 1}, 8}},
                 99);
  SteepestDescent sd(true, p, TerminationFunction::always_true());
  const RunLog log = sd.run(true);
  EXPECT_EQ(rows_of(log), (std::vector<Row>{{10, 10, 0}, {7, 7, 0}, {7, 8, 1}}));
  EXPECT_EQ(scored(p).solution, (std::vector<Word>{2, 1, 0}));
  EXPECT_EQ(scored(p).best, (std::vector<Word>{2, 1, 0}));
  EXPECT_EQ(scored(p).set_best_calls, 1);
}

TEST(SteepestDescent, MaximisingAppliesZeroDeltaMovesUntilTheCriterionStops) {
  // 0 1 2 (10) -> 2 1 0 (12, last of the two 12s) -> 1 2 0 (12, zero delta) -> then
  // (1,2) back and forth between 1 2 0 and 1 0 2, both 12: the last of the equal moves.
  auto p = three({{{0, 1, 2}, 10}, {{1, 0, 2}, 12}, {{2, 1, 0}, 12}, {{0, 2, 1}, 11},
                  {{1, 2, 0}, 12}, {{2, 0, 1}, 5}},
                 0);
  SteepestDescent sd(false, p, TerminationFunction::max_iterations(4));
  const RunLog log = sd.run(true);
  EXPECT_EQ(rows_of(log), (std::vector<Row>{{10, 10, 0}, {12, 12, 0}, {12, 12, 1}, {12, 12, 2},
                                            {12, 12, 3}, {12, 12, 4}}));
  EXPECT_EQ(scored(p).solution, (std::vector<Word>{1, 2, 0}));
}

TEST(SteepestDescent, NaNDeltaIsTakenAndEndsTheRun) {
  // (0,1) improves by 3 but the NaN of (1,2) comes later and is never strictly worse.
  auto p = three({{{0, 1, 2}, 10}, {{1, 0, 2}, 7}, {{2, 1, 0}, 8}, {{0, 2, 1}, kNaN}}, 0);
  SteepestDescent sd(true, p, TerminationFunction::always_true());
  const RunLog log = sd.run(true);
  EXPECT_EQ(rows_of(log), (std::vector<Row>{{10, 10, 0}, {10, kNaN, 0}}));
  EXPECT_EQ(scored(p).solution, identity(3));
}

TEST(SteepestDescent, EmptyNeighbourhoodEndsWithTheLargestFiniteDelta) {
  for (const bool minimize : {true, false}) {
    auto p = Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 1,
                                                  [](const std::vector<Word>&) { return 5.0; });
    SteepestDescent sd(minimize, p, TerminationFunction::always_true());
    // 5 + 1.7976931348623157e308 rounds to the largest finite double: never infinity.
    EXPECT_EQ(rows_of(sd.run(true)),
              (std::vector<Row>{{5, 5, 0}, {5, minimize ? kMax : -kMax, 0}}))
        << "minimize " << minimize;
  }
}

TEST(SteepestDescent, CriterionFalseFromTheStartAppliesNothing) {
  auto p = three({{{0, 1, 2}, 10}}, 1);
  SteepestDescent sd(true, p, TerminationFunction::max_iterations(0));
  EXPECT_EQ(rows_of(sd.run(true)), (std::vector<Row>{{10, 10, 0}, {10, 10, 0}}));
  EXPECT_EQ(rows_of(sd.run(false)), (std::vector<Row>{{10, 10, 0}}));
  EXPECT_EQ(scored(p).set_best_calls, 0);
}

TEST(SteepestDescent, ConstructorTurnsTheCriterionButSetTerminationDoesNot) {
  // Maximising the number whose digits are the solution: 0123 -> 3120 -> 3210, then the
  // best neighbour 3201 is worse and the run ends.
  auto digits = [] {
    return Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 4, [](const std::vector<Word>& s) {
      return 1000.0 * s[0] + 100.0 * s[1] + 10.0 * s[2] + s[3];
    });
  };
  // must_improve turned to maximising sees 3120, 3210 rise: the descent ends by itself.
  SteepestDescent by_constructor(false, digits(), TerminationFunction::must_improve());
  EXPECT_EQ(rows_of(by_constructor.run(true)),
            (std::vector<Row>{{123, 123, 0}, {3120, 3120, 0}, {3210, 3210, 1}, {3210, 3201, 2}}));
  // Kept minimising, it takes 3210 after 3120 as a failure: that step is still applied,
  // and the criterion ends the run before another scan.
  SteepestDescent by_setter(false, digits(), TerminationFunction::always_true());
  by_setter.set_termination(TerminationFunction::must_improve());
  EXPECT_EQ(rows_of(by_setter.run(true)),
            (std::vector<Row>{{123, 123, 0}, {3120, 3120, 0}, {3210, 3210, 1}, {3210, 3210, 2}}));
}

Shared<Problem> tour_problem(MoveType move_type, std::size_t n, std::uint64_t seed, bool asym = false) {
  return Shared<Problem>::make<ArrayProblem>(move_type, random_tour(n, seed, asym));
}

MoveType swap_then_reverse() {
  return MoveType::multi_neighbor({Swap{Xoshiro128pp::from_seed(1)}, Reverse{Xoshiro128pp::from_seed(2)}},
                                  std::nullopt);
}

TEST(SteepestDescent, SetProblemRefusesMultiNeighbourAndPoisonsIt) {
  auto kept = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(4));
  auto refused = Shared<Problem>::make<ArrayProblem>(swap_then_reverse(), flat_tour(5));
  SteepestDescent sd(true, kept, TerminationFunction::max_iterations(0));
  EXPECT_EQ(fatal_message_of([&] { sd.set_problem(refused); }),
            "Can't use multiNeighbor in Steepest Descent");
  EXPECT_TRUE(refused.poisoned());
  EXPECT_FALSE(kept.poisoned());
  // Still the 4-city problem: its tour length is 4.
  EXPECT_EQ(rows_of(sd.run(false)), (std::vector<Row>{{4, 4, 0}}));
  // A simple problem is taken.
  auto other = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(0), flat_tour(6));
  sd.set_problem(other);
  EXPECT_EQ(rows_of(sd.run(false)), (std::vector<Row>{{6, 6, 0}}));
  EXPECT_EQ(other.use_count(), 2);
}

TEST(SteepestDescent, MultiNeighbourThroughTheConstructorStopsInTheFirstStep) {
  auto p = Shared<Problem>::make<ArrayProblem>(swap_then_reverse(), flat_tour(5));
  SteepestDescent idle(true, p, TerminationFunction::max_iterations(0));
  EXPECT_EQ(rows_of(idle.run(false)), (std::vector<Row>{{5, 5, 0}}));
  SteepestDescent sd(true, p, TerminationFunction::always_true());
  EXPECT_EQ(fatal_message_of([&] { (void)sd.run(true); }), "MultiNeighbor doesn't support get_all_mov");
  EXPECT_TRUE(p.poisoned());
  EXPECT_EQ(fatal_message_of([&] { (void)idle.run(true); }), kPoisonedMessage);
  EXPECT_EQ(fatal_message_of([&] { idle.reset(); }), kPoisonedMessage);
}

TEST(SteepestDescent, EvaluationFailurePoisonsTheProblem) {
  // Weights for three items but five positions: eval reads weights[3] and stops.
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(5));
  p.lock()->set_eval_type(Evaluation::empty_bins({1.0, 2.0, 3.0}, 4.0));
  SteepestDescent sd(true, p, TerminationFunction::always_true());
  EXPECT_EQ(fatal_message_of([&] { (void)sd.run(true); }),
            "index out of bounds: the len is 3 but the index is 3");
  EXPECT_TRUE(p.poisoned());
}

struct TourCase {
  const char* name;
  MoveType (*move_type)(std::optional<std::uint64_t>);
  bool asymmetric;
};
const TourCase kTourCases[] = {
    {"swap", &MoveType::swap, false},
    {"reverse", &MoveType::reverse, false},
    {"swap_tsp", &MoveType::tsp, false},
    {"reverse_asymmetric", &MoveType::reverse, true},
    {"swap_asymmetric", &MoveType::swap, true},
};

class SteepestDescentTours : public testing::TestWithParam<std::tuple<TourCase, int>> {};

TEST_P(SteepestDescentTours, MinimisingEndsInATrueLocalOptimumWithTheScoreCarriedRight) {
  const auto& [c, seed] = GetParam();
  auto p = tour_problem(c.move_type(0), 30, seed, c.asymmetric);
  SteepestDescent sd(true, p, TerminationFunction::always_true());
  const RunLog log = sd.run(true);
  EXPECT_TRUE(is_local_optimum(p, nullptr, true));
  const double final_eval = p.lock()->eval();
  EXPECT_NEAR(log.back().best_score, final_eval, 1e-9);
  // One step row per applied move, scores strictly falling.
  ASSERT_EQ(log.size(), log.back().iteration + 2);
  for (std::size_t k = 1; k + 1 < log.size(); ++k) {
    EXPECT_EQ(log[k].iteration, k - 1);
    EXPECT_LT(log[k].current_score, log[k - 1].current_score);
  }
  EXPECT_GE(log.back().current_score, log.back().best_score);
  EXPECT_EQ(as_vector(p.lock()->as_array_problem()->best_solution()), solution_of(p));
}

TEST_P(SteepestDescentTours, SpecialisedScanGivesTheSameRunAsTheGenericOne) {
  const auto& [c, seed] = GetParam();
  for (const bool minimize : {true, false}) {
    const Evaluation e = random_tour(25, seed, c.asymmetric);
    auto fast = Shared<Problem>::make<ArrayProblem>(c.move_type(0), e);
    auto slow = Shared<Problem>::make<GenericView>(ArrayProblem(c.move_type(0), e));
    // Maximising on a tour never ends by itself; 40 steps are plenty to compare.
    const auto stop = TerminationFunction::max_iterations(40);
    SteepestDescent a(minimize, fast, stop);
    SteepestDescent b(minimize, slow, stop);
    EXPECT_EQ(rows_of(a.run(true)), rows_of(b.run(true))) << "minimize " << minimize;
    EXPECT_EQ(solution_of(fast),
              as_vector(static_cast<GenericView&>(*slow.lock()).inner().solution()));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SteepestDescentTours,
                         testing::Combine(testing::ValuesIn(kTourCases), testing::Values(1, 2, 3)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST(SteepestDescent, MaxIterationsBoundsTheAppliedMoves) {
  auto p = tour_problem(MoveType::reverse(0), 40, 9);
  SteepestDescent sd(true, p, TerminationFunction::max_iterations(3));
  const RunLog log = sd.run(true);
  ASSERT_EQ(log.size(), 5U);
  EXPECT_EQ(log.back().iteration, 3U);
  // Ended by the criterion: the final row's current is the score reached.
  EXPECT_EQ(log.back().current_score, log.back().best_score);
  EXPECT_EQ(log.back().current_score, log[3].current_score);
  // A second run goes on from where the first stopped.
  EXPECT_EQ(sd.run(true).front().best_score, log.back().best_score);
}

}  // namespace
}  // namespace kestrum
