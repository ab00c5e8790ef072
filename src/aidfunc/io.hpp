// Readers that turn text files of numbers into a value list or a square distance matrix.
#pragma once

#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace kestrum {

// Row-major: entry [i][j] is the distance from location i to location j.
using DistanceMatrix = std::vector<std::vector<double>>;

// Every number of every non-comment line, in file order (line boundaries are not kept).
[[nodiscard]] Result<std::vector<double>> read_csv(std::string_view path);

// n*n numbers cut into n rows; the diagonal must be zero.
[[nodiscard]] Result<DistanceMatrix> read_distance_matrix(std::string_view path);

// Points x0 y0 x1 y1 ... (an odd last value is ignored); Euclidean distances.
[[nodiscard]] Result<DistanceMatrix> read_coord2d_to_distance_matrix(std::string_view path);

// One location per line: lat deg min sec N|S lon deg min sec E|W (further fields ignored);
// great-circle distances in kilometres.
[[nodiscard]] Result<DistanceMatrix> read_dms_to_distance_matrix(std::string_view path);

}  // namespace kestrum
