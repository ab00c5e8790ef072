// What watching a run costs: the work counter in the 2-opt scan and in annealing, each
// beside the same loop without it (the scan) or with an idle control that never reads the
// clock (annealing). bench/threads_bench.py turns the pairs into ratios.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "local_search/local_search.hpp"
#include "local_search/run_control.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "problem/array_problem.hpp"
#include "problem/neighbourhood.hpp"
#include "instances.hpp"

namespace kestrum {
namespace {

// A host that is asked as often as a Python one would be and never stops the run.
struct QuietHost final : RunHost {
  bool service(const ProgressRecord&, ProgressCallback*, bool) override { return true; }
};

struct Best {
  double delta = worst_delta(true);
  Move move{0, 0};
  void operator()(Move m, double d) {
    if (!(d > delta)) {
      delta = d;
      move = m;
    }
  }
};

// arg: 1 = the scan counts its moves through a watched run control, 0 = the bare scan.
void BM_TwoOptScanWatch(benchmark::State& state) {
  constexpr std::size_t kN = 1000;
  ArrayProblem problem(MoveType::reverse(1), bench::euclidean_tour(kN, 11));
  const SimpleMoveType kind = *problem.move_type().simple();
  QuietHost host;
  RunControl control(&host);
  control.start(now());
  for (auto _ : state) {
    Best best;
    if (state.range(0) != 0) {
      CountedVisit<Best> counted{best, control};
      for_each_delta(problem.evaluation(), kind, problem.solution(), problem.scratch(), counted);
    } else {
      for_each_delta(problem.evaluation(), kind, problem.solution(), problem.scratch(), best);
    }
    benchmark::DoNotOptimize(best);
  }
  state.counters["moves_per_second"] = benchmark::Counter(
      static_cast<double>(kN * (kN - 1) / 2), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TwoOptScanWatch)->Arg(0)->Arg(1)->ArgName("watched")->Unit(benchmark::kMillisecond);

// arg: 1 = under a watched run control (clock reads, host calls), 0 = the thread's idle one.
void BM_AnnealingWatch(benchmark::State& state) {
  constexpr Word kProposals = 1 << 20;
  auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(1), bench::euclidean_tour(1000, 11));
  SimulatedAnnealing search(100, true, problem, TerminationFunction::max_iterations(kProposals), 1.0,
                            kProposals);
  search.set_acceptance_seed(1);
  QuietHost host;
  for (auto _ : state) {
    if (state.range(0) != 0) {
      RunControl control(&host);
      control.begin_run(RunSettings{});
      benchmark::DoNotOptimize(search.run(false));
    } else {
      benchmark::DoNotOptimize(search.run(false));
    }
  }
  state.counters["proposals_per_second"] =
      benchmark::Counter(kProposals, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AnnealingWatch)->Arg(0)->Arg(1)->ArgName("watched")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
