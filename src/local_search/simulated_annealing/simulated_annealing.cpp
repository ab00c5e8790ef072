// Simulated annealing: integer temperature schedule, proposals and the acceptance test.
#include "local_search/simulated_annealing/simulated_annealing.hpp"

#include <cmath>
#include <optional>
#include <utility>

#include "local_search/neighbourhood.hpp"
#include "local_search/simulated_annealing/acceptance_rng.hpp"
#include "problem/array_problem_state.hpp"

namespace kestrum {

std::uint32_t cool(double alpha, std::uint32_t t) noexcept {
  const double x = std::round(alpha * static_cast<double>(t));
  if (!(x >= 0.0)) return 0;  // negative or NaN
  if (x >= 4294967295.0) return 4294967295U;
  return static_cast<std::uint32_t>(x);
}

SimulatedAnnealing::SimulatedAnnealing(std::uint32_t start_temp, bool minimize,
                                       Shared<Problem> problem,
                                       const TerminationFunction& termination_function,
                                       double alpha, std::uint32_t iterations_temperature)
    : SearchBase(minimize, std::move(problem), termination_function,
                 "Can't use multiNeighbor in Simulated Annealing"),
      alpha_(alpha),
      temperature_(start_temp),
      start_temp_(start_temp),
      iterations_temperature_(iterations_temperature) {}

Shared<LocalSearch> SimulatedAnnealing::make(const Params& params, bool minimize, Shared<Problem> problem,
                                             const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<SimulatedAnnealing>(params.start_temp, minimize, std::move(problem), termination,
                                                       params.alpha, params.iterations_temperature);
}

// Saved fields: the schedule, the last temperature (every run starts again from start_temp
// anyway) and the acceptance seed, if any.
void SimulatedAnnealing::write_fields(ByteWriter& w) const {
  w.u32(start_temp_);
  w.u32(temperature_);
  w.f64(alpha_);
  w.u32(iterations_temperature_);
  w.boolean(acceptance_seed_.has_value());
  if (acceptance_seed_) w.u64(*acceptance_seed_);
}

Shared<LocalSearch> SimulatedAnnealing::restore(ByteReader& r, bool minimize,
                                                const TerminationFunction& termination) {
  const std::uint32_t start_temp = r.u32();
  const std::uint32_t temperature = r.u32();
  const double alpha = r.f64();
  const std::uint32_t iterations_temperature = r.u32();
  std::optional<std::uint64_t> acceptance_seed;
  if (r.boolean()) acceptance_seed = r.u64();
  Shared<Problem> problem = read_problem(r);
  SimulatedAnnealing sa = rebuilt<SimulatedAnnealing>(termination, start_temp, minimize, std::move(problem),
                                                      termination, alpha, iterations_temperature);
  sa.acceptance_seed_ = acceptance_seed;
  sa.temperature_ = temperature;
  return Shared<LocalSearch>::make<SimulatedAnnealing>(std::move(sa));
}

RunLog SimulatedAnnealing::run(bool log) {
  auto locked = lock_problem_for_run();
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
    // Counted here too: with 0 iterations per temperature the inner loop never runs.
    while (termination_.keep_running() && !rows.stopping()) {
      const double t = static_cast<double>(temperature_);
      for (std::uint32_t k = 0; k < iterations_temperature_; ++k) {
        if (!termination_.keep_running() || rows.stopping()) break;
        const Move m = moves.propose();
        const double delta = moves.delta(m);
        // A delta that could not be scored (a caller's callback failed) stops the run before
        // the move is judged: it is not applied.
        if (rows.control().stop_requested()) break;
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
  Neighbourhood(problem).with_proposals(anneal);
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
