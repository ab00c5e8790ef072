// Tests of VariableNeighborhood: progression through neighbourhoods and runs, tie rules, failures.
#include "local_search/vns/variable_neighborhood.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

MoveType multi(std::vector<SimpleMoveType> members) {
  return MoveType::multi_neighbor(std::move(members), std::nullopt);
}
SimpleMoveType swap_member() { return Swap{Xoshiro128pp::from_seed(1)}; }
SimpleMoveType reverse_member() { return Reverse{Xoshiro128pp::from_seed(2)}; }

// Three positions: from 0 1 2 the moves (0,1), (0,2), (1,2) lead to 1 0 2, 2 1 0, 0 2 1
// under Swap; under Reverse (0,2) also gives 2 1 0.
Shared<Problem> three(MoveType type, std::map<std::vector<Word>, double> scores, double otherwise) {
  return Shared<Problem>::make<ScoredProblem>(std::move(type), 3, table(std::move(scores), otherwise));
}
ScoredProblem& scored(const Shared<Problem>& p) { return static_cast<ScoredProblem&>(*p.lock()); }

TEST(VariableNeighborhood, MinimisingKeepsTheFirstOfEqualMovesAndNeverTakesNaN) {
  // From 0 1 2 (10): (0,1) -> 7 and (0,2) -> 7 tie, the first wins; (1,2) is NaN.
  auto p = three(MoveType::swap(0), {{{0, 1, 2}, 10}, {{1, 0, 2}, 7}, {{2, 1, 0}, 7}, {{0, 2, 1}, kNaN}}, 50);
  VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
  // From 1 0 2 every neighbour scores 10 or 50: no improvement, and a simple move type
  // has no next neighbourhood. The failing step is not counted.
  EXPECT_EQ(rows_of(vns.run(true)), (std::vector<Row>{{10, 10, 0}, {7, 7, 0}, {7, 7, 1}}));
  EXPECT_EQ(scored(p).solution, (std::vector<Word>{1, 0, 2}));
  EXPECT_EQ(vns.neighbor_index(), 0U);
}

TEST(VariableNeighborhood, MaximisingTakesTheLastOfEqualMovesAndNaN) {
  auto ties = three(MoveType::swap(0), {{{0, 1, 2}, 10}, {{1, 0, 2}, 12}, {{2, 1, 0}, 12}, {{0, 2, 1}, 11}}, 0);
  VariableNeighborhood a(ties, TerminationFunction::max_iterations(1), false);
  EXPECT_EQ(rows_of(a.run(true)), (std::vector<Row>{{10, 10, 0}, {12, 12, 0}, {12, 12, 1}}));
  EXPECT_EQ(scored(ties).solution, (std::vector<Word>{2, 1, 0}));

  // A NaN delta is taken; NaN is not below the accepted score, so it counts as an
  // improvement and is applied.
  auto nan = three(MoveType::swap(0), {{{0, 1, 2}, 10}, {{1, 0, 2}, 12}, {{0, 2, 1}, kNaN}}, 0);
  VariableNeighborhood b(nan, TerminationFunction::max_iterations(1), false);
  EXPECT_EQ(rows_of(b.run(true)), (std::vector<Row>{{10, 10, 0}, {kNaN, kNaN, 0}, {kNaN, kNaN, 1}}));
  EXPECT_EQ(scored(nan).solution, (std::vector<Word>{0, 2, 1}));
}

TEST(VariableNeighborhood, MaximisingStaysWhileZeroDeltaMovesExist) {
  auto p = Shared<Problem>::make<ArrayProblem>(multi({swap_member(), reverse_member()}), flat_tour(4));
  VariableNeighborhood vns(p, TerminationFunction::max_iterations(6), false);
  const RunLog log = vns.run(true);
  EXPECT_EQ(log.size(), 8U);
  EXPECT_EQ(vns.neighbor_index(), 0U);
}

TEST(VariableNeighborhood, NeighbourhoodChangeIsAnIterationWithoutARow) {
  // Swap first, then Reverse, on four positions. From 0 1 2 3 (10) the swap (0,1) reaches
  // 1 0 2 3 (9); then no swap helps. The reversal (0,3) of 1 0 2 3 gives 3 2 0 1 (3), which
  // differs from it in all four positions, so no swap could reach it.
  auto p = Shared<Problem>::make<ScoredProblem>(
      multi({swap_member(), reverse_member()}), 4,
      table({{{0, 1, 2, 3}, 10}, {{1, 0, 2, 3}, 9}, {{3, 2, 0, 1}, 3}}, 20));
  VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
  // Rows: start, swap step (iteration 0), change to Reverse (iteration 1, no row),
  // reversal step (iteration 2); the last scan fails and is not counted.
  EXPECT_EQ(rows_of(vns.run(true)), (std::vector<Row>{{10, 10, 0}, {9, 9, 0}, {3, 3, 2}, {3, 3, 3}}));
  EXPECT_EQ(vns.neighbor_index(), 1U);
  EXPECT_EQ(scored(p).best, (std::vector<Word>{3, 2, 0, 1}));
  EXPECT_EQ(scored(p).set_best_calls, 2);
}

TEST(VariableNeighborhood, RunningScoreUndoesTheCandidateBySubtraction) {
  // Every delta is 2^-51, half a unit in the last place of 4: 4 + 2^-51 rounds back to 4
  // (no improvement), and running becomes 4 - 2^-51, which is representable.
  auto p = Shared<Problem>::make<ScoredProblem>(
      MoveType::swap(0), 3, [](const std::vector<Word>&) { return 4.0; },
      [](const std::vector<Word>&, Move) { return 0x1.0p-51; });
  VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
  EXPECT_EQ(rows_of(vns.run(false)), (std::vector<Row>{{4, 4 - 0x1.0p-51, 0}}));
}

TEST(VariableNeighborhood, ImprovementWithoutAMoveStopsWithUnwrapMessage) {
  // One city whose only edge is infinite: maximising, inf - 1.79e308 = inf is not below
  // inf, an "improvement" with no move to apply.
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), Evaluation::tsp(Matrix(std::vector<std::vector<double>>{{kInf}})));
  VariableNeighborhood vns(p, TerminationFunction::always_true(), false);
  EXPECT_EQ(fatal_message_of([&] { (void)vns.run(true); }), "called `Option::unwrap()` on a `None` value");
  EXPECT_TRUE(p.poisoned());
}

TEST(VariableNeighborhood, IndexOutOfRangeAfterSetProblemStopsInTheFirstStep) {
  auto two = Shared<Problem>::make<ArrayProblem>(multi({swap_member(), reverse_member()}), random_tour(8, 1));
  VariableNeighborhood vns(two, TerminationFunction::always_true(), true);
  (void)vns.run(false);
  ASSERT_EQ(vns.neighbor_index(), 1U);
  auto one = Shared<Problem>::make<ArrayProblem>(multi({swap_member()}), random_tour(8, 1));
  vns.set_problem(one);
  EXPECT_EQ(vns.neighbor_index(), 1U);
  EXPECT_EQ(fatal_message_of([&] { (void)vns.run(true); }), "index out of bounds: the len is 1 but the index is 1");
  EXPECT_TRUE(one.poisoned());
  // A criterion that never lets it step never looks at the index.
  auto fresh = Shared<Problem>::make<ArrayProblem>(multi({swap_member()}), random_tour(8, 1));
  vns.set_problem(fresh);
  vns.set_termination(TerminationFunction::max_iterations(0));
  EXPECT_EQ(vns.run(false).size(), 1U);
}

TEST(VariableNeighborhood, SetProblemTakesNoLockAndAcceptsAnything) {
  auto poisoned = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(3));
  poisoned.lock()->set_eval_type(Evaluation::empty_bins({1.0}, 1.0));
  EXPECT_FALSE(fatal_message_of([&] { (void)poisoned.lock()->eval(); }).empty());
  ASSERT_TRUE(poisoned.poisoned());
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(3));
  VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
  vns.set_problem(poisoned);  // no stop: nothing is locked
  EXPECT_EQ(fatal_message_of([&] { (void)vns.run(false); }), kPoisonedMessage);
  EXPECT_EQ(fatal_message_of([&] { vns.reset(); }), kPoisonedMessage);
}

// Random tours under [Swap, Reverse]. The first run descends with swaps, then with
// reversals; it ends in a reversal optimum but need not be a swap optimum.
class VariableNeighborhoodTours : public testing::TestWithParam<int> {};

TEST_P(VariableNeighborhoodTours, DescendsThroughTheListAndResumesWhereItEnded) {
  const Evaluation e = random_tour(20, GetParam());
  auto p = Shared<Problem>::make<ArrayProblem>(multi({swap_member(), reverse_member()}), e);
  VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
  const RunLog first = vns.run(true);
  EXPECT_EQ(vns.neighbor_index(), 1U);
  const MoveType reverse_type(reverse_member());
  EXPECT_TRUE(is_local_optimum(p, &reverse_type, true));
  // Step rows plus the change of neighbourhood.
  EXPECT_EQ(first.back().iteration, first.size() - 2 + 1);
  EXPECT_NEAR(first.back().best_score, p.lock()->eval(), 1e-9);

  // A second run from the identity uses only reversals: it is the run of a fresh search
  // over a problem whose list holds only Reverse.
  vns.reset();
  const RunLog second = vns.run(true);
  auto only_reverse = Shared<Problem>::make<ArrayProblem>(multi({reverse_member()}), e);
  VariableNeighborhood fresh(only_reverse, TerminationFunction::always_true(), true);
  EXPECT_EQ(rows_of(second), rows_of(fresh.run(true)));
}

TEST_P(VariableNeighborhoodTours, SimpleMoveTypeIsADescentToATrueLocalOptimum) {
  for (auto make : {&MoveType::swap, &MoveType::reverse, &MoveType::tsp}) {
    auto p = Shared<Problem>::make<ArrayProblem>(make(0), random_tour(25, GetParam(), true));
    VariableNeighborhood vns(p, TerminationFunction::always_true(), true);
    const RunLog log = vns.run(true);
    EXPECT_TRUE(is_local_optimum(p, nullptr, true));
    EXPECT_EQ(log.back().iteration, log.size() - 2);
    EXPECT_EQ(vns.neighbor_index(), 0U);
  }
}

TEST_P(VariableNeighborhoodTours, SpecialisedScanGivesTheSameRunAsTheGenericOne) {
  for (const bool minimize : {true, false}) {
    for (const bool asymmetric : {false, true}) {
      const Evaluation e = random_tour(18, GetParam(), asymmetric);
      const MoveType type = multi({swap_member(), reverse_member(), Swap{Xoshiro128pp::from_seed(3)}});
      auto fast = Shared<Problem>::make<ArrayProblem>(type, e);
      auto slow = Shared<Problem>::make<GenericView>(ArrayProblem(type, e));
      const auto stop = TerminationFunction::max_iterations(60);
      VariableNeighborhood a(fast, stop, minimize);
      VariableNeighborhood b(slow, stop, minimize);
      EXPECT_EQ(rows_of(a.run(true)), rows_of(b.run(true))) << minimize << asymmetric;
      EXPECT_EQ(a.neighbor_index(), b.neighbor_index());
      EXPECT_EQ(solution_of(fast), as_vector(static_cast<GenericView&>(*slow.lock()).inner().solution()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, VariableNeighborhoodTours, testing::Values(1, 2, 3));

}  // namespace
}  // namespace kestrum
