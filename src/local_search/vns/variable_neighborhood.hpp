// VariableNeighborhood: descent through the members of a MultiNeighbor, one after another.
#pragma once

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

class VariableNeighborhood final : public SearchBase {
 public:
  static constexpr const char* kName = "vns";
  static constexpr SearchTag kTag = SearchTag::kVns;
  // Nothing beyond direction, problem and criterion: the neighbourhoods are the problem's.
  struct Params {};

  // Copies the criterion and turns it to this search's direction; starts at the first
  // neighbourhood. Does not lock the problem nor look at its move type; set_problem takes no
  // lock, accepts every move type and keeps neighbor_index.
  VariableNeighborhood(Shared<Problem> problem, const TerminationFunction& termination_function,
                       bool minimize);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  // A new search from its factory's parameters.
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);

  // Only the constructor sets it back to 0: a later run goes on where the last one ended.
  [[nodiscard]] Word neighbor_index() const noexcept { return neighbor_index_; }

 private:
  void write_fields(ByteWriter& w) const override;

  Word neighbor_index_ = 0;
};

}  // namespace kestrum
