// Saved state of an array problem, validated as a whole before the problem is rebuilt.
#include "problem/array_problem_state.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "problem/evaluation_state.hpp"
#include "problem/move_state.hpp"
#include "problem/permutation.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

std::vector<Word> read_permutation(ByteReader& r, std::size_t n, const char* which) {
  std::vector<Word> p(n);
  r.u32s(p);
  if (const std::optional<std::string> why = permutation_error(std::span<const Word>(p), n)) {
    malformed(std::string("the ") + which + " solution is not a permutation of 0.." + std::to_string(n) +
              " - 1: " + *why);
  }
  return p;
}

}  // namespace

void write_array_problem(ByteWriter& w, const ArrayProblem& problem) {
  write_evaluation(w, problem.evaluation());
  write_move_type(w, problem.move_type());
  const std::span<const Word> current = problem.solution();
  const std::span<const Word> best = problem.best_solution();
  w.count(current.size());
  w.u32s(current);
  w.u32s(best);
}

void write_problem(ByteWriter& w, const Problem& problem) {
  const ArrayProblem* array = problem.as_array_problem();
  if (array == nullptr) fatal("the problem does not hold a solution array");
  write_array_problem(w, *array);
}

ArrayProblem read_array_problem(ByteReader& r) {
  Evaluation evaluation = read_evaluation(r);
  MoveType move_type = read_move_type(r);
  const std::size_t n = r.count(2 * 4);  // a current and a best entry per position
  std::vector<Word> current = read_permutation(r, n, "current");
  std::vector<Word> best = read_permutation(r, n, "best");
  if (!sized_to(move_type, n)) {
    malformed("the move type is not sized to the " + std::to_string(n) + " positions of the solution");
  }
  // The constructor sizes the solution to the evaluation; the saved solution may differ in
  // length (set_eval_type does not resize), so both solutions are put back explicitly and
  // the move type is sized again to the restored length (which it already has). A fixed
  // size (a custom evaluation's) is a number in the bytes, not data they hold: it must be
  // the saved length, as set_eval_type requires of one installed later, so the problem is
  // built at that length and a forged size allocates nothing.
  if (evaluation.fixed_size() && evaluation.size() != n) {
    malformed(std::string("the ") + evaluation.name() + " evaluation is of size " +
              std::to_string(evaluation.size()) + ", not the " + std::to_string(n) + " positions of the solution");
  }
  ArrayProblem problem(move_type, evaluation);
  problem.set_eval_type(std::move(evaluation));
  problem.restore_solutions(std::move(current), std::move(best));
  problem.set_move_type(std::move(move_type));
  return problem;
}

Shared<Problem> read_problem(ByteReader& r) { return Shared<Problem>::make<ArrayProblem>(read_array_problem(r)); }

}  // namespace kestrum
