// The instances the benchmarks share: seeded random tours in the plane and random matrices.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"

namespace kestrum::bench {

// n cities drawn uniformly in a 1000 x 1000 square; a dense matrix of plain distances.
inline Evaluation euclidean_tour(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> unit(0.0, 1000.0);
  std::vector<double> x(n), y(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = unit(gen);
    y[k] = unit(gen);
  }
  std::vector<std::vector<double>> d(n, std::vector<double>(n));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) d[a][b] = std::hypot(x[a] - x[b], y[a] - y[b]);
  }
  return Evaluation::tsp(Matrix(d));
}

// Whole numbers from 1 to 999 off a zero diagonal, mirrored when `symmetric`.
inline std::vector<std::vector<double>> random_rows(std::size_t n, bool symmetric, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> value(1.0, 1000.0);
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      if (a == b || (symmetric && b < a)) continue;
      d[a][b] = std::floor(value(gen));
      if (symmetric) d[b][a] = d[a][b];
    }
  }
  return d;
}

}  // namespace kestrum::bench
