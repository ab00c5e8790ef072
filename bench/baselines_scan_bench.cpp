// Pairs of whole-neighbourhood scans and descent steps: tours, assignment and bin packing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "local_search/steepest_descent/steepest_descent.hpp"
#include "termination/termination_function.hpp"

#include "baselines.hpp"

namespace kestrum::pairs {
namespace {

// ---------------------------------------------------------------------------------------
// Pair: scans on random Euclidean tours. Args: n, reversal (1) or exchange (0).

void Pair_TourScan(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const bool reversal = state.range(1) == 1;
  const std::vector<double> flat = euclidean(n, 11);
  const Evaluation e = Evaluation::tsp(square_matrix(flat, n));
  const SimpleMoveType mt = simple(reversal, n);
  std::vector<Word> s = random_permutation(n, 12);
  std::vector<double> edge;
  ScanScratch scratch;
  auto base_scan = [&] {
    return reversal ? two_opt_scan(flat.data(), n, s, edge) : swap_scan(flat.data(), n, s, edge);
  };
  const Best b0 = base_scan();
  const Best e0 = engine_scan(e, mt, s, scratch);
  if (!close(b0.delta, e0.delta) || b0.i != e0.i || b0.j != e0.j) {
    state.SkipWithError("baseline and engine disagree on the best move");
    return;
  }
  const std::size_t moves = pair_count(n);
  const std::size_t reps = reps_for(moves, 2.0);
  alternate(
      state,
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(base_scan());
           },
           static_cast<double>(moves * reps)},
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(engine_scan(e, mt, s, scratch));
           },
           static_cast<double>(moves * reps)});
}
BENCHMARK(Pair_TourScan)
    ->ArgNames({"n", "reversal"})
    ->Args({100, 1})
    ->Args({1000, 1})
    ->Args({2000, 1})
    ->Args({3000, 1})
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Iterations(41)
    ->Unit(benchmark::kMillisecond);

// A whole steepest-descent step (eval, scan, apply, record the best) against the baseline
// scan plus applying its move. Args: n, reversal.
void Pair_DescentStep(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const bool reversal = state.range(1) == 1;
  const std::vector<double> flat = euclidean(n, 11);
  const Evaluation e = Evaluation::tsp(square_matrix(flat, n));
  const std::vector<Word> start = random_permutation(n, 12);
  std::vector<Word> s = start;
  std::vector<double> edge;
  const Shared<Problem> problem =
      array_problem(reversal ? MoveType::reverse(1) : MoveType::swap(1), e, start);
  SteepestDescent descent(true, problem, TerminationFunction::max_iterations(1));
  const std::size_t reps = reps_for(pair_count(n), 2.0);
  // Both sides descend from the same start tour, one applied move per step; once a side
  // reaches a local optimum its steps are scans that apply nothing, which cost the same.
  alternate(
      state,
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) {
               const Best b = reversal ? two_opt_scan(flat.data(), n, s, edge)
                                       : swap_scan(flat.data(), n, s, edge);
               if (b.delta < 0.0) {
                 if (reversal) {
                   std::reverse(s.begin() + b.i, s.begin() + b.j + 1);
                 } else {
                   std::swap(s[b.i], s[b.j]);
                 }
               }
             }
           },
           static_cast<double>(pair_count(n) * reps)},
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(descent.run(false));
           },
           static_cast<double>(pair_count(n) * reps)});
}
BENCHMARK(Pair_DescentStep)
    ->ArgNames({"n", "reversal"})
    ->Args({100, 1})
    ->Args({1000, 1})
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Iterations(21)
    ->Unit(benchmark::kMillisecond);

// Assignment exchange scan, n = 100.
void Pair_QapSwapScan(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> d = symmetric_integers(n, 21);
  const std::vector<double> f = symmetric_integers(n, 22);
  const Evaluation e = Evaluation::qap(square_matrix(d, n), square_matrix(f, n));
  const SimpleMoveType mt = simple(false, n);
  std::vector<Word> s = random_permutation(n, 23);
  ScanScratch scratch;
  const Best b0 = qap_swap_scan(d.data(), f.data(), n, s);
  const Best e0 = engine_scan(e, mt, s, scratch);
  if (!close(b0.delta, e0.delta)) {
    state.SkipWithError("baseline and engine disagree on the best delta");
    return;
  }
  const std::size_t moves = pair_count(n);
  const std::size_t reps = reps_for(moves, 60.0);
  alternate(
      state,
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(qap_swap_scan(d.data(), f.data(), n, s));
           },
           static_cast<double>(moves * reps)},
      Side{[&] {
             for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(engine_scan(e, mt, s, scratch));
           },
           static_cast<double>(moves * reps)});
}
BENCHMARK(Pair_QapSwapScan)->ArgName("n")->Arg(100)->Iterations(41)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------
// Bin packing: the engine's scan against two whole evaluations per move (evaluate, apply,
// evaluate, undo). The baseline's cost per move does not depend on which move it is
// beyond applying it, so it is timed on a fixed random sample of the moves.
// Args: measure (0 bins, 1 free space), reversal.

template <bool CountBins>
double bins_eval(const double* w, std::span<const Word> s, double max_fill) {
  double total = 0.0;
  double fill = 0.0;
  for (const Word v : s) {
    const double x = w[v];
    if (fill + x > max_fill) {
      total += CountBins ? 1.0 : max_fill - fill;
      fill = x;
    } else {
      fill += x;
    }
  }
  return CountBins ? total : total + (max_fill - fill);
}

void Pair_BinsScan(benchmark::State& state) {
  constexpr std::size_t n = 1000;
  constexpr double max_fill = 100.0;
  const bool count_bins = state.range(0) == 0;
  const bool reversal = state.range(1) == 1;
  const std::vector<double> w = item_weights(n, 51);
  const Evaluation e = count_bins ? Evaluation::empty_bins(w, max_fill) : Evaluation::empty_space(w, max_fill);
  const SimpleMoveType mt = simple(reversal, n);
  std::vector<Word> s = random_permutation(n, 52);
  ScanScratch scratch;
  std::vector<Move> sample;
  {
    std::mt19937_64 gen(53);
    std::uniform_int_distribution<Word> pos(0, n - 1);
    while (sample.size() < 20000) {
      Word i = pos(gen);
      Word j = pos(gen);
      if (i == j) continue;
      if (i > j) std::swap(i, j);
      sample.push_back({i, j});
    }
  }
  auto two_evals = [&](Move m) {
    const double before = count_bins ? bins_eval<true>(w.data(), s, max_fill) : bins_eval<false>(w.data(), s, max_fill);
    if (reversal) {
      std::reverse(s.begin() + m.i, s.begin() + m.j + 1);
    } else {
      std::swap(s[m.i], s[m.j]);
    }
    const double after = count_bins ? bins_eval<true>(w.data(), s, max_fill) : bins_eval<false>(w.data(), s, max_fill);
    if (reversal) {
      std::reverse(s.begin() + m.i, s.begin() + m.j + 1);
    } else {
      std::swap(s[m.i], s[m.j]);
    }
    return after - before;
  };
  // Check the sampled moves against the engine's deltas.
  {
    std::vector<double> all(n * n, 0.0);
    for_each_delta(e, mt, s, scratch, [&](Move m, double d) { all[std::size_t{m.i} * n + m.j] = d; });
    for (std::size_t k = 0; k < 200; ++k) {
      const Move m = sample[k];
      if (!close(two_evals(m), all[std::size_t{m.i} * n + m.j])) {
        state.SkipWithError("baseline and engine disagree on a delta");
        return;
      }
    }
  }
  alternate(
      state,
      Side{[&] {
             double best = 0.0;
             for (const Move m : sample) best = std::min(best, two_evals(m));
             benchmark::DoNotOptimize(best);
           },
           static_cast<double>(sample.size())},
      Side{[&] { benchmark::DoNotOptimize(engine_scan(e, mt, s, scratch)); }, static_cast<double>(pair_count(n))});
}
BENCHMARK(Pair_BinsScan)
    ->ArgNames({"count_bins", "reversal"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Iterations(11)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum::pairs
