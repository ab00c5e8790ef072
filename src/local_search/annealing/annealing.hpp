// Annealing: random proposals under a real-valued geometric temperature schedule.
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

// Simulated annealing whose temperature is a double and is never rounded, with every
// setting optional:
//  - start temperature: by default calibrated at the start of each run from kSampleMoves
//    moves drawn from a copy of the problem's move type (seeded by the run's first
//    acceptance draw; the problem's own generator and solution are left as they were), so
//    that about half of the worsening ones would be accepted;
//  - iterations per temperature: by default the problem's size;
//  - alpha: given, the temperature is multiplied by it after every iterations_per_temperature
//    proposals. By default the temperature falls geometrically from the start temperature to
//    kEndRatio times it over the budget the criterion gives (budget_of: seconds or
//    iterations), T = T0 * kEndRatio^(share of the budget done), recomputed after each
//    block of proposals; with no budget, over kDefaultCoolingPerSizeSquared * n^2 proposals
//    (at least kMinDefaultCooling), and on below that.
// One run: the start row; each proposal is an iteration; a move that does not worsen is
// taken, a worsening one is taken when e^(-|delta|/T) exceeds the next acceptance draw. A
// worsening move with |delta| >= kHopeless * T takes no draw and is rejected: its chance,
// below 2^-53, is less than the draws' resolution (a draw is a multiple of 2^-53, so it
// could only pass on a draw of exactly 0). A row after every move taken. After each block the
// criterion's temperature check sees the temperature rounded up (criterion_temperature).
// A problem with no move (fewer than two positions to move) ends the run at once.
// Tie rule: the best only moves on a strictly better score, so among equal scores the
// earliest stays the best, minimising and maximising; a NaN score is never a new best.
class Annealing final : public SearchBase {
 public:
  static constexpr const char* kName = "annealing";
  static constexpr SearchTag kTag = SearchTag::kAnnealing;
  static constexpr std::uint32_t kSampleMoves = 1000;
  static constexpr double kHopeless = 37.0;  // e^-37 < 2^-53
  static constexpr double kEndRatio = 1e-3;
  static constexpr double kDefaultCoolingPerSizeSquared = 100.0;
  static constexpr double kMinDefaultCooling = 100'000.0;

  // Each field unset (std::nullopt) takes the default described above; a seed makes the
  // acceptance draws (and so the calibration sample) of every run the same.
  struct Params {
    std::optional<double> start_temperature;
    std::optional<double> alpha;
    std::optional<std::uint32_t> iterations_per_temperature;
    std::optional<std::uint64_t> seed;
  };

  // Copies the criterion and turns it to this search's direction. Does not lock the problem
  // nor look at its move type. set_problem refuses a multi-neighbour problem with "Can't use
  // multiNeighbor in Annealing". A setting out of range (schedule.hpp) is a fatal stop.
  Annealing(bool minimize, Shared<Problem> problem, const TerminationFunction& termination_function,
            const Params& params);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);

  // The seed of the acceptance draws, as the factory's `seed`.
  void set_acceptance_seed(std::optional<std::uint64_t> seed) override { params_.seed = seed; }

  [[nodiscard]] const Params& params() const noexcept { return params_; }
  // The last run's start and final temperatures (0 before any run).
  [[nodiscard]] double start_temperature() const noexcept { return start_temperature_; }
  [[nodiscard]] double temperature() const noexcept { return temperature_; }

 private:
  void write_fields(ByteWriter& w) const override;

  Params params_;
  double start_temperature_ = 0.0;
  double temperature_ = 0.0;
};

}  // namespace kestrum
