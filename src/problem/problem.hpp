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

  // The array representation, or nullptr. Every problem built from Python or read from a
  // saved state is an ArrayProblem; the interface is kept for problems that only answer the
  // calls above (the native tests' scripted scores, and a view that hides its array so that
  // a search takes the generic route, the reference the specialised scans are checked
  // against). A search asks once per run, when it chooses its route (Neighbourhood); the
  // binding and the saved state ask to reach the solution arrays.
  [[nodiscard]] virtual ArrayProblem* as_array_problem() noexcept { return nullptr; }
  [[nodiscard]] virtual const ArrayProblem* as_array_problem() const noexcept { return nullptr; }
};

}  // namespace kestrum
