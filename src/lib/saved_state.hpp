// Saved state of the seven wrapped values: versioned little-endian bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "local_search/local_search.hpp"
#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/problem.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum::py {

// Layout of every saved state: a format byte, then the class byte, then the class's fields.
// The format byte changes whenever any layout below changes, so old bytes are refused
// rather than misread.
inline constexpr std::uint8_t kStateFormat = 1;

// In the order the module registers the classes.
enum class SavedClass : std::uint8_t {
  kLocalSearch = 0,
  kProblem = 1,
  kTermination = 2,
  kIterationsPerTemp = 3,
  kCooling = 4,
  kEvaluation = 5,
  kMoveType = 6,
};

// Combinations of criteria may nest; a saved one deeper than this is refused on both sides,
// so that decoding forged bytes cannot exhaust the stack.
inline constexpr std::size_t kMaxCriterionDepth = 1000;

using StateBytes = std::vector<std::uint8_t>;

// ---- saving. The value classes are saved from their values; a problem is saved from the
// object behind its (locked) handle; a search in two steps, so that the search's lock is
// released before its problem's is taken.

[[nodiscard]] StateBytes save_evaluation(const Evaluation& evaluation);
[[nodiscard]] StateBytes save_move_type(const MoveType& move_type);
// Throws MalformedState when the criterion nests deeper than kMaxCriterionDepth.
void check_criterion_depth(const TerminationFunction& termination);
[[nodiscard]] StateBytes save_termination(const TerminationFunction& termination);
[[nodiscard]] StateBytes save_cooling(double alpha);
[[nodiscard]] StateBytes save_iterations_per_temp(std::uint32_t iterations);
[[nodiscard]] StateBytes save_problem(const Problem& problem);

// What a search holds besides its problem, copied out under the search's lock.
struct SearchFields {
  enum class Kind : std::uint8_t {
    kSteepestDescent = 0,
    kSimulatedAnnealing = 1,
    kTabuSearch = 2,
    kVns = 3,
    kIteratedLocalSearch = 4
  };
  Kind kind = Kind::kSteepestDescent;
  bool minimize = true;
  TerminationFunction termination = TerminationFunction::always_true();
  // Simulated annealing.
  std::uint32_t start_temp = 0;
  std::uint32_t temperature = 0;
  double alpha = 0.0;
  std::uint32_t iterations_temperature = 0;
  std::optional<std::uint64_t> acceptance_seed;
  // Tabu search.
  Word tabu_list_size = 0;
  bool canonical_tours = false;
  // Variable neighbourhood search.
  Word neighbor_index = 0;
  // Iterated local search.
  Word neighbours = 0;
  std::optional<std::uint64_t> seed;
  // Every search: how its runs are driven (the progress callback is not saved).
  LogMode log_mode = LogMode::kAll;
  double progress_every_s = 1.0;
  Shared<Problem> problem;
};

[[nodiscard]] SearchFields search_fields(const LocalSearch& search);
// `problem` is the object behind fields.problem, locked by the caller; the criterion has
// passed check_criterion_depth (nothing here throws while that lock is held).
[[nodiscard]] StateBytes save_search(const SearchFields& fields, const Problem& problem);

// ---- loading. Every function validates the whole input (format and class bytes, tags,
// lengths, flags, permutations, sizes, trailing bytes) and throws MalformedState on the
// first fault.

[[nodiscard]] Evaluation load_evaluation(std::span<const std::uint8_t> state);
[[nodiscard]] MoveType load_move_type(std::span<const std::uint8_t> state);
[[nodiscard]] TerminationFunction load_termination(std::span<const std::uint8_t> state);
[[nodiscard]] double load_cooling(std::span<const std::uint8_t> state);
[[nodiscard]] std::uint32_t load_iterations_per_temp(std::span<const std::uint8_t> state);
// A new problem behind a new handle, shared with nothing.
[[nodiscard]] Shared<Problem> load_problem(std::span<const std::uint8_t> state);
// A new search over a new problem of its own.
[[nodiscard]] Shared<LocalSearch> load_search(std::span<const std::uint8_t> state);

}  // namespace kestrum::py
