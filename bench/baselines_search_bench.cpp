// Pairs of search runs: simulated annealing's proposals and tabu search's steps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "local_search/local_search.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "local_search/tabu_search/tabu_search.hpp"
#include "termination/termination_function.hpp"

#include "baselines.hpp"

namespace kestrum::pairs {
namespace {

// ---------------------------------------------------------------------------------------
// Simulated annealing on a symmetric tour with reversal moves: the engine's run against a
// plain loop with the same schedule (integer temperature, geometric cooling rounded half
// away from zero, a fixed number of proposals per temperature) from the same start tour.

constexpr std::uint32_t kSaStartTemp = 50;
constexpr double kSaAlpha = 0.9;
constexpr std::uint32_t kSaPerTemp = 100000;

// splitmix64: a small, fast generator for the baseline's pairs and acceptance draws.
struct SplitMix {
  std::uint64_t x;
  std::uint64_t next() {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

struct AnnealResult {
  double current = 0.0;
  std::uint64_t accepted = 0;
};

// Random pair, O(1) reversal delta, one exp test for a worsening move, reversal on accept.
AnnealResult anneal_baseline(const double* d, std::size_t n, std::vector<Word>& s,
                             std::uint64_t proposals, std::uint64_t seed) {
  SplitMix rng{seed};
  AnnealResult out;
  std::uint32_t temperature = kSaStartTemp;
  std::uint64_t done = 0;
  const auto nn = static_cast<std::uint32_t>(n);
  while (done < proposals) {
    const double t = temperature;
    for (std::uint32_t k = 0; k < kSaPerTemp && done < proposals; ++k, ++done) {
      std::uint32_t i = rng.below(nn);
      std::uint32_t j = rng.below(nn);
      while (j == i) j = rng.below(nn);
      if (i > j) std::swap(i, j);
      double delta = 0.0;
      if (!(i == 0 && j == n - 1)) {
        const Word pred = s[i > 0 ? i - 1 : n - 1];
        const Word next = s[j + 1 < n ? j + 1 : 0];
        delta = d[pred * n + s[j]] + d[std::size_t{s[i]} * n + next] -
                d[pred * n + s[i]] - d[std::size_t{s[j]} * n + next];
      }
      if (delta <= 0.0 || std::exp(-delta / t) > rng.unit()) {
        std::reverse(s.begin() + i, s.begin() + j + 1);
        out.current += delta;
        ++out.accepted;
      }
    }
    temperature = static_cast<std::uint32_t>(std::round(kSaAlpha * t));
  }
  return out;
}

void Pair_AnnealProposals(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::uint64_t proposals = static_cast<std::uint64_t>(state.range(1));
  const std::vector<double> flat = euclidean(n, 31);
  const Evaluation e = Evaluation::tsp(square_matrix(flat, n));
  const std::vector<Word> start = random_permutation(n, 32);
  const Shared<Problem> problem = array_problem(MoveType::reverse(33), e, start);
  SimulatedAnnealing sa(kSaStartTemp, true, problem,
                        TerminationFunction::max_iterations(static_cast<Word>(proposals)), kSaAlpha,
                        kSaPerTemp);
  sa.set_acceptance_seed(34);
  std::vector<Word> s;
  std::uint64_t round = 0;
  // Check: the engine makes exactly the proposals asked for, and the baseline's carried
  // score matches its tour.
  {
    const RunLog log = sa.run(false);
    s = start;
    const AnnealResult r = anneal_baseline(flat.data(), n, s, proposals, 35);
    const double before = e.eval(start);
    const double after = e.eval(s);
    if (log.back().iteration != proposals || !close(after - before, r.current)) {
      state.SkipWithError("annealing check failed");
      return;
    }
  }
  alternate(
      state,
      Side{[&] {
             s = start;
             benchmark::DoNotOptimize(anneal_baseline(flat.data(), n, s, proposals, 36 + round++));
           },
           static_cast<double>(proposals)},
      Side{[&] {
             set_start(problem, start);
             benchmark::DoNotOptimize(sa.run(false));
           },
           static_cast<double>(proposals)});
}
BENCHMARK(Pair_AnnealProposals)
    ->ArgNames({"n", "proposals"})
    ->Args({1000, 2000000})
    ->Iterations(11)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------
// Tabu search: time per step at n = 2000 against n = 1000 ("base" is n = 1000 here, so
// ratio is the growth of a step when n doubles; the neighbourhood grows 4x).

void Pair_TabuStepGrowth(benchmark::State& state) {
  const std::size_t steps = static_cast<std::size_t>(state.range(0));
  struct Setup {
    std::vector<Word> start;
    Shared<Problem> problem;
    TabuSearch search;
  };
  auto make = [&](std::size_t n) {
    const Evaluation e = Evaluation::tsp(square_matrix(euclidean(n, 41), n));
    std::vector<Word> start = random_permutation(n, 42);
    Shared<Problem> p = array_problem(MoveType::reverse(43), e, start);
    TabuSearch t(p, TerminationFunction::max_iterations(static_cast<Word>(steps)), true, 7);
    return std::make_unique<Setup>(Setup{std::move(start), std::move(p), std::move(t)});
  };
  const std::unique_ptr<Setup> small = make(1000);
  const std::unique_ptr<Setup> large = make(2000);
  alternate(
      state,
      Side{[&] {
             set_start(small->problem, small->start);
             benchmark::DoNotOptimize(small->search.run(false));
           },
           static_cast<double>(steps)},
      Side{[&] {
             set_start(large->problem, large->start);
             benchmark::DoNotOptimize(large->search.run(false));
           },
           static_cast<double>(steps)});
}
BENCHMARK(Pair_TabuStepGrowth)->ArgName("steps")->Arg(10)->Iterations(11)->Unit(benchmark::kMillisecond);

// A tabu step (scan, neighbour hashes, list check, apply) against the baseline 2-opt scan.
void Pair_TabuStep(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::size_t steps = 5;
  const std::vector<double> flat = euclidean(n, 41);
  const Evaluation e = Evaluation::tsp(square_matrix(flat, n));
  const std::vector<Word> start = random_permutation(n, 42);
  const Shared<Problem> problem = array_problem(MoveType::reverse(43), e, start);
  TabuSearch tabu(problem, TerminationFunction::max_iterations(static_cast<Word>(steps)), true, 7);
  std::vector<Word> s = start;
  std::vector<double> edge;
  alternate(
      state,
      Side{[&] {
             for (std::size_t r = 0; r < steps; ++r) benchmark::DoNotOptimize(two_opt_scan(flat.data(), n, s, edge));
           },
           static_cast<double>(pair_count(n) * steps)},
      Side{[&] {
             set_start(problem, start);
             benchmark::DoNotOptimize(tabu.run(false));
           },
           static_cast<double>(pair_count(n) * steps)});
}
BENCHMARK(Pair_TabuStep)->ArgName("n")->Arg(1000)->Arg(2000)->Iterations(21)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum::pairs
