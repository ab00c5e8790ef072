// Saved state of a set of points: the metric, then the coordinates as given.
#pragma once

#include "problem/points.hpp"
#include "support/serialize.hpp"

namespace kestrum {

void write_points(ByteWriter& w, const Points& points);
// Rebuilt through Points::make, which checks the coordinates again; an unknown metric or
// coordinates it refuses are malformed.
[[nodiscard]] Points read_points(ByteReader& r);

}  // namespace kestrum
