// The benchmark runner.
#include "aidfunc/benchmark.hpp"

#include "support/fatal.hpp"

namespace kestrum {

BenchmarkResult benchmark(const std::vector<Shared<LocalSearch>>& algorithms,
                          const std::vector<Shared<Problem>>& problems,
                          const std::optional<TerminationFunction>& termination_function,
                          std::optional<std::uint64_t> runs,
                          const std::optional<std::vector<std::uint64_t>>& seeds) {
  const std::uint64_t count = runs.value_or(10);
  if (count > kMaxRuns) fatal("capacity overflow");
  // The default seeds 0..count-1 are generated on the fly rather than stored: a large count
  // reserves nothing it does not run.
  const std::uint64_t seed_count = seeds ? seeds->size() : count;
  auto seed_at = [&](std::uint64_t k) { return seeds ? (*seeds)[k] : k; };

  BenchmarkResult result;
  result.reserve(algorithms.size());
  for (const Shared<LocalSearch>& search : algorithms) {
    if (termination_function) search.lock()->set_termination(*termination_function);
    std::vector<std::vector<RunLog>> per_search;
    per_search.reserve(problems.size());
    for (const Shared<Problem>& problem : problems) {
      search.lock()->set_problem(problem);
      std::vector<RunLog> per_problem;
      per_problem.reserve(static_cast<std::size_t>(seed_count));
      for (std::uint64_t k = 0; k < seed_count; ++k) {
        problem.lock()->set_seed(seed_at(k));
        problem.lock()->reset();
        per_problem.push_back(search.lock()->run(true));
      }
      per_search.push_back(std::move(per_problem));
    }
    result.push_back(std::move(per_search));
  }
  return result;
}

}  // namespace kestrum
