// Tests of the specialised scans and kernels: same moves, same order and the same bits as
// delta_eval, on data that lets the fast loops run and on data that forces the checked path.
#include "problem/neighbourhood.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/or_opt.hpp"
#include "support/fatal.hpp"

#include "kinds.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;
using Solution = std::vector<Word>;

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

SimpleMoveType simple(MoveKind kind, Word n) { return kinds::simple_move(kind, n); }

Rows random_matrix(std::mt19937_64& gen, std::size_t n, bool symmetric, bool integral) {
  std::uniform_real_distribution<double> value(0.0, 50.0);
  std::uniform_int_distribution<int> pick(0, 7);
  Rows d(n, std::vector<double>(n));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = symmetric ? a : 0; b < n; ++b) {
      const int p = pick(gen);
      double v = integral ? std::floor(value(gen)) : value(gen);
      if (p == 0) v = -0.0;
      d[a][b] = v;
      if (symmetric) d[b][a] = p == 0 ? 0.0 : v;  // mirrored zeros of the other sign
    }
  }
  return d;
}

Solution random_permutation(std::mt19937_64& gen, std::size_t n) {
  Solution s(n);
  for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<Word>(k);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

struct Visited {
  Move move;
  double delta;
};

std::vector<Visited> scan_all(const Evaluation& e, const SimpleMoveType& mt, Solution& s,
                              ScanScratch& scratch) {
  std::vector<Visited> out;
  for_each_delta(e, mt, s, scratch, [&](Move m, double d) { out.push_back({m, d}); });
  return out;
}

// The scan against delta_eval and the kernel, move by move.
void expect_scan_matches(const Evaluation& e, const SimpleMoveType& simple_mt, Solution s,
                         ScanScratch& scratch, const std::string& where) {
  const MoveType mt(simple_mt);
  const Solution original = s;
  const std::vector<Move> moves = mt.get_all_mov();
  const std::vector<Visited> seen = scan_all(e, simple_mt, s, scratch);
  ASSERT_EQ(s, original) << where;
  ASSERT_EQ(seen.size(), moves.size()) << where;
  with_delta_kernel(e, simple_mt, [&](const auto& kernel) {
    for (std::size_t k = 0; k < moves.size(); ++k) {
      const Move m = moves[k];
      ASSERT_EQ(seen[k].move, m) << where;
      const double reference = e.delta_eval(m, mt, s);
      const double by_kernel = kernel.delta(s, m);
      EXPECT_TRUE(same_bits(seen[k].delta, reference))
          << where << " (" << m.i << ", " << m.j << "): scan " << seen[k].delta << ", delta_eval "
          << reference;
      EXPECT_TRUE(same_bits(by_kernel, reference)) << where << " (" << m.i << ", " << m.j << ")";
    }
  });
  EXPECT_EQ(s, original) << where;
}

class ScanPropertyTest : public testing::TestWithParam<int> {};

TEST_P(ScanPropertyTest, ScansAndKernelsGiveTheBitsOfDeltaEval) {
  const int seed = GetParam();
  std::mt19937_64 gen(static_cast<std::uint64_t>(seed));
  // Small sizes reach every special case (adjacent positions, runs touching the closing
  // edge); larger ones run the hoisted inner loops over many moves.
  const std::size_t n = seed % 4 == 0 ? 2 + static_cast<std::size_t>(seed) % 5
                                       : 8 + static_cast<std::size_t>(seed) % 29;
  const bool integral = seed % 3 == 0;
  const Rows sym = random_matrix(gen, n, true, integral);
  const Rows asym = random_matrix(gen, n, false, integral);
  const Rows flow_sym = random_matrix(gen, n, true, integral);
  const Rows flow_asym = random_matrix(gen, n, false, integral);
  std::uniform_real_distribution<double> weight(0.5, 6.0);
  std::vector<double> weights(n);
  // Whole weights make bins fill exactly and runs rejoin often; fractional ones rarely.
  for (double& w : weights) w = integral ? std::ceil(weight(gen)) : weight(gen);
  const double max_fill = integral ? 8.0 : 7.3;

  std::vector<double> xy(2 * n);
  for (double& v : xy) v = std::floor(weight(gen) * 10.0);

  // Every kind; tours and assignments on symmetric data (the short formulas) and on
  // asymmetric data.
  const kinds::Instance data{weights, max_fill, sym, flow_sym, xy};
  const kinds::Instance asym_data{weights, max_fill, asym, flow_asym, xy};
  std::vector<std::pair<std::string, Evaluation>> subjects;
  for (const Evaluation::Tag tag : kinds::kEvaluationTags) {
    subjects.emplace_back(kinds::name_of(tag), kinds::evaluation_of(tag, data));
    switch (tag) {
      case Evaluation::Tag::kTsp:
      case Evaluation::Tag::kQap:
        subjects.emplace_back(std::string(kinds::name_of(tag)) + "_asym", kinds::evaluation_of(tag, asym_data));
        break;
      case Evaluation::Tag::kEmptyBins:
      case Evaluation::Tag::kEmptySpace:
      case Evaluation::Tag::kEmptySpaceExp:
      case Evaluation::Tag::kTspPoints:
      case Evaluation::Tag::kCustom:
      case Evaluation::Tag::kBinPacking:
        break;
    }
  }
  ScanScratch scratch;
  for (int trial = 0; trial < 2; ++trial) {
    const Solution s = random_permutation(gen, n);
    for (const auto& [name, e] : subjects) {
      for (const MoveKind kind : kinds::kMoveKinds) {
        const std::string where = name + " " + kinds::name_of(kind) + " n " + std::to_string(n);
        expect_scan_matches(e, simple(kind, static_cast<Word>(n)), s, scratch, where);
        // A move type smaller than the solution scans a prefix of the positions.
        if (n > 3) {
          expect_scan_matches(e, simple(kind, static_cast<Word>(n - 1)), s, scratch, where + " short");
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ScanPropertyTest, testing::Range(0, 48));

TEST(ScanTest, DeltasAreTheChangeOfEvalForEveryKindAndMoveType) {
  // An independent route for the fast loops: apply each move and score the whole solution.
  std::mt19937_64 gen(11);
  const std::size_t n = 30;
  const Rows asym = random_matrix(gen, n, false, false);
  const Rows flow = random_matrix(gen, n, false, false);
  std::vector<double> weights(n);
  for (double& w : weights) w = std::uniform_real_distribution<double>(0.5, 6.0)(gen);
  std::vector<double> xy(2 * n);
  for (double& v : xy) v = std::uniform_real_distribution<double>(-20.0, 20.0)(gen);
  const kinds::Instance data{weights, 7.0, asym, flow, xy};
  ScanScratch scratch;
  Solution s = random_permutation(gen, n);
  for (const Evaluation::Tag tag : kinds::kEvaluationTags) {
    SCOPED_TRACE(kinds::name_of(tag));
    const Evaluation e = kinds::evaluation_of(tag, data);
    const double score = e.eval(s);
    for (const MoveKind kind : kinds::kMoveKinds) {
      const MoveType mt(simple(kind, static_cast<Word>(n)));
      for_each_delta(e, simple(kind, static_cast<Word>(n)), s, scratch, [&](Move m, double d) {
        Solution moved = s;
        mt.do_move(moved, m);
        const double change = e.eval(moved) - score;
        EXPECT_NEAR(d, change, 1e-9 * std::max(1.0, std::fabs(change))) << kinds::name_of(kind) << " " << m.i << " " << m.j;
      });
    }
  }
}

TEST(ScanTest, HandWorkedTourScan) {
  // D from the asymmetric example; tour 0 1 2 3 scores 16. Exchanges: (0,1) -> 1 0 2 3 =
  // 4+2+9+2 = 17; (0,2) -> 2 1 0 3 = 8+4+3+3 = 18; (0,3) -> 3 1 2 0 = 2+5+7+3 = 17;
  // (1,2) -> 0 2 1 3 = 2+8+6+1 = 17; (1,3) -> 0 3 2 1 = 3+3+8+4 = 18; (2,3) -> 0 1 3 2 = 1+6+3+7 = 17.
  const Evaluation e = Evaluation::tsp(
      Matrix(Rows{{0, 1, 2, 3}, {4, 0, 5, 6}, {7, 8, 0, 9}, {1, 2, 3, 0}}));
  Solution s{0, 1, 2, 3};
  ScanScratch scratch;
  const std::vector<Visited> seen = scan_all(e, simple(MoveKind::kSwap, 4), s, scratch);
  const std::vector<double> expected{1, 2, 1, 1, 2, 1};
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(seen[k].delta, expected[k]) << k;
  // SwapTsp leaves position 0 alone: (1,2), (1,3), (2,3).
  const std::vector<Visited> tsp_moves = scan_all(e, simple(MoveKind::kSwapTsp, 4), s, scratch);
  ASSERT_EQ(tsp_moves.size(), 3U);
  EXPECT_EQ(tsp_moves[0].move, (Move{1, 2}));
  EXPECT_EQ(tsp_moves[2].delta, 1.0);
}

TEST(ScanTest, NegativeZeroDistancesGiveAPositiveZeroDelta) {
  // Every sum of the tour formulas starts from a + 0.0 (or 0.0), so with all distances -0.0
  // both sides are +0.0 and so is the delta; a sum started from -0.0 would stay -0.0.
  const std::size_t n = 12;
  for (const bool symmetric : {true, false}) {
    Rows d(n, std::vector<double>(n, -0.0));
    if (!symmetric) d[0][1] = 1.0;
    const Evaluation e = Evaluation::tsp(Matrix(d));
    Solution s(n);
    for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<Word>(n - 1 - k);
    ScanScratch scratch;
    for (const MoveKind kind : kinds::kMoveKinds) {
      for (const Visited& v : scan_all(e, simple(kind, static_cast<Word>(n)), s, scratch)) {
        // Moves that touch the one non-zero entry change the length; every other is +0.0.
        if (v.delta == 0.0) {
          EXPECT_FALSE(std::signbit(v.delta)) << symmetric << " " << kinds::name_of(kind) << " " << v.move.i << " " << v.move.j;
        }
      }
    }
  }
}

TEST(ScanTest, EmptyAndTinyNeighbourhoodsVisitNothing) {
  const Evaluation e = Evaluation::tsp(Matrix(Rows{{0, 1}, {1, 0}}));
  Solution s{0, 1};
  ScanScratch scratch;
  EXPECT_TRUE(scan_all(e, simple(MoveKind::kSwapTsp, 2), s, scratch).empty());
  EXPECT_TRUE(scan_all(e, simple(MoveKind::kSwap, 1), s, scratch).empty());
  EXPECT_TRUE(scan_all(e, simple(MoveKind::kReverse, 0), s, scratch).empty());
  EXPECT_EQ(scan_all(e, simple(MoveKind::kReverse, 2), s, scratch).size(), 1U);
}

// Data that does not cover the solution: the scan visits what delta_eval would have
// returned and stops with the same message at the same move.
struct UncoveredCase {
  std::string name;
  Evaluation evaluation;
  MoveKind kind;
  Solution solution;
  std::size_t visits_before_stop;
  std::string message;
};

class UncoveredTest : public testing::TestWithParam<UncoveredCase> {};

TEST_P(UncoveredTest, ScanStopsWhereDeltaEvalWould) {
  const UncoveredCase& c = GetParam();
  Solution s = c.solution;
  ScanScratch scratch;
  std::size_t visits = 0;
  std::string message = "<no fatal stop>";
  try {
    for_each_delta(c.evaluation, simple(c.kind, static_cast<Word>(s.size())), s, scratch,
                   [&](Move, double) { ++visits; });
  } catch (const FatalStop& stop) {
    message = stop.message;
  }
  EXPECT_EQ(message, c.message);
  EXPECT_EQ(visits, c.visits_before_stop);
  EXPECT_EQ(s, c.solution);
}

INSTANTIATE_TEST_SUITE_P(
    Data, UncoveredTest,
    testing::Values(
        UncoveredCase{"bins_too_few_weights", Evaluation::empty_bins({1, 2}, 3), MoveKind::kSwap, {0, 1, 2}, 0,
                      "index out of bounds: the len is 2 but the index is 2"},
        UncoveredCase{"first_fit_too_few_weights", Evaluation::bin_packing({1, 2}, 3).value(), MoveKind::kSwap, {0, 1, 2}, 0,
                      "index out of bounds: the len is 2 but the index is 2"},
        // The first move (0,1) enters the run from position 2, value 2: row 2 is missing.
        UncoveredCase{"tsp_too_few_rows", Evaluation::tsp(Matrix(Rows{{0, 1}, {1, 0}})), MoveKind::kReverse, {0, 1, 2}, 0,
                      "index out of bounds: the len is 2 but the index is 2"},
        // Value 3 at position 0 is read at once as the predecessor of the first move (1,2).
        UncoveredCase{"tsp_swap_tsp_value_past_rows",
                      Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}})), MoveKind::kSwapTsp, {3, 0, 1, 2}, 0,
                      "index out of bounds: the len is 3 but the index is 3"},
        // Symmetric data, so the exchange formula runs; F has two rows for values up to 2.
        UncoveredCase{"qap_flow_too_small",
                      Evaluation::qap(Matrix(Rows{{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}), Matrix(Rows{{0, 1}, {1, 0}})),
                      MoveKind::kSwap, {0, 1, 2}, 0, "index out of bounds: the len is 2 but the index is 2"}),
    [](const testing::TestParamInfo<UncoveredCase>& info) { return info.param.name; });

TEST(ScanTest, RaggedAssignmentDataIsScoredExactlyOnTheCheckedPath) {
  // A flow matrix with a longer first row is not square, so no fast loop may run; the
  // deltas are still the change of eval.
  const Rows d{{0, 2, 3}, {4, 0, 5}, {6, 7, 0}};
  const Rows f{{0, 1, 2, 9}, {3, 0, 4}, {5, 6, 0}};
  const Evaluation e = Evaluation::qap(Matrix(d), Matrix(f));
  Solution s{2, 0, 1};
  ScanScratch scratch;
  const double score = e.eval(s);
  const MoveType mt(simple(MoveKind::kReverse, 3));
  std::size_t visits = 0;
  for_each_delta(e, simple(MoveKind::kReverse, 3), s, scratch, [&](Move m, double delta) {
    Solution moved = s;
    mt.do_move(moved, m.i, m.j);
    EXPECT_EQ(delta, e.eval(moved) - score);
    ++visits;
  });
  EXPECT_EQ(visits, 3U);
}

TEST(ScanTest, WarmScanReusesItsScratch) {
  std::mt19937_64 gen(5);
  const std::size_t n = 40;
  const Evaluation e = Evaluation::tsp(Matrix(random_matrix(gen, n, false, false)));
  Solution s = random_permutation(gen, n);
  ScanScratch scratch;
  (void)scan_all(e, simple(MoveKind::kReverse, static_cast<Word>(n)), s, scratch);
  const double* values = scratch.values.data();
  const double* aux = scratch.aux.data();
  double sum = 0.0;
  for_each_delta(e, simple(MoveKind::kReverse, static_cast<Word>(n)), s, scratch, [&](Move, double d) { sum += d; });
  EXPECT_EQ(scratch.values.data(), values);
  EXPECT_EQ(scratch.aux.data(), aux);
  EXPECT_TRUE(std::isfinite(sum));
}

// A segment kind other than Or-opt: one position taken out and put back elsewhere (front 1 on
// every run; back 1 only from three positions on, where it differs from front 1).
constexpr std::array<std::uint8_t, 2> kOneShapes{1, or_opt::kBack | 1};
constexpr MoveGeometry kOneGeometry{Rearrangement::kSegment, 0, kOneShapes,
                                    shape_table(kOneShapes, [](std::uint8_t shape, std::size_t run) {
                                      return !or_opt::back(shape) || run > 2;
                                    })};

// Every family scan walks the moves the geometry lists, not every segment move: the moves in
// for_each_move's order, each with the bits the segment kernel (delta_eval's) gives.
TEST(ScanTest, SegmentScansWalkTheKindsOwnShapes) {
  std::vector<Move> listed;
  for_each_move(kOneGeometry, 9, [&](Move m) { listed.push_back(m); });
  EXPECT_EQ(listed.size(), 36U + 28U);  // every pair as front 1, back 1 on the runs of 3 to 9
  for (const std::size_t n : {2U, 3U, 9U, 17U}) {
    std::mt19937_64 gen(n);
    std::vector<double> weights(n);
    for (double& w : weights) w = 1.0 + static_cast<double>(gen() % 5);
    const std::vector<std::pair<std::string, Evaluation>> subjects{
        {"bins", Evaluation::empty_bins(weights, 6.0)},
        {"space", Evaluation::empty_space(weights, 6.5)},
        {"tsp_sym", Evaluation::tsp(Matrix(random_matrix(gen, n, true, false)))},
        {"tsp_asym", Evaluation::tsp(Matrix(random_matrix(gen, n, false, false)))},
        {"qap", Evaluation::qap(Matrix(random_matrix(gen, n, true, true)), Matrix(random_matrix(gen, n, false, true)))},
        {"first_fit", Evaluation::bin_packing(weights, 6.0).value()}};
    Solution s = random_permutation(gen, n);
    std::vector<Move> expected;
    for_each_move(kOneGeometry, n, [&](Move m) { expected.push_back(m); });
    EXPECT_EQ(expected.size(), move_count(kOneGeometry, n));
    for (const auto& [name, e] : subjects) {
      for (const bool covered : {true, false}) {
        // A solution the data does not cover sends every family to its checked loop.
        Solution t = s;
        if (!covered) t.push_back(static_cast<Word>(n + 5));
        ScanScratch scratch;
        std::vector<Visited> seen;
        auto visit = [&](Move m, double d) { seen.push_back({m, d}); };
        std::string failure;
        const std::string where = name + " n=" + std::to_string(n) + (covered ? "" : " uncovered");
        try {
          scan_family(e, scan::ScanContext{t, kOneGeometry, n, scratch}, visit);
        } catch (const FatalStop& stop) {
          failure = stop.message;
        }
        ASSERT_LE(seen.size(), expected.size()) << where;
        if (failure.empty()) {
          ASSERT_EQ(seen.size(), expected.size()) << where;
        }
        with_delta_kernel(e, SimpleMoveType(OrOpt{Xoshiro128pp::from_seed(1), static_cast<Word>(n)}), [&](const auto& kernel) {
          for (std::size_t k = 0; k < seen.size(); ++k) {
            ASSERT_EQ(seen[k].move, expected[k]) << where;
            EXPECT_TRUE(same_bits(seen[k].delta, kernel.delta(t, expected[k]))) << where << " move " << k;
          }
        });
      }
    }
  }
}

// The scans written for pairs take only kinds that list every pair.
TEST(ScanTest, PairScansFitOnlyKindsListingEveryPair) {
  for (const MoveKind kind : {MoveKind::kReverse, MoveKind::kSwap, MoveKind::kSwapTsp, MoveKind::kOrOpt}) {
    EXPECT_TRUE(scans_fit(geometry(kind))) << static_cast<int>(kind);
  }
  constexpr MoveGeometry kAdjacent{Rearrangement::kExchange, 0, kPairShapes,
                                   shape_table(kPairShapes, [](std::uint8_t, std::size_t run) { return run == 2; })};
  EXPECT_FALSE(scans_fit(kAdjacent));
  EXPECT_FALSE(all_pairs(kOneGeometry));
}

}  // namespace
}  // namespace kestrum
