// SteepestDescent: best-improvement descent that stops at the first step without improvement.
#pragma once

#include "local_search/local_search.hpp"

namespace kestrum {

class SteepestDescent final : public LocalSearch {
 public:
  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type.
  SteepestDescent(bool minimize, Shared<Problem> problem,
                  const TerminationFunction& termination_function);

  void reset() override;
  [[nodiscard]] RunLog run(bool log) override;
  // Refuses a multi-neighbour problem with "Can't use multiNeighbor in Steepest Descent".
  void set_problem(Shared<Problem> problem) override;
  void set_termination(const TerminationFunction& termination_function) override;

  // Read access for saving a search; a saved search is rebuilt through the constructor,
  // then set_termination restores the criterion's run state exactly.
  [[nodiscard]] const TerminationFunction& termination() const noexcept { return termination_; }
  [[nodiscard]] const Shared<Problem>& problem() const noexcept { return problem_; }
  [[nodiscard]] bool minimize() const noexcept { return minimize_; }

 private:
  TerminationFunction termination_;
  Shared<Problem> problem_;
  bool minimize_;
};

}  // namespace kestrum
