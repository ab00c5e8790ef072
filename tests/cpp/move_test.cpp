// Tests of the move types: seeded draw sequences, draw order, enumeration and application.
#include "problem/move.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"
#include "kinds.hpp"

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace kestrum {
namespace {

std::vector<Word> iota_array(Word n) {
  std::vector<Word> a(n);
  std::iota(a.begin(), a.end(), 0U);
  return a;
}

MoveType sized(MoveType m, Word n) {
  m.set_size(n);
  return m;
}

std::vector<Move> draws(MoveType& m, int count) {
  std::vector<Move> out;
  for (int k = 0; k < count; ++k) out.push_back(m.get_mov());
  return out;
}

const Xoshiro128pp& rng_of(const MoveType& m) {
  if (m.simple() == nullptr) throw std::logic_error("no generator");
  return std::visit([](const auto& k) -> const Xoshiro128pp& { return k.rng; }, *m.simple());
}

class SimpleKinds : public ::testing::TestWithParam<MoveKind> {
 protected:
  static MoveType make(std::optional<std::uint64_t> seed) { return kinds::move_type(GetParam(), seed); }
};
INSTANTIATE_TEST_SUITE_P(MoveType, SimpleKinds, ::testing::ValuesIn(kinds::kMoveKinds),
                         [](const auto& info) { return std::string(kinds::name_of(info.param)); });

TEST(MoveType, SeedZeroSequencesAtSizeTen) {
  const std::vector<Move> any_pair{{4, 5}, {3, 5}, {1, 8}, {3, 8}, {1, 3}, {8, 9}};
  const std::vector<Move> after_start{{4, 6}, {2, 8}, {2, 8}, {6, 9}, {3, 8}, {5, 9}};
  MoveType reverse = sized(MoveType::reverse(0), 10);
  MoveType swap = sized(MoveType::swap(0), 10);
  MoveType tsp = sized(MoveType::tsp(0), 10);
  EXPECT_EQ(draws(reverse, 6), any_pair);
  EXPECT_EQ(draws(swap, 6), any_pair);
  EXPECT_EQ(draws(tsp, 6), after_start);
}

TEST_P(SimpleKinds, DrawsAreOrderedAndInRange) {
  const Word first = geometry(GetParam()).first_position;
  for (Word n : {3U, 4U, 5U, 17U, 1000U}) {
    MoveType m = sized(make(n), n);
    for (int k = 0; k < 500; ++k) {
      const Move mv = m.get_mov();
      ASSERT_LT(mv.i, mv.j);
      ASSERT_LT(mv.j, n);
      ASSERT_GE(mv.i, first);
    }
  }
}

TEST_P(SimpleKinds, SameSeedAndReseedGiveTheSameSequence) {
  MoveType a = sized(make(42), 12);
  MoveType b = sized(make(42), 12);
  MoveType c = sized(make(7), 12);
  (void)draws(c, 3);
  c.set_seed(42);
  const auto expected = draws(a, 20);
  EXPECT_EQ(draws(b, 20), expected);
  EXPECT_EQ(draws(c, 20), expected);
}

TEST_P(SimpleKinds, CopyContinuesFromThePointOfCopying) {
  MoveType original = sized(make(3), 9);
  (void)draws(original, 4);
  MoveType copy = original;
  const auto from_original = draws(original, 10);
  EXPECT_EQ(draws(copy, 10), from_original);
}

TEST_P(SimpleKinds, UnseededCopiesAgreeAndConstructionsDiffer) {
  MoveType a = sized(make(std::nullopt), 50);
  MoveType b = a;
  EXPECT_EQ(draws(a, 10), draws(b, 10));
  EXPECT_NE(rng_of(make(std::nullopt)).state(),
            rng_of(make(std::nullopt)).state());
}

TEST_P(SimpleKinds, SizeNeverSetMeansEmptyRange) {
  MoveType m = make(0);
  EXPECT_EQ(fatal_message_of([&] { (void)m.get_mov(); }), "cannot sample empty range");
}

// Where the empty range is met: (size, draws consumed before the stop), for each kind.
struct EmptyRangeCase {
  const char* kind;
  Word size;
  int ranges_before_stop;  // ranges successfully drawn before the empty one
  Word first_lo;
};

class EmptyRangeDraw : public ::testing::TestWithParam<EmptyRangeCase> {};
INSTANTIATE_TEST_SUITE_P(MoveType, EmptyRangeDraw,
                         ::testing::Values(EmptyRangeCase{"reverse", 0, 0, 0},
                                           EmptyRangeCase{"reverse", 1, 1, 0},
                                           EmptyRangeCase{"swap", 0, 0, 0},
                                           EmptyRangeCase{"swap", 1, 1, 0},
                                           EmptyRangeCase{"swap_tsp", 0, 0, 1},
                                           EmptyRangeCase{"swap_tsp", 1, 0, 1},
                                           EmptyRangeCase{"swap_tsp", 2, 1, 1}),
                         [](const auto& info) {
                           return std::string(info.param.kind) + "_size" +
                                  std::to_string(info.param.size);
                         });

TEST_P(EmptyRangeDraw, StopsAtTheStatedDrawAfterConsumingTheEarlierOnes) {
  const auto& p = GetParam();
  MoveType m = std::string(p.kind) == "reverse" ? MoveType::reverse(11)
               : std::string(p.kind) == "swap"  ? MoveType::swap(11)
                                                : MoveType::tsp(11);
  m.set_size(p.size);
  EXPECT_EQ(fatal_message_of([&] { (void)m.get_mov(); }), "cannot sample empty range");
  Xoshiro128pp expected = Xoshiro128pp::from_seed(11);
  if (p.ranges_before_stop == 1) (void)expected.range(p.first_lo, p.size);
  EXPECT_EQ(rng_of(m).state(), expected.state());
}

TEST(MoveType, SizeTwoAlwaysGivesTheOnlyPairAndEnds) {
  for (std::uint64_t seed = 0; seed < 300; ++seed) {
    MoveType reverse = sized(MoveType::reverse(seed), 2);
    MoveType swap = sized(MoveType::swap(seed), 2);
    for (int k = 0; k < 5; ++k) {
      ASSERT_EQ(reverse.get_mov(), (Move{0, 1})) << "seed " << seed;
      ASSERT_EQ(swap.get_mov(), (Move{0, 1})) << "seed " << seed;
    }
  }
}

TEST(MoveType, SwapTspSizeThreeAlwaysGivesOneTwo) {
  for (std::uint64_t seed = 0; seed < 300; ++seed) {
    MoveType tsp = sized(MoveType::tsp(seed), 3);
    for (int k = 0; k < 5; ++k) ASSERT_EQ(tsp.get_mov(), (Move{1, 2})) << "seed " << seed;
  }
}

TEST(MoveType, EnumerationOrders) {
  const std::vector<Move> any_pair{{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  const std::vector<Move> after_start{{1, 2}, {1, 3}, {2, 3}};
  EXPECT_EQ(sized(MoveType::reverse(0), 4).get_all_mov(), any_pair);
  EXPECT_EQ(sized(MoveType::swap(0), 4).get_all_mov(), any_pair);
  EXPECT_EQ(sized(MoveType::tsp(0), 4).get_all_mov(), after_start);
}

TEST(MoveType, EnumerationCountsAndSmallSizes) {
  struct Row {
    Word n;
    std::size_t any_pair;
    std::size_t after_start;
  };
  for (const Row& r : {Row{0, 0, 0}, Row{1, 0, 0}, Row{2, 1, 0}, Row{3, 3, 1}, Row{10, 45, 36}}) {
    EXPECT_EQ(sized(MoveType::reverse(0), r.n).get_all_mov().size(), r.any_pair) << r.n;
    EXPECT_EQ(sized(MoveType::swap(0), r.n).get_all_mov().size(), r.any_pair) << r.n;
    EXPECT_EQ(sized(MoveType::tsp(0), r.n).get_all_mov().size(), r.after_start) << r.n;
  }
}


TEST(MoveType, DoMoveExamples) {
  struct Row {
    MoveType m;
    Word i, j;
    std::vector<Word> expected;
  };
  const Row rows[] = {
      {MoveType::reverse(0), 1, 4, {0, 4, 3, 2, 1, 5}},
      {MoveType::swap(0), 1, 4, {0, 4, 2, 3, 1, 5}},
      {MoveType::tsp(0), 1, 4, {0, 4, 2, 3, 1, 5}},
      {MoveType::reverse(0), 0, 5, {5, 4, 3, 2, 1, 0}},
      {MoveType::reverse(0), 2, 3, {0, 1, 3, 2, 4, 5}},
      {MoveType::reverse(0), 3, 3, {0, 1, 2, 3, 4, 5}},
      {MoveType::swap(0), 2, 2, {0, 1, 2, 3, 4, 5}},
      {MoveType::tsp(0), 0, 5, {5, 1, 2, 3, 4, 0}},  // applying does not guard position 0
  };
  for (const Row& r : rows) {
    auto a = iota_array(6);
    r.m.do_move(a, r.i, r.j);
    EXPECT_EQ(a, r.expected) << r.i << "," << r.j;
    r.m.do_move(a, r.i, r.j);  // each move is its own inverse
    EXPECT_EQ(a, iota_array(6));
  }
}

TEST(MoveType, DoMoveOutOfRangeNamesTheFirstBadIndexAndChangesNothing) {
  struct Row {
    MoveType m;
    Word i, j;
    const char* message;
  };
  const Row rows[] = {
      {MoveType::swap(0), 2, 7, "index out of bounds: the len is 5 but the index is 7"},
      {MoveType::swap(0), 6, 9, "index out of bounds: the len is 5 but the index is 6"},
      {MoveType::tsp(0), 1, 5, "index out of bounds: the len is 5 but the index is 5"},
      {MoveType::reverse(0), 1, 7, "index out of bounds: the len is 5 but the index is 7"},
      {MoveType::reverse(0), 6, 8, "index out of bounds: the len is 5 but the index is 6"},
      {MoveType::reverse(0), 0, kWordMax,
       "index out of bounds: the len is 5 but the index is 4294967295"},
  };
  for (const Row& r : rows) {
    auto a = iota_array(5);
    EXPECT_EQ(fatal_message_of([&] { r.m.do_move(a, r.i, r.j); }), r.message);
    EXPECT_EQ(a, iota_array(5));
  }
}

TEST(MoveType, ReverseOfASinglePositionChecksNothing) {
  // A run of one position has no pair to exchange, so even a position past the end is a no-op.
  auto a = iota_array(5);
  MoveType::reverse(0).do_move(a, 5, 5);
  EXPECT_EQ(a, iota_array(5));
}

TEST(MoveType, ReverseRefusesAnInvertedRunBeforeTouchingTheArray) {
  auto a = iota_array(5);
  const MoveType m = MoveType::reverse(0);
  EXPECT_EQ(fatal_message_of([&] { m.do_move(a, 3, 1); }),
            "reverse needs i <= j, got i = 3 and j = 1");
  EXPECT_EQ(a, iota_array(5));
}

TEST(MultiNeighbor, DefaultWeightsAreEqualShares) {
  const MoveType m = MoveType::multi_neighbor(
      {SimpleMoveType(std::in_place_type<Swap>, Xoshiro128pp::from_seed(1), 0),
       SimpleMoveType(std::in_place_type<Reverse>, Xoshiro128pp::from_seed(2), 0),
       SimpleMoveType(std::in_place_type<SwapTsp>, Xoshiro128pp::from_seed(3), 0)},
      std::nullopt);
  const auto& multi = std::get<MultiNeighbor>(m.kind());
  EXPECT_EQ(multi.weights, std::vector<double>(3, 1.0 / 3.0));
  EXPECT_TRUE(std::get<MultiNeighbor>(MoveType::multi_neighbor({}, std::nullopt).kind())
                  .weights.empty());
  const std::vector<double> given{5.0, -1.0};
  EXPECT_EQ(std::get<MultiNeighbor>(MoveType::multi_neighbor({}, given).kind()).weights, given);
}

TEST(MultiNeighbor, RefusesTheSingleMoveOperations) {
  MoveType m = MoveType::multi_neighbor({}, std::nullopt);
  auto a = iota_array(4);
  EXPECT_TRUE(m.is_multi_neighbor());
  EXPECT_EQ(fatal_message_of([&] { (void)m.get_mov(); }), "MultiNeighbor doesn't support get_move");
  EXPECT_EQ(fatal_message_of([&] { (void)m.get_all_mov(); }),
            "MultiNeighbor doesn't support get_all_mov");
  EXPECT_EQ(fatal_message_of([&] { m.do_move(a, 0, 1); }), "MultiNeighbor doesn't support do_move");
}

TEST(MultiNeighbor, SeedAndSizeReachEveryMember) {
  MoveType m = MoveType::multi_neighbor(
      {SimpleMoveType(std::in_place_type<Swap>, Xoshiro128pp::from_seed(1), 0),
       SimpleMoveType(std::in_place_type<Reverse>, Xoshiro128pp::from_seed(2), 0),
       SimpleMoveType(std::in_place_type<SwapTsp>, Xoshiro128pp::from_seed(3), 0)},
      std::nullopt);
  m.set_seed(0);
  m.set_size(10);
  auto& members = std::get<MultiNeighbor>(m.kind()).move_array;
  std::vector<Move> from_members;
  for (SimpleMoveType& s : members) from_members.push_back(get_mov(s));
  // Every member restarted from seed 0, so each gives its kind's first seed-0 move.
  EXPECT_EQ(from_members, (std::vector<Move>{{4, 5}, {4, 5}, {4, 6}}));
  for (SimpleMoveType& s : members) {
    EXPECT_EQ(get_all_mov(s).size(), std::holds_alternative<SwapTsp>(s) ? 36U : 45U);
  }
}

TEST(SimpleMoveType, FreeOperationsMatchTheWrappedMoveType) {
  SimpleMoveType simple(std::in_place_type<Reverse>, Xoshiro128pp::from_seed(0), 0);
  set_size(simple, 10);
  MoveType wrapped(simple);
  ASSERT_NE(wrapped.simple(), nullptr);
  EXPECT_EQ(move_kind(*wrapped.simple()), MoveKind::kReverse);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(get_mov(simple), wrapped.get_mov());
  EXPECT_EQ(get_all_mov(simple), wrapped.get_all_mov());
  auto a = iota_array(6);
  do_move(simple, a, 1, 4);
  EXPECT_EQ(a, (std::vector<Word>{0, 4, 3, 2, 1, 5}));
  set_seed(simple, 0);
  EXPECT_EQ(get_mov(simple), (Move{4, 5}));
}

// Each kind's geometry, checked against what its moves do to an array: the positions a
// move of the kind never touches, the rearrangement, and that its inverse gives the array
// back.
TEST(MoveGeometry, DescribesWhatTheMovesDo) {
  for (const MoveKind kind : kinds::kMoveKinds) {
    const MoveType mt = kinds::sized_move_type(kind, 7, 1);
    const MoveGeometry g = geometry(kind);
    for (const Move m : mt.get_all_mov()) {
      EXPECT_GE(m.i, g.first_position);
      auto a = iota_array(7);
      mt.do_move(a, m);
      for (Word p = 0; p < 7; ++p) {
        if (g.rearrangement == Rearrangement::kSegment) {
          // Segment moves keep every position outside the run and change both of its ends
          // (or_opt_test.cpp has the worked examples).
          const bool end = p == m.i || p == m.j;
          const bool outside = p < m.i || p > m.j;
          if (outside) {
            EXPECT_EQ(a[p], p);
          }
          if (end) {
            EXPECT_NE(a[p], p);
          }
          continue;
        }
        const bool inside = g.rearrangement == Rearrangement::kReverse ? (m.i <= p && p <= m.j) : (p == m.i || p == m.j);
        const Word expected = inside ? m.i + m.j - p : p;  // both read their partner position
        EXPECT_EQ(a[p], expected) << kinds::name_of(kind) << " " << m.i << "," << m.j << " at " << p;
      }
      const Move back = inverse(g.rearrangement, m);
      mt.do_move(a, back);
      EXPECT_EQ(a, iota_array(7));
    }
  }
  EXPECT_EQ(geometry(MoveKind::kSwapTsp).first_position, 1U);
}

// The row counts a scan's stop is told, the move count and get_all_mov agree for every kind;
// only the pair kinds list every pair.
TEST(MoveGeometry, RowCountsAgreeWithTheListedMoves) {
  for (const MoveKind kind : {MoveKind::kReverse, MoveKind::kSwap, MoveKind::kSwapTsp, MoveKind::kOrOpt}) {
    const MoveGeometry& g = geometry(kind);
    EXPECT_EQ(all_pairs(g), kind != MoveKind::kOrOpt);
    for (Word n = 0; n <= 12; ++n) {
      MoveType mt = kind == MoveKind::kReverse ? MoveType::reverse(1)
                    : kind == MoveKind::kSwap  ? MoveType::swap(1)
                    : kind == MoveKind::kSwapTsp ? MoveType::tsp(1)
                                                 : MoveType::or_opt(1);
      mt.set_size(n);
      const std::vector<Move> all = mt.get_all_mov();
      EXPECT_EQ(all.size(), move_count(g, n)) << static_cast<int>(kind) << " n=" << n;
      for (std::size_t i = g.first_position; i + 1 < n; ++i) {
        const auto in_row = std::count_if(all.begin(), all.end(), [&](Move m) { return m.i == i; });
        EXPECT_EQ(static_cast<std::size_t>(in_row), moves_in_row(g, i, n)) << static_cast<int>(kind) << " row " << i;
      }
    }
  }
  EXPECT_EQ(move_count(geometry(MoveKind::kOrOpt), 9), 201U);
  EXPECT_EQ(move_count(geometry(MoveKind::kSwapTsp), 9), 28U);
}

}  // namespace
}  // namespace kestrum
