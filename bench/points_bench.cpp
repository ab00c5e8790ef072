// Scans over tours from points against the matrix of the same distances: time per scored move.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "problem/points.hpp"
#include "scan_timing.hpp"

namespace kestrum {
namespace {

std::vector<double> random_points(std::size_t n) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  std::vector<double> xy(2 * n);
  for (double& c : xy) c = std::round(coord(gen) * 10) / 10;
  return xy;
}

// args: representation (0: matrix, 1: points), metric, move kind (0: reverse, 1: swap), n.
// The matrix holds exactly the distances the points give.
void BM_TourScan(benchmark::State& state) {
  const auto metric = static_cast<PointMetric>(state.range(1));
  const std::size_t n = static_cast<std::size_t>(state.range(3));
  Result<Points> made = Points::make(random_points(n), metric);
  if (!made.ok()) {
    state.SkipWithError(made.error().text.c_str());
    return;
  }
  const Points points = std::move(made).value();
  Evaluation e = Evaluation::tsp_points(points);
  if (state.range(0) == 0) {
    std::vector<double> data(n * n);
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < n; ++b) data[a * n + b] = points.distance(a, b);
    }
    e = Evaluation::tsp(Matrix(std::move(data), n, n));
  }
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  const SimpleMoveType mt = state.range(2) == 0 ? SimpleMoveType(Reverse{rng, static_cast<Word>(n)})
                                                : SimpleMoveType(Swap{rng, static_cast<Word>(n)});
  std::vector<Word> s = bench::random_permutation(n, 9);
  bench::time_scan(state, e, mt, s);
}

// Matrix and points side by side for each metric, move kind and size.
void tour_scan_args(benchmark::internal::Benchmark* b) {
  for (int n : {200, 2000}) {
    for (int kind : {0, 1}) {
      for (int metric : {0, 1, 4}) {
        for (int rep : {0, 1}) b->Args({rep, metric, kind, n});
      }
    }
  }
}
BENCHMARK(BM_TourScan)->Apply(tour_scan_args)->ArgNames({"points", "metric", "swap", "n"});

}  // namespace
}  // namespace kestrum
