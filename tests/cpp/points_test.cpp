// Points: metric names, refused coordinates, hand-worked distances per rule, and agreement
// with the TSPLIB reader's matrix for random cities under every rule.
#include "problem/points.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "aidfunc/library_formats.hpp"
#include "fatal_message.hpp"
#include "io_test_files.hpp"

namespace kestrum {
namespace {

Points make(std::vector<double> xy, PointMetric metric) {
  Result<Points> p = Points::make(std::move(xy), metric);
  EXPECT_TRUE(p.ok());
  return std::move(p).value();
}

TEST(PointMetricNames, RoundTripAndUnknown) {
  for (const char* name : {"euclidean", "euc_2d", "ceil_2d", "att", "geo"}) {
    const auto metric = point_metric_named(name);
    ASSERT_TRUE(metric.has_value()) << name;
    EXPECT_EQ(point_metric_name(*metric), name);
  }
  EXPECT_FALSE(point_metric_named("EUC_2D").has_value());  // the Python names are lower case
  EXPECT_FALSE(point_metric_named("").has_value());
}

TEST(PointsMake, RefusesNoPointsOddCountsAndNonFiniteCoordinatesNamingThePoint) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Bad {
    std::vector<double> xy;
    std::string message;
  };
  for (const Bad& bad : {Bad{{}, "points must hold at least one point"},
                         Bad{{1, 2, 3}, "points need two coordinates each, got 3 numbers"},
                         Bad{{0, 0, 1, 1, 2, 2, nan, 1}, "point 3 has a non-finite coordinate (nan, 1)"},
                         Bad{{0, -inf}, "point 0 has a non-finite coordinate (0, -inf)"}}) {
    const Result<Points> p = Points::make(bad.xy, PointMetric::kEuclidean);
    ASSERT_FALSE(p.ok());
    EXPECT_EQ(p.error().kind, ErrorKind::InvalidInput);
    EXPECT_EQ(p.error().text, bad.message);
  }
  EXPECT_EQ(make({7, 7}, PointMetric::kEuc2d).size(), 1U);
}

TEST(PointsMake, RefusesPointsWhoseDistancesOrToursCannotBeFinite) {
  // Finite coordinates whose distances overflow (their differences, or the squares of
  // those), under every rule; GEO's radians that overflow, or whose sums would.
  const double big = 1.7e308;
  struct Case {
    std::vector<double> xy;
    PointMetric metric;
  };
  for (const Case& c : {Case{{-big, 0, big, 0}, PointMetric::kEuclidean}, Case{{0, -big, 0, big}, PointMetric::kEuc2d},
                        Case{{-big, 0, big, 0}, PointMetric::kCeil2d}, Case{{0, big, 0, -big}, PointMetric::kAtt},
                        Case{{big, 0, 1, 1}, PointMetric::kGeo}, Case{{0, -big, 1, 1}, PointMetric::kGeo},
                        Case{{0, 0, 1e308, 0, 0, 1}, PointMetric::kEuclidean}}) {
    const Result<Points> p = Points::make(c.xy, c.metric);
    ASSERT_FALSE(p.ok()) << point_metric_name(c.metric);
    EXPECT_EQ(p.error().text, "points too far apart: distances or tour lengths under '" +
                                  std::string(point_metric_name(c.metric)) + "' would not be finite");
  }
  // Far from the origin but close together, or far apart with room for the tour: accepted.
  EXPECT_TRUE(Points::make({big, big, big, big}, PointMetric::kEuclidean).ok());
  EXPECT_TRUE(Points::make({0, 0, 1e150, 1e150}, PointMetric::kAtt).ok());
  EXPECT_TRUE(Points::make({1e300, -1e300, -1e300, 1e300}, PointMetric::kGeo).ok());
}

TEST(PointsDistance, HandWorkedValuesPerRule) {
  // (0,0), (3,4), (1,1), (10,0): 5 exactly; sqrt 2 = 1.414; ATT of (0,0)-(10,0) is
  // sqrt(100/10) = 3.16, nint 3 < 3.16, so 4.
  const std::vector<double> xy{0, 0, 3, 4, 1, 1, 10, 0};
  const Points euclid = make(xy, PointMetric::kEuclidean);
  EXPECT_EQ(euclid.distance(0, 1), 5.0);
  EXPECT_EQ(euclid.distance(0, 2), std::sqrt(2.0));
  EXPECT_EQ(make(xy, PointMetric::kEuc2d).distance(0, 2), 1.0);
  EXPECT_EQ(make(xy, PointMetric::kCeil2d).distance(2, 0), 2.0);
  EXPECT_EQ(make(xy, PointMetric::kAtt).distance(0, 3), 4.0);
  // A quarter of the equator under TSPLIB's pi: 6378.388 * 1.570796 = 10019.1, +1, floor.
  const Points geo = make({0, 0, 0, 90, 0, 90}, PointMetric::kGeo);
  EXPECT_EQ(geo.distance(0, 1), 10020.0);
  EXPECT_EQ(geo.distance(1, 0), 10020.0);
  EXPECT_EQ(geo.distance(1, 1), 0.0);  // the diagonal, as in the reader's matrix
  EXPECT_EQ(geo.distance(1, 2), 1.0);  // two cities at one place
}

TEST(PointsDistance, CheckedReadsFailAsASquareMatrixWould) {
  const Points p = make({0, 0, 1, 1}, PointMetric::kEuclidean);
  EXPECT_EQ(fatal_message_of([&] { return p.distance(2, 0); }),
            "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(fatal_message_of([&] { return p.distance(0, 7); }),
            "index out of bounds: the len is 2 but the index is 7");
}

TEST(PointsDistance, RowsReadLikeMatrixRows) {
  const Points p = make({0, 0, 3, 4, -2, 7.5, 1e3, 1e-3}, PointMetric::kEuclidean);
  p.with_distances([&](const auto& d) {
    for (std::size_t a = 0; a < 4; ++a) {
      const auto row = d.row(a);
      for (std::size_t b = 0; b < 4; ++b) EXPECT_EQ(row[b], d.fast(a, b));
    }
    return 0;
  });
}

TEST(PointsCopy, SharesTheCoordinates) {
  const Points p = make({0, 0, 1, 1}, PointMetric::kGeo);
  const Points q = p;  // NOLINT: the copy is the point
  EXPECT_TRUE(q.shares_storage_with(p));
  EXPECT_EQ(q.coordinates().data(), p.coordinates().data());
  EXPECT_EQ(q.metric(), PointMetric::kGeo);
}

// Random cities written as a TSPLIB file: the reader's matrix and the on-demand distances
// agree bit for bit (including mirrored entries and the diagonal) under every rule.
class PointsAgainstReader : public testing::ScratchDir,
                            public ::testing::WithParamInterface<PointMetric> {};

TEST_P(PointsAgainstReader, SameMatrixAsTheFile) {
  static const char* const kTypes[] = {"", "EUC_2D", "CEIL_2D", "ATT", "GEO"};
  const PointMetric metric = GetParam();
  std::mt19937_64 gen(static_cast<unsigned>(metric) + 11);
  // GEO coordinates are DDD.MM; any finite value works, within the sphere's ranges here.
  std::uniform_real_distribution<double> coord(-89.0, 89.0);
  const std::size_t n = 40;
  std::vector<double> xy;
  std::ostringstream file;
  file.precision(17);
  file << "TYPE: TSP\nDIMENSION: " << n << "\nEDGE_WEIGHT_TYPE: "
       << kTypes[static_cast<int>(metric)] << "\nNODE_COORD_SECTION\n";
  for (std::size_t c = 0; c < n; ++c) {
    // A few repeated places, so that zero distances between distinct cities are covered.
    const double x = c % 7 == 6 ? xy[0] : std::round(coord(gen) * 100) / 100;
    const double y = c % 7 == 6 ? xy[1] : std::round(coord(gen) * 100) / 100;
    xy.push_back(x);
    xy.push_back(y);
    file << c + 1 << " " << x << " " << y << "\n";
  }
  file << "EOF\n";
  const Result<SquareMatrix> read = read_tsplib(write("r.tsp", file.str()));
  ASSERT_TRUE(read.ok()) << read.error().text;
  const Points points = make(xy, metric);
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      ASSERT_EQ(points.distance(a, b), read.value()[a][b]) << a << " " << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, PointsAgainstReader,
                         ::testing::Values(PointMetric::kEuc2d, PointMetric::kCeil2d,
                                         PointMetric::kAtt, PointMetric::kGeo),
                         [](const auto& info) { return std::string(point_metric_name(info.param)); });

}  // namespace
}  // namespace kestrum
