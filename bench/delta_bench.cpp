// One move scored on its own: random moves through delta_eval (what a caller's single call
// costs, dispatch and checked reads included) and through the kernel a run resolves once
// for its random proposals; and delta_eval against the plain formula on a symmetric tour.
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

#include "baselines.hpp"
#include "instances.hpp"

namespace kestrum {
namespace {

// Falkenauer-like weights: whole numbers 20..100 for bins of 150.
std::vector<double> falkenauer_weights(std::size_t n) {
  std::mt19937_64 gen(5);
  std::uniform_int_distribution<int> weight(20, 100);
  std::vector<double> w(n);
  for (double& x : w) x = weight(gen);
  return w;
}

// 0: symmetric tour, 1: asymmetric tour, 2: assignment, 3: first fit, 4: next fit's squared
// free space (the same weights).
Evaluation make_evaluation(int which, std::size_t n) {
  switch (which) {
    case 0: return Evaluation::tsp(Matrix(bench::random_rows(n, true, 3)));
    case 1: return Evaluation::tsp(Matrix(bench::random_rows(n, false, 3)));
    case 3: return Evaluation::bin_packing(falkenauer_weights(n), 150).value();
    case 4: return Evaluation::empty_space_exp(falkenauer_weights(n), 150);
    default: return Evaluation::qap(Matrix(bench::random_rows(n, true, 3)), Matrix(bench::random_rows(n, true, 4)));
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
    for (auto _ : state) {
      double sum = 0.0;
      for (const Move m : moves) sum = sum + kernel.delta(cs, m);
      benchmark::DoNotOptimize(sum);
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
  for (const int n : {100, 1000}) {
    b->Args({3, 1, n});  // first fit, exchange
    b->Args({4, 1, n});  // next fit, exchange
  }
}

// First fit: each delta on a solution other than the last one's, so that none reuses the
// recorded packing of its solution (two solutions one exchange apart, alternating).
void BM_FirstFitFreshDelta(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const Evaluation e = make_evaluation(3, n);
  const MoveType mt(make_kind(1, n));
  std::vector<Word> s = shuffled(n);
  std::vector<Word> t = s;
  std::swap(t[0], t[n - 1]);
  const std::vector<Move> moves = random_moves(n, kBatch);
  for (auto _ : state) {
    double sum = 0.0;
    for (std::size_t k = 0; k < moves.size(); ++k) sum = sum + e.delta_eval(moves[k], mt, (k & 1) != 0 ? s : t);
    benchmark::DoNotOptimize(sum);
  }
  per_move(state);
}
BENCHMARK(BM_FirstFitFreshDelta)->ArgName("n")->Arg(100)->Arg(1000);

// First fit, every move type: a batch of the move type's own random moves on one solution,
// each through delta_eval (the solution's packing recorded once, then reused).
void BM_FirstFitDelta(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(1));
  const Evaluation e = make_evaluation(3, n);
  MoveType mt = [&] {
    switch (state.range(0)) {
      case 0: return MoveType::reverse(3);
      case 1: return MoveType::swap(3);
      case 2: return MoveType::tsp(3);
      default: return MoveType::or_opt(3);
    }
  }();
  mt.set_size(static_cast<Word>(n));
  std::vector<Word> s = shuffled(n);
  std::vector<Move> moves(kBatch);
  for (Move& m : moves) m = mt.get_mov();
  for (auto _ : state) {
    double sum = 0.0;
    for (const Move m : moves) sum = sum + e.delta_eval(m, mt, s);
    benchmark::DoNotOptimize(sum);
  }
  per_move(state);
}
BENCHMARK(BM_FirstFitDelta)
    ->ArgNames({"move", "n"})
    ->ArgsProduct({{0, 1, 2, 3}, {1000}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_SingleDelta)->Apply(delta_args);
BENCHMARK(BM_ProposalDelta)->Apply(delta_args);

// The plain formula of one move on a symmetric tour of a row-major matrix: four reads for a
// reversal, eight for an exchange (closing and adjacent pairs as the engine takes them).
double plain_delta(const double* d, std::size_t n, const std::vector<Word>& s, bool reversal, std::size_t i,
                   std::size_t j) {
  const Word pred = s[i > 0 ? i - 1 : n - 1];
  const Word next = s[j + 1 < n ? j + 1 : 0];
  const std::size_t si = s[i];
  const std::size_t sj = s[j];
  const bool closes = i == 0 && j + 1 == n;
  const Word pred_after = closes ? s[i] : pred;
  const Word next_after = closes ? s[j] : next;
  if (reversal) {
    return (d[pred_after * n + sj] + d[si * n + next_after]) - (d[pred * n + si] + d[sj * n + next]);
  }
  const Word si1 = s[i + 1];
  const Word sj1 = s[j - 1];
  const bool adjacent = j == i + 1;
  double before = d[pred * n + si] + d[si * n + si1];
  double after = d[pred_after * n + sj] + d[sj * n + (adjacent ? si : si1)];
  if (!adjacent) {
    before = before + d[sj1 * n + sj];
    after = after + d[sj1 * n + si];
  }
  return (after + d[si * n + next_after]) - (before + d[sj * n + next]);
}

void Pair_SingleDelta(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const bool reversal = state.range(1) != 0;
  const std::vector<double> flat = pairs::euclidean(n, 41);
  const Evaluation e = Evaluation::tsp(pairs::square_matrix(flat, n));
  const MoveType mt(make_kind(reversal ? 0 : 1, n));
  std::vector<Word> s = pairs::random_permutation(n, 42);
  const std::vector<Move> moves = random_moves(n, kBatch);
  auto base = [&] {
    double sum = 0.0;
    for (const Move m : moves) sum = sum + plain_delta(flat.data(), n, s, reversal, m.i, m.j);
    return sum;
  };
  auto engine = [&] {
    double sum = 0.0;
    for (const Move m : moves) sum = sum + e.delta_eval(m, mt, s);
    return sum;
  };
  if (!pairs::close(base(), engine())) {
    state.SkipWithError("single delta check failed");
    return;
  }
  const auto units = static_cast<double>(kBatch);
  pairs::alternate(state, pairs::Side{[&] { benchmark::DoNotOptimize(base()); }, units},
                   pairs::Side{[&] { benchmark::DoNotOptimize(engine()); }, units});
}
BENCHMARK(Pair_SingleDelta)
    ->ArgNames({"n", "reversal"})
    ->Args({100, 1})
    ->Args({1000, 1})
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Iterations(201);

}  // namespace
}  // namespace kestrum
