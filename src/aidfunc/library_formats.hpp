// Readers for the two standard benchmark formats: TSPLIB tours (TSP, ATSP) and QAPLIB instances.
#pragma once

#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "aidfunc/io.hpp"
#include "problem/points.hpp"
#include "support/result.hpp"

namespace kestrum {

// Entry [i][j] of a result is the weight from i to j (cities, or QAP positions/values).

// A TSPLIB file of TYPE TSP or ATSP as the distance matrix of its cities (numbered from 0 in
// index order). EDGE_WEIGHT_TYPE EUC_2D, CEIL_2D, ATT and GEO are computed with TSPLIB's own
// integer rounding; EXPLICIT weights are read in FULL_MATRIX, UPPER_ROW, LOWER_ROW,
// UPPER_DIAG_ROW or LOWER_DIAG_ROW layout, triangular ones mirrored. The diagonal is always 0.
// Content that does not follow the format is ErrorKind::Malformed, its text starting
// "line N: "; a file that cannot be opened or read is the operating system's error.
[[nodiscard]] Result<SquareMatrix> read_tsplib(std::string_view path);

// The cities of a TSPLIB file of coordinates, x0, y0, x1, y1, ... in index order, and its rule.
struct TsplibPoints {
  std::vector<double> xy;
  PointMetric metric;
};

// As read_tsplib, except that a file of coordinates (EUC_2D, CEIL_2D, ATT, GEO) gives its
// cities and rule rather than the matrix of their distances.
[[nodiscard]] Result<std::variant<SquareMatrix, TsplibPoints>> read_tsplib_points(std::string_view path);

// A QAPLIB .dat file: n, then matrix A (n x n), then matrix B (n x n), whitespace-separated.
// first = A, indexed by positions (the distance matrix); second = B, indexed by the values
// placed at them (the flow matrix). Errors as for read_tsplib.
[[nodiscard]] Result<std::pair<SquareMatrix, SquareMatrix>> read_qaplib(std::string_view path);

}  // namespace kestrum
