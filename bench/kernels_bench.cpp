// Benchmarks of the neighbourhood scans: time per scored move, against plain delta_eval.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"

#include "instances.hpp"
#include "scan_timing.hpp"

namespace kestrum {
namespace {

using bench::random_permutation;
using bench::report;
using bench::time_scan;

SimpleMoveType simple(int kind, std::size_t n) {
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  const Word size = static_cast<Word>(n);
  if (kind == 0) return Reverse{rng, size};
  if (kind == 1) return Swap{rng, size};
  return SwapTsp{rng, size};
}

Evaluation make(int which, std::size_t n) {
  std::vector<double> weights(n);
  std::mt19937_64 gen(7);
  std::uniform_int_distribution<int> w(1, 60);
  for (double& x : weights) x = w(gen);
  switch (which) {
    case 0: return Evaluation::empty_bins(weights, 100);
    case 1: return Evaluation::empty_space(weights, 100);
    case 2: return Evaluation::tsp(Matrix(bench::random_rows(n, true, 3)));
    case 3: return Evaluation::tsp(Matrix(bench::random_rows(n, false, 3)));
    default: return Evaluation::qap(Matrix(bench::random_rows(n, true, 3)), Matrix(bench::random_rows(n, true, 4)));
  }
}

// args: evaluation, move kind, n
void BM_Scan(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make(static_cast<int>(state.range(0)), n);
  const SimpleMoveType mt = simple(static_cast<int>(state.range(1)), n);
  std::vector<Word> s = random_permutation(n, 9);
  time_scan(state, e, mt, s);
}

void BM_DeltaEval(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make(static_cast<int>(state.range(0)), n);
  const MoveType mt(simple(static_cast<int>(state.range(1)), n));
  std::vector<Word> s = random_permutation(n, 9);
  const std::vector<Move> all = mt.get_all_mov();
  for (auto _ : state) {
    double best = 0.0;
    for (const Move m : all) best = std::min(best, e.delta_eval(m, mt, s));
    benchmark::DoNotOptimize(best);
  }
  report(state, all.size());
}

// The bin-packing baseline: two whole evaluations per move.
void BM_TwoEvals(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make(static_cast<int>(state.range(0)), n);
  const MoveType mt(simple(static_cast<int>(state.range(1)), n));
  std::vector<Word> s = random_permutation(n, 9);
  const std::vector<Move> all = mt.get_all_mov();
  for (auto _ : state) {
    double best = 0.0;
    for (const Move m : all) {
      const double before = e.eval(s);
      mt.do_move(s, m.i, m.j);
      const double after = e.eval(s);
      mt.do_move(s, m.i, m.j);
      best = std::min(best, after - before);
    }
    benchmark::DoNotOptimize(best);
  }
  report(state, all.size());
}

BENCHMARK(BM_Scan)
    ->ArgNames({"eval", "move", "n"})
    ->Args({2, 0, 1000})  // symmetric tour, reversal
    ->Args({2, 1, 1000})  // symmetric tour, exchange
    ->Args({3, 0, 300})   // asymmetric tour, reversal
    ->Args({3, 1, 1000})  // asymmetric tour, exchange
    ->Args({4, 1, 100})   // assignment, exchange
    ->Args({4, 0, 100})   // assignment, reversal
    ->Args({0, 1, 1000})  // bins, exchange
    ->Args({1, 1, 1000})  // space, exchange
    ->Args({1, 0, 1000})  // space, reversal
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeltaEval)
    ->ArgNames({"eval", "move", "n"})
    ->Args({2, 0, 1000})
    ->Args({2, 1, 1000})
    ->Args({4, 1, 100})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoEvals)
    ->ArgNames({"eval", "move", "n"})
    ->Args({0, 1, 1000})
    ->Args({1, 1, 1000})
    ->Args({1, 0, 1000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
