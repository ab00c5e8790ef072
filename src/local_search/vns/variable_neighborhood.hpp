// VariableNeighborhood: descent through the members of a MultiNeighbor, one after another.
#pragma once

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

class VariableNeighborhood final : public LocalSearch {
 public:
  // Copies the criterion and turns it to this search's direction; starts at the first
  // neighbourhood. Does not lock the problem nor look at its move type.
  VariableNeighborhood(Shared<Problem> problem, const TerminationFunction& termination_function,
                       bool minimize);

  void reset() override;
  [[nodiscard]] RunLog run(bool log) override;
  // Takes no lock and accepts every move type; neighbor_index is kept.
  void set_problem(Shared<Problem> problem) override;
  void set_termination(const TerminationFunction& termination_function) override;

  // Only the constructor sets it back to 0: a later run goes on where the last one ended.
  [[nodiscard]] Word neighbor_index() const noexcept { return neighbor_index_; }

  // Read access for saving a search; a saved search is rebuilt through the constructor,
  // then set_termination restores the criterion's run state exactly.
  [[nodiscard]] const TerminationFunction& termination() const noexcept { return termination_; }
  [[nodiscard]] const Shared<Problem>& problem() const noexcept { return problem_; }
  [[nodiscard]] bool minimize() const noexcept { return minimize_; }
  // Puts a saved search back in the neighbourhood it had reached.
  void restore_neighbor_index(Word index) noexcept { neighbor_index_ = index; }

 private:
  TerminationFunction termination_;
  Shared<Problem> problem_;
  Word neighbor_index_ = 0;
  bool minimize_;
};

}  // namespace kestrum
