// Points: metric names, the finiteness check and GEO's conversion to radians.
#include "problem/points.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

namespace kestrum {

namespace {
constexpr std::pair<std::string_view, PointMetric> kMetricNames[] = {
    {"euclidean", PointMetric::kEuclidean}, {"euc_2d", PointMetric::kEuc2d},
    {"ceil_2d", PointMetric::kCeil2d},       {"att", PointMetric::kAtt},
    {"geo", PointMetric::kGeo},
};
// Shortest round-trip text: "1.5", "nan", "-inf".
std::string shortest(double v) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return std::string(buffer, end);
}
// Whether every distance of the points, and every tour's length, is finite. Each plane rule
// grows with the coordinate differences, so the corners of the bounding box give the largest
// distance, and n times it bounds a tour. GEO reads cosines of sums and differences of
// radians: those must stay finite (its distances are then at most half the earth round).
bool lengths_are_finite(std::span<const double> read, PointMetric metric) {
  if (read.empty()) return true;
  double lo_x = read[0], hi_x = read[0], lo_y = read[1], hi_y = read[1];
  for (std::size_t p = 0; p < read.size(); p += 2) {
    lo_x = std::min(lo_x, read[p]);
    hi_x = std::max(hi_x, read[p]);
    lo_y = std::min(lo_y, read[p + 1]);
    hi_y = std::max(hi_y, read[p + 1]);
  }
  const metrics::Point lo{lo_x, lo_y};
  const metrics::Point hi{hi_x, hi_y};
  double longest = 0.0;
  switch (metric) {
    case PointMetric::kEuclidean: longest = metrics::euclidean(lo, hi); break;
    case PointMetric::kEuc2d: longest = metrics::euc_2d(lo, hi); break;
    case PointMetric::kCeil2d: longest = metrics::ceil_2d(lo, hi); break;
    case PointMetric::kAtt: longest = metrics::att(lo, hi); break;
    case PointMetric::kGeo: {
      constexpr double kHalfMax = std::numeric_limits<double>::max() / 2;
      const auto within = [&](double v) { return std::isfinite(v) && std::abs(v) <= kHalfMax; };
      if (!within(lo_x) || !within(hi_x) || !within(lo_y) || !within(hi_y)) return false;
      longest = metrics::kTsplibEarthRadius * metrics::kTsplibPi + 1.0;
      break;
    }
  }
  return std::isfinite(longest * static_cast<double>(read.size() / 2));
}

}  // namespace

std::optional<PointMetric> point_metric_named(std::string_view name) noexcept {
  for (const auto& [text, metric] : kMetricNames) {
    if (text == name) return metric;
  }
  return std::nullopt;
}

std::string_view point_metric_name(PointMetric metric) noexcept {
  for (const auto& [text, m] : kMetricNames) {
    if (m == metric) return text;
  }
  return "unknown";
}

Result<Points> Points::make(std::vector<double> xy, PointMetric metric) {
  // A tour needs a city: with none, the first distance read would be out of range.
  if (xy.empty()) return ReaderError::invalid_input("points must hold at least one point");
  if (xy.size() % 2 != 0) {
    return ReaderError::invalid_input("points need two coordinates each, got " +
                                      std::to_string(xy.size()) + " numbers");
  }
  for (std::size_t p = 0; p < xy.size(); p += 2) {
    if (!std::isfinite(xy[p]) || !std::isfinite(xy[p + 1])) {
      return ReaderError::invalid_input("point " + std::to_string(p / 2) +
                                        " has a non-finite coordinate (" + shortest(xy[p]) +
                                        ", " + shortest(xy[p + 1]) + ")");
    }
  }
  auto storage = std::make_shared<Storage>();
  if (metric == PointMetric::kGeo) {
    storage->read.resize(xy.size());
    for (std::size_t k = 0; k < xy.size(); ++k) storage->read[k] = metrics::geo_radians(xy[k]);
  }
  if (!lengths_are_finite(storage->read.empty() ? xy : storage->read, metric)) {
    return ReaderError::invalid_input("points too far apart: distances or tour lengths under '" +
                                      std::string(point_metric_name(metric)) + "' would not be finite");
  }
  storage->given = std::move(xy);
  return Points(std::move(storage), metric);
}

}  // namespace kestrum
