// Tabu search: full scans with a FIFO of visited-solution hashes and no aspiration.
#include "local_search/tabu_search/tabu_search.hpp"

#include <optional>
#include <utility>

#include "local_search/neighbourhood.hpp"
#include "local_search/tabu_search/solution_hash.hpp"
#include "local_search/tabu_search/tabu_list.hpp"

namespace kestrum {

namespace {

struct Choice {
  double delta;
  Move move{};
  std::uint64_t hash = 0;
  bool found = false;
};

// Tie rule: an admissible move is taken unless strictly worse than the best so far, so
// among equal deltas the last admissible one in scan order wins and a NaN is always taken.
// A tabu neighbour is never taken, however good (no aspiration). The neighbour's hash is
// only looked at when the delta would be taken: the outcome is the same as hashing every
// neighbour first, and most moves cost no hash at all.
class Chooser {
 public:
  Chooser(const TabuList& tabu, bool minimize) : tabu_(tabu), minimize_(minimize), choice_{worst_delta(minimize)} {}

  template <class HashOf>
  void offer(Move m, double delta, HashOf&& hash_of) {
    const bool better = minimize_ ? !(delta > choice_.delta) : !(delta < choice_.delta);
    if (!better) return;
    const std::uint64_t hash = hash_of();
    if (tabu_.contains(hash)) return;
    choice_ = {delta, m, hash, true};
  }
  [[nodiscard]] const Choice& choice() const noexcept { return choice_; }

 private:
  const TabuList& tabu_;
  bool minimize_;
  Choice choice_;
};

}  // namespace

TabuSearch::TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
                       bool minimize, std::optional<Word> tabu_list_size)
    : SearchBase(minimize, std::move(problem), termination_function,
                 "Can't use multiNeighbor in Tabu Search"),
      tabu_list_size_(tabu_list_size.value_or(kDefaultListSize)) {}

RunLog TabuSearch::run(bool log) {
  auto locked = problem_.lock();
  Problem& problem = *locked;
  const double score = problem.eval();
  RunRecorder rows;
  // Lives for this run only: every run starts with an empty list.
  TabuList tabu(tabu_list_size_);
  if (log) rows.add(score, score, 0);
  termination_.init();
  double best = score;
  double current = score;
  std::uint64_t iterations = 0;
  // On the specialised route each neighbour's polynomial hash comes in O(1) from prefix sums
  // of the current solution, so a step costs O(neighbourhood) rather than O(neighbourhood * n);
  // elsewhere it is the problem's own hash. Hashes of one run all come from the same
  // function, which is all the tabu list needs. The move type cannot change while the run
  // holds the lock, so the route is decided once.
  Neighbourhood moves(problem);
  SolutionHash hashes;
  if (moves.specialised()) hashes.prepare(problem.as_array_problem()->size());
  for (;;) {
    if (!termination_.keep_running()) break;
    Chooser chooser(tabu, minimize_);
    moves.for_each_hashed(hashes, [&](Move m, double delta, auto&& hash_of) {
      chooser.offer(m, delta, hash_of);
    });
    const Choice& chosen = chooser.choice();
    // Nothing admissible: an empty neighbourhood, every neighbour tabu, or only infinite
    // deltas in the wrong direction.
    if (!chosen.found) break;
    // Applied whether it improves or not: that is what lets the search leave a local optimum.
    problem.do_mov(chosen.move);
    current = current + chosen.delta;
    // A tie with the best counts in both directions and makes this solution the best.
    const bool new_best = minimize_ ? !(current > best) : !(current < best);
    if (new_best) {
      problem.set_best();
      best = current;
    }
    tabu.push(chosen.hash);
    if (log) rows.add(best, current, iterations);
    termination_.check_new_variable(current);
    termination_.iteration_done();
    ++iterations;
  }
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
