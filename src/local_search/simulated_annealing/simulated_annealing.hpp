// SimulatedAnnealing: random proposals, worsening ones accepted with probability e^(-|delta|/T).
#pragma once

#include <cstdint>
#include <optional>

#include "local_search/local_search.hpp"
#include "support/word.hpp"

namespace kestrum {

// One cooling step of the integer temperature: alpha * t in double, rounded half away from
// zero and saturated to 32 bits (negative or NaN gives 0, above 4294967295 gives
// 4294967295).
[[nodiscard]] std::uint32_t cool(double alpha, std::uint32_t t) noexcept;

class SimulatedAnnealing final : public SearchBase {
 public:
  static constexpr const char* kName = "simulated_annealing";
  static constexpr SearchTag kTag = SearchTag::kSimulatedAnnealing;
  // The schedule: start temperature, cooling factor, iterations per temperature.
  struct Params {
    std::uint32_t start_temp = 0;
    double alpha = 0.0;
    std::uint32_t iterations_temperature = 0;
  };

  // Copies the criterion and turns it to this search's direction. Does not lock the
  // problem nor look at its move type. set_problem refuses a multi-neighbour problem with
  // "Can't use multiNeighbor in Simulated Annealing".
  SimulatedAnnealing(std::uint32_t start_temp, bool minimize, Shared<Problem> problem,
                     const TerminationFunction& termination_function, double alpha,
                     std::uint32_t iterations_temperature);

  [[nodiscard]] RunLog run(bool log) override;
  [[nodiscard]] SearchTag tag() const noexcept override { return kTag; }
  // A new search from its factory's parameters.
  [[nodiscard]] static Shared<LocalSearch> make(const Params& params, bool minimize, Shared<Problem> problem,
                                                const TerminationFunction& termination);
  // Rebuilds a saved search (after its tag, direction and criterion) over a new problem.
  [[nodiscard]] static Shared<LocalSearch> restore(ByteReader& r, bool minimize,
                                                   const TerminationFunction& termination);

  // With a seed, every run draws its acceptance numbers from a fresh generator built from
  // it, so runs can be repeated exactly; without one (the default) they come from the
  // calling thread's OS-keyed generator.
  void set_acceptance_seed(std::optional<std::uint64_t> seed) override { acceptance_seed_ = seed; }
  [[nodiscard]] std::uint32_t temperature() const noexcept { return temperature_; }

  // Read access for saving a search.
  [[nodiscard]] std::uint32_t start_temp() const noexcept { return start_temp_; }
  [[nodiscard]] double alpha() const noexcept { return alpha_; }
  [[nodiscard]] std::uint32_t iterations_temperature() const noexcept { return iterations_temperature_; }
  [[nodiscard]] std::optional<std::uint64_t> acceptance_seed() const noexcept { return acceptance_seed_; }

 private:
  void write_fields(ByteWriter& w) const override;

  double alpha_;
  std::uint32_t temperature_;
  std::uint32_t start_temp_;
  std::uint32_t iterations_temperature_;
  std::optional<std::uint64_t> acceptance_seed_;
};

}  // namespace kestrum
