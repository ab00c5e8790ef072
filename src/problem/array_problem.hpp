// ArrayProblem: a permutation array with its move type and evaluation, the one Problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/problem.hpp"
#include "problem/scan_scratch.hpp"
#include "support/word.hpp"

namespace kestrum {

class ArrayProblem final : public Problem {
 public:
  // Copies both values; the copy of the move type is sized to n, the number of positions the
  // evaluation covers, and the current and best solutions start as the identity.
  ArrayProblem(const MoveType& move_type, const Evaluation& evaluation);

  [[nodiscard]] Move get_mov() override;
  [[nodiscard]] std::vector<Move> get_all_mov() const override;
  void do_mov(Move m, const MoveType* move_type = nullptr) override;
  [[nodiscard]] double delta_eval(Move m, const MoveType* move_type = nullptr) override;
  [[nodiscard]] double eval() const override;
  void reset() override;
  void shuffle(std::uint64_t seed) override;
  void set_best() override;
  [[nodiscard]] std::uint64_t hash() const override;
  [[nodiscard]] const MoveType& get_move_type() const override { return move_type_; }
  void set_move_type(MoveType move_type) override;
  void set_eval_type(Evaluation evaluation) override;
  void set_seed(std::uint64_t seed) override;

  [[nodiscard]] ArrayProblem* as_array_problem() noexcept override { return this; }
  [[nodiscard]] const ArrayProblem* as_array_problem() const noexcept override { return this; }

  // Direct access for the specialised scans and the binding.
  [[nodiscard]] std::span<Word> solution() { return solution_; }
  [[nodiscard]] std::span<const Word> solution() const { return solution_; }
  [[nodiscard]] std::span<const Word> best_solution() const { return best_solution_; }
  [[nodiscard]] const Evaluation& evaluation() const { return evaluation_; }
  [[nodiscard]] const MoveType& move_type() const { return move_type_; }
  [[nodiscard]] ScanScratch& scratch() { return scratch_; }
  [[nodiscard]] std::size_t size() const { return solution_.size(); }
  // A warm start: the given permutation becomes both the current and the best solution, as
  // reset() makes the identity both. The caller has checked that it fits the problem.
  void set_solution(std::vector<Word> solution) {
    best_solution_ = solution;
    solution_ = std::move(solution);
  }
  // Puts back a saved pair; the caller has checked both against the problem.
  void restore_solutions(std::vector<Word> current, std::vector<Word> best) {
    solution_ = std::move(current);
    best_solution_ = std::move(best);
  }

 private:
  Evaluation evaluation_;
  MoveType move_type_;
  std::vector<Word> solution_;
  std::vector<Word> best_solution_;
  ScanScratch scratch_;
};

}  // namespace kestrum
