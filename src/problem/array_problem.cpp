// ArrayProblem: delegation to the move type and the evaluation, reset, shuffle, best and hash.
#include "problem/array_problem.hpp"

#include <numeric>
#include <stdexcept>
#include <utility>

#include "problem/permutation.hpp"
#include "support/siphash.hpp"

namespace kestrum {

namespace {

std::vector<Word> identity(std::size_t n) {
  std::vector<Word> a(n);
  std::iota(a.begin(), a.end(), Word{0});
  return a;
}

// Positions are 32-bit words. A matrix read from a buffer costs only its entries, so one of
// more rows than a word can count (a shape such as (2^33, 0)) can exist: such a size is
// refused, as a container too large to hold, before anything is allocated for it.
Word size_word(std::size_t n) {
  if (n > kWordMax) throw std::length_error("more positions than 32-bit words can number");
  return static_cast<Word>(n);
}

}  // namespace

ArrayProblem::ArrayProblem(const MoveType& move_type, const Evaluation& evaluation)
    : evaluation_(evaluation),
      move_type_(move_type),
      solution_(identity(size_word(evaluation.size()))),
      best_solution_(solution_) {
  // Only the problem's copy is sized; the caller's move type keeps size and generator.
  move_type_.set_size(size_word(solution_.size()));
}

Move ArrayProblem::get_mov() { return move_type_.get_mov(); }

std::vector<Move> ArrayProblem::get_all_mov() const { return move_type_.get_all_mov(); }

void ArrayProblem::do_mov(Move m, const MoveType* move_type) {
  (move_type != nullptr ? *move_type : move_type_).do_move(solution_, m);
}

double ArrayProblem::delta_eval(Move m, const MoveType* move_type) {
  return evaluation_.delta_eval(m, move_type != nullptr ? *move_type : move_type_, solution_);
}

double ArrayProblem::eval() const { return evaluation_.eval(solution_); }

void ArrayProblem::reset() {
  // The move type is left alone, so the generator continues its sequence after a reset.
  std::iota(solution_.begin(), solution_.end(), Word{0});
  best_solution_.resize(solution_.size());
  std::iota(best_solution_.begin(), best_solution_.end(), Word{0});
}

void ArrayProblem::shuffle(std::uint64_t seed) {
  random_permutation(solution_, seed);
  best_solution_ = solution_;
}

void ArrayProblem::set_best() { best_solution_.assign(solution_.begin(), solution_.end()); }

std::uint64_t ArrayProblem::hash() const { return solution_hash(solution_); }

void ArrayProblem::set_move_type(MoveType move_type) {
  move_type.set_size(size_word(solution_.size()));
  move_type_ = std::move(move_type);
}

void ArrayProblem::set_eval_type(Evaluation evaluation) {
  // Nothing is resized: the caller guarantees the new data covers the current n.
  evaluation_ = std::move(evaluation);
  // The exchange table scored the old data. Any other change of the solution needs nothing
  // here: a scan compares the table's solution with the current one and catches up or
  // rebuilds.
  scratch_.exchanges.release();
}

void ArrayProblem::set_seed(std::uint64_t seed) { move_type_.set_seed(seed); }

}  // namespace kestrum
