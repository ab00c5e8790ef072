// Distances between two points: the plain Euclidean one and TSPLIB's rounded integer rules.
#pragma once

#include <algorithm>
#include <cmath>

// Shared by the TSPLIB reader, which fills a matrix with them, and by the point evaluation,
// which computes them on demand: both must give the same value bit for bit, so each rule is
// written once, here. Every expression is written out in full order (no fused multiply-add).
namespace kestrum::metrics {

struct Point {
  double x;
  double y;
};

[[nodiscard]] inline double euclidean(Point a, Point b) noexcept {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

// TSPLIB's nint: round half up.
[[nodiscard]] inline double nint(double v) noexcept { return std::floor(v + 0.5); }

[[nodiscard]] inline double euc_2d(Point a, Point b) noexcept {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return nint(std::sqrt(dx * dx + dy * dy));
}

[[nodiscard]] inline double ceil_2d(Point a, Point b) noexcept {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return std::ceil(std::sqrt(dx * dx + dy * dy));
}

// Pseudo-Euclidean: the distance in tenths, rounded up whenever nint rounded down.
[[nodiscard]] inline double att(Point a, Point b) noexcept {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  const double r = std::sqrt((dx * dx + dy * dy) / 10.0);
  const double t = nint(r);
  return t < r ? t + 1.0 : t;
}

// GEO coordinates are DDD.MM: the integer part is degrees, the two decimals minutes. TSPLIB's
// optima were computed with this truncated pi.
inline constexpr double kTsplibPi = 3.141592;
inline constexpr double kTsplibEarthRadius = 6378.388;

[[nodiscard]] inline double geo_radians(double degrees_minutes) noexcept {
  const double degrees = std::trunc(degrees_minutes);
  const double minutes = degrees_minutes - degrees;
  return kTsplibPi * (degrees + 5.0 * minutes / 3.0) / 180.0;
}

// The GEO distance from latitudes and longitudes already converted by geo_radians, so that a
// caller computing many distances converts each city once.
[[nodiscard]] inline double geo_of_radians(Point a, Point b) noexcept {
  const double q1 = std::cos(a.y - b.y);
  const double q2 = std::cos(a.x - b.x);
  const double q3 = std::cos(a.x + b.x);
  // Rounding can push the cosine of a zero angle just past 1; acos would give NaN there.
  const double c = std::clamp(0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3), -1.0, 1.0);
  return std::floor(kTsplibEarthRadius * std::acos(c) + 1.0);
}

// x is the latitude, y the longitude, both DDD.MM.
[[nodiscard]] inline double geo(Point a, Point b) noexcept {
  return geo_of_radians({geo_radians(a.x), geo_radians(a.y)}, {geo_radians(b.x), geo_radians(b.y)});
}

}  // namespace kestrum::metrics
