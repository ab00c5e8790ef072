// Annealing's schedule pieces: a criterion's budget and the calibrated start temperature.
#include "local_search/annealing/schedule.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <variant>
#include <vector>

#include "support/tags.hpp"

namespace kestrum::annealing {

double Budget::done(double seconds_done, double iterations_done) const noexcept {
  auto share = [](double part, double whole) { return whole > 0.0 ? part / whole : 1.0; };
  return std::max(share(seconds_done, seconds), share(iterations_done, iterations));
}

namespace {

// A criterion that runs while any of its children runs ends at the last of their ends: known
// only when every child is bounded in the same one dimension.
Budget last_of(const std::vector<TerminationFunction>& children) {
  if (children.empty()) return {};
  Budget out{0.0, 0.0};
  bool seconds_only = true;
  bool iterations_only = true;
  for (const TerminationFunction& child : children) {
    const Budget b = budget_of(child);
    seconds_only = seconds_only && b.seconds != kUnbounded && b.iterations == kUnbounded;
    iterations_only = iterations_only && b.iterations != kUnbounded && b.seconds == kUnbounded;
    out.seconds = std::max(out.seconds, b.seconds);
    out.iterations = std::max(out.iterations, b.iterations);
  }
  if (seconds_only) return {out.seconds, kUnbounded};
  if (iterations_only) return {kUnbounded, out.iterations};
  return {};
}

}  // namespace

Budget budget_of(const TerminationFunction& criterion) {
  using Tag = TerminationFunction::Tag;
  switch (criterion.tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMinTemp:
    case Tag::kMustImprove:
    case Tag::kNoImprove:
      return {};
    case Tag::kMaxIterations:
      return {kUnbounded, static_cast<double>(std::get<TerminationFunction::MaxIterations>(criterion.kind()).max_iterations)};
    case Tag::kMaxSec:
      return {static_cast<double>(std::get<TerminationFunction::MaxSec>(criterion.kind()).max_sec), kUnbounded};
    case Tag::kMultiCritAnd: {
      // Runs while every child runs: ends at the first of their ends.
      Budget out;
      for (const TerminationFunction& child : std::get<TerminationFunction::MultiCritAnd>(criterion.kind()).children) {
        const Budget b = budget_of(child);
        out.seconds = std::min(out.seconds, b.seconds);
        out.iterations = std::min(out.iterations, b.iterations);
      }
      return out;
    }
    case Tag::kMultiCritOr:
      return last_of(std::get<TerminationFunction::MultiCritOr>(criterion.kind()).children);
  }
  unknown_tag("criterion", criterion.tag());
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
