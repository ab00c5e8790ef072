// Tests of the tour pieces of iterated local search: both tour representations, neighbour
// lists, 2-opt + Or-opt local optima against brute force, the double bridge and undo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "local_search/iterated_local_search/neighbour_lists.hpp"
#include "local_search/iterated_local_search/tour.hpp"
#include "local_search/iterated_local_search/tour_search.hpp"
#include "local_search/iterated_local_search/two_level_tour.hpp"

namespace kestrum {
namespace {

using Edge = std::pair<Word, Word>;

template <class TourT>
std::vector<Word> order_of(const TourT& tour) {
  std::vector<Word> order(tour.size());
  tour.order_from(0, order);
  return order;
}

template <class TourT>
std::set<Edge> edges_of(const TourT& tour) {
  std::set<Edge> edges;
  for (Word a = 0; a < tour.size(); ++a) {
    const Word b = tour.next(a);
    edges.insert({std::min(a, b), std::max(a, b)});
  }
  return edges;
}

// One cycle through every city, with next and prev inverse to each other.
template <class TourT>
void expect_consistent(const TourT& tour) {
  std::vector<Word> sorted = order_of(tour);
  std::sort(sorted.begin(), sorted.end());
  for (Word c = 0; c < tour.size(); ++c) {
    ASSERT_EQ(sorted[c], c);
    ASSERT_EQ(tour.prev(tour.next(c)), c);
  }
}

std::vector<Word> shuffled(Word n, std::mt19937_64& rng) {
  std::vector<Word> order(n);
  for (Word c = 0; c < n; ++c) order[c] = c;
  std::shuffle(order.begin(), order.end(), rng);
  return order;
}

struct Points {
  std::vector<double> xy;
  [[nodiscard]] double operator()(Word a, Word b) const {
    return std::hypot(xy[2 * a] - xy[2 * b], xy[2 * a + 1] - xy[2 * b + 1]);
  }
};

Points random_points(Word n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 100.0);
  Points p;
  for (Word c = 0; c < 2 * n; ++c) p.xy.push_back(u(rng));
  return p;
}

template <class TourT, class Dist>
double length_of(const TourT& tour, const Dist& d) {
  double sum = 0.0;
  for (Word c = 0; c < tour.size(); ++c) sum += d(c, tour.next(c));
  return sum;
}

template <class TourT>
class TourRepresentation : public ::testing::Test {};
using Representations = ::testing::Types<Tour, TwoLevelTour>;
TYPED_TEST_SUITE(TourRepresentation, Representations);

TYPED_TEST(TourRepresentation, TwoOptReplacesExactlyTheTwoEdgesEitherWayRound) {
  std::mt19937_64 rng(7);
  // From three segments to many, so that in-segment reversals, reversals of runs of
  // segments and the rebuilds after many splits are all reached.
  for (const Word n : {24U, 25U, 40U, 130U, 1000U}) {
    TypeParam tour(shuffled(n, rng));
    for (int step = 0; step < 3000; ++step) {
      const Word a = static_cast<Word>(rng() % n), c = static_cast<Word>(rng() % n);
      const bool forwards = rng() % 2 == 0;
      const Word b = forwards ? tour.next(a) : tour.prev(a);
      const Word d = forwards ? tour.next(c) : tour.prev(c);
      if (a == c || b == c || d == a) continue;
      std::set<Edge> expected = edges_of(tour);
      expected.erase({std::min(a, b), std::max(a, b)});
      expected.erase({std::min(c, d), std::max(c, d)});
      expected.insert({std::min(a, c), std::max(a, c)});
      expected.insert({std::min(b, d), std::max(b, d)});
      tour.two_opt(a, b, c, d);
      expect_consistent(tour);
      ASSERT_EQ(edges_of(tour), expected) << "n=" << n << " step " << step;
    }
  }
}

TEST(TwoLevelTour, AgreesWithTheArrayOnLongRandomSequences) {
  // Long sequences on larger tours: segments taking in their neighbours' parts until they
  // are full, new segments when they are, and the rebuilds after many of those.
  std::mt19937_64 rng(23);
  for (const Word n : {64U, 500U, 5000U}) {
    const std::vector<Word> start = shuffled(n, rng);
    Tour array(start);
    TwoLevelTour linked(start);
    for (int step = 0; step < 20000; ++step) {
      const Word a = static_cast<Word>(rng() % n);
      // Mostly near pairs (in tour order), as a descent makes them, and some far ones.
      const Word reach = rng() % 4 == 0 ? n : 40;
      Word c = a;
      for (Word k = static_cast<Word>(rng() % reach); k > 0; --k) c = array.next(c);
      const bool forwards = rng() % 2 == 0;
      const Word b = forwards ? array.next(a) : array.prev(a);
      const Word d = forwards ? array.next(c) : array.prev(c);
      if (a == c || b == c || d == a) continue;
      array.two_opt(a, b, c, d);
      linked.two_opt(a, b, c, d);
      if (step % 97 == 0) {
        expect_consistent(linked);
        ASSERT_EQ(edges_of(linked), edges_of(array)) << "n=" << n << " step " << step;
      }
    }
    expect_consistent(linked);
    ASSERT_EQ(edges_of(linked), edges_of(array)) << "n=" << n;
  }
}

TYPED_TEST(TourRepresentation, KicksRepairsAndUndoKeepTheLengthExact) {
  // The representations may read the cycle in different directions, and the search tries a
  // city's two sides in a fixed order, so their runs differ: each is checked on its own.
  std::mt19937_64 rng(13);
  const Word n = 700;
  const Points pts = random_points(n, rng);
  const NeighbourLists lists = nearest_in_plane(pts.xy, 8, pts);
  TypeParam tour(shuffled(n, rng));
  TourSearch<Points, TypeParam> search(pts, lists, tour, 1e-9);
  search.activate_all();
  search.descend([] { return false; });
  EXPECT_NEAR(search.length(), length_of(tour, pts), 1e-6);
  Xoshiro128pp draws = Xoshiro128pp::from_seed(4);
  search.start_journal();
  for (int kick = 0; kick < 300; ++kick) {
    const std::set<Edge> before = edges_of(tour);
    const double length_before = search.length();
    search.double_bridge(draws);
    search.descend([] { return false; });
    ASSERT_NEAR(search.length(), length_of(tour, pts), 1e-6) << "kick " << kick;
    if (kick % 2 == 0) {
      search.undo();
      ASSERT_EQ(edges_of(tour), before) << "kick " << kick;
      search.set_length(length_before);
    } else {
      search.commit();
    }
    expect_consistent(tour);
  }
}

TEST(NeighbourLists, GridSearchFindsTheSameNeighboursAsAFullSort) {
  std::mt19937_64 rng(11);
  // Spread out, on one line (a grid one cell high), clustered with duplicates, all at one
  // place, and spread beyond what a double's extent holds (one cell).
  std::vector<Points> cases{random_points(300, rng)};
  Points line;
  for (Word c = 0; c < 50; ++c) line.xy.insert(line.xy.end(), {double((c * 37) % 50), 3.0});
  cases.push_back(line);
  Points clustered;
  for (Word c = 0; c < 120; ++c) {
    const double base = c < 100 ? 0.0 : 1e6;
    clustered.xy.insert(clustered.xy.end(), {base + double(c % 7), base + double(c % 5)});
  }
  cases.push_back(clustered);
  cases.push_back(Points{std::vector<double>(40, 2.5)});
  Points huge;
  for (Word c = 0; c < 30; ++c) huge.xy.insert(huge.xy.end(), {c % 2 ? 1e308 : -1e308, double(c)});
  cases.push_back(huge);
  for (const Points& pts : cases) {
    const Word n = static_cast<Word>(pts.xy.size() / 2);
    for (const Word k : {1U, 5U, 10U}) {
      const NeighbourLists grid = nearest_in_plane(pts.xy, k, pts);
      const NeighbourLists rows = nearest_by_rows(n, k, pts);
      ASSERT_EQ(grid.k, k);
      // The same distances in the same order; with ties the ids are the lowest ones.
      EXPECT_EQ(grid.dist, rows.dist) << "n=" << n << " k=" << k;
      EXPECT_EQ(grid.ids, rows.ids) << "n=" << n << " k=" << k;
    }
  }
}

TEST(NeighbourLists, RoundedDistancesTieAsInTheRows) {
  // Integer coordinates and distances rounded to integers: many neighbours tie at the k-th
  // distance, and the grid must pick the lowest numbers among them, as the rows do, even
  // when a tied one lies in a farther cell than an untied one.
  std::mt19937_64 rng(17);
  std::uniform_int_distribution<int> u(0, 40);
  Points pts;
  for (Word c = 0; c < 400; ++c) pts.xy.insert(pts.xy.end(), {double(u(rng)), double(u(rng))});
  const auto rounded = [&](Word a, Word b) { return std::floor(pts(a, b) + 0.5); };
  const auto bound = [](double r) { return std::floor(r * (1.0 - 1e-12) + 0.5); };
  for (const Word k : {3U, 8U, 16U}) {
    const NeighbourLists grid = nearest_in_plane(pts.xy, k, rounded, bound, [] { return false; });
    const NeighbourLists rows = nearest_by_rows(400, k, rounded);
    EXPECT_EQ(grid.dist, rows.dist) << "k=" << k;
    EXPECT_EQ(grid.ids, rows.ids) << "k=" << k;
  }
}

TEST(NeighbourLists, AStopEndsTheBuildWithNoLists) {
  std::mt19937_64 rng(19);
  const Points pts = random_points(3000, rng);
  int asked = 0;
  const auto stop_at_second = [&] { return ++asked == 2; };
  EXPECT_TRUE(nearest_in_plane(pts.xy, 5, pts, [](double r) { return r / 2; }, stop_at_second).ids.empty());
  EXPECT_EQ(asked, 2);
  asked = 0;
  EXPECT_TRUE(nearest_by_rows(3000, 5, pts, stop_at_second).ids.empty());
  EXPECT_EQ(asked, 2);
}

// Brute force over every 2-opt move: the best gain available.
template <class Dist>
double best_two_opt_gain(const std::vector<Word>& order, const Dist& d) {
  const std::size_t n = order.size();
  double best = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 2; j < n; ++j) {
      const Word a = order[i], b = order[i + 1], c = order[j], e = order[(j + 1) % n];
      if (e == a) continue;
      best = std::max(best, d(a, b) + d(c, e) - d(a, c) - d(b, e));
    }
  }
  return best;
}

// Brute force over every Or-opt move (segments of 1 to 3 cities, every other edge, both
// ways round) that one of the lists offers: a new edge {c, end} with c in the end's list
// and shorter than what cutting the segment out saves, or with the end in c's list and
// shorter than the edge {c, x} it replaces (and the same for x). Returns the best such gain.
// Without lists, every Or-opt move counts.
template <class Dist>
double best_listed_or_opt_gain(const std::vector<Word>& order, const Dist& d, const NeighbourLists* lists) {
  const std::size_t n = order.size();
  auto listed = [&](Word e, Word c) {
    const auto near = lists->of(e);
    return std::find(near.begin(), near.end(), c) != near.end();
  };
  double best = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t len = 1; len <= 3; ++len) {
      std::vector<Word> seg;
      for (std::size_t t = 0; t < len; ++t) seg.push_back(order[(i + t) % n]);
      const Word p = order[(i + n - 1) % n], nx = order[(i + len) % n];
      const Word s1 = seg.front(), s2 = seg.back();
      const double saved = d(p, s1) + d(s2, nx) - d(p, nx);
      for (std::size_t j = 0; j < n; ++j) {
        const Word c = order[j], x = order[(j + 1) % n];
        if (std::count(seg.begin(), seg.end(), c) || std::count(seg.begin(), seg.end(), x)) continue;
        for (const auto& [cj, xj] : {std::pair{s1, s2}, std::pair{s2, s1}}) {
          const double gain = saved + d(c, x) - d(c, cj) - d(x, xj);
          // From the run's ends, or from c or x with the run's end in its list.
          const bool offered = lists == nullptr || (listed(cj, c) && d(c, cj) < saved) || (listed(xj, x) && d(x, xj) < saved) ||
                               (listed(c, cj) && d(c, cj) < d(c, x)) || (listed(x, xj) && d(x, xj) < d(c, x));
          if (offered) best = std::max(best, gain);
        }
      }
    }
  }
  return best;
}

TEST(TourSearch, LocalOptimaHaveNoImprovingListedMoveAndTheLengthIsExact) {
  std::mt19937_64 rng(3);
  for (int round = 0; round < 30; ++round) {
    const Word n = 8 + static_cast<Word>(rng() % 50);
    const Word k = round % 3 == 0 ? n - 1 : 1 + static_cast<Word>(rng() % 8);
    const Points pts = random_points(n, rng);
    const NeighbourLists lists = nearest_in_plane(pts.xy, std::min(k, n - 1), pts);
    Tour tour(shuffled(n, rng));
    TourSearch<Points> search(pts, lists, tour, 1e-9);
    // Don't-look bits may leave a move that a change elsewhere made improving; a pass with
    // every city active must find it, so repeat passes until one changes nothing.
    double before = 0.0;
    do {
      before = search.length();
      search.activate_all();
      search.descend([] { return false; });
    } while (search.length() < before);
    expect_consistent(tour);
    EXPECT_NEAR(search.length(), length_of(tour, pts), 1e-7);
    const std::vector<Word> order = order_of(tour);
    EXPECT_LE(best_listed_or_opt_gain(order, pts, &lists), 1e-9) << "round " << round;
    // With complete lists every improving 2-opt and Or-opt move is offered.
    if (k == n - 1) {
      EXPECT_LE(best_two_opt_gain(order, pts), 1e-9) << "round " << round;
      EXPECT_LE(best_listed_or_opt_gain(order, pts, nullptr), 1e-9) << "round " << round;
    }
  }
}

TEST(TourSearch, DoubleBridgeSwapsTwoAdjacentShortRunsAndKeepsTheLength) {
  // Three edges change, or two when both runs are single cities (their edge survives).
  std::mt19937_64 rng(5);
  Xoshiro128pp draws = Xoshiro128pp::from_seed(1);
  for (const Word n : {8U, 9U, 30U, 500U}) {
    const Points pts = random_points(n, rng);
    const NeighbourLists lists = nearest_by_rows(n, std::min<Word>(5, n - 1), pts);
    Tour tour(shuffled(n, rng));
    TourSearch<Points> search(pts, lists, tour, 1e-9);
    for (int kick = 0; kick < 50; ++kick) {
      const std::set<Edge> before = edges_of(tour);
      search.double_bridge(draws);
      expect_consistent(tour);
      EXPECT_NEAR(search.length(), length_of(tour, pts), 1e-7);
      const std::set<Edge> after = edges_of(tour);
      std::vector<Edge> gone;
      std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
      EXPECT_TRUE(gone.size() == 3 || gone.size() == 2) << "n=" << n;
      // The runs are short: the cities of the changed edges lie within 2 * 50 + 2
      // consecutive cities of the new tour.
      const std::vector<Word> order = order_of(tour);
      std::vector<std::size_t> at(n);
      for (std::size_t p = 0; p < n; ++p) at[order[p]] = p;
      for (const auto& [a, b] : gone) {
        for (const auto& [c, e] : gone) {
          const std::size_t gap = at[a] > at[c] ? at[a] - at[c] : at[c] - at[a];
          EXPECT_LE(std::min(gap, n - gap), 2 * kMaxBridgeSegment + 2) << "n=" << n;
          (void)b;
          (void)e;
        }
      }
      search.clear_queue();
    }
  }
}

TEST(TourSearch, DoubleBridgeRunsTakeEveryLengthUpToTheLongest) {
  // From the tour 0 1 ... n-1, a kick cuts three of its edges (two when both runs are single
  // cities) and the cuts split the cycle into the two runs and the rest. Both runs are drawn
  // from 1 to min(50, n / 3): over many kicks each length shows up, the longest included, for
  // both runs at once, and none is longer.
  Xoshiro128pp draws = Xoshiro128pp::from_seed(3);
  for (const Word n : {9U, 30U, 170U}) {
    const Word longest = std::min(kMaxBridgeSegment, n / 3);
    std::vector<Word> order(n);
    for (Word c = 0; c < n; ++c) order[c] = c;
    std::mt19937_64 rng(n);
    const Points pts = random_points(n, rng);
    const NeighbourLists lists = nearest_by_rows(n, 3, pts);
    Tour tour(order);
    const std::set<Edge> start = edges_of(tour);
    TourSearch<Points> search(pts, lists, tour, 1e-9);
    search.start_journal();
    std::set<Word> run_lengths;
    bool both_longest = false;
    for (int kick = 0; kick < 20000 && !(both_longest && run_lengths.size() == longest); ++kick) {
      search.double_bridge(draws);
      std::vector<Word> cuts;  // c where the edge {c, c + 1} is gone
      for (Word c = 0; c < n; ++c) {
        const Word d = (c + 1) % n;
        if (tour.next(c) != d && tour.prev(c) != d) cuts.push_back(c);
      }
      ASSERT_TRUE(cuts.size() == 3 || cuts.size() == 2) << "n=" << n;
      std::vector<Word> arcs;
      for (std::size_t k = 0; k < cuts.size(); ++k) {
        const Word next_cut = cuts[(k + 1) % cuts.size()];
        arcs.push_back((next_cut + n - cuts[k]) % n == 0 ? n : (next_cut + n - cuts[k]) % n);
      }
      if (cuts.size() == 2) arcs = {1, 1};  // both runs single cities: their shared edge stays
      std::sort(arcs.begin(), arcs.end());
      // The two shortest arcs are the runs (the rest holds at least n - 2 * longest >= n / 3).
      ASSERT_LE(arcs[1], longest) << "n=" << n;
      run_lengths.insert(arcs[0]);
      run_lengths.insert(arcs[1]);
      if (arcs[0] == longest && arcs[1] == longest) both_longest = true;
      search.undo();
      search.clear_queue();
      ASSERT_EQ(edges_of(tour), start) << "n=" << n;
    }
    EXPECT_TRUE(both_longest) << "n=" << n;
    EXPECT_EQ(run_lengths.size(), longest) << "n=" << n;
    EXPECT_EQ(*run_lengths.rbegin(), longest) << "n=" << n;
  }
}

}  // namespace
}  // namespace kestrum
