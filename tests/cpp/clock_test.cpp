// Tests of the monotonic clock helpers: elapsed durations and the fake clock.
#include "support/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kestrum {
namespace {

constexpr std::int64_t kMinSec = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxSec = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

struct ElapsedCase {
  const char* name;
  Instant earlier;
  Instant later;
  Elapsed expected;
  std::uint64_t expected_ns_low;  // all cases but the extreme one fit in 64 bits
};

class ElapsedTest : public testing::TestWithParam<ElapsedCase> {};

TEST_P(ElapsedTest, WholeSecondsAndNanos) {
  const ElapsedCase& c = GetParam();
  EXPECT_EQ(elapsed(c.earlier, c.later), c.expected);
  EXPECT_EQ(elapsed_ns(c.earlier, c.later), static_cast<U128>(c.expected_ns_low));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ElapsedTest,
    testing::Values(
        ElapsedCase{"Same", {7, 123}, {7, 123}, {0, 0}, 0},
        ElapsedCase{"SubSecond", {7, 100}, {7, 350}, {0, 250}, 250},
        ElapsedCase{"NoBorrow", {2, 100'000'000}, {5, 600'000'000}, {3, 500'000'000},
                    3'500'000'000},
        ElapsedCase{"Borrow", {1, 900'000'000}, {3, 100'000'000}, {1, 200'000'000},
                    1'200'000'000},
        ElapsedCase{"BorrowToZeroSeconds", {4, 999'999'999}, {5, 0}, {0, 1}, 1},
        ElapsedCase{"JustUnderOneSecond", {0, 1}, {1, 0}, {0, 999'999'999}, 999'999'999},
        ElapsedCase{"NegativeSeconds", {-3, 500'000'000}, {2, 0}, {4, 500'000'000},
                    4'500'000'000},
        ElapsedCase{"BackwardsIsZero", {10, 0}, {9, 999'999'999}, {0, 0}, 0},
        ElapsedCase{"BackwardsByNanosIsZero", {10, 5}, {10, 4}, {0, 0}, 0},
        ElapsedCase{"BackwardsAcrossRange", {kMaxSec, 0}, {kMinSec, 0}, {0, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ElapsedRangeTest, FullInt64RangeNeedsMoreThan64BitsOfNanoseconds) {
  const Instant earlier{kMinSec, 0};
  const Instant later{kMaxSec, 999'999'999};
  EXPECT_EQ(elapsed(earlier, later), (Elapsed{kU64Max, 999'999'999}));
  // (2^64 - 1) * 1e9 + 999999999 = 1e9 * 2^64 - 1: high word 999999999, low word all ones.
  const U128 ns = elapsed_ns(earlier, later);
  EXPECT_EQ(static_cast<std::uint64_t>(ns >> 64), 999'999'999u);
  EXPECT_EQ(static_cast<std::uint64_t>(ns), kU64Max);
}

TEST(ClockTest, MonotonicReadingsNeverGoBack) {
  Instant previous = now();
  for (int i = 0; i < 1000; ++i) {
    const Instant current = now();
    EXPECT_LT(current.nanos, kNanosPerSecond);
    EXPECT_GE(current, previous);
    previous = current;
  }
}

TEST(FakeClockTest, OverridesNowWhileAliveAndNests) {
  const Instant outer_start{-5, 7};
  {
    FakeClock outer(outer_start);
    EXPECT_EQ(now(), outer_start);
    outer.advance_ns(999'999'993);  // carries into the next second
    EXPECT_EQ(now(), (Instant{-4, 0}));
    {
      FakeClock inner({100, 0});
      EXPECT_EQ(now(), (Instant{100, 0}));
      inner.advance_ns(2'500'000'001);
      EXPECT_EQ(now(), (Instant{102, 500'000'001}));
    }
    EXPECT_EQ(now(), (Instant{-4, 0}));
    outer.set({3, 3});
    EXPECT_EQ(outer.now(), (Instant{3, 3}));
    EXPECT_EQ(now(), (Instant{3, 3}));
  }
  // Back on the real clock, which never reads a negative second.
  EXPECT_GE(now().seconds, 0);
}

TEST(FakeClockTest, AdvanceCarriesWhenBothPartsOverflow) {
  FakeClock clock({0, 600'000'000});
  clock.advance_ns(1'700'000'000);  // 0.6 s + 1.7 s = 2.3 s
  EXPECT_EQ(clock.now(), (Instant{2, 300'000'000}));
}

}  // namespace
}  // namespace kestrum
