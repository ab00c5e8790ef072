// The benchmark runner: every search on every problem once per seed.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "local_search/local_search.hpp"
#include "problem/problem.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {

// result[a][p][s]: the log of search a on problem p with the s-th seed.
using BenchmarkResult = std::vector<std::vector<std::vector<RunLog>>>;

// The largest run count whose seed list (8 bytes a seed) the runner accepts; above it the
// call stops with "capacity overflow" before touching any search, seeds given or not.
inline constexpr std::uint64_t kMaxRuns = 268435455;

// Before each run the problem is reseeded and reset (with `random_starts`, started from a
// random permutation drawn from the run's seed instead), so a run is repeatable for its seed as
// far as the search draws all its random numbers from the problem; that preparation happens
// under the problem lock the run holds, and the search is held from setting its problem to
// its last run on it, so a run is never filed under another problem or start. The searches
// keep the criterion (when given) and the last problem; the problems keep their final state.
// Each run keeps its log in its search's log mode. When the thread's run control is asked to
// stop, the runner returns what it has: the lists so far, ending with the stopped run's log.
// `result` is filled as the runs end, so what ran is there too when an exception ends the call.
void benchmark(const std::vector<Shared<LocalSearch>>& algorithms, const std::vector<Shared<Problem>>& problems,
               const std::optional<TerminationFunction>& termination_function, std::optional<std::uint64_t> runs,
               const std::optional<std::vector<std::uint64_t>>& seeds, bool random_starts, BenchmarkResult& result);

}  // namespace kestrum
