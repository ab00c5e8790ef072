// What the scan benchmarks share: a seeded start and the time per scored move of one scan.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"

namespace kestrum::bench {

inline std::vector<Word> random_permutation(std::size_t n, std::uint64_t seed) {
  std::vector<Word> s(n);
  for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<Word>(k);
  std::mt19937_64 gen(seed);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

// Seconds per move, shown with an SI prefix (n for nanoseconds).
inline void report(benchmark::State& state, std::size_t moves) {
  state.counters["per_move"] = benchmark::Counter(
      static_cast<double>(moves), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Times the whole specialised scan of `mt` over `s`, keeping only the best delta.
inline void time_scan(benchmark::State& state, const Evaluation& e, const SimpleMoveType& mt,
                      std::vector<Word>& s) {
  ScanScratch scratch;
  std::size_t moves = 0;
  for (auto _ : state) {
    double best = 0.0;
    moves = 0;
    for_each_delta(e, mt, s, scratch, [&](Move, double d) {
      best = std::min(best, d);
      ++moves;
    });
    benchmark::DoNotOptimize(best);
  }
  report(state, moves);
}

}  // namespace kestrum::bench
