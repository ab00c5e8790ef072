// Annealing: the calibrated start, the geometric schedule, proposals and acceptance.
#include "local_search/annealing/annealing.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <utility>

#include "local_search/annealing/schedule.hpp"
#include "local_search/neighbourhood.hpp"
#include "local_search/simulated_annealing/acceptance_rng.hpp"
#include "problem/array_problem_state.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

void check_params(const Annealing::Params& p) {
  if (p.start_temperature && !annealing::valid_start_temperature(*p.start_temperature)) {
    fatal("start_temperature must be a finite number >= 0");
  }
  if (p.alpha && !annealing::valid_alpha(*p.alpha)) fatal("alpha must be a number > 0 and <= 1");
  if (p.iterations_per_temperature == 0U) fatal("iterations_per_temperature must be at least 1");
}

double seconds_since(Instant start) {
  const Elapsed e = elapsed(start, now());
  return static_cast<double>(e.seconds) + static_cast<double>(e.nanos) * 1e-9;
}

// The start temperature from kSampleMoves proposals of `sampler` scored at the current
// solution: half acceptance over the worsening ones, or, when none worsens, over the
// improving ones by their size (the scale of the score's steps is all the sample shows);
// 0 when no move changes the score. std::nullopt when the run was stopped meanwhile.
template <class Proposals>
std::optional<double> calibrated(Proposals& moves, MoveType& sampler, bool minimize, RunRecorder& rows) {
  std::array<double, Annealing::kSampleMoves> worsening;
  std::array<double, Annealing::kSampleMoves> improving;
  std::size_t worse = 0;
  std::size_t better = 0;
  for (std::uint32_t k = 0; k < Annealing::kSampleMoves; ++k) {
    if (rows.stopping()) return std::nullopt;
    const double delta = moves.delta(sampler.get_mov());
    if (rows.control().stop_requested()) return std::nullopt;
    const double change = minimize ? delta : -delta;
    if (!std::isfinite(change)) continue;
    if (change > 0.0) worsening[worse++] = change;
    if (change < 0.0) improving[better++] = -change;
  }
  if (worse > 0) return annealing::half_acceptance_temperature(std::span(worsening).first(worse));
  return annealing::half_acceptance_temperature(std::span(improving).first(better));
}

}  // namespace

Annealing::Annealing(bool minimize, Shared<Problem> problem, const TerminationFunction& termination_function,
                     const Params& params)
    : SearchBase(minimize, std::move(problem), termination_function, "Can't use multiNeighbor in Annealing"),
      params_(params) {
  check_params(params_);
}

Shared<LocalSearch> Annealing::make(const Params& params, bool minimize, Shared<Problem> problem,
                                    const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<Annealing>(minimize, std::move(problem), termination, params);
}

// Saved fields: each setting as a flag and, when set, its value. The temperatures are not
// saved: every run computes them again.
void Annealing::write_fields(ByteWriter& w) const {
  w.boolean(params_.start_temperature.has_value());
  if (params_.start_temperature) w.f64(*params_.start_temperature);
  w.boolean(params_.alpha.has_value());
  if (params_.alpha) w.f64(*params_.alpha);
  w.boolean(params_.iterations_per_temperature.has_value());
  if (params_.iterations_per_temperature) w.u32(*params_.iterations_per_temperature);
  w.boolean(params_.seed.has_value());
  if (params_.seed) w.u64(*params_.seed);
}

Shared<LocalSearch> Annealing::restore(ByteReader& r, bool minimize, const TerminationFunction& termination) {
  Params params;
  if (r.boolean()) {
    params.start_temperature = r.f64();
    if (!annealing::valid_start_temperature(*params.start_temperature)) {
      malformed("an annealing start temperature is finite and >= 0");
    }
  }
  if (r.boolean()) {
    params.alpha = r.f64();
    if (!annealing::valid_alpha(*params.alpha)) malformed("an annealing alpha is > 0 and <= 1");
  }
  if (r.boolean()) {
    params.iterations_per_temperature = r.u32();
    if (params.iterations_per_temperature == 0U) malformed("annealing takes at least one iteration per temperature");
  }
  if (r.boolean()) params.seed = r.u64();
  Shared<Problem> problem = read_problem(r);
  return Shared<LocalSearch>::make<Annealing>(
      rebuilt<Annealing>(termination, minimize, std::move(problem), termination, params));
}

RunLog Annealing::run(bool log) {
  // Before the lock: a failing OS read must not poison the problem.
  std::optional<AcceptanceRng> seeded;
  if (params_.seed) seeded.emplace(AcceptanceRng::from_seed(*params_.seed));
  AcceptanceRng& rng = seeded ? *seeded : AcceptanceRng::thread();
  auto locked = lock_problem_for_run();
  Problem& problem = *locked;
  RunRecorder rows;
  const double score = problem.eval();
  double best = score;
  double current = score;
  problem.set_best();
  termination_.init();
  const Instant start = now();
  const annealing::Budget budget = annealing::budget_of(termination_);
  start_temperature_ = 0.0;
  temperature_ = 0.0;
  if (log) rows.add(score, score, 0);

  const SimpleMoveType* simple = problem.get_move_type().simple();
  const double n = simple != nullptr ? static_cast<double>(size_of(*simple)) : 0.0;
  const std::uint32_t per_temperature =
      params_.iterations_per_temperature.value_or(std::max<std::uint32_t>(simple != nullptr ? size_of(*simple) : 0, 1));
  const bool by_budget = !params_.alpha && budget.bounded();
  const double default_cooling = std::max(kMinDefaultCooling, kDefaultCoolingPerSizeSquared * n * n);
  const double alpha =
      params_.alpha.value_or(std::pow(kEndRatio, static_cast<double>(per_temperature) / default_cooling));
  std::uint64_t iterations = 0;
  // Fewer than two positions to move (swap_tsp never moves the first): nothing to propose,
  // so the run ends at once rather than asking the move type for a move it cannot draw.
  if (simple != nullptr && size_of(*simple) < geometry(*simple).first_position + 2) {
    rows.add(best, current, iterations);
    return std::move(rows).take();
  }

  auto anneal = [&](auto&& moves) {
    if (params_.start_temperature) {
      start_temperature_ = *params_.start_temperature;
    } else {
      MoveType sampler = problem.get_move_type();
      sampler.set_seed(rng.next_u64());
      const std::optional<double> t = calibrated(moves, sampler, minimize_, rows);
      if (!t) return;
      start_temperature_ = *t;
    }
    const double t0 = start_temperature_;
    double t = t0;
    temperature_ = t;
    while (termination_.keep_running() && !rows.stopping()) {
      for (std::uint32_t k = 0; k < per_temperature; ++k) {
        if (!termination_.keep_running() || rows.stopping()) break;
        const Move m = moves.propose();
        const double delta = moves.delta(m);
        // A delta that could not be scored (a caller's callback failed) stops the run before
        // the move is judged: it is not applied.
        if (rows.control().stop_requested()) break;
        // A zero delta is never worsening. A NaN is not worsening when minimising, and is
        // worsening when maximising (then rejected without a draw).
        const bool worsening = minimize_ ? delta > 0.0 : !(delta >= 0.0);
        if (!worsening) {
          moves.apply(m);
          current = current + delta;
          const bool new_best = minimize_ ? current < best : current > best;
          if (new_best) {
            problem.set_best();
            best = current;
          }
          if (log) rows.add(best, current, iterations);
        } else if (std::fabs(delta) < kHopeless * t) {
          // One draw per worsening move that has a chance.
          const double r = rng.next_unit();
          if (std::exp(-std::fabs(delta) / t) > r) {
            moves.apply(m);
            current = current + delta;
            if (log) rows.add(best, current, iterations);
          }
        }
        // Otherwise (at T = 0 too) the move is rejected without a draw.
        termination_.iteration_done();
        ++iterations;
      }
      t = by_budget ? t0 * std::pow(kEndRatio, budget.done(seconds_since(start), static_cast<double>(iterations)))
                    : alpha * t;
      temperature_ = t;
      if (!termination_.check_variable(annealing::criterion_temperature(t))) break;
    }
  };
  Neighbourhood(problem).with_proposals(anneal);
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
