// The benchmark runner.
#include "aidfunc/benchmark.hpp"

#include <algorithm>
#include <cstdint>

#include "support/fatal.hpp"

namespace kestrum {

void benchmark(const std::vector<Shared<LocalSearch>>& algorithms, const std::vector<Shared<Problem>>& problems,
               const std::optional<TerminationFunction>& termination_function, std::optional<std::uint64_t> runs,
               const std::optional<std::vector<std::uint64_t>>& seeds, bool random_starts, BenchmarkResult& result) {
  const std::uint64_t count = runs.value_or(10);
  if (count > kMaxRuns) fatal("capacity overflow");
  // The default seeds 0..count-1 are generated on the fly rather than stored: a large count
  // reserves nothing it does not run.
  const std::uint64_t seed_count = seeds ? seeds->size() : count;
  auto seed_at = [&](std::uint64_t k) { return seeds ? (*seeds)[k] : k; };
  RunControl& control = RunControl::active();

  result.clear();
  result.reserve(algorithms.size());
  for (const Shared<LocalSearch>& search : algorithms) {
    if (termination_function) search.lock()->set_termination(*termination_function);
    auto& per_search = result.emplace_back();
    per_search.reserve(problems.size());
    for (const Shared<Problem>& problem : problems) {
      // The search stays locked from setting its problem to the end of that problem's runs,
      // and each run reseeds and resets the problem under the lock the run holds it by: no
      // other thread can put another problem, criterion or start between them.
      auto locked = search.lock();
      if (termination_function) locked->set_termination(*termination_function);
      locked->set_problem(problem);
      auto& per_problem = per_search.emplace_back();
      // Room for the seeds the caller listed, but not for a large default count: runs=10**8
      // would reserve gigabytes up front (and a stop may come long before they are run).
      per_problem.reserve(static_cast<std::size_t>(seeds ? seed_count : std::min<std::uint64_t>(seed_count, 1024)));
      for (std::uint64_t k = 0; k < seed_count; ++k) {
        // A stop (a signal handler or a callback that raised) ends the call between runs or
        // inside one; what ran so far is returned, the stopped run with its final row.
        if (control.between_runs()) return;
        control.begin_run(locked->run_settings(), RunControl::Restart{.seed = seed_at(k), .shuffle = random_starts});
        per_problem.push_back(locked->run(true));
        if (control.stop_requested()) return;
      }
    }
  }
}

}  // namespace kestrum
