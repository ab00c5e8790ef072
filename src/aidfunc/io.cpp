// The file readers: a flat value list, a distance matrix, and distances from coordinates.
#include "aidfunc/io.hpp"

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "aidfunc/lines.hpp"
#include "aidfunc/number.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

// pi / 180
constexpr double kRadiansPerDegree = 0.017453292519943295;
// Twice a mean Earth radius of 6371 km.
constexpr double kEarthDiameterKm = 12742.0;

// Degrees, minutes and seconds in fields first..first+2, hemisphere in first+3. The degrees
// keep their own sign and minutes and seconds are always added, so -33 30 0 is -32.5.
// Fields are reached in order, so a bad number is reported before a missing field after it.
[[nodiscard]] double read_angle(const std::vector<std::string_view>& fields, std::size_t first,
                                std::string_view negating_hemisphere) {
  const double degrees = parse_field(at(fields, first));
  const double minutes = parse_field(at(fields, first + 1));
  const double seconds = parse_field(at(fields, first + 2));
  const double angle = (degrees + minutes / 60.0) + seconds / 3600.0;
  return at(fields, first + 3) == negating_hemisphere ? -angle : angle;
}

struct Position {
  double latitude;
  double longitude;
};

// Haversine form; the longitudes are subtracted in degrees before conversion.
[[nodiscard]] double great_circle_km(Position from, Position to) {
  const double phi1 = from.latitude * kRadiansPerDegree;
  const double phi2 = to.latitude * kRadiansPerDegree;
  const double a = std::sin((phi2 - phi1) * 0.5);
  const double b = std::sin(((to.longitude - from.longitude) * kRadiansPerDegree) * 0.5);
  const double h = std::cos(phi2) * (std::cos(phi1) * (b * b)) + a * a;
  return std::asin(std::sqrt(h)) * kEarthDiameterKm;
}

// Fills a zero-diagonal symmetric matrix computing each unordered pair once (i < j, both
// ascending) and writing it to both halves.
template <class Distance>
[[nodiscard]] DistanceMatrix symmetric_matrix(std::size_t n, Distance&& distance) {
  DistanceMatrix matrix(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const double d = distance(i, j);
      matrix[i][j] = d;
      matrix[j][i] = d;
    }
  }
  return matrix;
}

}  // namespace

Result<std::vector<double>> read_csv(std::string_view path) {
  Result<LineReader> opened = LineReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  LineReader& reader = opened.value();
  std::vector<double> values;
  std::vector<std::string_view> fields;
  // Lines are parsed as they are read, so the first problem in file order is the one reported.
  while (const std::optional<std::string_view> line = reader.next_line()) {
    if (is_comment(*line)) continue;
    split_fields(*line, fields);
    for (const std::string_view field : fields) values.push_back(parse_field(field));
  }
  return values;
}

Result<DistanceMatrix> read_distance_matrix(std::string_view path) {
  Result<std::vector<double>> read = read_csv(path);
  if (!read.ok()) return std::move(read).error();
  const std::vector<double>& values = read.value();

  const double side = std::sqrt(static_cast<double>(values.size()));
  if (std::fmod(side, 1.0) != 0.0) {
    return ReaderError::invalid_input("distanceMatrix is not a square");
  }
  const auto n = static_cast<std::size_t>(side);
  if (n == 0) fatal("chunk size must be non-zero");

  DistanceMatrix matrix;
  matrix.reserve(n);
  for (std::size_t row = 0; row < n; ++row) {
    const auto begin = values.begin() + static_cast<std::ptrdiff_t>(row * n);
    matrix.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(n));
  }
  for (std::size_t i = 0; i < n; ++i) {
    // `!=` makes NaN fail and lets -0 pass.
    if (matrix[i][i] != 0.0) {
      return ReaderError::invalid_input("distance to location " + std::to_string(i) +
                                        " itself is not zero");
    }
  }
  return matrix;
}

Result<DistanceMatrix> read_coord2d_to_distance_matrix(std::string_view path) {
  Result<std::vector<double>> read = read_csv(path);
  if (!read.ok()) return std::move(read).error();
  const std::vector<double>& values = read.value();
  const std::size_t n = values.size() / 2;
  return symmetric_matrix(n, [&](std::size_t i, std::size_t j) {
    const double dy = values[2 * i + 1] - values[2 * j + 1];
    const double dx = values[2 * i] - values[2 * j];
    return std::sqrt(dy * dy + dx * dx);
  });
}

Result<DistanceMatrix> read_dms_to_distance_matrix(std::string_view path) {
  Result<LineReader> opened = LineReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  LineReader& reader = opened.value();
  std::vector<Position> positions;
  std::vector<std::string_view> fields;
  while (const std::optional<std::string_view> line = reader.next_line()) {
    if (is_comment(*line)) continue;
    split_fields(*line, fields);
    const double latitude = read_angle(fields, 0, "S");
    const double longitude = read_angle(fields, 4, "W");
    positions.push_back({latitude, longitude});
  }
  return symmetric_matrix(positions.size(), [&](std::size_t i, std::size_t j) {
    return great_circle_km(positions[i], positions[j]);
  });
}

}  // namespace kestrum
