// Tests of TabuSearch: tabu bounds, tie rules, worsening steps, criteria, refusals, scan paths.
#include "local_search/tabu_search/tabu_search.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;

// Two cities under Swap: the only move (0, 1) toggles between 0 1 and 1 0, both of
// length 2. Run through an ArrayProblem (specialised scan, polynomial hashes) and through
// the generic view (the problem's own hash).
std::vector<Shared<Problem>> two_city_problems() {
  return {Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(2)),
          Shared<Problem>::make<GenericView>(ArrayProblem(MoveType::swap(0), flat_tour(2)))};
}

TEST(TabuSearch, ListOfOneAlternatesBetweenTwoSolutions) {
  for (const Shared<Problem>& p : two_city_problems()) {
    // The starting solution's hash is never listed, and a list of one forgets 1 0 as soon
    // as the search is back at 0 1.
    TabuSearch ts(p, TerminationFunction::max_iterations(5), true, Word{1});
    const RunLog log = ts.run(true);
    EXPECT_EQ(rows_of(log).size(), 7U);
    EXPECT_EQ(rows_of(log).back(), (Row{2, 2, 5}));
  }
}

TEST(TabuSearch, ListOfTwoStopsWhenTheOnlyNeighbourIsTabu) {
  for (const Shared<Problem>& p : two_city_problems()) {
    TabuSearch ts(p, TerminationFunction::max_iterations(5), true, Word{2});
    EXPECT_EQ(rows_of(ts.run(true)),
              (std::vector<Row>{{2, 2, 0}, {2, 2, 0}, {2, 2, 1}, {2, 2, 2}}));
  }
}

TEST(TabuSearch, ListSizeZeroActsAsOneAndSevenIsTheDefault) {
  auto p = two_city_problems()[0];
  TabuSearch zero(p, TerminationFunction::max_iterations(4), true, Word{0});
  EXPECT_EQ(rows_of(zero.run(false)), (std::vector<Row>{{2, 2, 4}}));
  TabuSearch absent(p, TerminationFunction::always_true(), true, std::nullopt);
  EXPECT_EQ(absent.tabu_list_size(), 7U);
}

TEST(TabuSearch, EmptyNeighbourhoodEndsAtOnce) {
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(1));
  TabuSearch ts(p, TerminationFunction::always_true(), true, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)), (std::vector<Row>{{1, 1, 0}, {1, 1, 0}}));
}

// Three positions under Swap: from 0 1 2 the moves (0,1), (0,2), (1,2) lead to 1 0 2,
// 2 1 0 and 0 2 1.
Shared<Problem> three(std::map<std::vector<Word>, double> scores, double otherwise) {
  return Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 3, table(std::move(scores), otherwise));
}
ScoredProblem& scored(const Shared<Problem>& p) { return static_cast<ScoredProblem&>(*p.lock()); }

TEST(TabuSearch, TakesTheLastOfEqualMovesAndWorsensOutOfALocalOptimum) {
  // 0 1 2 (5) is a local minimum: its neighbours score 8, 8 and 9. The later 8, 2 1 0, is
  // taken anyway. From there 0 1 2 (back, not tabu: the start is never listed) is the best.
  auto p = three({{{0, 1, 2}, 5}, {{1, 0, 2}, 8}, {{2, 1, 0}, 8}, {{0, 2, 1}, 9}, {{1, 2, 0}, 7},
                  {{2, 0, 1}, 6}},
                 99);
  TabuSearch ts(p, TerminationFunction::max_iterations(2), true, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)), (std::vector<Row>{{5, 5, 0}, {5, 8, 0}, {5, 5, 1}, {5, 5, 2}}));
  // The return to 5 ties the best: a tie counts, so it is recorded again.
  EXPECT_EQ(scored(p).set_best_calls, 1);
  EXPECT_EQ(scored(p).solution, identity(3));
}

TEST(TabuSearch, TabuNeighbourIsNeverTakenHoweverGood) {
  // 0 1 2 (5) -> 0 2 1 (4, best). From 0 2 1 the neighbours are 2 0 1 (6), 1 2 0 (7) and
  // 0 1 2 (5). Back at 0 1 2 after that, 0 2 1 is tabu: though it is the best neighbour,
  // the search goes to 1 0 2 or 2 1 0.
  auto p = three({{{0, 1, 2}, 5}, {{1, 0, 2}, 8}, {{2, 1, 0}, 9}, {{0, 2, 1}, 4}, {{1, 2, 0}, 7},
                  {{2, 0, 1}, 6}},
                 99);
  TabuSearch ts(p, TerminationFunction::max_iterations(3), true, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)),
            (std::vector<Row>{{5, 5, 0}, {4, 4, 0}, {4, 5, 1}, {4, 8, 2}, {4, 8, 3}}));
  EXPECT_EQ(scored(p).best, (std::vector<Word>{0, 2, 1}));
  EXPECT_EQ(scored(p).solution, (std::vector<Word>{1, 0, 2}));
}

TEST(TabuSearch, MaximisingMirrorsTheTieRules) {
  // Maximising from 0 1 2 (5): 1 0 2 and 2 1 0 both 8, the later one wins.
  auto p = three({{{0, 1, 2}, 5}, {{1, 0, 2}, 8}, {{2, 1, 0}, 8}, {{0, 2, 1}, 1}}, 0);
  TabuSearch ts(p, TerminationFunction::max_iterations(1), false, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)), (std::vector<Row>{{5, 5, 0}, {8, 8, 0}, {8, 8, 1}}));
  EXPECT_EQ(scored(p).solution, (std::vector<Word>{2, 1, 0}));
}

TEST(TabuSearch, MustImproveEndsAfterTheFirstStepThatIsNotBetter) {
  // Scores 5 -> 4 -> 5: the second step does not beat 4 and ends the run, its row logged.
  auto p = three({{{0, 1, 2}, 5}, {{1, 0, 2}, 8}, {{2, 1, 0}, 9}, {{0, 2, 1}, 4}, {{1, 2, 0}, 7},
                  {{2, 0, 1}, 6}},
                 99);
  TabuSearch ts(p, TerminationFunction::must_improve(), true, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)), (std::vector<Row>{{5, 5, 0}, {4, 4, 0}, {4, 5, 1}, {4, 5, 2}}));
}

TEST(TabuSearch, NoImproveCountsEveryNonImprovingStep) {
  // Scores 5 -> 4 -> 5 -> 8: the second and third steps do not improve, and the second
  // non-improving step is one more than no_improve(1) tolerates.
  auto p = three({{{0, 1, 2}, 5}, {{1, 0, 2}, 8}, {{2, 1, 0}, 9}, {{0, 2, 1}, 4}, {{1, 2, 0}, 7},
                  {{2, 0, 1}, 6}},
                 99);
  TabuSearch ts(p, TerminationFunction::no_improve(1), true, std::nullopt);
  EXPECT_EQ(rows_of(ts.run(true)),
            (std::vector<Row>{{5, 5, 0}, {4, 4, 0}, {4, 5, 1}, {4, 8, 2}, {4, 8, 3}}));
}

TEST(TabuSearch, HugeListStopsWithCapacityOverflowAndPoisons) {
  auto p = two_city_problems()[0];
  TabuSearch ts(p, TerminationFunction::max_iterations(1), true, Word{268435456});
  EXPECT_EQ(fatal_message_of([&] { (void)ts.run(true); }), "capacity overflow");
  EXPECT_TRUE(p.poisoned());
}

TEST(TabuSearch, RefusesAndFailsOnMultiNeighbour) {
  const MoveType multi = MoveType::multi_neighbor({Swap{Xoshiro128pp::from_seed(1)}}, std::nullopt);
  auto kept = two_city_problems()[0];
  auto refused = Shared<Problem>::make<ArrayProblem>(multi, flat_tour(4));
  TabuSearch ts(kept, TerminationFunction::max_iterations(1), true, std::nullopt);
  EXPECT_EQ(fatal_message_of([&] { ts.set_problem(refused); }), "Can't use multiNeighbor in Tabu Search");
  EXPECT_TRUE(refused.poisoned());
  EXPECT_EQ(rows_of(ts.run(false)), (std::vector<Row>{{2, 2, 1}}));

  auto p = Shared<Problem>::make<ArrayProblem>(multi, flat_tour(4));
  TabuSearch fails(p, TerminationFunction::max_iterations(1), true, std::nullopt);
  EXPECT_EQ(fatal_message_of([&] { (void)fails.run(true); }), "MultiNeighbor doesn't support get_all_mov");
  EXPECT_TRUE(p.poisoned());
}

struct TourCase {
  const char* name;
  MoveType (*move_type)(std::optional<std::uint64_t>);
  bool asymmetric;
  Word list;
};
const TourCase kTourCases[] = {
    {"swap", &MoveType::swap, false, 7},
    {"reverse", &MoveType::reverse, false, 7},
    {"swap_tsp", &MoveType::tsp, false, 3},
    {"reverse_asymmetric", &MoveType::reverse, true, 20},
    {"swap_long_list", &MoveType::swap, false, 200},
};

class TabuSearchTours : public testing::TestWithParam<std::tuple<TourCase, int>> {};

TEST_P(TabuSearchTours, SpecialisedScanGivesTheSameRunAsTheGenericOne) {
  const auto& [c, seed] = GetParam();
  for (const bool minimize : {true, false}) {
    const Evaluation e = random_tour(14, seed, c.asymmetric);
    auto fast = Shared<Problem>::make<ArrayProblem>(c.move_type(0), e);
    auto slow = Shared<Problem>::make<GenericView>(ArrayProblem(c.move_type(0), e));
    const auto stop = TerminationFunction::max_iterations(120);
    TabuSearch a(fast, stop, minimize, c.list);
    TabuSearch b(slow, stop, minimize, c.list);
    const RunLog la = a.run(true);
    EXPECT_EQ(rows_of(la), rows_of(b.run(true))) << "minimize " << minimize;
    EXPECT_EQ(solution_of(fast), as_vector(static_cast<GenericView&>(*slow.lock()).inner().solution()));
    // Every delta the run added up agrees with a fresh evaluation.
    EXPECT_NEAR(la.back().current_score, fast.lock()->eval(), 1e-9);
  }
}

TEST_P(TabuSearchTours, NeverRevisitsASolutionWhileItIsListed) {
  const auto& [c, seed] = GetParam();
  auto p = Shared<Problem>::make<ArrayProblem>(c.move_type(0), random_tour(9, seed, c.asymmetric));
  // The path of one 60-step run, replayed from the identity with ever longer runs (a run
  // does not expose its intermediate solutions).
  std::vector<std::vector<Word>> visited;
  for (int step = 0; step < 60; ++step) {
    TabuSearch walk(p, TerminationFunction::max_iterations(static_cast<Word>(step + 1)), true, c.list);
    p.lock()->reset();
    (void)walk.run(false);
    visited.push_back(solution_of(p));
  }
  // Solutions moved to within the last `list` steps never reappear.
  for (std::size_t k = 0; k < visited.size(); ++k) {
    for (std::size_t back = 1; back <= c.list && back <= k; ++back) {
      EXPECT_NE(visited[k], visited[k - back]) << "step " << k << " repeats step " << k - back;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TabuSearchTours,
                         testing::Combine(testing::ValuesIn(kTourCases), testing::Values(1, 2)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace kestrum
