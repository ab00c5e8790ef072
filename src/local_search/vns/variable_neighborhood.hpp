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

 private:
  TerminationFunction termination_;
  Shared<Problem> problem_;
  Word neighbor_index_ = 0;
  bool minimize_;
};

}  // namespace kestrum
