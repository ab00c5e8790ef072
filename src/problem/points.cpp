// Points: metric names, the finiteness check and GEO's conversion to radians.
#include "problem/points.hpp"

#include <charconv>
#include <cmath>

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
  storage->given = std::move(xy);
  return Points(std::move(storage), metric);
}

}  // namespace kestrum
