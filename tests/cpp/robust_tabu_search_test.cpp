// Tests of RobustTabuSearch: the tie, tabu, aspiration and forcing rules on hand-made scores,
// both directions, the refusal of other move types, and the table against the generic path.
#include "local_search/robust_tabu_search/robust_tabu_search.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>

#include "search_fixtures.hpp"

namespace kestrum {
namespace {

using namespace testing_support;
using Tenure = std::pair<Word, Word>;

Shared<LocalSearch> search(Shared<Problem> p, Word steps, bool minimize, Tenure tenure, std::uint64_t aspiration) {
  return Shared<LocalSearch>::make<RobustTabuSearch>(minimize, std::move(p), TerminationFunction::max_iterations(steps),
                                                     tenure, aspiration, std::uint64_t{1});
}

// Three positions under Swap, every permutation scored: from 0 1 2 the exchanges (0,1) and
// (0,2) tie at -5 and the first is taken; from 1 0 2 going back is forbidden (both elements
// would return), so the worsening (1,2) is taken; from 1 2 0, (0,1) puts back only element 1
// and is allowed, reaching the best score again (a tie counts as a new best).
TEST(RobustTabuSearch, ForbiddenOnlyWhenBothElementsWouldReturn) {
  for (const bool minimize : {true, false}) {
    SCOPED_TRACE(minimize);
    const double sign = minimize ? 1.0 : -1.0;
    std::map<std::vector<Word>, double> scores{{{0, 1, 2}, 10}, {{1, 0, 2}, 5}, {{2, 1, 0}, 5},
                                               {{0, 2, 1}, 7},  {{2, 0, 1}, 9}, {{1, 2, 0}, 8}};
    for (auto& [s, v] : scores) v *= sign;
    auto p = Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 3, table(scores, 0));
    const RunLog log = search(p, 3, minimize, {5, 5}, 1000).lock()->run(true);
    const double k = sign;
    EXPECT_EQ(rows_of(log), (std::vector<Row>{{10 * k, 10 * k, 0}, {5 * k, 5 * k, 0}, {5 * k, 8 * k, 1},
                                              {5 * k, 5 * k, 2}, {5 * k, 5 * k, 3}}));
    auto locked = p.lock();
    auto& scored = dynamic_cast<ScoredProblem&>(*locked);
    EXPECT_EQ(scored.solution, (std::vector<Word>{2, 1, 0}));
    EXPECT_EQ(scored.best, (std::vector<Word>{2, 1, 0}));
  }
}

// Deltas chosen by hand per (solution, move); unlisted moves change the score by +1.
ScoredProblem::Delta deltas(std::map<std::pair<std::vector<Word>, std::pair<Word, Word>>, double> listed) {
  return [listed = std::move(listed)](const std::vector<Word>& s, Move m) {
    const auto it = listed.find({s, {m.i, m.j}});
    return it == listed.end() ? 1.0 : it->second;
  };
}

// From 1 0 2 the way back is forbidden, but it would beat the best score: allowed. With an
// aspiration of one step, the exchanges that place elements never forbidden are forced
// instead, and the best forced one, a worsening one, wins over the better allowed one.
TEST(RobustTabuSearch, BetterThanBestIsAllowedAndForcedMovesComeFirst) {
  const auto make = [] {
    return Shared<Problem>::make<ScoredProblem>(MoveType::swap(0), 3, table({{{0, 1, 2}, 10}}, 10),
                                                deltas({{{{0, 1, 2}, {0, 1}}, -1},
                                                        {{{0, 1, 2}, {0, 2}}, 0},
                                                        {{{0, 1, 2}, {1, 2}}, 0},
                                                        {{{1, 0, 2}, {0, 1}}, -10},
                                                        {{{1, 0, 2}, {0, 2}}, 3},
                                                        {{{1, 0, 2}, {1, 2}}, 2}}));
  };
  EXPECT_EQ(rows_of(search(make(), 2, true, {1, 1}, 1000).lock()->run(true)),
            (std::vector<Row>{{10, 10, 0}, {9, 9, 0}, {-1, -1, 1}, {-1, -1, 2}}));
  // Aspiration 1: nothing is forced at step 0 (a ban ending at -1 is not yet 1 step old);
  // at step 1 the never-forbidden placements of (0,2) and (1,2) are.
  EXPECT_EQ(rows_of(search(make(), 2, true, {1, 1}, 1).lock()->run(true)),
            (std::vector<Row>{{10, 10, 0}, {9, 9, 0}, {9, 11, 1}, {9, 11, 2}}));
}

TEST(RobustTabuSearch, TenureZeroTakesTheBestExchangeEvenBackAndForth) {
  // Every step the best exchange of 0 1 2 / 1 0 2 is (0,1): nothing forbids going back, and
  // no aspiration forces anything.
  auto p = Shared<Problem>::make<ScoredProblem>(
      MoveType::swap(0), 3, table({{{0, 1, 2}, 4}}, 4),
      deltas({{{{0, 1, 2}, {0, 1}}, -1}, {{{1, 0, 2}, {0, 1}}, 0.5}, {{{1, 0, 2}, {0, 2}}, 0.75}}));
  EXPECT_EQ(rows_of(search(p, 3, true, {0, 0}, 0).lock()->run(false)), (std::vector<Row>{{2.5, 2.5, 3}}));
  auto locked = p.lock();
  EXPECT_EQ(dynamic_cast<ScoredProblem&>(*locked).solution, (std::vector<Word>{1, 0, 2}));
}

TEST(RobustTabuSearch, EmptyNeighbourhoodEndsAtOnce) {
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::swap(0), flat_tour(1));
  EXPECT_EQ(rows_of(search(p, 5, true, {0, 0}, 0).lock()->run(true)), (std::vector<Row>{{1, 1, 0}, {1, 1, 0}}));
}

TEST(RobustTabuSearch, RefusesMoveTypesThatDoNotExchange) {
  EXPECT_EQ(RobustTabuSearch::refusal(MoveType::swap(0)), std::nullopt);
  EXPECT_EQ(RobustTabuSearch::refusal(MoveType::tsp(0)), std::nullopt);
  EXPECT_EQ(RobustTabuSearch::refusal(MoveType::reverse(0)),
            "robust_tabu_search needs a move type that exchanges positions (swap or swap_tsp), not reverse");
  EXPECT_EQ(RobustTabuSearch::refusal(MoveType::or_opt(0)),
            "robust_tabu_search needs a move type that exchanges positions (swap or swap_tsp), not or_opt");
  auto p = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(0), flat_tour(4));
  EXPECT_THROW((void)search(p, 1, true, {1, 1}, 1).lock()->run(true), FatalStop);
}

Evaluation integer_assignment(std::size_t n, bool symmetric, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_int_distribution<int> value(0, 30);
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
  std::vector<std::vector<double>> f(n, std::vector<double>(n, 0.0));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = symmetric ? a + 1 : 0; b < n; ++b) {
      d[a][b] = value(gen);
      f[a][b] = value(gen);
      if (symmetric) {
        d[b][a] = d[a][b];
        f[b][a] = f[a][b];
      }
    }
  }
  return Evaluation::qap(Matrix(d), Matrix(f));
}

// The table (assignments with integer data) and the plain deltas (a tour with exchanges) on
// the specialised route give the generic route's log and solutions, bit for bit. The route
// over the table hands whole rows to the search, which passes over them in lanes: rows of 41
// positions run the widest lanes several times over, with a tail.
TEST(RobustTabuSearch, SpecialisedAndGenericRoutesAgree) {
  const std::vector<Evaluation> subjects{integer_assignment(17, true, 1), integer_assignment(16, false, 2),
                                         random_tour(15, 3), integer_assignment(41, true, 4)};
  for (std::size_t k = 0; k < subjects.size(); ++k) {
    SCOPED_TRACE(k);
    for (const bool minimize : {true, false}) {
      std::vector<Word> start = identity(subjects[k].size());
      std::shuffle(start.begin(), start.end(), std::mt19937_64(k));
      ArrayProblem array(MoveType::swap(0), subjects[k]);
      array.set_solution(start);
      auto specialised = Shared<Problem>::make<ArrayProblem>(array);
      auto generic = Shared<Problem>::make<GenericView>(array);
      const RunLog a = search(specialised, 400, minimize, {2, 6}, 50).lock()->run(true);
      const RunLog b = search(generic, 400, minimize, {2, 6}, 50).lock()->run(true);
      EXPECT_EQ(rows_of(a), rows_of(b));
      auto view = generic.lock();
      EXPECT_EQ(solution_of(specialised), as_vector(dynamic_cast<GenericView&>(*view).inner().solution()));
    }
  }
}

}  // namespace
}  // namespace kestrum
