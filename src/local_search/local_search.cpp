// What every search shares: construction, reset and set_problem's multi-neighbour refusal.
#include "local_search/local_search.hpp"

#include <utility>

#include "local_search/search_state.hpp"
#include "support/fatal.hpp"
#include "termination/termination_state.hpp"

namespace kestrum {

SearchBase::SearchBase(bool minimize, Shared<Problem> problem,
                       const TerminationFunction& termination_function, const char* multi_refusal)
    : termination_(termination_function),
      problem_(std::move(problem)),
      minimize_(minimize),
      multi_refusal_(multi_refusal) {
  termination_.set_goal(minimize);
}

SearchSnapshot SearchBase::snapshot() const {
  ByteWriter w;
  w.u8(static_cast<std::uint8_t>(tag()));
  w.boolean(minimize_);
  const std::size_t depth = write_criterion(w, termination_);
  write_fields(w);
  ByteWriter tail;
  write_trailer(tail);
  write_run_settings(tail, run_settings());
  return {std::move(w).take(), problem_, std::move(tail).take(), depth};
}

void SearchBase::reset() {
  auto locked = problem_.lock();
  locked->reset();
}

Shared<Problem>::Locked SearchBase::lock_problem_for_run() {
  auto locked = problem_.lock();
  if (const std::optional<RunControl::Restart> restart = RunControl::active().take_restart()) {
    locked->set_seed(restart->seed);
    if (restart->shuffle) {
      locked->shuffle(restart->seed);
    } else {
      locked->reset();
    }
  }
  return locked;
}

void SearchBase::set_problem(Shared<Problem> problem) {
  if (multi_refusal_ == nullptr) {
    problem_ = std::move(problem);
    return;
  }
  auto locked = problem.lock();
  // The stop unwinds through `locked`, which poisons the refused problem; problem_ is left
  // as it was.
  if (locked->get_move_type().is_multi_neighbor()) fatal(multi_refusal_);
  problem_ = std::move(problem);
}

void SearchBase::set_termination(const TerminationFunction& termination_function) {
  termination_ = termination_function;
}

}  // namespace kestrum
