// Tests of the evaluation functions: hand-worked scores, failure messages, and deltas
// against the change of eval and against a literal apply-measure-undo computation.
#include "problem/evaluation.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"
#include "kinds.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "support/fatal.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;
using Solution = std::vector<Word>;

std::string index_message(std::size_t len, std::size_t index) {
  return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
         std::to_string(index);
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

Solution random_permutation(std::mt19937_64& gen, std::size_t n) {
  Solution s(n);
  for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<Word>(k);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

MoveType sized(MoveType mt, Word n) {
  mt.set_size(n);
  return mt;
}

double delta(const Evaluation& e, Move m, const MoveType& mt, Solution s) {
  const Solution before = s;
  const double d = e.delta_eval(m, mt, s);
  EXPECT_EQ(s, before);
  return d;
}

// ---------------------------------------------------------------------------------------
// Matrix

TEST(MatrixTest, FlatDataIsSplitByRowLengths) {
  const std::vector<std::size_t> lengths{2, 1, 3};
  const Matrix flat(std::vector<double>{1, 2, 3, 4, 5, 6}, lengths);
  EXPECT_EQ(flat.to_rows(), (Rows{{1, 2}, {3}, {4, 5, 6}}));
  EXPECT_FALSE(flat.is_square());
  EXPECT_TRUE(Matrix(Rows{{1, 2}, {3, 4}}).is_square());
  EXPECT_EQ(Matrix(Rows{{1, 2}, {3, 4}}).fast(1, 0), 3.0);
}

// A shape costs nothing by itself: a matrix of many empty rows holds no per-row data, and
// reads from it fail with the index message of an empty row.
TEST(MatrixTest, ARectangularMatrixIsItsShape) {
  const Matrix wide(std::vector<double>{1, 2, 3, 4, 5, 6}, 2, 3);
  EXPECT_EQ(wide.to_rows(), (Rows{{1, 2, 3}, {4, 5, 6}}));
  EXPECT_TRUE(wide.is_rectangular());
  EXPECT_FALSE(wide.is_square());
  EXPECT_EQ(wide.fast(1, 0), 4.0);
  EXPECT_EQ(fatal_message_of([&] { (void)wide.at(0, 3); }), index_message(3, 3));
  EXPECT_TRUE(wide.covers(2));
  EXPECT_FALSE(wide.covers(3));

  const std::size_t many = std::size_t{1} << 40;
  const Matrix empty_rows(std::vector<double>{}, many, 0);
  EXPECT_EQ(empty_rows.rows(), many);
  EXPECT_EQ(empty_rows.row_len(many - 1), 0U);
  EXPECT_EQ(fatal_message_of([&] { (void)empty_rows.at(7, 0); }), index_message(0, 0));
  EXPECT_FALSE(empty_rows.covers(many));
  EXPECT_NE(fatal_message_of([] { Matrix(std::vector<double>{1, 2, 3}, 2, 2); }), "<no fatal stop>");
  EXPECT_NE(fatal_message_of([] { Matrix(std::vector<double>{}, many, many); }), "<no fatal stop>");

  // Rows of equal length from sequences are stored the same way; ragged ones keep offsets.
  const std::vector<std::size_t> lengths{2, 2};
  EXPECT_TRUE(Matrix(std::vector<double>{1, 2, 3, 4}, lengths).is_square());
  EXPECT_TRUE(Matrix(Rows{{1, 2, 9}, {3, 4, 9}}).is_rectangular());
  EXPECT_FALSE(Matrix(Rows{{1, 2}, {3, 4, 9}}).is_rectangular());
  EXPECT_TRUE(Matrix(Rows{{1, 2}, {3, 4, 9}}).covers(2));
  EXPECT_FALSE(Matrix(Rows{{1, 2, 7}, {3}}).covers(2));
}

TEST(MatrixTest, ReadsCheckTheRowThenTheColumn) {
  const Matrix ragged(Rows{{1, 2}, {3}});
  EXPECT_EQ(fatal_message_of([&] { (void)ragged.at(2, 0); }), index_message(2, 2));
  EXPECT_EQ(fatal_message_of([&] { (void)ragged.at(5, 9); }), index_message(2, 5));
  EXPECT_EQ(fatal_message_of([&] { (void)ragged.at(1, 1); }), index_message(1, 1));
  const Matrix square(Rows{{1, 2}, {3, 4}});
  EXPECT_EQ(fatal_message_of([&] { (void)square.at(0, 2); }), index_message(2, 2));
  const std::vector<std::size_t> lengths{2, 2};
  EXPECT_NE(fatal_message_of([&] { Matrix(std::vector<double>{1, 2, 3}, lengths); }),
            "<no fatal stop>");
}

// ---------------------------------------------------------------------------------------
// Hand-worked scores

struct ScoreCase {
  std::string name;
  Evaluation evaluation;
  Solution solution;
  double expected;
};

class ScoreTest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreTest, EvalGivesTheHandWorkedScore) {
  const ScoreCase& c = GetParam();
  EXPECT_EQ(c.evaluation.eval(c.solution), c.expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Kinds, ScoreTest,
    testing::Values(
        // 3 + 4 = 7 still fits a bin of 7; 5 opens the second.
        ScoreCase{"bins_exact_fit", Evaluation::empty_bins({3, 4, 5}, 7), {0, 1, 2}, 1.0},
        ScoreCase{"space_exact_fit", Evaluation::empty_space({3, 4, 5}, 7), {0, 1, 2}, 2.0},
        ScoreCase{"space_exp_exact_fit", Evaluation::empty_space_exp({3, 4, 5}, 7), {0, 1, 2}, 4.0},
        // An item heavier than a bin closes the empty first bin.
        ScoreCase{"bins_heavy_first", Evaluation::empty_bins({9}, 7), {0}, 1.0},
        ScoreCase{"space_heavy_first", Evaluation::empty_space({9}, 7), {0}, 5.0},
        ScoreCase{"space_exp_heavy_first", Evaluation::empty_space_exp({9}, 7), {0}, 53.0},
        ScoreCase{"bins_empty", Evaluation::empty_bins({}, 7), {}, 0.0},
        ScoreCase{"space_empty", Evaluation::empty_space({}, 7), {}, 7.0},
        ScoreCase{"space_exp_empty", Evaluation::empty_space_exp({}, 7), {}, 49.0},
        // A NaN fill never exceeds the capacity, so no bin is ever counted.
        ScoreCase{"bins_nan_weight", Evaluation::empty_bins({kNaN, 9}, 7), {0, 1}, 0.0},
        ScoreCase{"tsp_triangle", Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}})),
                  {0, 1, 2}, 6.0},
        ScoreCase{"tsp_one_city", Evaluation::tsp(Matrix(Rows{{4}})), {0}, 4.0},
        ScoreCase{"tsp_asymmetric",
                  Evaluation::tsp(Matrix(Rows{{0, 1, 2, 3}, {4, 0, 5, 6}, {7, 8, 0, 9}, {1, 2, 3, 0}})),
                  {3, 0, 1, 2}, 16.0},
        ScoreCase{"qap_pair", Evaluation::qap(Matrix(Rows{{0, 1}, {1, 0}}), Matrix(Rows{{0, 5}, {5, 0}})),
                  {0, 1}, 5.0},
        // Only pairs a < b: 2 * F[1][0] = 8, the lower triangle of D is never read.
        ScoreCase{"qap_upper_triangle",
                  Evaluation::qap(Matrix(Rows{{0, 2}, {3, 0}}), Matrix(Rows{{0, 1}, {4, 0}})), {1, 0},
                  8.0},
        ScoreCase{"qap_empty", Evaluation::qap(Matrix(), Matrix()), {}, 0.0}),
    [](const testing::TestParamInfo<ScoreCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// First fit

Evaluation packing(std::vector<double> weights, double capacity) {
  Result<Evaluation> e = Evaluation::bin_packing(std::move(weights), capacity);
  if (!e.ok()) throw std::runtime_error(e.error().text);
  return std::move(e).value();
}

TEST(FirstFitTest, HandWorkedPackings) {
  // [5 5] [4 6]: 2 - (1 + 1) / 2.
  EXPECT_EQ(packing({5, 5, 4, 6}, 10).eval(Solution{0, 1, 2, 3}), 1.0);
  // [5 4] [5] [6]: 6 cannot go back into the first bin (9 + 6 > 10), nor the second.
  const double r9 = 9.0 / 10, r5 = 5.0 / 10, r6 = 6.0 / 10;
  EXPECT_EQ(packing({5, 5, 4, 6}, 10).eval(Solution{0, 2, 1, 3}), 3.0 - (r9 * r9 + r5 * r5 + r6 * r6) / 3.0);
  // First fit, not next fit: 3 goes back into the first bin after the 8 opened the second.
  // Bins [6 3] [8 2]: 2 - (0.81 + 1) / 2.
  EXPECT_EQ(packing({6, 8, 3, 2}, 10).eval(Solution{0, 1, 2, 3}), 2.0 - (r9 * r9 + 1.0) / 2.0);
  EXPECT_EQ(packing({}, 10).eval(Solution{}), 0.0);
  // Zero weights join the first bin, or open one of fill 0.
  EXPECT_EQ(packing({0, 0}, 1).eval(Solution{1, 0}), 1.0);
  EXPECT_EQ(packing({0, 1, 0}, 1).eval(Solution{1, 0, 2}), 0.0);
}

TEST(FirstFitTest, FewerBinsAlwaysScoreLower) {
  // Any packing of b bins scores in [b - 1, b), so one bin fewer always wins.
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> weight(0.01, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> w(1 + trial % 23);
    for (double& x : w) x = weight(gen);
    const Evaluation e = packing(w, 1.0);
    const Solution s = random_permutation(gen, w.size());
    const double score = e.eval(s);
    const double bins = std::ceil(score);
    EXPECT_GT(score, bins - 1.0);
    EXPECT_LE(score, bins);
  }
}

TEST(FirstFitTest, RefusesNamingTheValue) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<Result<Evaluation>, std::string>> cases = {
      {Evaluation::bin_packing({1}, 0), "capacity must be finite and positive, got 0"},
      {Evaluation::bin_packing({1}, -2.5), "capacity must be finite and positive, got -2.5"},
      {Evaluation::bin_packing({1}, kNaN), "capacity must be finite and positive, got nan"},
      {Evaluation::bin_packing({1}, inf), "capacity must be finite and positive, got inf"},
      {Evaluation::bin_packing({1, -1}, 10),
       "weight 1 is -1: weights must be finite, at least 0 and at most the capacity 10"},
      {Evaluation::bin_packing({1, 2, 10.5}, 10),
       "weight 2 is 10.5: weights must be finite, at least 0 and at most the capacity 10"},
      {Evaluation::bin_packing({kNaN}, 10),
       "weight 0 is nan: weights must be finite, at least 0 and at most the capacity 10"},
      {Evaluation::bin_packing({-inf}, 10),
       "weight 0 is -inf: weights must be finite, at least 0 and at most the capacity 10"},
  };
  for (const auto& [result, message] : cases) {
    ASSERT_FALSE(result.ok()) << message;
    EXPECT_EQ(result.error().text, message);
  }
  EXPECT_TRUE(Evaluation::bin_packing({0, 10}, 10).ok());
}

TEST(FirstFitTest, ReadsAndMovesStopAsEvalDoes) {
  const Evaluation e = packing({1, 2}, 3);
  EXPECT_EQ(fatal_message_of([&] { (void)e.eval(Solution{0, 2}); }),
            "index out of bounds: the len is 2 but the index is 2");
  Solution s{0, 1, 2};
  const MoveType swap = sized(MoveType::swap(1), 3);
  EXPECT_EQ(fatal_message_of([&] { (void)e.delta_eval(Move{0, 1}, swap, s); }),
            "index out of bounds: the len is 2 but the index is 2");
  Solution t{0, 1};
  EXPECT_EQ(fatal_message_of([&] { (void)e.delta_eval(Move{0, 5}, swap, t); }),
            "index out of bounds: the len is 2 but the index is 5");
  const MoveType multi =
      MoveType::multi_neighbor({*MoveType::swap(1).simple(), *MoveType::reverse(1).simple()}, std::nullopt);
  EXPECT_EQ(fatal_message_of([&] { (void)e.delta_eval(Move{0, 1}, multi, t); }),
            "MultiNeighbor doesn't support do_move");
}

TEST(FirstFitTest, LongRunsDeltaAsEvalOnWholeAndFractionalWeights) {
  // Long enough for the tree to have several levels, and for moved runs both to rejoin the
  // original (whole weights) and to run to the end; each delta exactly eval's difference,
  // including after a solution changes under the thread's recorded run.
  std::mt19937_64 gen(5);
  for (const bool whole : {true, false}) {
    const std::size_t n = 300;
    std::vector<double> w(n);
    for (double& x : w) {
      x = whole ? static_cast<double>(std::uniform_int_distribution<int>(20, 100)(gen))
                : std::uniform_real_distribution<double>(0.2, 1.0)(gen);
    }
    const Evaluation e = packing(w, whole ? 150.0 : 1.5);
    std::vector<MoveType> kinds{sized(MoveType::swap(1), n), sized(MoveType::reverse(1), n),
                                      sized(MoveType::or_opt(1), n)};
    Solution s = random_permutation(gen, n);
    std::size_t zeros = 0;
    for (int step = 0; step < 600; ++step) {
      MoveType& mt = kinds[static_cast<std::size_t>(step) % kinds.size()];
      const Move m = mt.get_mov();
      const double d = e.delta_eval(m, mt, s);
      Solution moved = s;
      mt.do_move(moved, m);
      const double change = e.eval(moved) - e.eval(s);
      ASSERT_TRUE(same_bits(d, change)) << whole << " step " << step << ": " << d << " vs " << change;
      zeros += d == 0.0 ? 1 : 0;
      if (step % 7 == 0) s = moved;
    }
    if (whole) {
      EXPECT_GT(zeros, 0U);
    }
  }
}

TEST(FirstFitTest, RunsKeepingManyBinsOpenDeltaAsEval) {
  // Items that pair with nothing but a light one: while the light item is still to come
  // every bin stays open, so the runs before it keep more bins open than a short list holds,
  // and a move that carries the light item from the front to later (swap(0, n - 1) from the
  // order with it first) makes a run whose bins stay open only once it has started.
  std::mt19937_64 gen(11);
  const std::size_t n = 300;
  for (const double light : {0.01, 0.0}) {
    std::vector<double> w(n);
    for (double& x : w) x = std::uniform_real_distribution<double>(0.51, 0.6)(gen);
    w[0] = light;
    const Evaluation e = packing(w, 1.0);
    std::vector<MoveType> kinds{sized(MoveType::swap(2), n), sized(MoveType::reverse(2), n),
                                sized(MoveType::or_opt(2), n), sized(MoveType::tsp(2), n)};
    Solution light_first(n);
    for (std::size_t k = 0; k < n; ++k) light_first[k] = static_cast<Word>(k);
    for (Solution s : {light_first, random_permutation(gen, n)}) {
      std::vector<Move> moves{Move{0, static_cast<Word>(n - 1)}, Move{0, 1}, Move{1, static_cast<Word>(n - 1)}};
      for (int k = 0; k < 40; ++k) moves.push_back(kinds[1].get_mov());
      for (const Move m : moves) {
        Solution moved = s;
        kinds[0].do_move(moved, m);
        ASSERT_TRUE(same_bits(e.delta_eval(m, kinds[0], s), e.eval(moved) - e.eval(s)))
            << light << ": swap(" << m.i << "," << m.j << ")";
      }
      for (MoveType& mt : kinds) {
        for (int k = 0; k < 40; ++k) {
          const Move m = mt.get_mov();
          Solution moved = s;
          mt.do_move(moved, m);
          ASSERT_TRUE(same_bits(e.delta_eval(m, mt, s), e.eval(moved) - e.eval(s))) << light;
        }
      }
    }
    // With the light item first, every bin but the first holds one item.
    EXPECT_EQ(std::floor(e.eval(light_first)), static_cast<double>(n - 2));
  }
}

TEST(EvaluationTest, NaNWeightsPropagateIntoSpaceScores) {
  EXPECT_TRUE(std::isnan(Evaluation::empty_space({kNaN, 1}, 7).eval(Solution{0, 1})));
  EXPECT_TRUE(std::isnan(Evaluation::tsp(Matrix(Rows{{0, kNaN}, {1, 0}})).eval(Solution{0, 1})));
}

// ---------------------------------------------------------------------------------------
// Symmetric flags

struct FlagCase {
  std::string name;
  Rows rows;
  bool symmetric;
};

class TourFlagTest : public testing::TestWithParam<FlagCase> {};

TEST_P(TourFlagTest, FlagFollowsTheLowerTriangleWalk) {
  const Evaluation e = Evaluation::tsp(Matrix(GetParam().rows));
  EXPECT_EQ(std::get<Tsp>(e.kind()).symmetric, GetParam().symmetric);
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, TourFlagTest,
    testing::Values(FlagCase{"mirrored", {{0, 1}, {1, 0}}, true},
                    FlagCase{"skewed", {{0, 1}, {2, 0}}, false},
                    FlagCase{"empty", {}, true},
                    FlagCase{"single", {{5}}, true},
                    // Entry (1, 0) is all the walk needs from the short second row.
                    FlagCase{"short_last_row", {{0, 1}, {1}}, true},
                    FlagCase{"nan_pair", {{0, kNaN}, {kNaN, 0}}, false},
                    // The diagonal is never compared.
                    FlagCase{"nan_diagonal", {{kNaN, 1}, {1, kNaN}}, true},
                    FlagCase{"signed_zeros", {{0, -0.0}, {0.0, 0}}, true}),
    [](const testing::TestParamInfo<FlagCase>& info) { return info.param.name; });

TEST(TourFlagTest, RaggedRowsStopTheWalkWithTheShortRowsLength) {
  // Row 0 lacks column 1 for the pair (1, 0).
  EXPECT_EQ(fatal_message_of([] { (void)Evaluation::tsp(Matrix(Rows{{0}, {1, 0}})); }),
            index_message(1, 1));
  // Pair (2, 1): row 2 has a single entry, so column 1 is missing there first.
  EXPECT_EQ(fatal_message_of([] { (void)Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2}})); }),
            index_message(1, 1));
  // The walk stops at the first unequal pair, before reaching the short row.
  EXPECT_FALSE(std::get<Tsp>(Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {9, 0, 3}, {2}})).kind()).symmetric);
}

// Large square matrices are compared tile by tile: every off-diagonal pair, across tile
// borders and in the ragged last tile, must still be seen.
TEST(TspFlagTest, EveryPairOfALargeMatrixIsCompared) {
  for (std::size_t n : {31U, 32U, 33U, 70U}) {
    Rows d(n, std::vector<double>(n, 0.0));
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < a; ++b) d[a][b] = d[b][a] = static_cast<double>(a * n + b);
    }
    EXPECT_TRUE(std::get<Tsp>(Evaluation::tsp(Matrix(d)).kind()).symmetric) << n;
    for (std::size_t a = 1; a < n; ++a) {
      for (std::size_t b = 0; b < a; ++b) {
        Rows e = d;
        e[b][a] += 1.0;
        ASSERT_FALSE(std::get<Tsp>(Evaluation::tsp(Matrix(e)).kind()).symmetric) << n << " " << a << " " << b;
      }
    }
    d[n - 1][0] = std::nan("");
    d[0][n - 1] = std::nan("");
    EXPECT_FALSE(std::get<Tsp>(Evaluation::tsp(Matrix(d)).kind()).symmetric);
  }
}

TEST(QapFlagTest, TheBlocksTheScoreReadsMustBeMirrored) {
  const Rows sym{{0, 1}, {1, 0}};
  const Rows skew{{0, 1}, {2, 0}};
  auto flag = [](const Rows& d, const Rows& f) {
    return std::get<Qap>(Evaluation::qap(Matrix(d), Matrix(f)).kind()).symmetric;
  };
  EXPECT_TRUE(flag(sym, sym));
  EXPECT_FALSE(flag(sym, skew));
  EXPECT_FALSE(flag(skew, sym));
  // A missing entry of the block: not symmetric (the exact route reports the read).
  EXPECT_FALSE(flag(sym, {{0, 1}, {1}}));
  EXPECT_FALSE(flag(sym, {{0, 1}}));
  // Entries beyond the n x n blocks are never read, whatever they hold.
  EXPECT_TRUE(flag({{0}}, {{1, 2, 3}}));
  EXPECT_TRUE(flag({{0, 1}, {1, 0, 7}}, sym));
  EXPECT_TRUE(flag(sym, {{0, 1, 9}, {1, 0}, {5, 6, 7}}));
  EXPECT_FALSE(flag({{0, 1, 9}, {2, 0}}, {{0, 1}, {1, 0}, {5}}));
}

// Padding around the block, in any shape, changes no delta: the same formula is taken and
// gives the same bits. Float data where the two formulas round differently.
TEST(QapFlagTest, PaddedDataScoresLikeSquareData) {
  const Rows d{{0, .1, .1}, {.1, 0, .1}, {.1, .1, 0}};
  const Rows f{{0, .1, .2}, {.1, 0, .7}, {.2, .7, 0}};
  Rows d_long_row = d;
  d_long_row[2].push_back(0.0);
  Rows d_wide = d;
  for (auto& row : d_wide) row.push_back(3.5);
  Rows f_extra_row = f;
  f_extra_row.push_back({1, 2, 3});
  const Evaluation square = Evaluation::qap(Matrix(d), Matrix(f));
  const std::vector<Evaluation> padded{Evaluation::qap(Matrix(d_long_row), Matrix(f)),
                                       Evaluation::qap(Matrix(d_wide), Matrix(f)),
                                       Evaluation::qap(Matrix(d), Matrix(f_extra_row))};
  for (const MoveType& mt : {MoveType::swap(1), MoveType::reverse(1)}) {
    const MoveType m = sized(mt, 3);
    for (const Move move : m.get_all_mov()) {
      const double want = delta(square, move, m, {0, 1, 2});
      for (const Evaluation& e : padded) {
        EXPECT_TRUE(same_bits(delta(e, move, m, {0, 1, 2}), want)) << move.i << " " << move.j;
      }
    }
  }
  // Exchanging positions 0 and 1 changes nothing: D[0][2] = D[1][2].
  const MoveType swap = sized(MoveType::swap(1), 3);
  EXPECT_EQ(delta(padded[0], {0, 1}, swap, {0, 1, 2}), 0.0);
}

TEST(TourFlagTest, PaddedRowsDoNotCount) {
  EXPECT_TRUE(std::get<Tsp>(Evaluation::tsp(Matrix(Rows{{0, 1, 5}, {1, 0, 6}})).kind()).symmetric);
  EXPECT_TRUE(std::get<Tsp>(Evaluation::tsp(Matrix(Rows{{0, 1}, {1, 0, 6}})).kind()).symmetric);
  EXPECT_FALSE(std::get<Tsp>(Evaluation::tsp(Matrix(Rows{{0, 2, 5}, {1, 0, 6}})).kind()).symmetric);
}

// ---------------------------------------------------------------------------------------
// Hand-worked deltas

const Rows kAsym{{0, 1, 2, 3}, {4, 0, 5, 6}, {7, 8, 0, 9}, {1, 2, 3, 0}};

struct DeltaCase {
  std::string name;
  Evaluation evaluation;
  MoveType move_type;
  Solution solution;
  Move move;
  double expected;
};

class HandDeltaTest : public testing::TestWithParam<DeltaCase> {};

TEST_P(HandDeltaTest, DeltaIsTheHandWorkedChange) {
  const DeltaCase& c = GetParam();
  const MoveType mt = sized(c.move_type, static_cast<Word>(c.solution.size()));
  EXPECT_EQ(delta(c.evaluation, c.move, mt, c.solution), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HandDeltaTest,
    testing::Values(
        // 0 1 2 -> 0 2 1: scores 1 -> 2, 2 -> 9, 4 -> 29.
        DeltaCase{"bins_swap", Evaluation::empty_bins({3, 4, 5}, 7), MoveType::swap(1), {0, 1, 2}, {1, 2}, 1.0},
        DeltaCase{"space_swap", Evaluation::empty_space({3, 4, 5}, 7), MoveType::swap(1), {0, 1, 2}, {1, 2}, 7.0},
        DeltaCase{"space_exp_reverse", Evaluation::empty_space_exp({3, 4, 5}, 7), MoveType::reverse(1),
                  {0, 1, 2}, {1, 2}, 25.0},
        // 0 1 2 -> 2 1 0: 5 | 4 3, still one new bin.
        DeltaCase{"bins_reverse_all", Evaluation::empty_bins({3, 4, 5}, 7), MoveType::reverse(1), {0, 1, 2},
                  {0, 2}, 0.0},
        // 3 0 1 2 -> 3 2 1 0: tour 16 -> 18.
        DeltaCase{"tsp_asym_reverse", Evaluation::tsp(Matrix(kAsym)), MoveType::reverse(1), {3, 0, 1, 2},
                  {1, 3}, 2.0},
        // Adjacent exchange, no c term: 3 0 1 2 -> 3 1 0 2, tour 16 -> 17.
        DeltaCase{"tsp_asym_adjacent_swap", Evaluation::tsp(Matrix(kAsym)), MoveType::swap(1), {3, 0, 1, 2},
                  {1, 2}, 1.0},
        // The closing edge would enter both end terms; the true change 16 -> 17 is returned.
        DeltaCase{"tsp_asym_swap_ends", Evaluation::tsp(Matrix(kAsym)), MoveType::swap(1), {0, 1, 2, 3},
                  {0, 3}, 1.0},
        // 0 1 2 3 -> 3 2 1 0: 16 -> 18.
        DeltaCase{"tsp_asym_reverse_all", Evaluation::tsp(Matrix(kAsym)), MoveType::reverse(1), {0, 1, 2, 3},
                  {0, 3}, 2.0},
        // Entering edge from position 3: 3 0 1 2 -> 1 0 3 2: 2 + 4 + 3 + 9 = 18.
        DeltaCase{"tsp_asym_reverse_from_start", Evaluation::tsp(Matrix(kAsym)), MoveType::reverse(1),
                  {3, 0, 1, 2}, {0, 2}, 2.0},
        DeltaCase{"tsp_sym_swap", Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}})),
                  MoveType::swap(1), {0, 1, 2}, {0, 1}, 0.0},
        DeltaCase{"qap_pair", Evaluation::qap(Matrix(Rows{{0, 1}, {1, 0}}), Matrix(Rows{{0, 5}, {5, 0}})),
                  MoveType::swap(1), {0, 1}, {0, 1}, 0.0},
        // The exchange formula has no third position to sum over and would give 0; the cost
        // goes from 2 * F[0][1] = 2 to 2 * F[1][0] = 8.
        DeltaCase{"qap_asym_pair", Evaluation::qap(Matrix(Rows{{0, 2}, {3, 0}}), Matrix(Rows{{0, 1}, {4, 0}})),
                  MoveType::swap(1), {0, 1}, {0, 1}, 6.0}),
    [](const testing::TestParamInfo<DeltaCase>& info) { return info.param.name; });

TEST(HandDeltaTest, QapReversalOfFourIsScoredAsAReversal) {
  // D links neighbours (distance 1) and the ends (distance 5); F pairs facilities 0-1 and 2-3
  // with flow 10. 0 1 2 3 costs 10 + 10 = 20; reversed, 3 2 1 0 costs the same 20, while
  // exchanging only the ends gives 3 1 2 0, which costs 2 * 10 + 2 * 10 = 40.
  const Rows d{{0, 1, 2, 5}, {1, 0, 1, 2}, {2, 1, 0, 1}, {5, 2, 1, 0}};
  const Rows f{{0, 10, 0, 0}, {10, 0, 0, 0}, {0, 0, 0, 10}, {0, 0, 10, 0}};
  const Evaluation e = Evaluation::qap(Matrix(d), Matrix(f));
  EXPECT_EQ(e.eval(Solution{0, 1, 2, 3}), 20.0);
  EXPECT_EQ(delta(e, {0, 3}, sized(MoveType::reverse(1), 4), {0, 1, 2, 3}), 0.0);
  EXPECT_EQ(delta(e, {0, 3}, sized(MoveType::swap(1), 4), {0, 1, 2, 3}), 20.0);
}

// ---------------------------------------------------------------------------------------
// Failures

struct FailureCase {
  std::string name;
  std::function<void()> call;
  std::string message;
};

class FailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, StopsWithTheMessage) { EXPECT_EQ(fatal_message_of(GetParam().call), GetParam().message); }

const MoveType kMulti = MoveType::multi_neighbor({Swap{Xoshiro128pp::from_seed(1), 4}}, std::nullopt);

// Runs delta_eval and checks that even a failing call leaves the solution as it was.
std::function<void()> delta_call(Evaluation e, MoveType mt, Solution s, Move m) {
  return [=]() mutable {
    const Solution before = s;
    try {
      (void)e.delta_eval(m, mt, s);
    } catch (const FatalStop&) {
      EXPECT_EQ(s, before);
      throw;
    }
  };
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailureTest,
    testing::Values(
        FailureCase{"tsp_empty_tour", [] { (void)Evaluation::tsp(Matrix()).eval(Solution{}); },
                    index_message(0, std::numeric_limits<std::size_t>::max())},
        FailureCase{"bins_value_past_weights", [] { (void)Evaluation::empty_bins({1, 2}, 3).eval(Solution{0, 5}); },
                    index_message(2, 5)},
        FailureCase{"tsp_value_past_rows",
                    [] { (void)Evaluation::tsp(Matrix(Rows{{0, 1}, {1, 0}})).eval(Solution{0, 1, 2}); },
                    index_message(2, 2)},
        FailureCase{"qap_solution_shorter_than_rows",
                    [] { (void)Evaluation::qap(Matrix(Rows{{0, 1}, {1, 0}}), Matrix(Rows{{0}})).eval(Solution{0}); },
                    index_message(1, 1)},
        FailureCase{"bins_multi_neighbor",
                    delta_call(Evaluation::empty_bins({1, 2, 3, 4}, 5), kMulti, {0, 1, 2, 3}, {0, 1}),
                    "MultiNeighbor doesn't support do_move"},
        FailureCase{"tsp_multi_neighbor",
                    delta_call(Evaluation::tsp(Matrix(kAsym)), kMulti, {0, 1, 2, 3}, {1, 2}),
                    "MultiNeighbor doesn't support do_move"},
        // The score before the move is taken first, so its failure wins.
        FailureCase{"bins_multi_neighbor_bad_value",
                    delta_call(Evaluation::empty_bins({1, 2, 3}, 5), kMulti, {0, 1, 2, 3}, {0, 1}),
                    index_message(3, 3)},
        FailureCase{"bins_move_past_end",
                    delta_call(Evaluation::empty_bins({1, 2, 3}, 5), sized(MoveType::swap(1), 3), {0, 1, 2}, {1, 5}),
                    index_message(3, 5)},
        FailureCase{"bins_inverted_reverse",
                    delta_call(Evaluation::empty_bins({1, 2, 3}, 5), sized(MoveType::reverse(1), 3), {0, 1, 2}, {2, 1}),
                    "reverse needs i <= j, got i = 2 and j = 1"},
        FailureCase{"tsp_value_past_rows_delta",
                    delta_call(Evaluation::tsp(Matrix(Rows{{0, 1}, {1, 0}})), sized(MoveType::reverse(1), 3),
                               {0, 1, 2}, {0, 1}),
                    index_message(2, 2)},
        FailureCase{"qap_flow_too_small",
                    delta_call(Evaluation::qap(Matrix(Rows{{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}), Matrix(Rows{{0, 1}, {1, 0}})),
                               sized(MoveType::swap(1), 3), {0, 1, 2}, {0, 1}),
                    index_message(2, 2)}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(EvaluationTest, QapIgnoresTheMoveTypeOfAnExchange) {
  // The assignment delta is computed without applying anything, so a MultiNeighbor is fine.
  const Evaluation e = Evaluation::qap(Matrix(Rows{{0, 1, 4}, {1, 0, 2}, {4, 2, 0}}),
                                       Matrix(Rows{{0, 3, 1}, {3, 0, 5}, {1, 5, 0}}));
  // 0 1 2: 1*3 + 4*1 + 2*5 = 17; 1 0 2: 1*3 + 4*5 + 2*1 = 25.
  EXPECT_EQ(e.eval(Solution{0, 1, 2}), 17.0);
  EXPECT_EQ(delta(e, {0, 1}, kMulti, {0, 1, 2}), 8.0);
}

// ---------------------------------------------------------------------------------------
// Property: for every move, delta == eval(after) - eval(before), the solution is unchanged,
// and where a local formula applies, the result equals a literal apply-measure-undo
// computation bit for bit.

// The local formulas as written, measured on the changed array.
struct Literal {
  const Rows& d;
  double dist(Word a, Word b) const { return d.at(a).at(b); }

  double tsp_swap(const MoveType& mt, Solution& s, Word i, Word j) const {
    const std::size_t len = s.size();
    auto measure = [&] {
      const double a = dist(s.at(i > 0 ? i - 1 : len - 1), s.at(i));
      const double b = dist(s.at(i), s.at(i + 1));
      const double e = dist(s.at(j), s.at((j + 1) % len));
      if (j - 1 == i) return ((a + 0.0) + b) + e;
      const double c = dist(s.at(j - 1), s.at(j));
      return (((a + 0.0) + b) + c) + e;
    };
    const double before = measure();
    mt.do_move(s, i, j);
    const double after = measure();
    mt.do_move(s, i, j);
    return after - before;
  }

  double tsp_reverse(bool symmetric, const MoveType& mt, Solution& s, Word i, Word j) const {
    const std::size_t len = s.size();
    auto measure = [&] {
      double inner = 0.0;
      for (Word k = i; k < j; ++k) inner = inner + dist(s.at(k), s.at(k + 1));
      const double a = dist(s.at(i > 0 ? i - 1 : len - 1), s.at(i));
      const double e = dist(s.at(j), s.at((j + 1) % len));
      return symmetric ? (a + 0.0) + e : (inner + a) + e;
    };
    const double before = measure();
    mt.do_move(s, i, j);
    const double after = measure();
    mt.do_move(s, i, j);
    return after - before;
  }

  static double qap_exchange(const Rows& d, const Rows& f, const Solution& s, Word i, Word j) {
    double total = 0.0;
    for (std::size_t k = 0; k < d.size(); ++k) {
      if (k == i || k == j) continue;
      total = total + (d.at(j).at(k) - d.at(i).at(k)) * (f.at(s.at(i)).at(s.at(k)) - f.at(s.at(j)).at(s.at(k)));
    }
    return total;
  }
};

Rows random_matrix(std::mt19937_64& gen, std::size_t n, bool symmetric) {
  std::uniform_real_distribution<double> value(0.0, 100.0);
  std::uniform_int_distribution<int> pick(0, 9);
  Rows d(n, std::vector<double>(n));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      if (symmetric && b < a) continue;
      // Zeros of both signs: their mirrored pairs compare equal but differ in bits.
      const int p = pick(gen);
      const double v = p == 0 ? 0.0 : (p == 1 ? -0.0 : value(gen));
      d[a][b] = v;
      if (symmetric) d[b][a] = (p == 0 ? -0.0 : (p == 1 ? 0.0 : v));
    }
  }
  return d;
}

void expect_close(double got, double want, const std::string& where) {
  const double scale = std::max({1.0, std::fabs(got), std::fabs(want)});
  EXPECT_LE(std::fabs(got - want), 1e-9 * scale) << where << ": got " << got << ", want " << want;
}

class DeltaPropertyTest : public testing::TestWithParam<int> {};

// Which literal computation a subject's deltas are compared with bit for bit.
enum class LiteralRoute {
  kApplyMeasureUndo,  // whole scores around the move: bins and first fit
  kTour,              // the tour formulas on the moved edges
  kAssignment,        // the exchange formula, on symmetric data
  kNone,              // the change of eval only
};

TEST_P(DeltaPropertyTest, DeltaIsTheChangeOfEvalAndMatchesTheLiteralFormula) {
  std::mt19937_64 gen(static_cast<std::uint64_t>(GetParam()));
  const std::size_t n = 1 + GetParam() % 9;
  std::uniform_real_distribution<double> weight(0.5, 6.0);
  std::vector<double> weights(n);
  for (double& w : weights) w = weight(gen);
  const double max_fill = 7.5;
  const Rows sym = random_matrix(gen, n, true);
  const Rows asym = random_matrix(gen, n, false);
  const Rows flow_sym = random_matrix(gen, n, true);
  const Rows flow_asym = random_matrix(gen, n, false);
  std::vector<double> xy(2 * n);
  for (double& v : xy) v = weight(gen) * 3.0;

  struct Subject {
    std::string name;
    Evaluation e;
    LiteralRoute route;
    const Rows* distances = nullptr;  // what the tour formula reads
  };
  const kinds::Instance data{weights, max_fill, sym, flow_sym, xy};
  std::vector<Subject> subjects;
  for (const Evaluation::Tag tag : kinds::kEvaluationTags) {
    const std::string name = kinds::name_of(tag);
    Evaluation e = kinds::evaluation_of(tag, data);
    switch (tag) {
      case Evaluation::Tag::kEmptyBins:
      case Evaluation::Tag::kEmptySpace:
      case Evaluation::Tag::kEmptySpaceExp:
      case Evaluation::Tag::kBinPacking:
        subjects.push_back({name, std::move(e), LiteralRoute::kApplyMeasureUndo});
        break;
      case Evaluation::Tag::kTsp:
        ASSERT_TRUE(std::get<Tsp>(e.kind()).symmetric);
        subjects.push_back({name + "_sym", std::move(e), LiteralRoute::kTour, &sym});
        subjects.push_back({name + "_asym", Evaluation::tsp(Matrix(asym)), LiteralRoute::kTour, &asym});
        break;
      case Evaluation::Tag::kQap:
        ASSERT_TRUE(std::get<Qap>(e.kind()).symmetric);
        subjects.push_back({name + "_sym", std::move(e), LiteralRoute::kAssignment});
        subjects.push_back({name + "_asym", Evaluation::qap(Matrix(asym), Matrix(flow_asym)), LiteralRoute::kNone});
        subjects.push_back(
            {name + "_half_sym", Evaluation::qap(Matrix(sym), Matrix(flow_asym)), LiteralRoute::kNone});
        break;
      case Evaluation::Tag::kTspPoints:
      case Evaluation::Tag::kCustom:
        subjects.push_back({name, std::move(e), LiteralRoute::kNone});
        break;
    }
  }

  std::vector<MoveType> move_types;
  for (const MoveKind kind : kinds::kMoveKinds) move_types.push_back(kinds::sized_move_type(kind, static_cast<Word>(n), 1));

  for (int trial = 0; trial < 3; ++trial) {
    Solution s = random_permutation(gen, n);
    for (const Subject& subject : subjects) {
      const Evaluation& e = subject.e;
      const double score = e.eval(s);
      for (const MoveType& mt : move_types) {
        const MoveGeometry g = geometry(*mt.simple());
        const bool reverse = g.rearrangement == Rearrangement::kReverse;
        for (const Move m : mt.get_all_mov()) {
          const std::string where = subject.name + " " + kinds::name_of(move_kind(*mt.simple())) + " (" +
                                    std::to_string(m.i) + ", " + std::to_string(m.j) + ", " +
                                    std::to_string(m.shape) + ")";
          const Solution before = s;
          const double d = e.delta_eval(m, mt, s);
          ASSERT_EQ(s, before) << where;
          Solution moved = s;
          mt.do_move(moved, m);
          const double change = e.eval(moved) - score;
          expect_close(d, change, where);

          // Literal apply-measure-undo: bins always, tours except the mended closing move,
          // assignments with symmetric data and exchange-like moves. The formulas are written
          // for pair moves; a segment move is held to the change of eval above.
          double literal = std::numeric_limits<double>::quiet_NaN();
          bool compare = g.rearrangement != Rearrangement::kSegment;
          switch (subject.route) {
            case LiteralRoute::kApplyMeasureUndo: {
              Solution work = s;
              const double b = e.eval(work);
              mt.do_move(work, m);
              const double a = e.eval(work);
              literal = a - b;
              compare = true;
              break;
            }
            case LiteralRoute::kTour: {
              if (!compare) break;
              const bool symmetric = std::get<Tsp>(e.kind()).symmetric;
              const Literal lit{*subject.distances};
              Solution work = s;
              if (!symmetric && m.i == 0 && m.j + 1 == n) {
                literal = change;  // two full evaluations, exactly
              } else if (reverse) {
                literal = lit.tsp_reverse(symmetric, mt, work, m.i, m.j);
              } else {
                literal = lit.tsp_swap(mt, work, m.i, m.j);
              }
              EXPECT_EQ(work, s) << where;
              break;
            }
            case LiteralRoute::kAssignment:
              compare = compare && (!reverse || m.j - m.i <= 2);
              if (compare) literal = Literal::qap_exchange(sym, flow_sym, s, m.i, m.j);
              break;
            case LiteralRoute::kNone:
              compare = false;
              break;
          }
          if (compare) {
            EXPECT_TRUE(same_bits(d, literal)) << where << ": " << d << " vs " << literal;
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, DeltaPropertyTest, testing::Range(0, 60));

}  // namespace
}  // namespace kestrum
