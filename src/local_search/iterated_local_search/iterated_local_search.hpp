// IteratedLocalSearch: local optima joined by random kicks, keeping the best one found.
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

// Three forms of the same loop. On a symmetric tour, minimised, of at least
// kMinTourCities cities: 2-opt and Or-opt over neighbour lists, kicked by a double bridge
// (tour_search.hpp). On a first-fit packing (an evaluation whose packing() is set),
// minimised: trades between bins that empty the least-filled one, kicked by dissolving a few
// bins, the order rewritten after each descent so that it decodes to the packing found
// (bin_search.hpp). On any other problem: best improvement over the problem's own move
// type (all members of a MultiNeighbor together), kicked by kKickMoves random moves of it.
//
// A run: the start row, then iterations of one kick plus its descent, the first iteration
// with no kick (a descent from the problem's current solution, so that max_iterations(1)
// gives the first local optimum). The criterion is asked before each iteration and every
// 256 cities of a tour descent (so that a time limit also ends a long first descent), and
// told each new local optimum's score. A new optimum that is not worse than the best is
// kept (an equal one too, so the search drifts across plateaus), a worse one is taken back;
// on bins, a worse one is kept too when it has no more bins than the best.
// A row is written whenever the best improves, and the final row holds the best score,
// which the problem then holds as its current and best solution.
// Each run draws from a fresh generator built from the seed, so a seeded run is
// reproducible; without a seed every run draws 16 bytes from the OS.
class IteratedLocalSearch final : public SearchBase {
 public:
  static constexpr const char* kName = "iterated_local_search";
  static constexpr SearchTag kTag = SearchTag::kIteratedLocalSearch;
  static constexpr Word kDefaultNeighbours = 10;
  static constexpr Word kMinTourCities = 8;
  static constexpr Word kKickMoves = 3;
  // From this size on the tour is a TwoLevelTour: an array's reversals, up to n / 2 element
  // moves each, would dominate.
  static constexpr Word kTwoLevelCities = 10'000;

  // `neighbours` at least 1; without a seed, every run draws its own.
  struct Params {
    Word neighbours = kDefaultNeighbours;
    std::optional<std::uint64_t> seed;
  };

  // `neighbours` (at least 1) is the length of each city's neighbour list, cut to n - 1 on
  // smaller tours. Every move type is accepted.
  IteratedLocalSearch(bool minimize, Shared<Problem> problem,
                      const TerminationFunction& termination_function, Word neighbours,
                      std::optional<std::uint64_t> seed);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  // A new search from its factory's parameters.
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);

  [[nodiscard]] Word neighbours() const noexcept { return neighbours_; }
  [[nodiscard]] std::optional<std::uint64_t> seed() const noexcept { return seed_; }

 private:
  void write_fields(ByteWriter& w) const override;

  Word neighbours_;
  std::optional<std::uint64_t> seed_;
};

}  // namespace kestrum
