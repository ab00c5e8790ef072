// Saved state of the seven wrapped values: the framing of the bytes pickles carry.
#pragma once

#include <cstdint>
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

// Layout of every saved state: a format byte, then the class byte, then the class's state as
// the core writes it (each type's own writer sits beside the type). The format byte changes
// whenever any layout changes, so old bytes are refused rather than misread.
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

using StateBytes = std::vector<std::uint8_t>;

// ---- saving. A problem is saved from the object behind its (locked) handle; a search from
// its snapshot (taken under the search's lock) and then its problem (under the problem's).

[[nodiscard]] StateBytes save_evaluation(const Evaluation& evaluation);
[[nodiscard]] StateBytes save_move_type(const MoveType& move_type);
[[nodiscard]] StateBytes save_termination(const TerminationFunction& termination);
[[nodiscard]] StateBytes save_cooling(double alpha);
[[nodiscard]] StateBytes save_iterations_per_temp(std::uint32_t iterations);
[[nodiscard]] StateBytes save_problem(const Problem& problem);
// Throws MalformedState when the search's criterion is too deep to save; called with no lock
// held, so the refusal poisons nothing.
void check_saveable(const SearchSnapshot& snapshot);
// `problem` is the object behind snapshot.problem, locked by the caller.
[[nodiscard]] StateBytes save_search(const SearchSnapshot& snapshot, const Problem& problem);

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
