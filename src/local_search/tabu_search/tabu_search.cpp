// Tabu search: full scans with a FIFO of visited-solution hashes and no aspiration.
#include "local_search/tabu_search/tabu_search.hpp"

#include <optional>
#include <utility>
#include <variant>

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

// Any problem: a neighbour's hash is the problem's own hash of the neighbour, taken by
// applying the move, hashing and applying it again (each move is its own inverse).
void scan_generic(Problem& problem, Chooser& chooser) {
  for (const Move m : problem.get_all_mov()) {
    const double delta = problem.delta_eval(m);
    problem.do_mov(m);
    const std::uint64_t hash = problem.hash();
    problem.do_mov(m);
    chooser.offer(m, delta, [hash] { return hash; });
  }
}

// An array problem: the specialised delta scan, with each neighbour's polynomial hash in
// O(1) from prefix sums of the current solution, so a step costs O(neighbourhood) rather
// than O(neighbourhood * n). Hashes of one run all come from the same function, which is
// all the tabu list needs.
void scan_array(ArrayProblem& array, const SimpleMoveType& kind, SolutionHash& hashes,
                Chooser& chooser) {
  hashes.load(array.solution());
  if (std::holds_alternative<Reverse>(kind)) {
    for_each_delta(array.evaluation(), kind, array.solution(), array.scratch(), [&](Move m, double delta) {
      chooser.offer(m, delta, [&] { return hashes.after_reverse(m.i, m.j); });
    });
  } else {
    for_each_delta(array.evaluation(), kind, array.solution(), array.scratch(), [&](Move m, double delta) {
      chooser.offer(m, delta, [&] { return hashes.after_swap(m.i, m.j); });
    });
  }
}

}  // namespace

TabuSearch::TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
                       bool minimize, std::optional<Word> tabu_list_size)
    : termination_(termination_function),
      problem_(std::move(problem)),
      tabu_list_size_(tabu_list_size.value_or(kDefaultListSize)),
      minimize_(minimize) {
  termination_.set_goal(minimize);
}

void TabuSearch::reset() { reset_problem(problem_); }

void TabuSearch::set_problem(Shared<Problem> problem) {
  replace_problem_refusing_multi(problem_, std::move(problem),
                                 "Can't use multiNeighbor in Tabu Search");
}

void TabuSearch::set_termination(const TerminationFunction& termination_function) {
  termination_ = termination_function;
}

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
  // The specialised path needs an array problem with a simple move type; the move type
  // cannot change while the run holds the lock, so this is decided once.
  ArrayProblem* array = problem.as_array_problem();
  std::optional<SimpleMoveType> kind;
  if (array != nullptr) kind = simple_kind(array->move_type());
  SolutionHash hashes;
  if (kind) hashes.prepare(array->size());
  for (;;) {
    if (!termination_.keep_running()) break;
    Chooser chooser(tabu, minimize_);
    if (kind) {
      scan_array(*array, *kind, hashes, chooser);
    } else {
      scan_generic(problem, chooser);
    }
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
