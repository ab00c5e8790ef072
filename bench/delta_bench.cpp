// One move scored on its own: random moves through delta_eval (what a caller's single call
// costs, dispatch and checked reads included) and through the kernel a run resolves once
// for its random proposals.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;

Rows random_rows(std::size_t n, bool symmetric, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> value(1.0, 1000.0);
  Rows d(n, std::vector<double>(n, 0.0));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      if (a == b || (symmetric && b < a)) continue;
      d[a][b] = std::floor(value(gen));
      if (symmetric) d[b][a] = d[a][b];
    }
  }
  return d;
}

// 0: symmetric tour, 1: asymmetric tour, 2: assignment.
Evaluation make_evaluation(int which, std::size_t n) {
  switch (which) {
    case 0: return Evaluation::tsp(Matrix(random_rows(n, true, 3)));
    case 1: return Evaluation::tsp(Matrix(random_rows(n, false, 3)));
    default: return Evaluation::qap(Matrix(random_rows(n, true, 3)), Matrix(random_rows(n, true, 4)));
  }
}

SimpleMoveType make_kind(int kind, std::size_t n) {
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  if (kind == 0) return Reverse{rng, static_cast<Word>(n)};
  return Swap{rng, static_cast<Word>(n)};
}

// A fixed batch of random pairs i < j, drawn once so that the loop times only the deltas.
std::vector<Move> random_moves(std::size_t n, std::size_t count) {
  std::mt19937_64 gen(17);
  std::uniform_int_distribution<std::size_t> pos(0, n - 1);
  std::vector<Move> out(count);
  for (Move& m : out) {
    std::size_t i = pos(gen);
    std::size_t j = pos(gen);
    while (j == i) j = pos(gen);
    if (i > j) std::swap(i, j);
    m.i = static_cast<Word>(i);
    m.j = static_cast<Word>(j);
  }
  return out;
}

std::vector<Word> shuffled(std::size_t n) {
  std::vector<Word> s(n);
  for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<Word>(k);
  std::mt19937_64 gen(9);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

constexpr std::size_t kBatch = 4096;

void per_move(benchmark::State& state) {
  state.counters["per_move"] = benchmark::Counter(
      static_cast<double>(kBatch), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// args: evaluation, move kind, n
void BM_SingleDelta(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make_evaluation(static_cast<int>(state.range(0)), n);
  const MoveType mt(make_kind(static_cast<int>(state.range(1)), n));
  std::vector<Word> s = shuffled(n);
  const std::vector<Move> moves = random_moves(n, kBatch);
  for (auto _ : state) {
    double sum = 0.0;
    for (const Move m : moves) sum = sum + e.delta_eval(m, mt, s);
    benchmark::DoNotOptimize(sum);
  }
  per_move(state);
}

// The same moves through the kernel resolved once for the solution, as random proposals are.
void BM_ProposalDelta(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(2));
  const Evaluation e = make_evaluation(static_cast<int>(state.range(0)), n);
  const SimpleMoveType kind = make_kind(static_cast<int>(state.range(1)), n);
  std::vector<Word> s = shuffled(n);
  const std::span<const Word> cs = s;
  const std::vector<Move> moves = random_moves(n, kBatch);
  with_delta_kernel(e, kind, cs, [&](const auto& kernel) {
    // Segment kernels also take a shape; reversals and exchanges need none.
    if constexpr (requires { kernel.delta(cs, Word{0}, Word{1}); }) {
      for (auto _ : state) {
        double sum = 0.0;
        for (const Move m : moves) sum = sum + kernel.delta(cs, m.i, m.j);
        benchmark::DoNotOptimize(sum);
      }
    }
  });
  per_move(state);
}

void delta_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"eval", "move", "n"});
  for (const int n : {100, 1000}) {
    b->Args({0, 0, n});  // symmetric tour, reversal
    b->Args({0, 1, n});  // symmetric tour, exchange
    b->Args({1, 0, n});  // asymmetric tour, reversal
    b->Args({1, 1, n});  // asymmetric tour, exchange
  }
  b->Args({2, 1, 100});  // assignment, exchange
}

BENCHMARK(BM_SingleDelta)->Apply(delta_args);
BENCHMARK(BM_ProposalDelta)->Apply(delta_args);

}  // namespace
}  // namespace kestrum
