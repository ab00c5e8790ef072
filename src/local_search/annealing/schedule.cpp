// Annealing's schedule pieces: a criterion's budget and the calibrated start temperature.
#include "local_search/annealing/schedule.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrum::annealing {

double Budget::done(double seconds_done, double iterations_done) const noexcept {
  auto share = [](double part, double whole) { return whole > 0.0 ? part / whole : 1.0; };
  return std::max(share(seconds_done, seconds), share(iterations_done, iterations));
}

Budget budget_of(const TerminationFunction& criterion) {
  const kestrum::Budget bound = criterion.budget();
  return {bound.seconds.value_or(kUnbounded),
          bound.iterations ? static_cast<double>(*bound.iterations) : kUnbounded};
}

double half_acceptance_temperature(std::span<const double> worsening) {
  if (worsening.empty()) return 0.0;
  const auto [lowest, highest] = std::minmax_element(worsening.begin(), worsening.end());
  // Every term is at most 1/2 at T = min d / ln 2 and at least 1/2 at T = max d / ln 2.
  double lo = std::log(*lowest / std::numbers::ln2);
  double hi = std::log(*highest / std::numbers::ln2);
  const double half = 0.5 * static_cast<double>(worsening.size());
  for (int round = 0; round < 200 && hi - lo > 1e-12; ++round) {
    const double mid = 0.5 * (lo + hi);
    const double t = std::exp(mid);
    double accepted = 0.0;
    for (const double d : worsening) accepted += std::exp(-d / t);
    if (accepted < half) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return std::exp(0.5 * (lo + hi));
}

std::int32_t criterion_temperature(double t) noexcept {
  const double up = std::ceil(t);
  if (!(up > 0.0)) return 0;
  if (up >= 2147483647.0) return 2147483647;
  return static_cast<std::int32_t>(up);
}

}  // namespace kestrum::annealing
