// TabuSearch: move to the best neighbour whose solution is not among the last ones moved to.
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

class TabuSearch final : public SearchBase {
 public:
  static constexpr Word kDefaultListSize = 7;

  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type. set_problem refuses a multi-neighbour problem with
  // "Can't use multiNeighbor in Tabu Search".
  TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
             bool minimize, std::optional<Word> tabu_list_size);

  [[nodiscard]] RunLog run(bool log) override;

  [[nodiscard]] Word tabu_list_size() const noexcept { return tabu_list_size_; }

 private:
  Word tabu_list_size_;
};

}  // namespace kestrum
