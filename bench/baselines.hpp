// The engine timed against minimal hand-written loops: what the baselines_*_bench.cpp files share.
//
// Every "Pair/" benchmark times a plain C++ baseline and the engine on the same instance,
// round by round, flipping which side goes first each round so that clock drift, frequency
// changes and a noisy neighbour on the shared machine hit both sides alike. It reports the
// median time per unit of work of each side (base_ns, engine_ns, in nanoseconds) and
// ratio = engine_ns / base_ns. Before timing, both sides are run once and their results
// compared; a disagreement ends the benchmark with an error instead of a figure.
//
// "Ref/" benchmarks time the slower ways of writing the same scan, so the machine's speed
// can be read against known figures; "Engine/" ones time engine operations on their own.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <span>
#include <vector>

#include "problem/array_problem.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "support/shared.hpp"

namespace kestrum::pairs {

// ---------------------------------------------------------------------------------------
// Instances.

// Row-major n x n distances between n points drawn uniformly from a 1000 x 1000 square.
// Each distance is computed once and mirrored, so the matrix is exactly symmetric.
inline std::vector<double> euclidean(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  std::vector<double> x(n);
  std::vector<double> y(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = coord(gen);
    y[k] = coord(gen);
  }
  std::vector<double> d(n * n, 0.0);
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = a + 1; b < n; ++b) {
      d[a * n + b] = std::hypot(x[a] - x[b], y[a] - y[b]);
      d[b * n + a] = d[a * n + b];
    }
  }
  return d;
}

// Symmetric integer entries in 0..99 with a zero diagonal, as in the QAPLIB instances.
inline std::vector<double> symmetric_integers(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_int_distribution<int> value(0, 99);
  std::vector<double> m(n * n, 0.0);
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = a + 1; b < n; ++b) {
      m[a * n + b] = value(gen);
      m[b * n + a] = m[a * n + b];
    }
  }
  return m;
}

inline std::vector<double> item_weights(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_int_distribution<int> w(1, 60);
  std::vector<double> weights(n);
  for (double& x : weights) x = w(gen);
  return weights;
}

inline Matrix square_matrix(const std::vector<double>& flat, std::size_t n) {
  const std::vector<std::size_t> lengths(n, n);
  return Matrix(flat, lengths);
}

inline std::vector<Word> random_permutation(std::size_t n, std::uint64_t seed) {
  std::vector<Word> s(n);
  std::iota(s.begin(), s.end(), Word{0});
  std::mt19937_64 gen(seed);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

inline SimpleMoveType simple(bool reversal, std::size_t n) {
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  if (reversal) return Reverse{rng, static_cast<Word>(n)};
  return Swap{rng, static_cast<Word>(n)};
}

inline Shared<Problem> array_problem(const MoveType& move_type, const Evaluation& evaluation,
                              const std::vector<Word>& start) {
  Shared<Problem> p = Shared<Problem>::make<ArrayProblem>(move_type, evaluation);
  auto locked = p.lock();
  locked->as_array_problem()->set_solution(start);
  return p;
}

inline void set_start(const Shared<Problem>& p, const std::vector<Word>& start) {
  auto locked = p.lock();
  locked->as_array_problem()->set_solution(start);
}

// ---------------------------------------------------------------------------------------
// Timing.

// The calling thread's CPU time: on a shared machine with more runnable threads than cores,
// wall-clock time would also count the time other processes held the core.
inline double thread_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

template <class F>
double time_ns(F&& f) {
  const double t0 = thread_ns();
  f();
  return thread_ns() - t0;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t h = v.size() / 2;
  return v.size() % 2 == 1 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

// One side of a pair: the work of one timed call, and how many units (moves, proposals,
// steps) that call performs.
template <class F>
struct Side {
  F run;
  double units;
};
template <class F>
Side(F, double) -> Side<F>;

// Times `base` and `engine` once per benchmark iteration each, alternating which goes
// first, and reports the medians per unit and their ratio.
template <class B, class E>
void alternate(benchmark::State& state, Side<B> base, Side<E> engine) {
  std::vector<double> b;
  std::vector<double> e;
  bool engine_first = false;
  for (auto _ : state) {
    if (engine_first) {
      e.push_back(time_ns(engine.run));
      b.push_back(time_ns(base.run));
    } else {
      b.push_back(time_ns(base.run));
      e.push_back(time_ns(engine.run));
    }
    engine_first = !engine_first;
  }
  const double base_ns = median(b) / base.units;
  const double engine_ns = median(e) / engine.units;
  state.counters["base_ns"] = base_ns;
  state.counters["engine_ns"] = engine_ns;
  state.counters["ratio"] = engine_ns / base_ns;
  state.counters["engine_Mps"] = 1e3 / engine_ns;  // million units per second
}

// Repeats a scan so that one timed call lasts long enough for the clock (about 0.3 ms).
inline std::size_t reps_for(std::size_t moves, double ns_per_move) {
  const double per_call = static_cast<double>(moves) * ns_per_move;
  return std::max<std::size_t>(1, static_cast<std::size_t>(3e5 / per_call));
}

inline bool close(double a, double b) { return std::fabs(a - b) <= 1e-9 * (1.0 + std::fabs(a) + std::fabs(b)); }

// ---------------------------------------------------------------------------------------
// Baselines. Each keeps the best move with steepest descent's rule (a move is taken unless
// strictly worse, so the last of equal deltas wins).

struct Best {
  double delta = std::numeric_limits<double>::max();
  Word i = 0;
  Word j = 0;
  void offer(double d, std::size_t a, std::size_t b) {
    if (!(d > delta)) {
      delta = d;
      i = static_cast<Word>(a);
      j = static_cast<Word>(b);
    }
  }
};

// Tour edges: edge[k] = D[s_k][s_k+1], edge[n-1] the closing edge back to s_0.
inline void fill_edges(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
  edge.resize(n);
  for (std::size_t k = 0; k + 1 < n; ++k) edge[k] = d[s[k] * n + s[k + 1]];
  edge[n - 1] = d[s[n - 1] * n + s[0]];
}

// 2-opt on a symmetric tour: reversing positions i..j replaces the edges (s_i-1, s_i) and
// (s_j, s_j+1) by (s_i-1, s_j) and (s_i, s_j+1). The rows of s_i-1 and s_i are read once
// per i. The pair (0, n-1) reverses the whole tour and changes no edge: its two "edges" are
// the same closing edge, so the formula would count it twice.
inline Best two_opt_scan(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
  fill_edges(d, n, s, edge);
  Best best;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Word pred = i > 0 ? s[i - 1] : s[n - 1];
    const double* row_pred = d + std::size_t{pred} * n;
    const double* row_si = d + std::size_t{s[i]} * n;
    const double a = row_pred[s[i]];
    for (std::size_t j = i + 1; j + 1 < n; ++j) {
      best.offer(row_pred[s[j]] + row_si[s[j + 1]] - a - edge[j], i, j);
    }
    best.offer(i == 0 ? 0.0 : row_pred[s[n - 1]] + row_si[s[0]] - a - edge[n - 1], i, n - 1);
  }
  return best;
}

// Exchange of positions i < j on a symmetric tour, from the edges at both positions.
// Neighbours in the tour (j = i + 1, and 0 with n-1 across the closing edge) share an edge.
inline Best swap_scan(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
  fill_edges(d, n, s, edge);
  auto at = [&](Word a, Word b) { return d[std::size_t{a} * n + b]; };
  Best best;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Word pred = i > 0 ? s[i - 1] : s[n - 1];
    const Word si = s[i];
    const Word si1 = s[i + 1];
    const double* row_pred = d + std::size_t{pred} * n;
    const double* row_si = d + std::size_t{si} * n;
    const double* row_si1 = d + std::size_t{si1} * n;
    const double before_i = edge[i > 0 ? i - 1 : n - 1] + edge[i];
    // j = i + 1: pred, s_i, s_j, next  ->  pred, s_j, s_i, next (the middle edge is kept).
    {
      const std::size_t j = i + 1;
      const Word next = s[(j + 1) % n];
      if (i == 0 && j == n - 1) {
        best.offer(0.0, i, j);  // two cities: exchanging them changes no edge
      } else {
        best.offer(row_pred[s[j]] + row_si[next] - edge[i > 0 ? i - 1 : n - 1] - edge[j], i, j);
      }
    }
    for (std::size_t j = i + 2; j + 1 < n; ++j) {
      const Word sj = s[j];
      const double after = row_pred[sj] + row_si1[sj] + row_si[s[j - 1]] + row_si[s[j + 1]];
      best.offer(after - (before_i + edge[j - 1] + edge[j]), i, j);
    }
    if (i + 2 < n) {
      const std::size_t j = n - 1;
      const Word sj = s[j];
      if (i == 0) {
        // s_n-1 precedes s_0 across the closing edge: s_n-2, s_n-1, s_0, s_1 becomes
        // s_n-2, s_0, s_n-1, s_1.
        const double before = edge[n - 2] + edge[0];
        const double after = at(s[n - 2], si) + at(sj, si1);
        best.offer(after - before, i, j);
      } else {
        const double after = row_pred[sj] + row_si1[sj] + row_si[s[j - 1]] + row_si[s[0]];
        best.offer(after - (before_i + edge[j - 1] + edge[j]), i, j);
      }
    }
  }
  return best;
}

// Assignment, both matrices symmetric: exchanging the facilities at locations i and j
// changes the cost by sum over k != i, j of (D[j][k] - D[i][k]) * (F[s_i][s_k] - F[s_j][s_k]).
inline Best qap_swap_scan(const double* d, const double* f, std::size_t n, std::span<const Word> s) {
  Best best;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double* di = d + i * n;
    const double* fi = f + std::size_t{s[i]} * n;
    for (std::size_t j = i + 1; j < n; ++j) {
      const double* dj = d + j * n;
      const double* fj = f + std::size_t{s[j]} * n;
      double total = 0.0;
      for (std::size_t k = 0; k < n; ++k) {
        if (k == i || k == j) continue;
        total += (dj[k] - di[k]) * (fi[s[k]] - fj[s[k]]);
      }
      best.offer(total, i, j);
    }
  }
  return best;
}

// The engine's side of a scan: for_each_delta with steepest descent's best-move visitor.
inline Best engine_scan(const Evaluation& e, const SimpleMoveType& mt, std::vector<Word>& s,
                 ScanScratch& scratch) {
  Best best;
  for_each_delta(e, mt, s, scratch, [&](Move m, double d) { best.offer(d, m.i, m.j); });
  return best;
}

inline std::size_t pair_count(std::size_t n) { return n * (n - 1) / 2; }

// Times `f` once per benchmark iteration and reports the median time per unit, in ns.
template <class F>
void single(benchmark::State& state, double units, F&& f) {
  std::vector<double> t;
  for (auto _ : state) t.push_back(time_ns(f));
  state.counters["ns"] = median(t) / units;
}

}  // namespace kestrum::pairs
