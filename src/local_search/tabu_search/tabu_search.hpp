// TabuSearch: move to the best neighbour whose solution is not among the last ones moved to.
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

class Neighbourhood;

class TabuSearch final : public SearchBase {
 public:
  static constexpr const char* kName = "tabu_search";
  static constexpr SearchTag kTag = SearchTag::kTabuSearch;
  static constexpr Word kDefaultListSize = 7;
  struct Params {
    Word tabu_list_size = kDefaultListSize;
    bool canonical_tours = false;
  };

  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type. set_problem refuses a multi-neighbour problem with
  // "Can't use multiNeighbor in Tabu Search".
  // canonical_tours: on a tour evaluation, the list holds tours rather than arrays, so
  // the rotations and mirror images of a tour moved to are tabu with it.
  TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
             bool minimize, std::optional<Word> tabu_list_size, bool canonical_tours = false);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  // A new search from its factory's parameters.
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);

  [[nodiscard]] Word tabu_list_size() const noexcept { return tabu_list_size_; }
  [[nodiscard]] bool canonical_tours() const noexcept { return canonical_tours_; }

 private:
  // The run over a tabu list built by make_policy() once the start has been scored.
  template <class MakePolicy>
  [[nodiscard]] RunLog run_with(Problem& problem, Neighbourhood& moves, MakePolicy make_policy, bool log);
  void write_fields(ByteWriter& w) const override;
  void write_trailer(ByteWriter& w) const override;

  Word tabu_list_size_;
  bool canonical_tours_;
};

}  // namespace kestrum
