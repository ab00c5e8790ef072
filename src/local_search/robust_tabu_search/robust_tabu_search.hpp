// RobustTabuSearch: best allowed exchange each step, with tabu attributes of the assignment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "local_search/local_search.hpp"
#include "problem/move.hpp"
#include "support/word.hpp"

namespace kestrum {

// For move types that exchange two positions (swap, swap_tsp). Each step scores every
// exchange (i, j), i < j, and applies the best allowed one, even when it worsens. After
// exchanging, the element that left i may not return to i, and the one that left j may not
// return to j, for a tenure drawn for each of them uniformly from tenure = (low, high). An
// exchange is forbidden only when both elements it would place are forbidden there. One that
// gives a score better than the best found is allowed anyway; one that would place an element
// at a position it has not been forbidden from for `aspiration` steps (never forbidden counts
// from the run's start) is forced, the best forced one first. With a tenure of (0, 0) the
// search keeps no attributes: nothing is forbidden or forced, and each step is the best
// exchange of the whole neighbourhood.
//
// A run: the start row, a row per step and the final row; the criterion is asked before each
// step and told the new current score. The problem ends with its last current solution and
// its best one (a score equal to the best counts as a new best, as in tabu search). Each run
// draws its tenures from a fresh generator built from the seed, so a seeded run repeats;
// without a seed every run draws 16 bytes from the OS.
class RobustTabuSearch final : public SearchBase {
 public:
  static constexpr const char* kName = "robust_tabu_search";
  static constexpr SearchTag kTag = SearchTag::kRobustTabuSearch;

  // Without a tenure: (floor(0.9 n), ceil(1.1 n)); without an aspiration: 2 n^2 steps, n the
  // number of positions of the run's move type.
  struct Params {
    std::optional<std::pair<Word, Word>> tenure;
    std::optional<std::uint64_t> aspiration;
    std::optional<std::uint64_t> seed;
  };

  // Copies the criterion and turns it to this search's direction. Does not lock the problem
  // nor look at its move type: the factory asks refusal() first, and a run on a move type
  // changed since stops with that text. set_problem refuses a multi-neighbour problem.
  // A tenure has low <= high (the factory checks it).
  RobustTabuSearch(bool minimize, Shared<Problem> problem, const TerminationFunction& termination_function,
                   std::optional<std::pair<Word, Word>> tenure, std::optional<std::uint64_t> aspiration,
                   std::optional<std::uint64_t> seed);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);
  // Why a move type cannot be searched (it does not exchange positions), naming it; nothing
  // when it can.
  [[nodiscard]] static std::optional<std::string> refusal(const MoveType& move_type);

  [[nodiscard]] std::optional<std::pair<Word, Word>> tenure() const noexcept { return tenure_; }
  [[nodiscard]] std::optional<std::uint64_t> aspiration() const noexcept { return aspiration_; }
  [[nodiscard]] std::optional<std::uint64_t> seed() const noexcept { return seed_; }

 private:
  void write_fields(ByteWriter& w) const override;

  std::optional<std::pair<Word, Word>> tenure_;
  std::optional<std::uint64_t> aspiration_;
  std::optional<std::uint64_t> seed_;
};

}  // namespace kestrum
