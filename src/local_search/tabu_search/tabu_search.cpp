// Tabu search: full scans with a FIFO of visited-solution hashes and no aspiration.
#include "local_search/tabu_search/tabu_search.hpp"

#include <utility>

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
// A tabu neighbour is never taken, however good (no aspiration).
struct Chooser {
  const TabuList& tabu;
  bool minimize;
  Choice choice;

  void offer(Move m, double delta, std::uint64_t hash) {
    if (tabu.contains(hash)) return;
    const bool take = minimize ? !(delta > choice.delta) : !(delta < choice.delta);
    if (take) choice = {delta, m, hash, true};
  }
};

// Every neighbour's hash, through the problem: apply, hash, apply again (each move is its
// own inverse).
void scan(Problem& problem, Chooser& chooser) {
  for (const Move m : problem.get_all_mov()) {
    const double delta = problem.delta_eval(m);
    problem.do_mov(m);
    const std::uint64_t hash = problem.hash();
    problem.do_mov(m);
    chooser.offer(m, delta, hash);
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
  for (;;) {
    if (!termination_.keep_running()) break;
    Chooser chooser{tabu, minimize_, Choice{worst_delta(minimize_)}};
    scan(problem, chooser);
    const Choice& chosen = chooser.choice;
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
