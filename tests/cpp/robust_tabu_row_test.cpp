// The row test of the robust tabu search: every version the processor runs answers the plain
// loop's index, on rows with ties at the bars, NaN and infinite deltas, and every length up to
// past two blocks of lanes.
#include "local_search/robust_tabu_search/row_test.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace kestrum::robust_tabu {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <bool kMinimize>
void every_version_agrees(std::mt19937_64& rng) {
  // Few distinct values, so that deltas and bans meet the bars exactly.
  const std::array<double, 9> deltas_from{-3.0, -1.0, 0.0, 1.0, 2.0, kInf, -kInf, kNaN, -0.0};
  const std::array<double, 6> bans_from{-1.0, 3.0, 7.0, 10.0, 12.0, 40.0};
  const std::array<double, 6> bars_from{-1.0, 0.0, 2.0, kInf, -kInf, kNaN};
  auto pick = [&](const auto& from) { return from[rng() % from.size()]; };
  for (int trial = 0; trial < 4000; ++trial) {
    const std::size_t count = rng() % 40;
    std::vector<double> deltas(count);
    std::vector<double> bans(count);
    // Mostly rows where few pass, as in a search, and some where many do.
    const bool sparse = rng() % 4 != 0;
    for (std::size_t k = 0; k < count; ++k) {
      deltas[k] = sparse && rng() % 8 != 0 ? 5.0 : pick(deltas_from);
      bans[k] = pick(bans_from);
    }
    const double allowed = pick(bars_from);
    const double forced = pick(bars_from);
    const RowTest test{kMinimize ? 5.0 : -5.0, rng() % 3 == 0 ? kNaN : 7.0, forced, allowed,
                       rng() % 3 == 0 ? kInf : 10.0, pick(bars_from), pick(bars_from)};
    // Each start inside the row, as the chooser resumes after a weighed move.
    for (std::size_t from = 0; from <= count; ++from) {
      const std::size_t plain =
          first_candidate_in<kMinimize>(Lanes::kPlain, deltas.data() + from, bans.data() + from, count - from, test);
      for (const Lanes lanes : runnable_lanes()) {
        ASSERT_EQ(first_candidate_in<kMinimize>(lanes, deltas.data() + from, bans.data() + from, count - from, test),
                  plain)
            << "lanes " << static_cast<int>(lanes) << ", trial " << trial << ", from " << from;
      }
      ASSERT_EQ(first_candidate<kMinimize>(deltas.data() + from, bans.data() + from, count - from, test), plain);
    }
  }
}

TEST(RobustTabuRowTest, EveryVersionAnswersThePlainLoopsIndex) {
  std::mt19937_64 rng(7);
  every_version_agrees<true>(rng);
  every_version_agrees<false>(rng);
}

// The plain loop itself, on a row written out: the forced part, the allowed part with its
// aspiration, and the NaN bar that turns a part off.
TEST(RobustTabuRowTest, PlainLoopPassesWhatTheChooserWouldWeigh) {
  const std::vector<double> deltas{4.0, 1.0, -2.0, -3.0, -1.0};
  const std::vector<double> bans{-1.0, 2.0, 20.0, 20.0, -1.0};
  auto first = [&](const RowTest& t) {
    return first_candidate_in<true>(Lanes::kPlain, deltas.data(), bans.data(), deltas.size(), t);
  };
  // Allowed below 0, bans at step 10 or later forbid: (2) and (3) are forbidden, (4) is not.
  EXPECT_EQ(first({0.0, kNaN, kNaN, 0.0, 10.0, 100.0, 50.0}), 4U);
  // The same with an aspiration: current + delta below the best lets (2) through.
  EXPECT_EQ(first({0.0, kNaN, kNaN, 0.0, 10.0, 100.0, 99.0}), 2U);
  // Forcing bar 0: bans before step 0 are forced; (0) is forced but not below the forced bar.
  EXPECT_EQ(first({5.0, 0.0, 3.0, kNaN, 10.0, 100.0, 50.0}), 4U);
  EXPECT_EQ(first({5.0, 0.0, 5.0, kNaN, 10.0, 100.0, 50.0}), 0U);
  // Nothing passes.
  EXPECT_EQ(first({-9.0, 0.0, -9.0, -9.0, 10.0, 100.0, 50.0}), deltas.size());
}

}  // namespace
}  // namespace kestrum::robust_tabu
