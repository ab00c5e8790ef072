// Benchmarks of the Or-opt scans: time per scored move, beside the reversal scan of the same
// solution and beside delta_eval called move by move.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "problem/points.hpp"

#include "instances.hpp"
#include "scan_timing.hpp"

namespace kestrum {
namespace {

using bench::random_permutation;
using bench::report;
using bench::time_scan;

// 0 dense symmetric tour, 1 dense asymmetric tour, 2 tour from points (plain Euclidean),
// 3 symmetric assignment, 4 empty space (bin packing)
Evaluation make(int which, std::size_t n) {
  switch (which) {
    case 0: return Evaluation::tsp(Matrix(bench::random_rows(n, true, 3)));
    case 1: return Evaluation::tsp(Matrix(bench::random_rows(n, false, 3)));
    case 2: {
      std::mt19937_64 gen(5);
      std::vector<double> xy(2 * n);
      for (double& c : xy) c = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
      return Evaluation::tsp_points(Points::make(std::move(xy), PointMetric::kEuclidean).value());
    }
    case 3: return Evaluation::qap(Matrix(bench::random_rows(n, true, 3)), Matrix(bench::random_rows(n, true, 4)));
    default: {
      std::vector<double> weights(n);
      std::mt19937_64 gen(7);
      for (double& w : weights) w = std::uniform_int_distribution<int>(1, 60)(gen);
      return Evaluation::empty_space(weights, 100);
    }
  }
}

SimpleMoveType kind_of(int kind, std::size_t n) {
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  if (kind == 0) return Reverse{rng, static_cast<Word>(n)};
  return OrOpt{rng, static_cast<Word>(n)};
}

// args: evaluation, move kind (0 reverse, 1 or_opt), n
void BM_OrOptScan(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make(static_cast<int>(state.range(0)), n);
  std::vector<Word> s = random_permutation(n, 11);
  time_scan(state, e, kind_of(static_cast<int>(state.range(1)), n), s);
}
BENCHMARK(BM_OrOptScan)
    ->ArgNames({"eval", "kind", "n"})
    ->Args({0, 0, 1000})
    ->Args({0, 1, 1000})
    ->Args({1, 0, 1000})
    ->Args({1, 1, 1000})
    ->Args({2, 0, 1000})
    ->Args({2, 1, 1000})
    ->Args({3, 0, 60})
    ->Args({3, 1, 60})
    ->Args({4, 0, 300})
    ->Args({4, 1, 300})
    ->Unit(benchmark::kMillisecond);

// delta_eval move by move over get_all_mov, the route without a specialised scan.
void BM_OrOptDeltaEval(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(1));
  const Evaluation e = make(static_cast<int>(state.range(0)), n);
  std::vector<Word> s = random_permutation(n, 11);
  const MoveType mt(kind_of(1, n));
  const std::vector<Move> moves = mt.get_all_mov();
  for (auto _ : state) {
    double best = 0.0;
    for (const Move m : moves) best = std::min(best, e.delta_eval(m, mt, s));
    benchmark::DoNotOptimize(best);
  }
  report(state, moves.size());
}
BENCHMARK(BM_OrOptDeltaEval)->ArgNames({"eval", "n"})->Args({0, 1000})->Args({2, 1000})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
