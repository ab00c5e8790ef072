// Assignment problems: the robust tabu step against a plain loop of the published step, and
// the growth of tabu search's step from n = 50 to n = 100 on the exchange table.
#include <memory>

#include "baselines.hpp"
#include "local_search/robust_tabu_search/robust_tabu_search.hpp"
#include "local_search/tabu_search/tabu_search.hpp"

namespace kestrum::pairs {
namespace {

// The published robust tabu step, written plainly: integer matrices in the QAPLIB form (each
// pair counted both ways), a table of exchange changes updated in O(1) away from the last
// exchange and in O(n) beside it, and the tabu matrix of the last step at which an element
// may not return to a position. Tenures are redrawn from [0.9 n, 1.1 n] after each step.
class PlainRobustTabu {
 public:
  PlainRobustTabu(const std::vector<double>& a, const std::vector<double>& b, std::size_t n)
      : n_(n), a_(n * n), b_(n * n), delta_(n * n), tabu_(n * n), p_(n) {
    for (std::size_t k = 0; k < n * n; ++k) {
      a_[k] = static_cast<long>(a[k]);
      b_[k] = static_cast<long>(b[k]);
    }
  }

  // `steps` steps from `start`; returns the best cost found.
  long run(const std::vector<Word>& start, std::size_t steps) {
    const long n = static_cast<long>(n_);
    for (std::size_t k = 0; k < n_; ++k) p_[k] = static_cast<long>(start[k]);
    long cost = 0;
    for (long i = 0; i < n; ++i) {
      for (long j = 0; j < n; ++j) cost += A(i, j) * B(p_[i], p_[j]);
    }
    for (long i = 0; i < n; ++i) {
      for (long j = i + 1; j < n; ++j) delta_[i * n + j] = compute_delta(i, j);
    }
    for (long i = 0; i < n; ++i) {
      for (long j = 0; j < n; ++j) tabu_[i * n + j] = -(n * i + j);
    }
    std::mt19937_64 gen(7);
    std::uniform_int_distribution<long> tenure(n * 9 / 10, (n * 11 + 9) / 10);
    const long aspiration = 2 * n * n;
    long best = cost;
    for (long iter = 1; iter <= static_cast<long>(steps); ++iter) {
      long r = -1;
      long s = -1;
      long min_delta = std::numeric_limits<long>::max();
      bool already_aspired = false;
      for (long i = 0; i < n - 1; ++i) {
        for (long j = i + 1; j < n; ++j) {
          const long d = delta_[i * n + j];
          const long ti = tabu_[i * n + p_[j]];
          const long tj = tabu_[j * n + p_[i]];
          const bool authorized = ti < iter || tj < iter;
          const bool aspired = ti < iter - aspiration || tj < iter - aspiration || cost + d < best;
          if ((aspired && !already_aspired) || (aspired && already_aspired && d < min_delta) ||
              (!aspired && !already_aspired && d < min_delta && authorized)) {
            r = i;
            s = j;
            min_delta = d;
            if (aspired) already_aspired = true;
          }
        }
      }
      if (r < 0) break;
      std::swap(p_[r], p_[s]);
      cost += min_delta;
      if (cost < best) best = cost;
      tabu_[r * n + p_[s]] = iter + tenure(gen);
      tabu_[s * n + p_[r]] = iter + tenure(gen);
      for (long i = 0; i < n - 1; ++i) {
        for (long j = i + 1; j < n; ++j) {
          if (i != r && i != s && j != r && j != s) {
            delta_[i * n + j] = compute_delta_part(i, j, r, s);
          } else {
            delta_[i * n + j] = compute_delta(i, j);
          }
        }
      }
    }
    return best;
  }

 private:
  [[nodiscard]] long A(long i, long j) const { return a_[i * static_cast<long>(n_) + j]; }
  [[nodiscard]] long B(long i, long j) const { return b_[i * static_cast<long>(n_) + j]; }

  long compute_delta(long r, long s) const {
    const long n = static_cast<long>(n_);
    long d = (A(r, r) - A(s, s)) * (B(p_[s], p_[s]) - B(p_[r], p_[r])) +
             (A(r, s) - A(s, r)) * (B(p_[s], p_[r]) - B(p_[r], p_[s]));
    for (long k = 0; k < n; ++k) {
      if (k == r || k == s) continue;
      d += (A(k, r) - A(k, s)) * (B(p_[k], p_[s]) - B(p_[k], p_[r])) +
           (A(r, k) - A(s, k)) * (B(p_[s], p_[k]) - B(p_[r], p_[k]));
    }
    return d;
  }
  long compute_delta_part(long i, long j, long r, long s) const {
    return delta_[i * static_cast<long>(n_) + j] +
           (A(r, i) - A(r, j) + A(s, j) - A(s, i)) *
               (B(p_[s], p_[i]) - B(p_[s], p_[j]) + B(p_[r], p_[j]) - B(p_[r], p_[i])) +
           (A(i, r) - A(j, r) + A(j, s) - A(i, s)) *
               (B(p_[i], p_[s]) - B(p_[j], p_[s]) + B(p_[j], p_[r]) - B(p_[i], p_[r]));
  }

  std::size_t n_;
  std::vector<long> a_;
  std::vector<long> b_;
  std::vector<long> delta_;
  std::vector<long> tabu_;
  std::vector<long> p_;
};

// A robust tabu step of the engine against the plain loop, same data and start, both runs
// including their O(n^3) start-up.
void Pair_RobustTabuStep(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::size_t steps = static_cast<std::size_t>(state.range(1));
  const std::vector<double> a = symmetric_integers(n, 51);
  const std::vector<double> b = symmetric_integers(n, 52);
  const std::vector<Word> start = random_permutation(n, 53);
  const Evaluation e = Evaluation::qap(square_matrix(a, n), square_matrix(b, n));
  const Shared<Problem> problem = array_problem(MoveType::swap(54), e, start);
  RobustTabuSearch search(true, problem, TerminationFunction::max_iterations(static_cast<Word>(steps)),
                          std::nullopt, std::nullopt, 55);
  PlainRobustTabu plain(a, b, n);
  alternate(
      state, Side{[&] { benchmark::DoNotOptimize(plain.run(start, steps)); }, static_cast<double>(steps)},
      Side{[&] {
             set_start(problem, start);
             benchmark::DoNotOptimize(search.run(false));
           },
           static_cast<double>(steps)});
}
BENCHMARK(Pair_RobustTabuStep)
    ->ArgNames({"n", "steps"})
    ->Args({50, 4000})
    ->Args({50, 20000})
    ->Args({100, 2000})
    ->Args({256, 2000})
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

// Tabu search's step on an assignment at n = 100 against n = 50 ("base" is n = 50 here, so
// ratio is the growth of a step when n doubles; the neighbourhood grows 4x).
void Pair_QapTabuStepGrowth(benchmark::State& state) {
  const std::size_t steps = static_cast<std::size_t>(state.range(0));
  struct Setup {
    std::vector<Word> start;
    Shared<Problem> problem;
    TabuSearch search;
  };
  auto make = [&](std::size_t n) {
    const Evaluation e =
        Evaluation::qap(square_matrix(symmetric_integers(n, 61), n), square_matrix(symmetric_integers(n, 62), n));
    std::vector<Word> start = random_permutation(n, 63);
    Shared<Problem> p = array_problem(MoveType::swap(64), e, start);
    TabuSearch t(p, TerminationFunction::max_iterations(static_cast<Word>(steps)), true, static_cast<Word>(n));
    return std::make_unique<Setup>(Setup{std::move(start), std::move(p), std::move(t)});
  };
  const std::unique_ptr<Setup> small = make(50);
  const std::unique_ptr<Setup> large = make(100);
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
BENCHMARK(Pair_QapTabuStepGrowth)->ArgName("steps")->Arg(2000)->Iterations(7)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum::pairs
