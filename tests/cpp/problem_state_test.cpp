// Saved problems: each evaluation and move type round-trips, saved tags never move, and a
// saved problem is refused unless its solutions are permutations of one length.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kinds.hpp"
#include "problem/array_problem_state.hpp"
#include "problem/custom_state.hpp"
#include "problem/evaluation_state.hpp"
#include "problem/move_state.hpp"
#include "problem/permutation.hpp"
#include "state_reading.hpp"

namespace kestrum {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Rows = std::vector<std::vector<double>>;

template <class T, class Write>
Bytes saved(const T& value, Write write) {
  ByteWriter w;
  write(w, value);
  return std::move(w).take();
}

TEST(ProblemState, EveryEvaluationRoundTrips) {
  const Rows square{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}};
  const kinds::Instance data{{1, 2.5, 0.5}, 3, square, Rows{{0, 4, 1}, {5, 0, 1}, {2, 2, 0}}, {0, 0, 3, 4, -1, 2.5}};
  std::vector<Evaluation> all;
  for (const Evaluation::Tag tag : kinds::kEvaluationTags) all.push_back(kinds::evaluation_of(tag, data));
  // Ragged data is saved as it is.
  all.push_back(Evaluation::qap(Matrix(square), Matrix(Rows{{0, 4}, {5, 0, 1}})));
  all.push_back(Evaluation::empty_space_exp({}, 2));

  ScoreFunctionTable table;
  const ScoreFunctionScope scope(table);
  const std::vector<Word> s{2, 0, 1};
  for (std::size_t k = 0; k < all.size(); ++k) {
    const Evaluation& e = all[k];
    SCOPED_TRACE(kinds::name_of(e.tag()));
    const Bytes bytes = saved(e, write_evaluation);
    EXPECT_EQ(bytes.at(0), static_cast<std::uint8_t>(e.tag()));
    ByteReader r(bytes);
    const Evaluation back = read_evaluation(r);
    EXPECT_EQ(back.tag(), e.tag());
    EXPECT_EQ(saved(back, write_evaluation), bytes);
    if (k < kinds::kEvaluationTags.size()) {
      EXPECT_EQ(back.eval(s), e.eval(s));
    }
  }
}

TEST(ProblemState, EveryMoveKindRoundTripsAndDrawsOnAlike) {
  for (const MoveKind kind : kinds::kMoveKinds) {
    SCOPED_TRACE(kinds::name_of(kind));
    MoveType m = kinds::sized_move_type(kind, 9, 5);
    (void)m.get_mov();
    const Bytes bytes = saved(m, write_move_type);
    ByteReader r(bytes);
    MoveType back = read_move_type(r);
    ASSERT_NE(back.simple(), nullptr);
    EXPECT_EQ(move_kind(*back.simple()), kind);
    EXPECT_EQ(saved(back, write_move_type), bytes);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(back.get_mov(), m.get_mov());
  }
}

TEST(ProblemState, FirstFitIsSavedAsTagSevenAndReadBackChecked) {
  const Bytes bytes = saved(Evaluation::bin_packing({3, 5}, 10).value(), write_evaluation);
  EXPECT_EQ(bytes.at(0), 7);
  // Tag, the count of weights (8 bytes), the weights, then the capacity.
  ASSERT_EQ(bytes.size(), 1 + 8 + 2 * 8 + 8);
  Bytes heavy = bytes;
  heavy.at(1 + 8 + 8 + 7) = 0x40;  // the second weight's top byte: 5 becomes 2^... > 10
  heavy.at(1 + 8 + 8 + 6) = 0x60;
  EXPECT_EQ(reason_of(heavy, read_evaluation),
            "weight 1 is 128: weights must be finite, at least 0 and at most the capacity 10");
  Bytes no_room = bytes;
  for (std::size_t k = 0; k < 8; ++k) no_room.at(1 + 8 + 16 + k) = 0;  // capacity 0
  EXPECT_EQ(reason_of(no_room, read_evaluation), "capacity must be finite and positive, got 0");
  EXPECT_EQ(reason_of(Bytes{8}, read_evaluation), "evaluation tag 8 is unknown");
}

TEST(ProblemState, MoveTypeTagsAreFixed) {
  // Saved tags: 0 reverse, 1 swap, 2 swap_tsp, 3 a MultiNeighbor, 4 or_opt; members use the
  // simple tags.
  EXPECT_EQ(saved(MoveType::reverse(1), write_move_type).at(0), 0);
  EXPECT_EQ(saved(MoveType::swap(1), write_move_type).at(0), 1);
  EXPECT_EQ(saved(MoveType::tsp(1), write_move_type).at(0), 2);
  EXPECT_EQ(saved(MoveType::or_opt(1), write_move_type).at(0), 4);
  const MoveType multi = MoveType::multi_neighbor({*MoveType::tsp(3).simple(), *MoveType::reverse(4).simple()}, {{0.25, 2}});
  const Bytes bytes = saved(multi, write_move_type);
  EXPECT_EQ(bytes.at(0), 3);
  EXPECT_EQ(bytes.at(9), 2);       // first member, after the count
  EXPECT_EQ(bytes.at(9 + 21), 0);  // second member
  ByteReader r(bytes);
  const MoveType back = read_move_type(r);
  ASSERT_NE(back.multi(), nullptr);
  EXPECT_EQ(back.multi()->weights, (std::vector<double>{0.25, 2}));
  EXPECT_EQ(saved(back, write_move_type), bytes);

  // A member cannot be a MultiNeighbor, and 5 is no kind yet.
  Bytes nested = bytes;
  nested.at(9) = 3;
  EXPECT_EQ(reason_of(nested, read_move_type), "neighbourhood member tag 3 is unknown");
  EXPECT_EQ(reason_of(Bytes{5}, read_move_type), "move type tag 5 is unknown");
  // An or_opt member reads back as itself.
  const MoveType with_or_opt = MoveType::multi_neighbor({*MoveType::or_opt(5).simple()}, std::nullopt);
  const Bytes member_bytes = saved(with_or_opt, write_move_type);
  EXPECT_EQ(member_bytes.at(9), 4);
  ByteReader member_reader(member_bytes);
  EXPECT_EQ(saved(read_move_type(member_reader), write_move_type), member_bytes);
}

TEST(ProblemState, SolutionsMustBePermutationsOfOneLength) {
  ArrayProblem problem(MoveType::swap(1), Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}})));
  problem.do_mov({0, 2});
  problem.set_best();
  problem.do_mov({0, 1});
  const Bytes bytes = saved(problem, write_array_problem);
  ByteReader r(bytes);
  const ArrayProblem back = read_array_problem(r);
  EXPECT_EQ(std::vector<Word>(back.solution().begin(), back.solution().end()), (std::vector<Word>{1, 2, 0}));
  EXPECT_EQ(std::vector<Word>(back.best_solution().begin(), back.best_solution().end()),
            (std::vector<Word>{2, 1, 0}));

  Bytes repeated = bytes;
  repeated.at(bytes.size() - 24) = 2;  // the current solution 1 2 0 becomes 2 2 0
  EXPECT_EQ(reason_of(repeated, read_array_problem),
            "the current solution is not a permutation of 0..3 - 1: value 2 is repeated at positions 0 and 1");
}

TEST(Permutation, NamesTheFirstFault) {
  const std::vector<std::int64_t> short_one{0, 1};
  EXPECT_EQ(permutation_error(short_one, 3), "the permutation has 2 entries but the problem has 3 positions");
  const std::vector<std::int64_t> negative{0, -1, 1};
  EXPECT_EQ(permutation_error(negative, 3),
            "value at position 1 is out of range: the values must be 0 to 3 - 1");
  const std::vector<std::uint32_t> too_big{0, 3, 3};
  EXPECT_EQ(permutation_error(too_big, 3), "value at position 1 is out of range: the values must be 0 to 3 - 1");
  const std::vector<std::uint32_t> fine{2, 0, 1};
  EXPECT_EQ(permutation_error(fine, 3), std::nullopt);
}

}  // namespace
}  // namespace kestrum
