// Tests of the tabu list: FIFO bound, membership against a plain list, and the size limit.
#include "local_search/tabu_search/tabu_list.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "support/fatal.hpp"

namespace kestrum {
namespace {

TEST(TabuList, KeepsTheLastBoundHashes) {
  TabuList list(3);
  for (std::uint64_t h : {10, 20, 30, 40}) list.push(h);
  EXPECT_EQ(list.size(), 3U);
  EXPECT_FALSE(list.contains(10));
  for (std::uint64_t h : {20, 30, 40}) EXPECT_TRUE(list.contains(h)) << h;
  list.push(50);
  EXPECT_FALSE(list.contains(20));
  EXPECT_TRUE(list.contains(30));
}

TEST(TabuList, BoundZeroActsAsOne) {
  TabuList list(0);
  EXPECT_FALSE(list.contains(0));
  list.push(0);
  EXPECT_TRUE(list.contains(0));
  list.push(7);
  EXPECT_EQ(list.size(), 1U);
  EXPECT_FALSE(list.contains(0));
  EXPECT_TRUE(list.contains(7));
}

// A plain list with a linear scan is the reference. Keys from a small range repeat and
// share probe runs, which exercises the counts and the backward-shift deletion; bounds
// above the initial room make the storage grow.
class TabuListAgainstDeque : public testing::TestWithParam<Word> {};

TEST_P(TabuListAgainstDeque, MembershipMatchesALinearScan) {
  const Word bound = GetParam();
  const std::size_t effective = std::max<Word>(bound, 1);
  std::mt19937_64 gen(bound);
  for (std::uint64_t universe : {8ULL, 64ULL, 1ULL << 40}) {
    TabuList list(bound);
    std::deque<std::uint64_t> reference;
    std::uniform_int_distribution<std::uint64_t> key(0, universe - 1);
    for (int step = 0; step < 6000; ++step) {
      const std::uint64_t h = key(gen);
      // Multiples of the table size land in the same home slot.
      const std::uint64_t pushed = step % 3 == 0 ? h << 32 : h;
      const std::uint64_t probe = key(gen);
      ASSERT_EQ(list.contains(probe),
                std::find(reference.begin(), reference.end(), probe) != reference.end())
          << "step " << step;
      if (reference.size() >= effective) reference.pop_front();
      reference.push_back(pushed);
      list.push(pushed);
      ASSERT_EQ(list.size(), reference.size());
    }
    for (std::uint64_t h : reference) ASSERT_TRUE(list.contains(h));
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, TabuListAgainstDeque, testing::Values(0U, 1U, 2U, 7U, 100U, 3000U));

TEST(TabuList, SizeLimitIsEightBytesPerHashWithinSigned32Bits) {
  std::string message;
  try {
    TabuList list(268435456);
  } catch (const FatalStop& stop) {
    message = stop.message;
  }
  EXPECT_EQ(message, "capacity overflow");
  // The largest allowed bound only reserves a little room up front.
  TabuList largest(268435455);
  largest.push(1);
  EXPECT_TRUE(largest.contains(1));
}

}  // namespace
}  // namespace kestrum
