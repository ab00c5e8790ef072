// The tour hash and the tabu list of tours: invariance under rotation and mirroring, O(1)
// neighbour hashes against hashing the moved tour, and hits confirmed by canonical forms.
#include "local_search/tabu_search/tour_hash.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "local_search/tabu_search/tour_tabu_list.hpp"

namespace kestrum {
namespace {

using Tour = std::vector<Word>;

Tour form_of(const Tour& s) {
  Tour out(s.size());
  canonical_form(s.size(), [&](std::size_t p) { return s[p]; }, out);
  return out;
}

TEST(TourHash, AllRotationsAndMirrorsShareHashAndForm) {
  std::mt19937_64 gen(5);
  for (std::size_t n : {1U, 2U, 3U, 4U, 9U, 30U}) {
    Tour s(n);
    std::iota(s.begin(), s.end(), Word{0});
    std::shuffle(s.begin(), s.end(), gen);
    const std::uint64_t h = TourHash::of(s);
    const Tour form = form_of(s);
    ASSERT_EQ(form.front(), 0U);
    for (std::size_t r = 0; r < n; ++r) {
      Tour t = s;
      std::rotate(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(r), t.end());
      EXPECT_EQ(TourHash::of(t), h) << n << " rotation " << r;
      EXPECT_EQ(form_of(t), form) << n << " rotation " << r;
      std::reverse(t.begin(), t.end());
      EXPECT_EQ(TourHash::of(t), h) << n << " mirrored rotation " << r;
      EXPECT_EQ(form_of(t), form) << n << " mirrored rotation " << r;
    }
  }
}

TEST(TourHash, DistinctToursOfSixCitiesAreDistinct) {
  // 6! = 720 arrays are (6 - 1)! / 2 = 60 tours of 12 arrays each.
  Tour s{0, 1, 2, 3, 4, 5};
  std::map<Tour, std::set<std::uint64_t>> hashes_by_form;
  std::map<Tour, int> arrays_by_form;
  do {
    hashes_by_form[form_of(s)].insert(TourHash::of(s));
    ++arrays_by_form[form_of(s)];
  } while (std::next_permutation(s.begin(), s.end()));
  ASSERT_EQ(hashes_by_form.size(), 60U);
  std::set<std::uint64_t> all;
  for (const auto& [form, hashes] : hashes_by_form) {
    EXPECT_EQ(hashes.size(), 1U);
    EXPECT_EQ(arrays_by_form[form], 12);
    all.insert(*hashes.begin());
  }
  EXPECT_EQ(all.size(), 60U);
}

class TourHashNeighbours : public ::testing::TestWithParam<int> {};

TEST_P(TourHashNeighbours, EveryNeighbourHashEqualsHashOfTheMovedTour) {
  std::mt19937_64 gen(GetParam());
  for (std::size_t n : {2U, 3U, 4U, 5U, 12U, 33U}) {
    Tour s(n);
    std::iota(s.begin(), s.end(), Word{0});
    std::shuffle(s.begin(), s.end(), gen);
    TourHash hash;
    hash.load(s);
    ASSERT_EQ(hash.hash(), TourHash::of(s));
    for (std::size_t i = 0; i + 1 < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        Tour t = s;
        std::swap(t[i], t[j]);
        ASSERT_EQ(hash.after_swap(i, j), TourHash::of(t)) << n << " swap " << i << "," << j;
        t = s;
        std::reverse(t.begin() + static_cast<std::ptrdiff_t>(i), t.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        ASSERT_EQ(hash.after_reverse(i, j), TourHash::of(t)) << n << " reverse " << i << "," << j;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TourHashNeighbours, ::testing::Range(0, 6));

TEST(TourTabuList, AHashHitCountsOnlyWhenTheFormsAgree) {
  TourTabuList tabu(2, 4);
  const Tour a{0, 1, 2, 3};
  const Tour b{0, 2, 1, 3};
  auto writes = [](const Tour& t) {
    return [&t](std::span<Word> out) { std::copy(t.begin(), t.end(), out.begin()); };
  };
  // A forged collision: both tours under one hash. Only the stored one is tabu.
  tabu.push(42, a);
  EXPECT_TRUE(tabu.contains(42, writes(a)));
  EXPECT_FALSE(tabu.contains(42, writes(b)));
  EXPECT_FALSE(tabu.contains(7, writes(a)));  // a miss never builds the form
  tabu.push(42, b);
  EXPECT_TRUE(tabu.contains(42, writes(b)));
  EXPECT_TRUE(tabu.contains(42, writes(a)));
  // A third entry pushes the oldest out: a goes, b stays.
  tabu.push(9, form_of({3, 2, 1, 0}));
  EXPECT_EQ(tabu.size(), 2U);
  EXPECT_FALSE(tabu.contains(42, writes(a)));
  EXPECT_TRUE(tabu.contains(42, writes(b)));
}

TEST(TourTabuList, SizeZeroHoldsTheLastTour) {
  TourTabuList tabu(0, 3);
  const Tour a{0, 1, 2};
  const Tour b{0, 2, 1};  // the same tour as a for three cities, but a different array
  tabu.push(1, a);
  tabu.push(2, b);
  EXPECT_EQ(tabu.size(), 1U);
  EXPECT_TRUE(tabu.contains(2, [&](std::span<Word> out) { std::copy(b.begin(), b.end(), out.begin()); }));
  EXPECT_FALSE(tabu.contains(1, [&](std::span<Word> out) { std::copy(a.begin(), a.end(), out.begin()); }));
}

}  // namespace
}  // namespace kestrum
