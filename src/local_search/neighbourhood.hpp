// The one way a search reaches the moves of a problem: scans, hashed scans and proposals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "local_search/run_control.hpp"
#include "problem/array_problem.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "problem/problem.hpp"
#include "support/fatal.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum {

// The neighbourhood a search works in: the problem's own move type, or an explicit simple
// member (variable neighbourhood search's current neighbourhood of a MultiNeighbor), which
// is handed to the problem with every delta and every applied move.
//
// Each operation chooses once between the specialised route (an array problem with a simple
// move type: the loop specialised for its evaluation and move kind, which builds no move
// list) and the generic one (get_all_mov or get_mov and delta_eval through the Problem
// interface). Both give the same moves in the same order with bit-identical deltas, so a
// search never writes that fork itself.
//
// Every move scanned counts as a unit of work of the thread's run control: once the run must
// stop, a scan ends before its next row of moves and the search sees stop_requested().
//
// Holds references: it lives inside one run, while the run holds the problem's lock.
class Neighbourhood {
 public:
  explicit Neighbourhood(Problem& problem)
      : problem_(problem), array_(problem.as_array_problem()) {}
  Neighbourhood(Problem& problem, const SimpleMoveType& member)
      : problem_(problem), array_(problem.as_array_problem()), member_(MoveType(member)) {}
  Neighbourhood(const Neighbourhood&) = delete;
  Neighbourhood& operator=(const Neighbourhood&) = delete;

  // The type to pass to do_mov and delta_eval: nullptr for the problem's own.
  [[nodiscard]] const MoveType* explicit_type() const noexcept { return member_ ? &*member_ : nullptr; }
  // The simple kind scanned, or nullptr for a MultiNeighbor without an explicit member.
  [[nodiscard]] const SimpleMoveType* simple() const {
    return member_ ? member_->simple() : problem_.get_move_type().simple();
  }
  // The specialised route applies: an array problem and a simple kind.
  [[nodiscard]] bool specialised() const { return array_ != nullptr && simple() != nullptr; }

  // Calls visit(move, delta) for every move in the enumeration order, with the delta
  // delta_eval gives; nothing is applied. A MultiNeighbor with no explicit member stops with
  // get_all_mov's message.
  template <class Visit>
  void for_each(Visit&& visit) {
    CountedVisit<std::remove_reference_t<Visit>> counted{visit, RunControl::active()};
    if (array_ != nullptr) {
      if (const SimpleMoveType* kind = simple()) {
        for_each_delta(array_->evaluation(), *kind, array_->solution(), array_->scratch(), counted);
        return;
      }
    }
    const MoveType* type = explicit_type();
    for (const Move m : all_moves()) {
      if (counted.stop_scan(1)) return;
      counted(m, problem_.delta_eval(m, type));
    }
  }

  // As for_each, with a third argument: hash_of(), the hash of the solution after the move.
  // It is meant to be called only for moves the search would take, so most moves cost no
  // hash. `hashes` is the hash policy of the specialised route: it has been prepare()d for
  // the problem's size, load(solution) takes the current solution, and after(rearrangement,
  // move) gives a neighbour's hash (tabu search's SolutionHash). The generic route hashes
  // the neighbour with the problem's own hash(), by applying the move and its inverse.
  template <class Hashes, class Visit>
  void for_each_hashed(Hashes& hashes, Visit&& visit) {
    if (array_ != nullptr) {
      if (const SimpleMoveType* kind = simple()) {
        hashes.load(array_->solution());
        const Rearrangement r = geometry(*kind).rearrangement;
        auto hashed = [&](Move m, double delta) {
          visit(m, delta, [&] { return hashes.after(r, m); });
        };
        CountedVisit<decltype(hashed)> counted{hashed, RunControl::active()};
        for_each_delta(array_->evaluation(), *kind, array_->solution(), array_->scratch(), counted);
        return;
      }
    }
    const MoveType* type = explicit_type();
    RunControl& control = RunControl::active();
    for (const Move m : all_moves()) {
      if (control.tick()) return;
      const double delta = problem_.delta_eval(m, type);
      problem_.do_mov(m, type);
      const std::uint64_t hash = problem_.hash();
      problem_.do_mov(undo(m), type);
      visit(m, delta, [hash] { return hash; });
    }
  }

  // Calls f(proposals) once; proposals.propose() draws a move from the problem's move type,
  // delta(m) scores it and apply(m) applies it. On the specialised route the delta kernel of
  // the (evaluation, move kind) pair is resolved here, once, instead of once per proposal.
  // Draws need the problem's own move type: there is no explicit member here.
  template <class F>
  void with_proposals(F&& f) {
    if (array_ != nullptr && member_ == std::nullopt) {
      if (const SimpleMoveType* kind = simple()) {
        with_delta_kernel(array_->evaluation(), *kind, array_->solution(), [&](const auto& kernel) {
          f(ArrayProposals<std::decay_t<decltype(kernel)>>{*array_, kernel});
        });
        return;
      }
    }
    f(ProblemProposals{problem_});
  }

  void apply(Move m) { problem_.do_mov(m, explicit_type()); }
  // Applies the move that undoes m, which was just applied.
  void take_back(Move m) { problem_.do_mov(undo(m), explicit_type()); }

 private:
  struct ProblemProposals {
    Problem& problem;
    [[nodiscard]] Move propose() { return problem.get_mov(); }
    [[nodiscard]] double delta(Move m) { return problem.delta_eval(m); }
    void apply(Move m) { problem.do_mov(m); }
  };
  template <class Kernel>
  struct ArrayProposals {
    ArrayProblem& problem;
    const Kernel& kernel;
    [[nodiscard]] Move propose() { return problem.get_mov(); }
    [[nodiscard]] double delta(Move m) { return kernel.delta(problem.solution(), m); }
    void apply(Move m) { problem.do_mov(m); }
  };

  // The member's own enumeration: the problem's get_all_mov refuses a MultiNeighbor.
  [[nodiscard]] std::vector<Move> all_moves() const {
    return member_ ? member_->get_all_mov() : problem_.get_all_mov();
  }
  // The move that undoes m. Only reached once get_all_mov has produced moves, which a
  // MultiNeighbor never does, so the kind is known; the stop keeps it that way.
  [[nodiscard]] Move undo(Move m) const {
    const SimpleMoveType* kind = simple();
    if (kind == nullptr) fatal("MultiNeighbor doesn't support do_move");
    return inverse(geometry(*kind).rearrangement, m);
  }

  Problem& problem_;
  ArrayProblem* array_;
  std::optional<MoveType> member_;
};

}  // namespace kestrum
