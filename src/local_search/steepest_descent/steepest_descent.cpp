// Steepest descent: scan every move, apply the best one while it improves.
#include "local_search/steepest_descent/steepest_descent.hpp"

#include <utility>

#include "local_search/neighbourhood.hpp"
#include "problem/array_problem_state.hpp"

namespace kestrum {

namespace {

struct BestMove {
  double delta;
  Move move;
};

// Tie rule: a move is taken unless it is strictly worse than the best so far, so among
// equal deltas the last in scan order wins, and a NaN delta (never strictly worse) is
// always taken.
BestMove best_move(Problem& problem, bool minimize) {
  BestMove best{worst_delta(minimize), Move{0, 0}};
  Neighbourhood moves(problem);
  if (minimize) {
    moves.for_each([&](Move m, double delta) {
      if (!(delta > best.delta)) best = {delta, m};
    });
  } else {
    moves.for_each([&](Move m, double delta) {
      if (!(delta < best.delta)) best = {delta, m};
    });
  }
  return best;
}

}  // namespace

SteepestDescent::SteepestDescent(bool minimize, Shared<Problem> problem,
                                 const TerminationFunction& termination_function)
    : SearchBase(minimize, std::move(problem), termination_function,
                 "Can't use multiNeighbor in Steepest Descent") {}

Shared<LocalSearch> SteepestDescent::make(const Params& /*params*/, bool minimize, Shared<Problem> problem,
                                          const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<SteepestDescent>(minimize, std::move(problem), termination);
}

// No fields of its own.
Shared<LocalSearch> SteepestDescent::restore(ByteReader& r, bool minimize,
                                             const TerminationFunction& termination) {
  Shared<Problem> problem = read_problem(r);
  return Shared<LocalSearch>::make<SteepestDescent>(
      rebuilt<SteepestDescent>(termination, minimize, std::move(problem), termination));
}

RunLog SteepestDescent::run(bool log) {
  auto locked = lock_problem_for_run();
  Problem& problem = *locked;
  double score = problem.eval();
  RunRecorder rows;
  termination_.init();
  if (log) rows.add(score, score, 0);
  std::uint64_t iterations = 0;
  double candidate = score;
  for (;;) {
    if (!termination_.keep_running() || rows.stopping()) {
      candidate = score;
      break;
    }
    const BestMove best = best_move(problem, minimize_);
    if (rows.control().stop_requested()) {  // stopped inside the scan: its move is not applied
      candidate = score;
      break;
    }
    candidate = score + best.delta;
    termination_.check_new_variable(candidate);
    // Maximising, a zero best delta still counts as an improvement and is applied.
    const bool improved = minimize_ ? candidate < score : !(candidate < score);
    if (!improved) break;
    problem.do_mov(best.move);
    problem.set_best();
    if (log) rows.add(candidate, candidate, iterations);
    termination_.iteration_done();
    ++iterations;
    score = candidate;
  }
  // score: where the descent ends; candidate: what the last scan's best move would give.
  rows.add(score, candidate, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
