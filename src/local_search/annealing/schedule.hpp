// The pieces of annealing's schedule that stand on their own: what a criterion says about
// the length of a run, and the start temperature found from a sample of worsening deltas.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "termination/termination_function.hpp"

namespace kestrum::annealing {

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

// How long a criterion lets a run go: it ends once `seconds` have passed or `iterations`
// are done, whichever comes first; kUnbounded where the criterion says nothing.
struct Budget {
  double seconds = kUnbounded;
  double iterations = kUnbounded;

  [[nodiscard]] bool bounded() const noexcept {
    return seconds != kUnbounded || iterations != kUnbounded;
  }
  // The share of the run done after `seconds_done` and `iterations_done`: the larger of the
  // two shares (a zero budget is done from the start). 0 for an unbounded budget.
  [[nodiscard]] double done(double seconds_done, double iterations_done) const noexcept;
};

// The criterion's bounds (TerminationFunction::budget) as the schedule reads them: an "and"
// ends at the first of its children's bounds, an "or" at the last, in each measure all its
// children bound; a temperature or improvement criterion says nothing about a run's length.
[[nodiscard]] Budget budget_of(const TerminationFunction& criterion);

// The temperature T at which the mean of e^(-d/T) over the worsening deltas d (finite and
// > 0) is 1/2: about half of such moves would be accepted. Found by bisection of log T, so
// the result is within a relative 1e-12 of the root. An empty sample gives 0.
[[nodiscard]] double half_acceptance_temperature(std::span<const double> worsening);

// The schedule's settings as the factory checks them: a start temperature finite and >= 0,
// alpha in (0, 1] (1 keeps the temperature where it starts), at least one iteration per
// temperature.
[[nodiscard]] constexpr bool valid_start_temperature(double t) noexcept {
  return t >= 0.0 && t <= std::numeric_limits<double>::max();
}
[[nodiscard]] constexpr bool valid_alpha(double alpha) noexcept { return alpha > 0.0 && alpha <= 1.0; }

// The temperature as the criteria's integer check sees it: rounded up and saturated to 32
// bits, so that min_temp(m) < ceil(T) exactly when m < T (m is an integer). The schedule
// itself never rounds.
[[nodiscard]] std::int32_t criterion_temperature(double t) noexcept;

}  // namespace kestrum::annealing
