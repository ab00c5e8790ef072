// Variable neighbourhood search: best-improvement descent in each neighbourhood in turn.
#include "local_search/vns/variable_neighborhood.hpp"

#include <cstddef>
#include <utility>

#include "local_search/neighbourhood.hpp"
#include "problem/array_problem_state.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

struct BestMove {
  double delta;
  Move move{};
  bool found = false;
};

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
BestMove best_move(Neighbourhood& moves) {
  Taker<Minimize> taker;
  moves.for_each(taker);
  return taker.best;
}

// The neighbourhood of the current step. For a MultiNeighbor it is the member at the
// search's index, handed to the problem explicitly for every delta and move; for a simple
// move type it is the problem's own and the index is not looked at.
template <class F>
decltype(auto) with_neighbourhood(Problem& problem, Word index, F&& f) {
  if (const MultiNeighbor* multi = problem.get_move_type().multi()) {
    Neighbourhood member(problem, at(multi->move_array, index));
    return f(member, multi->move_array.size());
  }
  Neighbourhood own(problem);
  return f(own, std::size_t{0});
}

}  // namespace

VariableNeighborhood::VariableNeighborhood(Shared<Problem> problem,
                                           const TerminationFunction& termination_function,
                                           bool minimize)
    : SearchBase(minimize, std::move(problem), termination_function, nullptr) {}

Shared<LocalSearch> VariableNeighborhood::make(const Params& /*params*/, bool minimize, Shared<Problem> problem,
                                               const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<VariableNeighborhood>(std::move(problem), termination, minimize);
}

// Saved fields: the neighbourhood reached.
void VariableNeighborhood::write_fields(ByteWriter& w) const { w.u32(neighbor_index_); }

Shared<LocalSearch> VariableNeighborhood::restore(ByteReader& r, bool minimize,
                                                  const TerminationFunction& termination) {
  const Word neighbor_index = r.u32();
  Shared<Problem> problem = read_problem(r);
  VariableNeighborhood vns = rebuilt<VariableNeighborhood>(termination, std::move(problem), termination, minimize);
  vns.neighbor_index_ = neighbor_index;
  return Shared<LocalSearch>::make<VariableNeighborhood>(std::move(vns));
}

RunLog VariableNeighborhood::run(bool log) {
  auto locked = lock_problem_for_run();
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
    if (!termination_.keep_running() || rows.stopping()) break;
    // members: the size of the MultiNeighbor, 0 for a simple move type.
    const bool go_on = with_neighbourhood(problem, neighbor_index_, [&](Neighbourhood& moves, std::size_t members) {
      const BestMove best = minimize_ ? best_move<true>(moves) : best_move<false>(moves);
      if (rows.control().stop_requested()) return false;  // stopped inside the scan: nothing applied
      const double candidate = running + best.delta;
      termination_.check_new_variable(candidate);
      // Maximising, a zero best delta counts as an improvement and keeps the neighbourhood.
      const bool improved = minimize_ ? candidate < accepted : !(candidate < accepted);
      if (improved) {
        // Only NaN or infinite scores can make an empty scan look like an improvement.
        if (!best.found) fatal("called `Option::unwrap()` on a `None` value");
        moves.apply(best.move);
        problem.set_best();
        accepted = candidate;
        running = candidate;
        if (log) rows.add(candidate, candidate, iterations);
        return true;
      }
      running = candidate - best.delta;
      if (neighbor_index_ + std::size_t{1} >= members) return false;
      ++neighbor_index_;  // a new neighbourhood: no row, but an iteration
      return true;
    });
    if (!go_on) break;
    termination_.iteration_done();
    ++iterations;
  }
  rows.add(accepted, running, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
