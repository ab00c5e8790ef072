// Tests of the Or-opt move type: worked examples, the enumeration against a brute-force list of
// every segment insertion, draws, deltas on every evaluation kind, and the tabu hashes.
#include "problem/or_opt.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fatal_message.hpp"
#include "local_search/tabu_search/solution_hash.hpp"
#include "local_search/tabu_search/tour_hash.hpp"
#include "problem/custom_evaluation.hpp"
#include "problem/evaluation.hpp"
#include "problem/neighbourhood.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/points.hpp"

namespace kestrum {
namespace {

using Solution = std::vector<Word>;
using Rows = std::vector<std::vector<double>>;

Solution iota_array(std::size_t n) {
  Solution a(n);
  std::iota(a.begin(), a.end(), 0U);
  return a;
}

MoveType or_opt_of(Word n, std::uint64_t seed = 1) {
  MoveType m = MoveType::or_opt(seed);
  m.set_size(n);
  return m;
}

Solution applied(const Solution& s, Move m) {
  Solution out = s;
  MoveType::or_opt(1).do_move(out, m);
  return out;
}

constexpr std::uint8_t kBack = or_opt::kBack;
constexpr std::uint8_t kRev = or_opt::kReversed;

TEST(OrOpt, WorkedExamplesAndTheirInverses) {
  struct Case {
    Move m;
    Solution expected;
  };
  const Solution s = iota_array(6);
  const std::vector<Case> cases{
      {{1, 4, 2}, {0, 3, 4, 1, 2, 5}},                 // front 2: 1 2 goes behind 3 4
      {{1, 4, 2 | kRev}, {0, 3, 4, 2, 1, 5}},          // front 2 reversed
      {{1, 4, kBack | 1}, {0, 4, 1, 2, 3, 5}},         // back 1: 4 goes in front of 1
      {{1, 4, kBack | 2 | kRev}, {0, 4, 3, 1, 2, 5}},  // back 2 reversed
      {{0, 5, 3 | kRev}, {3, 4, 5, 2, 1, 0}},          // front 3 reversed over the whole array
      {{0, 1, 1}, {1, 0, 2, 3, 4, 5}},                 // the shortest run: an adjacent exchange
  };
  const Rearrangement r = geometry(MoveKind::kOrOpt).rearrangement;
  for (const Case& c : cases) {
    const std::string where = std::to_string(c.m.i) + " " + std::to_string(c.m.j) + " " + std::to_string(c.m.shape);
    const Solution after = applied(s, c.m);
    EXPECT_EQ(after, c.expected) << where;
    for (std::size_t p = 0; p < s.size(); ++p) {
      EXPECT_EQ(or_opt::value_after(s, c.m, p), c.expected[p]) << where << " at " << p;
    }
    EXPECT_EQ(applied(after, inverse(r, c.m)), s) << where;
  }
}

TEST(OrOpt, BadMovesStopBeforeAnythingChanges) {
  Solution s = iota_array(5);
  const MoveType mt = or_opt_of(5);
  const std::string bad_shape = "or_opt needs i < j and a segment shorter than the run i..j, got i = 1, j = 3 and shape ";
  EXPECT_EQ(fatal_message_of([&] { mt.do_move(s, Move{1, 3, 0}); }), bad_shape + "0");
  EXPECT_EQ(fatal_message_of([&] { mt.do_move(s, Move{1, 3, 1 | kRev}); }), bad_shape + "5");
  EXPECT_EQ(fatal_message_of([&] { mt.do_move(s, Move{1, 3, 3}); }), bad_shape + "3");  // nothing to cross
  EXPECT_EQ(fatal_message_of([&] { mt.do_move(s, Move{1, 3, 16 | 1}); }), bad_shape + "17");
  EXPECT_EQ(fatal_message_of([&] { mt.do_move(s, Move{2, 5, 1}); }), "index out of bounds: the len is 5 but the index is 5");
  EXPECT_EQ(s, iota_array(5));
  const Evaluation e = Evaluation::empty_bins({1, 2, 3, 4, 5}, 6);
  EXPECT_EQ(fatal_message_of([&] { (void)e.delta_eval(Move{1, 3, 0}, mt, s); }), bad_shape + "0");
  EXPECT_EQ(s, iota_array(5));
}

// Every array one segment insertion away: a segment of 1 to 3 positions taken out, as it was
// or reversed, put back at another place of the rest.
std::set<Solution> brute_force_neighbours(const Solution& s) {
  std::set<Solution> out;
  const std::size_t n = s.size();
  for (std::size_t l = 1; l <= 3; ++l) {
    for (std::size_t a = 0; a + l <= n; ++a) {
      for (const bool rev : {false, true}) {
        Solution seg(s.begin() + static_cast<std::ptrdiff_t>(a), s.begin() + static_cast<std::ptrdiff_t>(a + l));
        if (rev) std::reverse(seg.begin(), seg.end());
        Solution rest = s;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(a), rest.begin() + static_cast<std::ptrdiff_t>(a + l));
        for (std::size_t at = 0; at <= rest.size(); ++at) {
          if (at == a) continue;  // back where it was
          Solution t = rest;
          t.insert(t.begin() + static_cast<std::ptrdiff_t>(at), seg.begin(), seg.end());
          if (t != s) out.insert(t);
        }
      }
    }
  }
  return out;
}

TEST(OrOpt, EnumerationListsEveryNeighbourOnceInOrder) {
  for (Word n = 0; n <= 9; ++n) {
    const Solution s = iota_array(n);
    const std::vector<Move> moves = or_opt_of(n).get_all_mov();
    std::set<Solution> seen;
    for (std::size_t k = 0; k < moves.size(); ++k) {
      const Move m = moves[k];
      ASSERT_LT(m.i, m.j);
      ASSERT_LT(m.j, n);
      if (k > 0) {
        const Move p = moves[k - 1];
        ASSERT_TRUE(p.i < m.i || (p.i == m.i && (p.j < m.j || (p.j == m.j && p.shape != m.shape))));
      }
      EXPECT_TRUE(seen.insert(applied(s, m)).second) << "duplicate " << m.i << " " << m.j << " " << int(m.shape);
    }
    EXPECT_EQ(seen, brute_force_neighbours(s)) << n;
    // The scans count their work a row at a time.
    for (Word i = 0; i + 1U < n; ++i) {
      const auto in_row = std::count_if(moves.begin(), moves.end(), [i](Move m) { return m.i == i; });
      EXPECT_EQ(static_cast<std::size_t>(in_row), moves_in_row(or_opt::kGeometry, i, n)) << n << " row " << i;
    }
  }
}

TEST(OrOpt, DrawsAreEnumeratedMovesAndFollowTheSeed) {
  for (Word n : {2U, 3U, 4U, 7U, 50U}) {
    MoveType m = or_opt_of(n, 9);
    const std::vector<Move> all = m.get_all_mov();
    const std::set<std::tuple<Word, Word, int>> listed = [&] {
      std::set<std::tuple<Word, Word, int>> out;
      for (const Move mv : all) out.insert({mv.i, mv.j, mv.shape});
      return out;
    }();
    std::set<int> shapes;
    for (int k = 0; k < 2000; ++k) {
      const Move mv = m.get_mov();
      ASSERT_TRUE(listed.contains({mv.i, mv.j, mv.shape})) << n << ": " << mv.i << " " << mv.j << " " << int(mv.shape);
      shapes.insert(mv.shape);
    }
    if (n >= 7) {
      EXPECT_EQ(shapes.size(), or_opt::kShapes.size()) << n;
    }
  }
  MoveType a = or_opt_of(20, 4);
  MoveType b = or_opt_of(20, 4);
  for (int k = 0; k < 100; ++k) EXPECT_EQ(a.get_mov(), b.get_mov());
}

Rows random_rows(std::mt19937_64& gen, std::size_t n, bool symmetric) {
  std::uniform_int_distribution<int> value(0, 40);
  Rows d(n, std::vector<double>(n, 0.0));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = symmetric ? a + 1 : 0; b < n; ++b) {
      if (a == b) continue;
      d[a][b] = value(gen);
      if (symmetric) d[b][a] = d[a][b];
    }
  }
  return d;
}

// The delta property: for every move, delta_eval is the change of eval and leaves the solution
// as it was. Whole-number data makes every sum exact, so the change is compared exactly; the
// bin measures resume from the run's first position and are exact for any weights.
class OrOptDeltaTest : public testing::TestWithParam<int> {};

TEST_P(OrOptDeltaTest, DeltaIsTheChangeOfEvalOnEveryEvaluation) {
  std::mt19937_64 gen(static_cast<std::uint64_t>(GetParam()));
  const std::size_t n = 2 + static_cast<std::size_t>(GetParam()) % 10;
  std::vector<double> weights(n);
  for (double& w : weights) w = std::uniform_real_distribution<double>(0.5, 6.0)(gen);
  std::vector<double> xy(2 * n);
  for (double& c : xy) c = std::floor(std::uniform_real_distribution<double>(0, 1000)(gen));
  const std::vector<std::pair<std::string, Evaluation>> subjects{
      {"bins", Evaluation::empty_bins(weights, 7.3)},
      {"space", Evaluation::empty_space(weights, 7.3)},
      {"space_exp", Evaluation::empty_space_exp(weights, 7.3)},
      {"tsp_sym", Evaluation::tsp(Matrix(random_rows(gen, n, true)))},
      {"tsp_asym", Evaluation::tsp(Matrix(random_rows(gen, n, false)))},
      {"qap_sym", Evaluation::qap(Matrix(random_rows(gen, n, true)), Matrix(random_rows(gen, n, true)))},
      {"qap_asym", Evaluation::qap(Matrix(random_rows(gen, n, false)), Matrix(random_rows(gen, n, false)))},
      {"points_euc_2d", Evaluation::tsp_points(Points::make(xy, PointMetric::kEuc2d).value())},
  };
  const MoveType mt = or_opt_of(static_cast<Word>(n));
  for (int trial = 0; trial < 3; ++trial) {
    Solution s = iota_array(n);
    std::shuffle(s.begin(), s.end(), gen);
    for (const auto& [name, e] : subjects) {
      const double score = e.eval(s);
      for (const Move m : mt.get_all_mov()) {
        const Solution before = s;
        const double d = e.delta_eval(m, mt, s);
        ASSERT_EQ(s, before) << name;
        const double change = e.eval(applied(s, m)) - score;
        EXPECT_EQ(d, change) << name << " (" << m.i << ", " << m.j << ", " << int(m.shape) << ")";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, OrOptDeltaTest, testing::Range(0, 30));

TEST(OrOpt, DeltaOnFloatingPointToursIsCloseToTheChange) {
  std::mt19937_64 gen(5);
  const std::size_t n = 40;
  std::vector<double> xy(2 * n);
  for (double& c : xy) c = std::uniform_real_distribution<double>(0, 1)(gen);
  const Evaluation e = Evaluation::tsp_points(Points::make(xy, PointMetric::kEuclidean).value());
  const MoveType mt = or_opt_of(static_cast<Word>(n));
  Solution s = iota_array(n);
  std::shuffle(s.begin(), s.end(), gen);
  const double score = e.eval(s);
  for (const Move m : mt.get_all_mov()) {
    const double change = e.eval(applied(s, m)) - score;
    EXPECT_NEAR(e.delta_eval(m, mt, s), change, 1e-9) << m.i << " " << m.j << " " << int(m.shape);
  }
}

TEST(OrOpt, NeighbourHashesAreTheHashesOfTheMovedArrays) {
  std::mt19937_64 gen(8);
  for (const std::size_t n : {2U, 3U, 4U, 5U, 11U}) {
    Solution s = iota_array(n);
    std::shuffle(s.begin(), s.end(), gen);
    SolutionHash hashes;
    hashes.prepare(n);
    hashes.load(s);
    TourHash tours;
    tours.load(s);
    const Rearrangement r = Rearrangement::kSegment;
    for (const Move m : or_opt_of(static_cast<Word>(n)).get_all_mov()) {
      const Solution t = applied(s, m);
      EXPECT_EQ(hashes.after(r, m), SolutionHash::of(t)) << n << ": " << m.i << " " << m.j;
      EXPECT_EQ(tours.after(r, m), TourHash::of(t)) << n << ": " << m.i << " " << m.j;
    }
  }
}

// A custom tour length whose delta function counts its calls and answers nonsense: segment
// moves must never reach it.
class CountingTour final : public ScoreFunction {
 public:
  explicit CountingTour(Rows d) : d_(std::move(d)) {}
  [[nodiscard]] double evaluate(std::span<const Word> s) const override {
    double total = 0.0;
    for (std::size_t p = 0; p < s.size(); ++p) total += d_[s[p]][s[(p + 1) % s.size()]];
    return total;
  }
  [[nodiscard]] bool has_delta() const noexcept override { return true; }
  [[nodiscard]] double delta(std::span<const Word>, CustomMove, Word, Word) const override {
    ++calls;
    return 1e9;
  }
  mutable int calls = 0;

 private:
  Rows d_;
};

TEST(OrOpt, CustomEvaluationsScoreSegmentMovesOnACopy) {
  std::mt19937_64 gen(13);
  const std::size_t n = 9;
  const auto fn = std::make_shared<CountingTour>(random_rows(gen, n, false));
  const Evaluation e = Evaluation::custom(static_cast<Word>(n), fn);
  const MoveType mt = or_opt_of(static_cast<Word>(n));
  Solution s = iota_array(n);
  std::shuffle(s.begin(), s.end(), gen);
  const Solution original = s;
  const double score = e.eval(s);
  std::vector<std::pair<Move, double>> scanned;
  ScanScratch scratch;
  for_each_delta(e, *mt.simple(), s, scratch, [&](Move m, double d) { scanned.emplace_back(m, d); });
  const std::vector<Move> moves = mt.get_all_mov();
  ASSERT_EQ(scanned.size(), moves.size());
  with_delta_kernel(e, *mt.simple(), s, [&](const auto& kernel) {
    for (std::size_t k = 0; k < moves.size(); ++k) {
      const Move m = moves[k];
      const double change = e.eval(applied(s, m)) - score;
      EXPECT_EQ(scanned[k].first, m);
      EXPECT_EQ(scanned[k].second, change);
      EXPECT_EQ(e.delta_eval(m, mt, s), change);
      EXPECT_EQ(kernel.delta(s, m), change);
    }
  });
  EXPECT_EQ(s, original);
  EXPECT_EQ(fn->calls, 0);
}

}  // namespace
}  // namespace kestrum
