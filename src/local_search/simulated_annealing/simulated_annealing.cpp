// Simulated annealing: integer temperature schedule, proposals and the acceptance test.
#include "local_search/simulated_annealing/simulated_annealing.hpp"

#include <cmath>
#include <optional>
#include <type_traits>
#include <utility>

#include "local_search/simulated_annealing/acceptance_rng.hpp"

namespace kestrum {

std::uint32_t cool(double alpha, std::uint32_t t) noexcept {
  const double x = std::round(alpha * static_cast<double>(t));
  if (!(x >= 0.0)) return 0;  // negative or NaN
  if (x >= 4294967295.0) return 4294967295U;
  return static_cast<std::uint32_t>(x);
}

namespace {

// Proposals through the problem interface.
struct ProblemMoves {
  Problem& problem;
  [[nodiscard]] Move propose() { return problem.get_mov(); }
  [[nodiscard]] double delta(Move m) { return problem.delta_eval(m); }
  void apply(Move m) { problem.do_mov(m); }
};

// Proposals on an array problem, with the delta kernel of its (evaluation, move) pair
// resolved once per run instead of once per proposal.
template <class Kernel>
struct ArrayMoves {
  ArrayProblem& problem;
  const Kernel& kernel;
  [[nodiscard]] Move propose() { return problem.get_mov(); }
  [[nodiscard]] double delta(Move m) { return kernel.delta(problem.solution(), m.i, m.j); }
  void apply(Move m) { problem.do_mov(m); }
};

}  // namespace

SimulatedAnnealing::SimulatedAnnealing(std::uint32_t start_temp, bool minimize,
                                       Shared<Problem> problem,
                                       const TerminationFunction& termination_function,
                                       double alpha, std::uint32_t iterations_temperature)
    : termination_(termination_function),
      problem_(std::move(problem)),
      alpha_(alpha),
      temperature_(start_temp),
      start_temp_(start_temp),
      iterations_temperature_(iterations_temperature),
      minimize_(minimize) {
  termination_.set_goal(minimize);
}

void SimulatedAnnealing::reset() { reset_problem(problem_); }

void SimulatedAnnealing::set_problem(Shared<Problem> problem) {
  replace_problem_refusing_multi(problem_, std::move(problem),
                                 "Can't use multiNeighbor in Simulated Annealing");
}

void SimulatedAnnealing::set_termination(const TerminationFunction& termination_function) {
  termination_ = termination_function;
}

RunLog SimulatedAnnealing::run(bool log) {
  auto locked = problem_.lock();
  Problem& problem = *locked;
  temperature_ = start_temp_;
  RunRecorder rows;
  const double score = problem.eval();
  double best = score;
  double current = score;
  std::optional<AcceptanceRng> seeded;
  if (acceptance_seed_) seeded.emplace(AcceptanceRng::from_seed(*acceptance_seed_));
  AcceptanceRng& rng = seeded ? *seeded : AcceptanceRng::thread();
  problem.set_best();
  termination_.init();
  if (log) rows.add(score, score, 0);
  std::uint64_t iterations = 0;
  auto anneal = [&](auto&& moves) {
    while (termination_.keep_running()) {
      const double t = static_cast<double>(temperature_);
      for (std::uint32_t k = 0; k < iterations_temperature_; ++k) {
        if (!termination_.keep_running()) break;
        const Move m = moves.propose();
        const double delta = moves.delta(m);
        // A zero delta is never worsening. A NaN is not worsening when minimising, and is
        // worsening (then rejected: p is NaN) when maximising.
        const bool worsening = minimize_ ? delta > 0.0 : !(delta >= 0.0);
        if (!worsening) {
          moves.apply(m);
          current = current + delta;
          // Minimising, a tie keeps the earlier best; maximising, a tie takes the new one.
          const bool new_best = minimize_ ? current < best : !(current < best);
          if (new_best) {
            problem.set_best();
            best = current;
          }
          if (log) rows.add(best, current, iterations);
        } else {
          // Exactly one draw per worsening move, whatever the temperature; at T = 0 the
          // exponent is -inf and p = 0, so the move is rejected.
          const double r = rng.next_unit();
          const double p = std::pow(2.718281828459045, -std::fabs(delta) / t);
          if (p > r) {
            moves.apply(m);
            current = current + delta;
            if (log) rows.add(best, current, iterations);
          }
        }
        termination_.iteration_done();
        ++iterations;
      }
      temperature_ = cool(alpha_, temperature_);
      // The same 32 bits as a signed word: 2^31 and above arrive negative.
      if (!termination_.check_variable(static_cast<std::int32_t>(temperature_))) break;
    }
  };
  ArrayProblem* array = problem.as_array_problem();
  std::optional<SimpleMoveType> kind;
  if (array != nullptr) kind = simple_kind(array->move_type());
  if (kind) {
    with_delta_kernel(array->evaluation(), *kind, array->solution(), [&](const auto& kernel) {
      anneal(ArrayMoves<std::decay_t<decltype(kernel)>>{*array, kernel});
    });
  } else {
    anneal(ProblemMoves{problem});
  }
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
