// Tests of one tour move's delta: the short route taken for ordered pairs of known cities
// gives what the checked walk over the same edges gives, bit for bit, and fails where it
// fails, with its message, for every pair (inverted, equal and past the end included) and
// for solutions that repeat a city or name one the data does not have.
#include "problem/kernels/tour.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "problem/matrix.hpp"
#include "problem/points.hpp"
#include "support/word.hpp"

namespace kestrum {
namespace {

using kernels::Checked;
using Rows = std::vector<std::vector<double>>;
using Solution = std::vector<Word>;

// The value's bits, or the stop's message.
std::string outcome_of(auto&& delta) {
  double value = 0.0;
  const std::string message = fatal_message_of([&] {
    value = delta();
    return 0;
  });
  if (message != "<no fatal stop>") return "stop: " + message;
  return "bits " + std::to_string(std::bit_cast<std::uint64_t>(value));
}

Rows random_rows(std::mt19937_64& gen, std::size_t rows, std::size_t columns) {
  std::uniform_real_distribution<double> value(0.0, 100.0);
  Rows d(rows, std::vector<double>(columns));
  for (auto& row : d) {
    for (double& x : row) x = value(gen);
  }
  return d;
}

// Tours over `cities` (at least 3) cities: permutations of all of them and of fewer, a repeated city,
// and a city past the data at every position.
std::vector<Solution> solutions(std::mt19937_64& gen, Word cities) {
  std::vector<Solution> out;
  Solution all(cities);
  for (Word k = 0; k < cities; ++k) all[k] = k;
  std::shuffle(all.begin(), all.end(), gen);
  out.push_back(all);
  out.push_back(Solution(all.begin(), all.end() - 2));
  out.push_back(Solution{all[0], all[1], all[0], all[2]});
  out.push_back(Solution{all[1], all[0]});
  for (std::size_t at = 0; at < all.size(); ++at) {
    Solution past = all;
    past[at] = cities;
    out.push_back(past);
  }
  return out;
}

// Every pair of positions up to one past the end, both directions of the flag.
template <class D>
void expect_short_route_is_the_walk(const D& d, const std::vector<Solution>& tours, const std::string& source) {
  for (const Solution& tour : tours) {
    const std::span<const Word> s = tour;
    for (const bool symmetric : {true, false}) {
      for (std::size_t i = 0; i <= s.size(); ++i) {
        for (std::size_t j = 0; j <= s.size(); ++j) {
          const std::string where = source + (symmetric ? " sym" : " asym") + " len " +
                                    std::to_string(s.size()) + " (" + std::to_string(i) + ", " +
                                    std::to_string(j) + ") of " + std::to_string(&tour - tours.data());
          EXPECT_EQ(outcome_of([&] { return kernels::tsp_swap<Checked>(d, symmetric, s, i, j); }),
                    outcome_of([&] { return kernels::tsp_swap_walk<Checked>(d, symmetric, s, i, j); }))
              << "exchange, " << where;
          EXPECT_EQ(outcome_of([&] { return kernels::tsp_reverse<Checked>(d, symmetric, s, i, j); }),
                    outcome_of([&] { return kernels::tsp_reverse_walk<Checked>(d, symmetric, s, i, j); }))
              << "reversal, " << where;
        }
      }
    }
  }
}

TEST(TourDeltaTest, SquareMatricesGiveTheWalksResultsAndFailures) {
  std::mt19937_64 gen(5);
  for (const std::size_t n : {3, 4, 7}) {
    const Rows rows = random_rows(gen, n, n);
    Rows mirrored = rows;
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < a; ++b) mirrored[a][b] = mirrored[b][a];
    }
    const std::vector<Solution> tours = solutions(gen, static_cast<Word>(n));
    expect_short_route_is_the_walk(Matrix(rows), tours, "square " + std::to_string(n));
    expect_short_route_is_the_walk(Matrix(mirrored), tours, "mirrored " + std::to_string(n));
  }
}

TEST(TourDeltaTest, DataThatIsNotSquareIsReadAsTheWalkReadsIt) {
  std::mt19937_64 gen(6);
  // Wider than tall: every city below the row count can be read, but the matrix is not square.
  const std::vector<Solution> tours = solutions(gen, 5);
  expect_short_route_is_the_walk(Matrix(random_rows(gen, 5, 7)), tours, "wide");
  // Ragged: row 2 is too short for city 4.
  Rows ragged = random_rows(gen, 5, 5);
  ragged[2].resize(3);
  expect_short_route_is_the_walk(Matrix(ragged), tours, "ragged");
}

TEST(TourDeltaTest, PointsGiveTheWalksResultsAndFailures) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> coordinate(-50.0, 50.0);
  std::vector<double> xy(2 * 6);
  for (double& c : xy) c = coordinate(gen);
  const Points points = Points::make(xy, PointMetric::kEuc2d).value();
  const std::vector<Solution> tours = solutions(gen, 6);
  points.with_distances([&](const auto& d) { expect_short_route_is_the_walk(d, tours, "points"); });
}

// Hand-worked: the closing exchange on a symmetric tour turns the neighbours outside the
// pair into each other. Cities on a line at 0, 1, 3, 6; tour 0 1 2 3 has length 12, and
// exchanging its ends gives 3 1 2 0: |6-1| + |1-3| + |3-0| + |0-6| = 16.
TEST(TourDeltaTest, TheClosingExchangeOfASymmetricTour) {
  const double x[] = {0, 1, 3, 6};
  Rows rows(4, std::vector<double>(4));
  for (std::size_t a = 0; a < 4; ++a) {
    for (std::size_t b = 0; b < 4; ++b) rows[a][b] = std::fabs(x[a] - x[b]);
  }
  const Matrix d(rows);
  const Solution tour{0, 1, 2, 3};
  EXPECT_EQ(kernels::tsp_swap<Checked>(d, true, tour, 0, 3), 4.0);
  // Reversing the whole tour walks it backwards: the same length.
  EXPECT_EQ(kernels::tsp_reverse<Checked>(d, true, tour, 0, 3), 0.0);
}

}  // namespace
}  // namespace kestrum
