// Engine scans and searches timed against minimal hand-written loops, in alternating rounds.
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
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "local_search/local_search.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "local_search/steepest_descent/steepest_descent.hpp"
#include "local_search/tabu_search/solution_hash.hpp"
#include "local_search/tabu_search/tabu_search.hpp"
#include "problem/array_problem.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {
namespace {

// ---------------------------------------------------------------------------------------
// Instances.

// Row-major n x n distances between n points drawn uniformly from a 1000 x 1000 square.
// Each distance is computed once and mirrored, so the matrix is exactly symmetric.
std::vector<double> euclidean(std::size_t n, std::uint64_t seed) {
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
std::vector<double> symmetric_integers(std::size_t n, std::uint64_t seed) {
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

std::vector<double> item_weights(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_int_distribution<int> w(1, 60);
  std::vector<double> weights(n);
  for (double& x : weights) x = w(gen);
  return weights;
}

Matrix square_matrix(const std::vector<double>& flat, std::size_t n) {
  const std::vector<std::size_t> lengths(n, n);
  return Matrix(flat, lengths);
}

std::vector<Word> random_permutation(std::size_t n, std::uint64_t seed) {
  std::vector<Word> s(n);
  std::iota(s.begin(), s.end(), Word{0});
  std::mt19937_64 gen(seed);
  std::shuffle(s.begin(), s.end(), gen);
  return s;
}

SimpleMoveType simple(bool reversal, std::size_t n) {
  const Xoshiro128pp rng = Xoshiro128pp::from_seed(1);
  if (reversal) return Reverse{rng, static_cast<Word>(n)};
  return Swap{rng, static_cast<Word>(n)};
}

Shared<Problem> array_problem(const MoveType& move_type, const Evaluation& evaluation,
                              const std::vector<Word>& start) {
  Shared<Problem> p = Shared<Problem>::make<ArrayProblem>(move_type, evaluation);
  auto locked = p.lock();
  locked->as_array_problem()->set_solution(start);
  return p;
}

void set_start(const Shared<Problem>& p, const std::vector<Word>& start) {
  auto locked = p.lock();
  locked->as_array_problem()->set_solution(start);
}

// ---------------------------------------------------------------------------------------
// Timing.

// The calling thread's CPU time: on a shared machine with more runnable threads than cores,
// wall-clock time would also count the time other processes held the core.
double thread_ns() {
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

double median(std::vector<double> v) {
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
std::size_t reps_for(std::size_t moves, double ns_per_move) {
  const double per_call = static_cast<double>(moves) * ns_per_move;
  return std::max<std::size_t>(1, static_cast<std::size_t>(3e5 / per_call));
}

bool close(double a, double b) { return std::fabs(a - b) <= 1e-9 * (1.0 + std::fabs(a) + std::fabs(b)); }

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
void fill_edges(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
  edge.resize(n);
  for (std::size_t k = 0; k + 1 < n; ++k) edge[k] = d[s[k] * n + s[k + 1]];
  edge[n - 1] = d[s[n - 1] * n + s[0]];
}

// 2-opt on a symmetric tour: reversing positions i..j replaces the edges (s_i-1, s_i) and
// (s_j, s_j+1) by (s_i-1, s_j) and (s_i, s_j+1). The rows of s_i-1 and s_i are read once
// per i. The pair (0, n-1) reverses the whole tour and changes no edge: its two "edges" are
// the same closing edge, so the formula would count it twice.
Best two_opt_scan(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
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
Best swap_scan(const double* d, std::size_t n, std::span<const Word> s, std::vector<double>& edge) {
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
Best qap_swap_scan(const double* d, const double* f, std::size_t n, std::span<const Word> s) {
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
Best engine_scan(const Evaluation& e, const SimpleMoveType& mt, std::vector<Word>& s,
                 ScanScratch& scratch) {
  Best best;
  for_each_delta(e, mt, s, scratch, [&](Move m, double d) { best.offer(d, m.i, m.j); });
  return best;
}

std::size_t pair_count(std::size_t n) { return n * (n - 1) / 2; }

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

// ---------------------------------------------------------------------------------------
// References: slower ways to write the 2-opt scan of a symmetric tour.

// Times `f` once per benchmark iteration and reports the median time per unit, in ns.
template <class F>
void single(benchmark::State& state, double units, F&& f) {
  std::vector<double> t;
  for (auto _ : state) t.push_back(time_ns(f));
  state.counters["ns"] = median(t) / units;
}

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
}  // namespace kestrum
