// SteepestDescent: best-improvement descent that stops at the first step without improvement.
#pragma once

#include "local_search/local_search.hpp"

namespace kestrum {

class SteepestDescent final : public SearchBase {
 public:
  static constexpr const char* kName = "steepest_descent";
  static constexpr SearchTag kTag = SearchTag::kSteepestDescent;
  // Nothing beyond direction, problem and criterion.
  struct Params {};

  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type. set_problem refuses a multi-neighbour problem with
  // "Can't use multiNeighbor in Steepest Descent".
  SteepestDescent(bool minimize, Shared<Problem> problem,
                  const TerminationFunction& termination_function);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  // A new search from its factory's parameters.
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);
};

}  // namespace kestrum
