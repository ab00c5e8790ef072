// Variable neighbourhood search: best-improvement descent in each neighbourhood in turn.
#include "local_search/vns/variable_neighborhood.hpp"

#include <optional>
#include <utility>
#include <variant>

#include "support/fatal.hpp"

namespace kestrum {

namespace {

struct BestMove {
  double delta;
  Move move{};
  bool found = false;
};

// The neighbourhood of the current step. For a MultiNeighbor it is the member at the
// search's index, handed to the problem explicitly (as a MoveType) for every delta and
// move; for a simple move type it is the problem's own, no explicit type is passed and
// the index is not looked at.
struct Neighbourhood {
  SimpleMoveType kind;
  std::optional<MoveType> member;  // engaged for a MultiNeighbor

  [[nodiscard]] const MoveType* explicit_type() const { return member ? &*member : nullptr; }
};

Neighbourhood current_neighbourhood(const Problem& problem, Word index) {
  const MoveType& type = problem.get_move_type();
  if (const auto* multi = std::get_if<MultiNeighbor>(&type.kind())) {
    const SimpleMoveType& member = at(multi->move_array, index);
    return {member, MoveType(member)};
  }
  return {*simple_kind(type), std::nullopt};
}

// Tie rules: minimising takes a move only when strictly better, so the first of equal
// deltas wins and a NaN is never taken; maximising takes it unless strictly worse, so the
// last of equal deltas wins and a NaN is always taken.
template <bool Minimize>
struct Taker {
  BestMove best{worst_delta(Minimize)};
  void operator()(Move m, double delta) {
    const bool take = Minimize ? delta < best.delta : !(delta < best.delta);
    if (take) best = {delta, m, true};
  }
};

template <bool Minimize>
BestMove best_move(Problem& problem, const Neighbourhood& n) {
  Taker<Minimize> taker;
  if (ArrayProblem* array = problem.as_array_problem()) {
    // The member's own enumeration, scanned by the loop specialised for the pair.
    for_each_delta(array->evaluation(), n.kind, array->solution(), array->scratch(), taker);
    return taker.best;
  }
  const MoveType* type = n.explicit_type();
  // The member's own enumeration: the problem's get_all_mov refuses a MultiNeighbor.
  const std::vector<Move> moves = type != nullptr ? type->get_all_mov() : problem.get_all_mov();
  for (const Move m : moves) taker(m, problem.delta_eval(m, type));
  return taker.best;
}

}  // namespace

VariableNeighborhood::VariableNeighborhood(Shared<Problem> problem,
                                           const TerminationFunction& termination_function,
                                           bool minimize)
    : termination_(termination_function), problem_(std::move(problem)), minimize_(minimize) {
  termination_.set_goal(minimize);
}

void VariableNeighborhood::reset() { reset_problem(problem_); }

void VariableNeighborhood::set_problem(Shared<Problem> problem) { problem_ = std::move(problem); }

void VariableNeighborhood::set_termination(const TerminationFunction& termination_function) {
  termination_ = termination_function;
}

RunLog VariableNeighborhood::run(bool log) {
  auto locked = problem_.lock();
  Problem& problem = *locked;
  const double score = problem.eval();
  // accepted: the score of the solution the search stands on; running: the base of the
  // next candidate. They differ only by the rounding of candidate - best delta.
  double accepted = score;
  double running = score;
  RunRecorder rows;
  if (log) rows.add(score, score, 0);
  termination_.init();
  std::uint64_t iterations = 0;
  for (;;) {
    if (!termination_.keep_running()) break;
    const Neighbourhood n = current_neighbourhood(problem, neighbor_index_);
    const BestMove best = minimize_ ? best_move<true>(problem, n) : best_move<false>(problem, n);
    const double candidate = running + best.delta;
    termination_.check_new_variable(candidate);
    // Maximising, a zero best delta counts as an improvement and keeps the neighbourhood.
    const bool improved = minimize_ ? candidate < accepted : !(candidate < accepted);
    if (improved) {
      // Only NaN or infinite scores can make an empty scan look like an improvement.
      if (!best.found) fatal("called `Option::unwrap()` on a `None` value");
      problem.do_mov(best.move, n.explicit_type());
      problem.set_best();
      accepted = candidate;
      running = candidate;
      if (log) rows.add(candidate, candidate, iterations);
    } else {
      running = candidate - best.delta;
      if (!n.member) break;
      const auto& members = std::get<MultiNeighbor>(problem.get_move_type().kind()).move_array;
      if (neighbor_index_ + std::size_t{1} >= members.size()) break;
      ++neighbor_index_;  // a new neighbourhood: no row, but an iteration
    }
    termination_.iteration_done();
    ++iterations;
  }
  rows.add(accepted, running, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
