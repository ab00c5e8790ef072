// TabuSearch: move to the best neighbour whose solution is not among the last ones moved to.
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

class TabuSearch final : public LocalSearch {
 public:
  static constexpr Word kDefaultListSize = 7;

  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type.
  TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
             bool minimize, std::optional<Word> tabu_list_size);

  void reset() override;
  [[nodiscard]] RunLog run(bool log) override;
  // Refuses a multi-neighbour problem with "Can't use multiNeighbor in Tabu Search".
  void set_problem(Shared<Problem> problem) override;
  void set_termination(const TerminationFunction& termination_function) override;

  [[nodiscard]] Word tabu_list_size() const noexcept { return tabu_list_size_; }

  // Read access for saving a search; a saved search is rebuilt through the constructor,
  // then set_termination restores the criterion's run state exactly.
  [[nodiscard]] const TerminationFunction& termination() const noexcept { return termination_; }
  [[nodiscard]] const Shared<Problem>& problem() const noexcept { return problem_; }
  [[nodiscard]] bool minimize() const noexcept { return minimize_; }

 private:
  TerminationFunction termination_;
  Shared<Problem> problem_;
  Word tabu_list_size_;
  bool minimize_;
};

}  // namespace kestrum
