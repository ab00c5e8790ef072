// Tests of the tour pieces of iterated local search: reversals and their undo, neighbour
// lists, 2-opt + Or-opt local optima against brute force, the double bridge.
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

namespace kestrum {
namespace {

using Edge = std::pair<Word, Word>;

std::set<Edge> edges_of(std::span<const Word> order) {
  std::set<Edge> edges;
  for (std::size_t p = 0; p < order.size(); ++p) {
    const Word a = order[p], b = order[(p + 1) % order.size()];
    edges.insert({std::min(a, b), std::max(a, b)});
  }
  return edges;
}

void expect_consistent(const Tour& tour) {
  std::vector<Word> sorted(tour.order().begin(), tour.order().end());
  std::sort(sorted.begin(), sorted.end());
  for (Word c = 0; c < tour.size(); ++c) {
    ASSERT_EQ(sorted[c], c);
    ASSERT_EQ(tour.city(tour.position(c)), c);
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

template <class Dist>
double length_of(const Tour& tour, const Dist& d) {
  double sum = 0.0;
  for (Word p = 0; p < tour.size(); ++p) sum += d(tour.city(p), tour.city((p + 1) % tour.size()));
  return sum;
}

TEST(Tour, TwoOptReplacesExactlyTheTwoEdgesEitherWayRoundAndUndoRestoresTheOrder) {
  std::mt19937_64 rng(7);
  for (const Word n : {5U, 8U, 13U, 40U}) {
    Tour tour(shuffled(n, rng));
    const std::vector<Word> start(tour.order().begin(), tour.order().end());
    tour.start_journal();
    for (int step = 0; step < 200; ++step) {
      const Word a = static_cast<Word>(rng() % n), c = static_cast<Word>(rng() % n);
      const bool forwards = rng() % 2 == 0;
      const Word b = forwards ? tour.next(a) : tour.prev(a);
      const Word d = forwards ? tour.next(c) : tour.prev(c);
      if (a == c || b == c || d == a) continue;
      std::set<Edge> expected = edges_of(tour.order());
      expected.erase({std::min(a, b), std::max(a, b)});
      expected.erase({std::min(c, d), std::max(c, d)});
      expected.insert({std::min(a, c), std::max(a, c)});
      expected.insert({std::min(b, d), std::max(b, d)});
      tour.two_opt(a, b, c, d);
      expect_consistent(tour);
      ASSERT_EQ(edges_of(tour.order()), expected) << "n=" << n << " step " << step;
    }
    tour.undo();
    EXPECT_EQ(std::vector<Word>(tour.order().begin(), tour.order().end()), start);
  }
}

TEST(Tour, ReverseRunWrapsAroundTheEnd) {
  const std::vector<Word> order{0, 1, 2, 3, 4, 5};
  Tour tour(order);
  tour.reverse_run(4, 4);  // positions 4 5 0 1 hold 4 5 0 1 -> 1 0 5 4
  EXPECT_EQ(std::vector<Word>(tour.order().begin(), tour.order().end()),
            (std::vector<Word>{5, 4, 2, 3, 1, 0}));
  expect_consistent(tour);
}

TEST(NeighbourLists, GridSearchFindsTheSameNeighboursAsAFullSort) {
  std::mt19937_64 rng(11);
  // Spread out, on one line (a grid one cell high), and clustered with duplicates.
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

// Brute force over every 2-opt move: the best gain available.
template <class Dist>
double best_two_opt_gain(const Tour& tour, const Dist& d) {
  const Word n = tour.size();
  double best = 0.0;
  for (Word i = 0; i < n; ++i) {
    for (Word j = i + 2; j < n; ++j) {
      const Word a = tour.city(i), b = tour.city(i + 1), c = tour.city(j), e = tour.city((j + 1) % n);
      if (e == a) continue;
      best = std::max(best, d(a, b) + d(c, e) - d(a, c) - d(b, e));
    }
  }
  return best;
}

// Brute force over every Or-opt move (segments of 1 to 3 cities, every other edge, both
// ways round) that one of the lists offers: a new edge {c, end} with c in the end's list
// and shorter than what cutting the segment out saves. Returns the best such gain.
template <class Dist>
double best_listed_or_opt_gain(const Tour& tour, const Dist& d, const NeighbourLists& lists) {
  const Word n = tour.size();
  auto listed = [&](Word e, Word c) {
    const auto near = lists.of(e);
    return std::find(near.begin(), near.end(), c) != near.end();
  };
  double best = 0.0;
  for (Word i = 0; i < n; ++i) {
    for (Word len = 1; len <= 3; ++len) {
      std::vector<Word> seg;
      for (Word t = 0; t < len; ++t) seg.push_back(tour.city((i + t) % n));
      const Word p = tour.city((i + n - 1) % n), nx = tour.city((i + len) % n);
      const Word s1 = seg.front(), s2 = seg.back();
      const double saved = d(p, s1) + d(s2, nx) - d(p, nx);
      for (Word j = 0; j < n; ++j) {
        const Word c = tour.city(j), x = tour.city((j + 1) % n);
        if (std::count(seg.begin(), seg.end(), c) || std::count(seg.begin(), seg.end(), x)) continue;
        for (const auto& [cj, xj] : {std::pair{s1, s2}, std::pair{s2, s1}}) {
          const double gain = saved + d(c, x) - d(c, cj) - d(x, xj);
          const bool offered = (listed(cj, c) && d(c, cj) < saved) || (listed(xj, x) && d(x, xj) < saved);
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
    EXPECT_LE(best_listed_or_opt_gain(tour, pts, lists), 1e-9) << "round " << round;
    // With complete lists every improving 2-opt move is offered by one of its ends.
    if (k == n - 1) {
      EXPECT_LE(best_two_opt_gain(tour, pts), 1e-9) << "round " << round;
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
      const std::set<Edge> before = edges_of(tour.order());
      search.double_bridge(draws);
      expect_consistent(tour);
      EXPECT_NEAR(search.length(), length_of(tour, pts), 1e-7);
      const std::set<Edge> after = edges_of(tour.order());
      std::vector<Edge> gone;
      std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
      EXPECT_TRUE(gone.size() == 3 || gone.size() == 2) << "n=" << n;
      // The runs are short: the changed edges lie within 2 * 50 + 2 consecutive cities.
      std::vector<Word> ends;
      for (const auto& [a, b] : gone) ends.insert(ends.end(), {tour.position(a), tour.position(b)});
      const auto [lo, hi] = std::minmax_element(ends.begin(), ends.end());
      const Word span = *hi - *lo;
      EXPECT_LE(std::min<Word>(span, n - span), 2 * kMaxBridgeSegment + 2) << "n=" << n;
      search.clear_queue();
    }
  }
}

TEST(TourSearch, KickThenRepairThenUndoGivesBackTheLocalOptimum) {
  std::mt19937_64 rng(9);
  const Word n = 400;
  const Points pts = random_points(n, rng);
  const NeighbourLists lists = nearest_in_plane(pts.xy, 8, pts);
  Tour tour(shuffled(n, rng));
  TourSearch<Points> search(pts, lists, tour, 1e-9);
  search.activate_all();
  search.descend([] { return false; });
  const std::vector<Word> optimum(tour.order().begin(), tour.order().end());
  Xoshiro128pp draws = Xoshiro128pp::from_seed(2);
  tour.start_journal();
  for (int kick = 0; kick < 20; ++kick) {
    search.double_bridge(draws);
    search.descend([] { return false; });
    tour.undo();
    ASSERT_EQ(std::vector<Word>(tour.order().begin(), tour.order().end()), optimum);
  }
}

}  // namespace
}  // namespace kestrum
