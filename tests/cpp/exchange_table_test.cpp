// Tests of the assignment exchange table: kept between scans, it gives the formula's bits after
// applied exchanges and after any other change of the solution, and only on integral data.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "problem/array_problem.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

Rows integer_matrix(std::mt19937_64& gen, std::size_t n, bool symmetric, int largest) {
  std::uniform_int_distribution<int> value(-largest / 4, largest);
  Rows d(n, std::vector<double>(n));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = symmetric ? a : 0; b < n; ++b) {
      d[a][b] = value(gen) < 0 ? 0.0 : static_cast<double>(value(gen));
      if (symmetric) d[b][a] = d[a][b];
    }
  }
  return d;
}

bool integral(const Evaluation& e) { return std::get<Qap>(e.kind()).integral; }

// Every scan of `p` against delta_eval, move by move (delta_eval never reads the table).
void expect_scan_is_delta_eval(ArrayProblem& p, const std::string& where) {
  const MoveType& mt = p.move_type();
  const std::vector<Move> moves = p.get_all_mov();
  std::size_t k = 0;
  for_each_delta(p.evaluation(), *mt.simple(), p.solution(), p.scratch(), [&](Move m, double delta) {
    ASSERT_LT(k, moves.size()) << where;
    ASSERT_EQ(m, moves[k]) << where;
    const double reference = p.evaluation().delta_eval(m, mt, p.solution());
    ASSERT_TRUE(same_bits(delta, reference))
        << where << " (" << m.i << ", " << m.j << "): table " << delta << ", formula " << reference;
    ++k;
  });
  EXPECT_EQ(k, moves.size()) << where;
}

TEST(ExchangeTableTest, IntegralFlagNeedsWholeSmallEntriesInBothBlocks) {
  const Rows d{{0, 2, 3}, {2, 0, 5}, {3, 5, 0}};
  const Rows f{{0, 1, 4}, {1, 0, 6}, {4, 6, 0}};
  EXPECT_TRUE(integral(Evaluation::qap(Matrix(d), Matrix(f))));
  Rows negative_zero = d;
  negative_zero[0][1] = -0.0;
  EXPECT_TRUE(integral(Evaluation::qap(Matrix(negative_zero), Matrix(f))));
  Rows fraction = f;
  fraction[2][1] = 6.5;
  EXPECT_FALSE(integral(Evaluation::qap(Matrix(d), Matrix(fraction))));
  Rows not_a_number = d;
  not_a_number[1][1] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(integral(Evaluation::qap(Matrix(not_a_number), Matrix(f))));
  Rows infinite = f;
  infinite[0][0] = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(integral(Evaluation::qap(Matrix(d), Matrix(infinite))));
  // Sums of products of 2^26 * 2^26 would pass 2^53: whole, but too large to be exact.
  Rows large = d;
  large[0][2] = large[2][0] = 0x1p26;
  Rows large_flow = f;
  large_flow[1][2] = large_flow[2][1] = 0x1p26;
  EXPECT_FALSE(integral(Evaluation::qap(Matrix(large), Matrix(large_flow))));
  EXPECT_TRUE(integral(Evaluation::qap(Matrix(large), Matrix(f))));
  // Entries outside the n x n blocks are never read and do not count.
  const Rows wide_flow{{0, 1, 4, 0.5}, {1, 0, 6, 0.5}, {4, 6, 0, 0.5}, {0.5, 0.5, 0.5, 0.5}};
  EXPECT_TRUE(integral(Evaluation::qap(Matrix(d), Matrix(wide_flow))));
}

struct WalkCase {
  const char* name;
  bool symmetric;
  int largest;
  bool tsp_swap;
};

class ExchangeWalkTest : public testing::TestWithParam<WalkCase> {};

// A walk of applied exchanges, with every other way the solution changes between scans mixed
// in: each scan gives delta_eval's bits whether the table caught up or was rebuilt.
TEST_P(ExchangeWalkTest, EveryScanGivesTheFormulasBits) {
  const WalkCase c = GetParam();
  for (std::uint64_t seed = 0; seed < 6; ++seed) {
    std::mt19937_64 gen(seed);
    const std::size_t n = 3 + seed * 7;
    const Evaluation e = Evaluation::qap(Matrix(integer_matrix(gen, n, c.symmetric, c.largest)),
                                         Matrix(integer_matrix(gen, n, c.symmetric, c.largest)));
    ASSERT_TRUE(integral(e));
    ASSERT_EQ(std::get<Qap>(e.kind()).symmetric, c.symmetric);
    ArrayProblem p(c.tsp_swap ? MoveType::tsp(seed) : MoveType::swap(seed), e);
    const std::string where = std::string(c.name) + " n " + std::to_string(n);
    expect_scan_is_delta_eval(p, where + " first");
    for (int step = 0; step < 40; ++step) {
      const int what = static_cast<int>(gen() % 10);
      if (what < 6) {
        p.do_mov(p.get_mov());  // an applied exchange: the table catches up
      } else if (what == 6) {
        p.do_mov(p.get_mov());  // two of them between scans
        p.do_mov(p.get_mov());
      } else if (what == 7) {
        std::vector<Word> s(p.solution().begin(), p.solution().end());
        std::shuffle(s.begin(), s.end(), gen);
        p.set_solution(s);
      } else if (what == 8) {
        if (n >= 2) p.solution()[0] = p.solution()[0];  // unchanged
      } else {
        std::vector<Word> s(p.solution().begin(), p.solution().end());
        std::reverse(s.begin(), s.end());  // many positions at once: rebuilt
        p.set_solution(s);
      }
      expect_scan_is_delta_eval(p, where + " step " + std::to_string(step));
      if (testing::Test::HasFatalFailure()) return;
    }
    p.reset();
    expect_scan_is_delta_eval(p, where + " reset");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Data, ExchangeWalkTest,
    testing::Values(WalkCase{"symmetric", true, 100, false}, WalkCase{"asymmetric", false, 100, false},
                    WalkCase{"symmetric_swap_tsp", true, 9, true}, WalkCase{"asymmetric_swap_tsp", false, 9, true},
                    // Entries near the bound: products reach 2^44 and sums stay exact.
                    WalkCase{"symmetric_large", true, 1 << 20, false}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

// Symmetric data keeps D times the permuted flows beside the table and moves it with every
// exchange: a long chain of catch-ups without a rebuild must not drift, with negative entries
// and entries near the bound (products up to 2^40).
TEST(ExchangeTableTest, ALongChainOfExchangesKeepsTheFormulasBits) {
  for (const int largest : {7, 1 << 20}) {
    std::mt19937_64 gen(static_cast<std::uint64_t>(largest));
    const std::size_t n = 23;
    Rows d = integer_matrix(gen, n, true, largest);
    d[3][5] = d[5][3] = -static_cast<double>(largest);
    ArrayProblem p(MoveType::swap(3), Evaluation::qap(Matrix(d), Matrix(integer_matrix(gen, n, true, largest))));
    ASSERT_TRUE(integral(p.evaluation()));
    expect_scan_is_delta_eval(p, "built");
    for (int step = 0; step < 300; ++step) {
      p.do_mov(p.get_mov());
      expect_scan_is_delta_eval(p, "largest " + std::to_string(largest) + " step " + std::to_string(step));
      if (testing::Test::HasFatalFailure()) return;
    }
    EXPECT_EQ(p.scratch().exchanges.products.size(), n * n);
  }
}

TEST(ExchangeTableTest, NewDataDropsTheTable) {
  std::mt19937_64 gen(9);
  const std::size_t n = 12;
  ArrayProblem p(MoveType::swap(1), Evaluation::qap(Matrix(integer_matrix(gen, n, true, 50)),
                                                    Matrix(integer_matrix(gen, n, true, 50))));
  expect_scan_is_delta_eval(p, "before");
  EXPECT_EQ(p.scratch().exchanges.deltas.size(), n * n);
  p.set_eval_type(Evaluation::qap(Matrix(integer_matrix(gen, n, false, 50)),
                                  Matrix(integer_matrix(gen, n, false, 50))));
  EXPECT_TRUE(p.scratch().exchanges.deltas.empty());
  expect_scan_is_delta_eval(p, "after");
}

TEST(ExchangeTableTest, OnlyIntegralExchangesUseATable) {
  std::mt19937_64 gen(4);
  const std::size_t n = 10;
  Rows d = integer_matrix(gen, n, true, 50);
  const Rows f = integer_matrix(gen, n, true, 50);
  ArrayProblem reversals(MoveType::reverse(1), Evaluation::qap(Matrix(d), Matrix(f)));
  expect_scan_is_delta_eval(reversals, "reverse");
  EXPECT_TRUE(reversals.scratch().exchanges.deltas.empty());
  d[1][2] = d[2][1] = 0.25;
  ArrayProblem fractional(MoveType::swap(1), Evaluation::qap(Matrix(d), Matrix(f)));
  expect_scan_is_delta_eval(fractional, "fractional");
  EXPECT_TRUE(fractional.scratch().exchanges.deltas.empty());
}

TEST(ExchangeTableTest, AStoppedBuildKeepsNoTable) {
  std::mt19937_64 gen(2);
  const std::size_t n = 9;
  ArrayProblem p(MoveType::swap(1), Evaluation::qap(Matrix(integer_matrix(gen, n, false, 50)),
                                                    Matrix(integer_matrix(gen, n, false, 50))));
  struct StopAfterRows {
    int rows_left;
    std::size_t visits = 0;
    bool stop_scan(std::size_t) { return rows_left-- == 0; }
    void operator()(Move, double) { ++visits; }
  } stopper{2};
  for_each_delta(p.evaluation(), *p.move_type().simple(), p.solution(), p.scratch(), stopper);
  EXPECT_EQ(stopper.visits, (n - 1) + (n - 2));
  EXPECT_TRUE(p.scratch().exchanges.solution.empty());
  expect_scan_is_delta_eval(p, "after the stop");
}

}  // namespace
}  // namespace kestrum
