// Tests of the monotonic clock helpers: elapsed durations and the fake clock.
#include "support/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace kestrum {
namespace {

constexpr std::int64_t kMinSec = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxSec = std::numeric_limits<std::int64_t>::max();

struct ElapsedCase {
  const char* name;
  Instant earlier, later;
  std::uint64_t ns;
};
class ElapsedTest : public testing::TestWithParam<ElapsedCase> {};

TEST_P(ElapsedTest, Nanoseconds) {
  const ElapsedCase& c = GetParam();
  EXPECT_EQ(elapsed_ns(c.earlier, c.later), static_cast<U128>(c.ns));
  EXPECT_EQ(elapsed(c.earlier, c.later), (Elapsed{c.ns / kNanosPerSecond,
                                                  static_cast<std::uint32_t>(c.ns % kNanosPerSecond)}));
}

INSTANTIATE_TEST_SUITE_P(Table, ElapsedTest, testing::Values(
    ElapsedCase{"Same", {7, 123}, {7, 123}, 0},
    ElapsedCase{"NoBorrow", {2, 100'000'000}, {5, 600'000'000}, 3'500'000'000},
    ElapsedCase{"Borrow", {1, 900'000'000}, {3, 100'000'000}, 1'200'000'000},
    ElapsedCase{"BorrowToZeroSeconds", {4, 999'999'999}, {5, 0}, 1},
    ElapsedCase{"NegativeSeconds", {-3, 500'000'000}, {2, 0}, 4'500'000'000},
    ElapsedCase{"BackwardsIsZero", {10, 0}, {9, 999'999'999}, 0},
    ElapsedCase{"BackwardsByNanosIsZero", {10, 5}, {10, 4}, 0},
    ElapsedCase{"BackwardsAcrossRange", {kMaxSec, 0}, {kMinSec, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ElapsedRangeTest, FullInt64RangeNeedsMoreThan64BitsOfNanoseconds) {
  // (2^64 - 1) * 1e9 + 999999999 = 1e9 * 2^64 - 1: high word 999999999, low word all ones.
  const U128 ns = elapsed_ns({kMinSec, 0}, {kMaxSec, 999'999'999});
  EXPECT_EQ(static_cast<std::uint64_t>(ns >> 64), 999'999'999u);
  EXPECT_EQ(static_cast<std::uint64_t>(ns), std::numeric_limits<std::uint64_t>::max());
}

TEST(ClockTest, MonotonicReadingsNeverGoBack) {
  Instant previous = now();
  for (int i = 0; i < 1000; ++i) {
    const Instant current = now();
    ASSERT_LT(current.nanos, kNanosPerSecond);
    ASSERT_GE(current, previous);
    previous = current;
  }
}

TEST(FakeClockTest, OverridesNowWhileAliveCarriesAndNests) {
  {
    FakeClock outer({-5, 600'000'000});
    outer.advance_ns(1'700'000'000);  // both parts carry: 0.6 s + 1.7 s
    EXPECT_EQ(now(), (Instant{-3, 300'000'000}));
    {
      FakeClock inner({100, 0});
      EXPECT_EQ(now(), (Instant{100, 0}));
    }
    EXPECT_EQ(now(), (Instant{-3, 300'000'000}));
  }
  EXPECT_GE(now().seconds, 0);  // back on the real clock, which never reads negative
}

}  // namespace
}  // namespace kestrum
