// Saved state of a set of points.
#include "problem/points_state.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "support/result.hpp"

namespace kestrum {

void write_points(ByteWriter& w, const Points& points) {
  w.u8(static_cast<std::uint8_t>(points.metric()));
  w.floats(points.coordinates());  // x0, y0, x1, y1, ...
}

Points read_points(ByteReader& r) {
  const std::uint8_t metric = r.u8();
  if (metric > static_cast<std::uint8_t>(PointMetric::kGeo)) {
    malformed("unknown point metric " + std::to_string(metric));
  }
  Result<Points> points = Points::make(r.floats(), static_cast<PointMetric>(metric));
  if (!points.ok()) malformed(points.error().text);
  return std::move(points).value();
}

}  // namespace kestrum
