// Tests of ArrayProblem: construction, delegation, reset, random starts, best snapshots, hashing
// and n = 0.
#include "problem/array_problem.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"
#include "problem/permutation.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrum {
namespace {

std::vector<Word> iota_array(Word n) {
  std::vector<Word> a(n);
  std::iota(a.begin(), a.end(), 0U);
  return a;
}

std::vector<Word> as_vector(std::span<const Word> s) { return {s.begin(), s.end()}; }

Matrix rows(std::vector<std::vector<double>> r) { return Matrix(r); }

// Tours of this matrix: 0 1 2 3 -> 10, 0 2 1 3 -> 23, 0 1 3 2 -> 21.
Evaluation four_cities() {
  return Evaluation::tsp(rows({{0, 1, 9, 4}, {1, 0, 2, 8}, {9, 2, 0, 3}, {4, 8, 3, 0}}));
}

Evaluation ten_items() { return Evaluation::empty_bins(std::vector<double>(10, 1.0), 3.0); }

TEST(ArrayProblem, StartsAtTheIdentityWithTheMoveTypeSized) {
  ArrayProblem p(MoveType::swap(0), four_cities());
  EXPECT_EQ(as_vector(p.solution()), iota_array(4));
  EXPECT_EQ(as_vector(p.best_solution()), iota_array(4));
  EXPECT_EQ(p.size(), 4U);
  EXPECT_EQ(p.get_all_mov().size(), 6U);
  EXPECT_EQ(p.as_array_problem(), &p);
}

TEST(ArrayProblem, SizeIsTheNumberOfRowsEvenForANonSquareMatrix) {
  ArrayProblem p(MoveType::reverse(0),
                 Evaluation::tsp(rows({{0, 1, 2, 7}, {1, 0, 3, 7}, {2, 3, 0, 7}})));
  EXPECT_EQ(as_vector(p.solution()), iota_array(3));
}

TEST(ArrayProblem, LeavesTheCallersMoveTypeAsItWas) {
  const MoveType given = MoveType::swap(std::nullopt);
  ArrayProblem a(given, ten_items());
  ArrayProblem b(given, ten_items());
  for (int k = 0; k < 10; ++k) EXPECT_EQ(a.get_mov(), b.get_mov());
  // Still unsized, so it cannot draw.
  MoveType still = given;
  EXPECT_EQ(fatal_message_of([&] { (void)still.get_mov(); }), "cannot sample empty range");
}

TEST(ArrayProblem, DrawsTheMoveTypesSequenceAndResetKeepsItsPosition) {
  ArrayProblem p(MoveType::swap(0), ten_items());
  EXPECT_EQ(p.get_mov(), (Move{4, 5}));
  EXPECT_EQ(p.get_mov(), (Move{3, 5}));
  p.do_mov({3, 5});
  p.set_best();
  p.reset();
  EXPECT_EQ(as_vector(p.solution()), iota_array(10));
  EXPECT_EQ(as_vector(p.best_solution()), iota_array(10));
  EXPECT_EQ(p.get_mov(), (Move{1, 8}));
}

TEST(ArrayProblem, SetSeedRestartsTheSequence) {
  ArrayProblem p(MoveType::tsp(std::nullopt), ten_items());
  p.set_seed(0);
  EXPECT_EQ(p.get_mov(), (Move{4, 6}));
  EXPECT_EQ(p.get_mov(), (Move{2, 8}));
}

TEST(ArrayProblem, ShuffleIsAFreshRandomStartFromItsSeedAlone) {
  const Evaluation items = Evaluation::empty_bins(std::vector<double>(50, 1.0), 3.0);
  ArrayProblem p(MoveType::swap(5), items);
  ArrayProblem q(MoveType::swap(6), items);
  const Move first = ArrayProblem(MoveType::swap(5), items).get_mov();
  p.shuffle(11);
  q.do_mov(Move{0, 1});
  q.shuffle(11);
  const std::vector<Word> s = as_vector(p.solution());
  EXPECT_EQ(s, as_vector(q.solution()));  // neither the move type nor the old solution matters
  EXPECT_EQ(as_vector(p.best_solution()), s);
  EXPECT_TRUE(std::is_permutation(s.begin(), s.end(), iota_array(50).begin()));
  EXPECT_NE(s, iota_array(50));
  p.shuffle(12);
  EXPECT_NE(as_vector(p.solution()), s);
  EXPECT_EQ(p.get_mov(), first);  // the generator was not drawn from
}

TEST(ArrayProblem, ShuffleDrawsEveryPermutationEquallyOften) {
  // 24 permutations of 4 over 24000 seeds: about 1000 each, with a standard deviation of
  // about 31. A biased shuffle (drawing from 0..k-1 instead of 0..k, or from the whole
  // array) misses some permutations entirely or doubles others.
  std::map<std::vector<Word>, int> counts;
  std::vector<Word> s(4);
  for (std::uint64_t seed = 0; seed < 24000; ++seed) {
    random_permutation(s, seed);
    ++counts[s];
  }
  ASSERT_EQ(counts.size(), 24U);
  for (const auto& [permutation, count] : counts) {
    EXPECT_GT(count, 850);
    EXPECT_LT(count, 1150);
  }
  std::vector<Word> none;
  random_permutation(none, 3);  // sizes 0 and 1 draw nothing
  std::vector<Word> one(1, 7);
  random_permutation(one, 3);
  EXPECT_EQ(one, std::vector<Word>{0});
}

TEST(ArrayProblem, SetBestTakesASnapshot) {
  ArrayProblem p(MoveType::swap(0), four_cities());
  p.do_mov({0, 3});
  p.set_best();
  p.do_mov({1, 2});
  EXPECT_EQ(as_vector(p.best_solution()), (std::vector<Word>{3, 1, 2, 0}));
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{3, 2, 1, 0}));
}

TEST(ArrayProblem, EvalFollowsTheAppliedMoves) {
  ArrayProblem p(MoveType::swap(0), four_cities());
  EXPECT_DOUBLE_EQ(p.eval(), 10.0);
  p.do_mov({1, 2});
  EXPECT_DOUBLE_EQ(p.eval(), 23.0);
  p.do_mov({1, 2});
  p.do_mov({2, 3});
  EXPECT_DOUBLE_EQ(p.eval(), 21.0);
}

TEST(ArrayProblem, DeltaEvalAgreesWithFullEvaluationAndRestoresTheSolution) {
  const Evaluation evaluations[] = {four_cities(),
                                    Evaluation::empty_bins({3, 1, 2, 2}, 4.0),
                                    Evaluation::empty_space({3, 1, 2, 2}, 4.0)};
  for (const Evaluation& e : evaluations) {
    for (const MoveType& mt : {MoveType::swap(0), MoveType::reverse(0)}) {
      ArrayProblem p(mt, e);
      p.do_mov({0, 2});  // start away from the identity
      for (const Move m : p.get_all_mov()) {
        const auto before_solution = as_vector(p.solution());
        const double before = p.eval();
        const double delta = p.delta_eval(m);
        EXPECT_EQ(as_vector(p.solution()), before_solution);
        p.do_mov(m);
        EXPECT_NEAR(p.eval() - before, delta, 1e-12) << m.i << "," << m.j;
        p.do_mov(m);
      }
    }
  }
}

TEST(ArrayProblem, HandWorkedDeltas) {
  ArrayProblem tour(MoveType::swap(0), four_cities());
  EXPECT_DOUBLE_EQ(tour.delta_eval({1, 2}), 13.0);
  EXPECT_DOUBLE_EQ(tour.delta_eval({2, 3}), 11.0);
  // 3 1 | 2 2 -> 3 | 2 1 | 2: one more bin after exchanging the middle items.
  ArrayProblem bins(MoveType::swap(0), Evaluation::empty_bins({3, 1, 2, 2}, 4.0));
  EXPECT_DOUBLE_EQ(bins.eval(), 1.0);
  EXPECT_DOUBLE_EQ(bins.delta_eval({1, 2}), 1.0);
}

TEST(ArrayProblem, AnExplicitMoveTypeOverridesTheProblemsOwn) {
  ArrayProblem p(MoveType::swap(0), Evaluation::empty_bins(std::vector<double>(6, 1.0), 2.0));
  const MoveType reverse = MoveType::reverse(0);  // unsized: only its semantics are used
  p.do_mov({1, 4}, &reverse);
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{0, 4, 3, 2, 1, 5}));
  p.do_mov({1, 4});
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{0, 1, 3, 2, 4, 5}));
}

TEST(ArrayProblem, MultiNeighborNeedsAnExplicitMember) {
  const MoveType multi = MoveType::multi_neighbor(
      {SimpleMoveType(std::in_place_type<Swap>, Xoshiro128pp::from_seed(1), 0)}, std::nullopt);
  ArrayProblem p(multi, four_cities());
  EXPECT_EQ(fatal_message_of([&] { (void)p.get_mov(); }), "MultiNeighbor doesn't support get_move");
  EXPECT_EQ(fatal_message_of([&] { (void)p.get_all_mov(); }),
            "MultiNeighbor doesn't support get_all_mov");
  EXPECT_EQ(fatal_message_of([&] { p.do_mov({1, 2}); }), "MultiNeighbor doesn't support do_move");
  // The member was sized with the problem.
  const auto& member = std::get<MultiNeighbor>(p.get_move_type().kind()).move_array.at(0);
  EXPECT_EQ(get_all_mov(member).size(), 6U);
  const MoveType swap(member);
  EXPECT_DOUBLE_EQ(p.delta_eval({1, 2}, &swap), 13.0);
  p.do_mov({1, 2}, &swap);
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{0, 2, 1, 3}));
}

TEST(ArrayProblem, OutOfRangeMoveStopsAndChangesNothing) {
  ArrayProblem p(MoveType::reverse(0), four_cities());
  p.do_mov({0, 1});
  const auto before = as_vector(p.solution());
  EXPECT_EQ(fatal_message_of([&] { p.do_mov({2, 9}); }),
            "index out of bounds: the len is 4 but the index is 9");
  EXPECT_EQ(as_vector(p.solution()), before);
}

TEST(ArrayProblem, SetMoveTypeSizesTheNewOne) {
  ArrayProblem p(MoveType::tsp(0), ten_items());
  p.set_move_type(MoveType::swap(0));
  EXPECT_EQ(p.get_mov(), (Move{4, 5}));
  EXPECT_EQ(p.get_all_mov().size(), 45U);
}

TEST(ArrayProblem, SetEvalTypeResizesNothing) {
  ArrayProblem p(MoveType::swap(0), four_cities());
  p.do_mov({0, 3});
  p.set_eval_type(Evaluation::empty_bins({1, 1}, 1.0));
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{3, 1, 2, 0}));
  EXPECT_EQ(p.get_all_mov().size(), 6U);
  EXPECT_EQ(fatal_message_of([&] { (void)p.eval(); }),
            "index out of bounds: the len is 2 but the index is 3");
}

TEST(ArrayProblem, HashIsTheSolutionHash) {
  ArrayProblem p(MoveType::swap(0), Evaluation::empty_bins({1, 1, 1}, 2.0));
  EXPECT_EQ(p.hash(), 0x2102cc66dc65c6daULL);
  p.do_mov({0, 2});
  EXPECT_NE(p.hash(), 0x2102cc66dc65c6daULL);
  p.do_mov({0, 2});
  EXPECT_EQ(p.hash(), 0x2102cc66dc65c6daULL);
}

TEST(ArrayProblem, EmptyProblem) {
  ArrayProblem bins(MoveType::swap(0), Evaluation::empty_space({}, 5.0));
  EXPECT_TRUE(bins.solution().empty());
  EXPECT_TRUE(bins.best_solution().empty());
  EXPECT_EQ(bins.hash(), 0xcc2247b79ac48af0ULL);
  EXPECT_TRUE(bins.get_all_mov().empty());
  EXPECT_EQ(fatal_message_of([&] { (void)bins.get_mov(); }), "cannot sample empty range");
  EXPECT_DOUBLE_EQ(bins.eval(), 5.0);
  bins.reset();
  EXPECT_TRUE(bins.solution().empty());

  ArrayProblem tour(MoveType::reverse(0), Evaluation::tsp({}));
  const std::string stop = fatal_message_of([&] { (void)tour.eval(); });
  EXPECT_EQ(stop.rfind("index out of bounds: the len is 0 ", 0), 0U) << stop;
}

// A matrix of many empty rows costs nothing, so a problem may be asked for more positions
// than 32-bit words can number: refused as too large, before anything is allocated.
TEST(ArrayProblem, MorePositionsThanWordsCanNumberAreRefused) {
  const std::size_t too_many = std::size_t{kWordMax} + 2;
  const Matrix empty_rows(std::vector<double>{}, too_many, 0);
  const Evaluation e = Evaluation::qap(empty_rows, empty_rows);
  EXPECT_EQ(e.size(), too_many);
  EXPECT_THROW(ArrayProblem(MoveType::swap(0), e), std::length_error);
}

TEST(ArrayProblem, SetSolutionIsAFreshStartFromThePermutation) {
  ArrayProblem p(MoveType::swap(0), four_cities());
  p.set_solution({0, 2, 1, 3});
  EXPECT_EQ(as_vector(p.solution()), (std::vector<Word>{0, 2, 1, 3}));
  EXPECT_EQ(as_vector(p.best_solution()), (std::vector<Word>{0, 2, 1, 3}));
  EXPECT_DOUBLE_EQ(p.eval(), 23.0);
}

}  // namespace
}  // namespace kestrum
