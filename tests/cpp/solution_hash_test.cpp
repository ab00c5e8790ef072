// Tests of the tabu search's solution hash: O(1) neighbour hashes against hashing the neighbour.
#include "local_search/tabu_search/solution_hash.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <vector>

namespace kestrum {
namespace {

std::vector<Word> random_permutation(std::size_t n, std::mt19937_64& gen) {
  std::vector<Word> s(n);
  std::iota(s.begin(), s.end(), Word{0});
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

class SolutionHashNeighbours : public testing::TestWithParam<int> {};

TEST_P(SolutionHashNeighbours, EveryNeighbourHashEqualsHashOfTheMovedSolution) {
  std::mt19937_64 gen(GetParam());
  for (std::size_t n : {2U, 3U, 5U, 17U, 40U}) {
    std::vector<Word> s = random_permutation(n, gen);
    SolutionHash hash;
    hash.prepare(n);
    hash.load(s);
    ASSERT_EQ(hash.hash(), SolutionHash::of(s));
    for (Word i = 0; i + 1 < n; ++i) {
      for (Word j = i + 1; j < n; ++j) {
        std::vector<Word> t = s;
        std::swap(t[i], t[j]);
        ASSERT_EQ(hash.after_swap(i, j), SolutionHash::of(t)) << "swap " << i << "," << j;
        t = s;
        std::reverse(t.begin() + i, t.begin() + j + 1);
        ASSERT_EQ(hash.after_reverse(i, j), SolutionHash::of(t)) << "reverse " << i << "," << j;
      }
    }
  }
}

TEST_P(SolutionHashNeighbours, ReloadingFollowsAWalk) {
  // The tables are reused step after step; stale prefix sums would show after a few moves.
  std::mt19937_64 gen(GetParam());
  const std::size_t n = 25;
  std::vector<Word> s = random_permutation(n, gen);
  SolutionHash hash;
  hash.prepare(n);
  std::uniform_int_distribution<Word> pos(0, n - 1);
  for (int step = 0; step < 50; ++step) {
    hash.load(s);
    Word i = pos(gen), j = pos(gen);
    if (i == j) continue;
    if (i > j) std::swap(i, j);
    const std::uint64_t predicted = step % 2 ? hash.after_swap(i, j) : hash.after_reverse(i, j);
    if (step % 2) {
      std::swap(s[i], s[j]);
    } else {
      std::reverse(s.begin() + i, s.begin() + j + 1);
    }
    ASSERT_EQ(predicted, SolutionHash::of(s)) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SolutionHashNeighbours, testing::Range(1, 6));

TEST(SolutionHash, AllPermutationsOfSevenHashApart) {
  std::vector<Word> s{0, 1, 2, 3, 4, 5, 6};
  std::set<std::uint64_t> seen;
  do {
    const std::uint64_t h = SolutionHash::of(s);
    EXPECT_LT(h, SolutionHash::kModulus);
    seen.insert(h);
  } while (std::next_permutation(s.begin(), s.end()));
  EXPECT_EQ(seen.size(), 5040U);
}

TEST(SolutionHash, OrderMattersNotJustTheMultiset) {
  // A hash of (value, position) pairs must see which value sits where.
  EXPECT_NE(SolutionHash::of(std::vector<Word>{0, 1}), SolutionHash::of(std::vector<Word>{1, 0}));
  EXPECT_NE(SolutionHash::of(std::vector<Word>{0}), SolutionHash::of(std::vector<Word>{}));
}

}  // namespace
}  // namespace kestrum
