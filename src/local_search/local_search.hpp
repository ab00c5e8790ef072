// LocalSearch: the interface of the four searches, the run log, and what every run shares.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "problem/array_problem.hpp"
#include "problem/neighbourhood.hpp"
#include "problem/problem.hpp"
#include "support/clock.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {

// One row of a run log.
struct ProgressRecord {
  unsigned __int128 elapsed_ns = 0;  // since the run's start instant
  double best_score = 0.0;
  double current_score = 0.0;
  std::uint64_t iteration = 0;  // iterations completed before the row was written
};

// A run log: an optional start row, the step rows, and always a final row.
using RunLog = std::vector<ProgressRecord>;

class LocalSearch {
 public:
  virtual ~LocalSearch() = default;

  // Locks the problem and resets it (current and best solution become the identity).
  virtual void reset() = 0;
  // One search from the problem's current solution, with the problem locked throughout.
  // `log` switches on the start row and the step rows; the final row is always written.
  [[nodiscard]] virtual RunLog run(bool log) = 0;
  virtual void set_problem(Shared<Problem> problem) = 0;
  // Stores a copy without set_goal: the copy keeps the direction it already had.
  virtual void set_termination(const TerminationFunction& termination_function) = 0;
};

// The starting value of a scan's best delta: the largest finite double (or its negation),
// never an infinity, so that a move whose delta is infinite is not taken as an improvement
// on nothing.
inline constexpr double kWorstDelta = std::numeric_limits<double>::max();
[[nodiscard]] constexpr double worst_delta(bool minimize) noexcept {
  return minimize ? kWorstDelta : -kWorstDelta;
}

// The run's clock and log: the start instant is read once and every row is stamped with
// the time elapsed since it when the row is written.
class RunRecorder {
 public:
  RunRecorder() : start_(now()) {}

  void add(double best_score, double current_score, std::uint64_t iteration) {
    rows_.push_back({elapsed_ns(start_, now()), best_score, current_score, iteration});
  }
  [[nodiscard]] RunLog take() && { return std::move(rows_); }

 private:
  Instant start_;
  RunLog rows_;
};

// The simple kind a move type holds, or nothing for a MultiNeighbor.
[[nodiscard]] std::optional<SimpleMoveType> simple_kind(const MoveType& move_type);

// Calls visit(move, delta) for every move of the problem's own move type, in the move
// type's enumeration order, with the delta delta_eval gives; nothing is applied. A
// multi-neighbour move type stops with get_all_mov's message.
//
// An array problem is scanned by the loop specialised for its (evaluation, move) pair,
// which walks the enumeration order without building the move list; any other problem
// goes through get_all_mov and delta_eval.
template <class Visit>
void for_each_move_delta(Problem& problem, Visit&& visit) {
  if (ArrayProblem* array = problem.as_array_problem()) {
    if (const std::optional<SimpleMoveType> kind = simple_kind(array->move_type())) {
      for_each_delta(array->evaluation(), *kind, array->solution(), array->scratch(), visit);
      return;
    }
  }
  for (const Move m : problem.get_all_mov()) visit(m, problem.delta_eval(m));
}

// reset() of every search: lock the problem and reset it.
void reset_problem(const Shared<Problem>& problem);

// set_problem() of the searches that refuse a multi-neighbour problem: locks the new
// problem, stops with `refusal` (poisoning that lock) if its move type is a MultiNeighbor,
// and otherwise replaces `stored` by the new handle.
void replace_problem_refusing_multi(Shared<Problem>& stored, Shared<Problem> problem,
                                    const char* refusal);

}  // namespace kestrum
