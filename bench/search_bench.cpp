// Benchmarks of the searches' inner loops: full neighbourhood scans and annealing proposals.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "local_search/steepest_descent/steepest_descent.hpp"
#include "local_search/tabu_search/tabu_search.hpp"
#include "problem/array_problem.hpp"
#include "instances.hpp"

namespace kestrum {
namespace {

// Steps per timed run: the run's single eval and setup are spread over this many scans.
constexpr Word kStepsPerRun = 8;

MoveType neighbourhood(int kind) { return kind == 0 ? MoveType::reverse(1) : MoveType::swap(1); }

// Counters: scan_time is the time of one full scan (one step), deltas_per_second the rate
// of scored moves.
void report(benchmark::State& state, std::size_t n) {
  const double moves = static_cast<double>(n) * static_cast<double>(n - 1) / 2.0;
  state.counters["scan_time"] =
      benchmark::Counter(kStepsPerRun, benchmark::Counter::kIsIterationInvariantRate |
                                           benchmark::Counter::kInvert);
  state.counters["deltas_per_second"] =
      benchmark::Counter(kStepsPerRun * moves, benchmark::Counter::kIsIterationInvariantRate);
}

// args: n, neighbourhood (0 = reversal / 2-opt, 1 = swap)
void BM_SteepestDescentScan(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto problem = Shared<Problem>::make<ArrayProblem>(neighbourhood(static_cast<int>(state.range(1))),
                                                     bench::euclidean_tour(n, 7));
  // Each run starts from the identity, a random tour far from a local optimum, so every
  // scan applies a move and the run lasts all its steps. The O(n) reset is noise beside
  // the O(n^2) scans.
  SteepestDescent search(true, problem, TerminationFunction::max_iterations(kStepsPerRun));
  for (auto _ : state) {
    search.reset();
    benchmark::DoNotOptimize(search.run(false));
  }
  report(state, n);
}

void BM_TabuSearchScan(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto problem = Shared<Problem>::make<ArrayProblem>(neighbourhood(static_cast<int>(state.range(1))),
                                                     bench::euclidean_tour(n, 7));
  TabuSearch search(problem, TerminationFunction::max_iterations(kStepsPerRun), true, std::nullopt);
  for (auto _ : state) {
    search.reset();
    benchmark::DoNotOptimize(search.run(false));
  }
  report(state, n);
}

void scan_args(benchmark::internal::Benchmark* b) {
  for (const int kind : {0, 1}) {
    for (const int n : {100, 1000, 3000}) b->Args({n, kind});
  }
  b->ArgNames({"n", "swap"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SteepestDescentScan)->Apply(scan_args);
BENCHMARK(BM_TabuSearchScan)->Apply(scan_args);

// One annealing run of many proposals at a fixed temperature; counters give the time
// per proposal and the rate.
void BM_AnnealingProposals(benchmark::State& state) {
  constexpr Word kProposals = 1 << 20;
  const auto n = static_cast<std::size_t>(state.range(0));
  auto problem = Shared<Problem>::make<ArrayProblem>(neighbourhood(static_cast<int>(state.range(1))),
                                                     bench::euclidean_tour(n, 7));
  SimulatedAnnealing search(100, true, problem, TerminationFunction::max_iterations(kProposals), 1.0,
                            kProposals);
  search.set_acceptance_seed(1);
  for (auto _ : state) benchmark::DoNotOptimize(search.run(false));
  state.counters["proposal_time"] = benchmark::Counter(
      kProposals, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["proposals_per_second"] =
      benchmark::Counter(kProposals, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_AnnealingProposals)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->ArgNames({"n", "swap"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
