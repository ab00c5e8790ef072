// The problem interface every search and the benchmark runner work through.
#pragma once

#include <cstdint>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "support/word.hpp"

namespace kestrum {

class ArrayProblem;

class Problem {
 public:
  virtual ~Problem() = default;

  [[nodiscard]] virtual Move get_mov() = 0;
  [[nodiscard]] virtual std::vector<Move> get_all_mov() const = 0;
  // `move_type` == nullptr means the problem's own move type.
  virtual void do_mov(Move m, const MoveType* move_type = nullptr) = 0;
  [[nodiscard]] virtual double delta_eval(Move m, const MoveType* move_type = nullptr) = 0;
  [[nodiscard]] virtual double eval() const = 0;
  virtual void reset() = 0;
  // A fresh random start: the current and the best solution both become
  // random_permutation(seed). The move type's generator is left where it was.
  virtual void shuffle(std::uint64_t seed) = 0;
  virtual void set_best() = 0;
  [[nodiscard]] virtual std::uint64_t hash() const = 0;
  [[nodiscard]] virtual const MoveType& get_move_type() const = 0;
  virtual void set_move_type(MoveType move_type) = 0;
  virtual void set_eval_type(Evaluation evaluation) = 0;
  virtual void set_seed(std::uint64_t seed) = 0;

  // The searches' specialised scans work on the array representation directly; every
  // problem built from Python is an ArrayProblem.
  [[nodiscard]] virtual ArrayProblem* as_array_problem() noexcept { return nullptr; }
};

}  // namespace kestrum
