// References (slower ways to write the 2-opt scan) and engine operations timed on their own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "local_search/tabu_search/solution_hash.hpp"

#include "baselines.hpp"

namespace kestrum::pairs {
namespace {

// ---------------------------------------------------------------------------------------
// References: slower ways to write the 2-opt scan of a symmetric tour.

// Four matrix reads per move and no edge array.
Best two_opt_four_reads(const double* d, std::size_t n, std::span<const Word> s) {
  Best best;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Word pred = s[i > 0 ? i - 1 : n - 1];
    for (std::size_t j = i + 1; j < n; ++j) {
      const Word next = s[j + 1 < n ? j + 1 : 0];
      const double delta = (i == 0 && j == n - 1)
                               ? 0.0
                               : d[pred * n + s[j]] + d[std::size_t{s[i]} * n + next] -
                                     d[pred * n + s[i]] - d[std::size_t{s[j]} * n + next];
      best.offer(delta, i, j);
    }
  }
  return best;
}

void Ref_TwoOptFourReads(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> flat = euclidean(n, 11);
  const std::vector<Word> s = random_permutation(n, 12);
  const std::size_t reps = reps_for(pair_count(n), 2.0);
  single(state, static_cast<double>(pair_count(n) * reps), [&] {
    for (std::size_t r = 0; r < reps; ++r) benchmark::DoNotOptimize(two_opt_four_reads(flat.data(), n, s));
  });
}
BENCHMARK(Ref_TwoOptFourReads)->ArgName("n")->Arg(100)->Arg(1000)->Iterations(21);

// One virtual call per move.
struct DeltaSource {
  virtual ~DeltaSource() = default;
  [[nodiscard]] virtual double delta(std::size_t i, std::size_t j) const = 0;
};
struct TwoOptSource final : DeltaSource {
  const double* d;
  std::size_t n;
  const Word* s;
  TwoOptSource(const double* d_, std::size_t n_, const Word* s_) : d(d_), n(n_), s(s_) {}
  [[nodiscard]] double delta(std::size_t i, std::size_t j) const override {
    if (i == 0 && j == n - 1) return 0.0;
    const Word pred = s[i > 0 ? i - 1 : n - 1];
    const Word next = s[j + 1 < n ? j + 1 : 0];
    return d[pred * n + s[j]] + d[std::size_t{s[i]} * n + next] - d[pred * n + s[i]] -
           d[std::size_t{s[j]} * n + next];
  }
};

void Ref_TwoOptVirtual(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> flat = euclidean(n, 11);
  const std::vector<Word> s = random_permutation(n, 12);
  std::unique_ptr<DeltaSource> source = std::make_unique<TwoOptSource>(flat.data(), n, s.data());
  benchmark::DoNotOptimize(source);  // keep the call indirect
  const std::size_t reps = reps_for(pair_count(n), 3.0);
  single(state, static_cast<double>(pair_count(n) * reps), [&] {
    for (std::size_t r = 0; r < reps; ++r) {
      Best best;
      for (std::size_t i = 0; i + 1 < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) best.offer(source->delta(i, j), i, j);
      }
      benchmark::DoNotOptimize(best);
    }
  });
}
BENCHMARK(Ref_TwoOptVirtual)->ArgName("n")->Arg(100)->Arg(1000)->Iterations(21);

// Each delta by reversing the run, reading the two new edges, and reversing it back.
void Ref_TwoOptReverseBack(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> flat = euclidean(n, 11);
  const double* d = flat.data();
  std::vector<Word> s = random_permutation(n, 12);
  single(state, static_cast<double>(pair_count(n)), [&] {
    Best best;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        if (i == 0 && j == n - 1) {
          best.offer(0.0, i, j);
          continue;
        }
        const Word pred = s[i > 0 ? i - 1 : n - 1];
        const Word next = s[j + 1 < n ? j + 1 : 0];
        const double before = d[pred * n + s[i]] + d[std::size_t{s[j]} * n + next];
        std::reverse(s.begin() + i, s.begin() + j + 1);
        const double after = d[pred * n + s[i]] + d[std::size_t{s[j]} * n + next];
        std::reverse(s.begin() + i, s.begin() + j + 1);
        best.offer(after - before, i, j);
      }
    }
    benchmark::DoNotOptimize(best);
  });
}
BENCHMARK(Ref_TwoOptReverseBack)->ArgName("n")->Arg(100)->Arg(1000)->Iterations(5);

// ---------------------------------------------------------------------------------------
// Engine solution hashes at n = 1000: the whole-solution hash of the problem, and the tabu
// search's O(1) neighbour hash.

void Engine_HashWhole(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const Evaluation e = Evaluation::tsp(square_matrix(std::vector<double>(n * n, 1.0), n));
  ArrayProblem p(MoveType::swap(1), e);
  p.set_solution(random_permutation(n, 61));
  constexpr std::size_t kReps = 1000;
  single(state, kReps, [&] {
    for (std::size_t r = 0; r < kReps; ++r) benchmark::DoNotOptimize(p.hash());
  });
}
BENCHMARK(Engine_HashWhole)->ArgName("n")->Arg(1000)->Iterations(21);

void Engine_HashNeighbour(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<Word> s = random_permutation(n, 61);
  SolutionHash hashes;
  hashes.prepare(n);
  hashes.load(s);
  const std::size_t moves = pair_count(n);
  single(state, static_cast<double>(moves), [&] {
    std::uint64_t acc = 0;
    for (Word i = 0; i + 1 < n; ++i) {
      for (Word j = i + 1; j < n; ++j) acc += hashes.after_swap(i, j);
    }
    benchmark::DoNotOptimize(acc);
  });
}
BENCHMARK(Engine_HashNeighbour)->ArgName("n")->Arg(1000)->Iterations(11);

}  // namespace
}  // namespace kestrum::pairs
