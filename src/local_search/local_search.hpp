// LocalSearch: the interface of the searches, the run log, and what every search shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "problem/problem.hpp"
#include "local_search/run_control.hpp"
#include "support/clock.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {

// The searches, in saved-tag order. A new search appends its tag here (tags are saved in
// pickles and never renumbered) and its line to the list in local_search/search_registry.hpp,
// which also counts them (kSearchTags).
enum class SearchTag : std::uint8_t {
  kSteepestDescent = 0,
  kSimulatedAnnealing = 1,
  kTabuSearch = 2,
  kVns = 3,
  kIteratedLocalSearch = 4,
  kRobustTabuSearch = 5,
  kAnnealing = 6,
};

// A search saved as far as its own lock allows: its tag, direction, criterion and own fields
// as bytes, its problem's handle (the problem is saved after the search's lock is released),
// and what the search writes after its problem.
struct SearchSnapshot {
  std::vector<std::uint8_t> bytes;
  Shared<Problem> problem;
  std::vector<std::uint8_t> tail;
  std::size_t criterion_depth = 1;  // too deep a criterion is refused before anything is saved
};

class LocalSearch {
 public:
  virtual ~LocalSearch() = default;

  // Locks the problem and resets it (current and best solution become the identity).
  virtual void reset() = 0;
  // One search from the problem's current solution, with the problem locked throughout.
  // `log` switches on the start row and the step rows; the final row is always written.
  [[nodiscard]] virtual RunLog run(bool log) = 0;
  virtual void set_problem(Shared<Problem> problem) = 0;
  // Stores a copy without set_goal: the copy keeps the direction it already had.
  virtual void set_termination(const TerminationFunction& termination_function) = 0;
  // The criterion as it stands (its run state included).
  [[nodiscard]] virtual const TerminationFunction& termination() const noexcept = 0;
  // Only the annealing searches draw acceptance numbers; the others have nothing to seed.
  virtual void set_acceptance_seed(std::optional<std::uint64_t> /*seed*/) {}
  [[nodiscard]] virtual SearchTag tag() const noexcept = 0;
  // Copies out what saving needs under the search's lock; never refuses.
  [[nodiscard]] virtual SearchSnapshot snapshot() const = 0;

  // How the driver runs this search: log mode and progress reporting. Not part of the
  // search itself: no run reads it, the driver hands it to the run control.
  [[nodiscard]] RunSettings& run_settings() noexcept { return run_settings_; }
  [[nodiscard]] const RunSettings& run_settings() const noexcept { return run_settings_; }

 private:
  RunSettings run_settings_;
};

// The starting value of a scan's best delta: the largest finite double (or its negation),
// never an infinity, so that a move whose delta is infinite is not taken as an improvement
// on nothing.
inline constexpr double kWorstDelta = std::numeric_limits<double>::max();
[[nodiscard]] constexpr double worst_delta(bool minimize) noexcept {
  return minimize ? kWorstDelta : -kWorstDelta;
}

// What every search holds and does alike: its own copy of the criterion (turned to the
// search's direction when built), the problem handle and the direction, with reset,
// set_problem and set_termination. A search derives from it and writes only its run.
class SearchBase : public LocalSearch {
 public:
  // Locks the problem and resets it.
  void reset() override;
  // Searches built with a refusal lock the new problem and stop with that text (poisoning the
  // refused problem's lock) when its move type is a MultiNeighbor; the others take any
  // problem without locking it.
  void set_problem(Shared<Problem> problem) override;
  // Stores a copy without set_goal: the copy keeps the direction it already had.
  void set_termination(const TerminationFunction& termination_function) override;

  // Read access for saving a search; a saved search is rebuilt through its constructor, then
  // set_termination restores the criterion's run state exactly.
  [[nodiscard]] const TerminationFunction& termination() const noexcept override { return termination_; }
  [[nodiscard]] const Shared<Problem>& problem() const noexcept { return problem_; }
  [[nodiscard]] bool minimize() const noexcept { return minimize_; }
  // Tag, direction, criterion (its run state as is), then write_fields; write_trailer's
  // bytes as the tail.
  [[nodiscard]] SearchSnapshot snapshot() const override;

 protected:
  // Copies the criterion and turns it to the search's direction. Does not lock the problem
  // nor look at its move type. `multi_refusal` may be nullptr (every move type accepted).
  SearchBase(bool minimize, Shared<Problem> problem,
             const TerminationFunction& termination_function, const char* multi_refusal);

  // Every run starts here: the problem locked for the run and, when the thread's run control
  // asks for it (the benchmark runner), reseeded and reset under that same lock.
  [[nodiscard]] Shared<Problem>::Locked lock_problem_for_run();

  // The search's own saved fields, read back by its restorer before the problem.
  virtual void write_fields(ByteWriter& /*w*/) const {}
  // Fields added after a search's layout was first saved, written after its problem (and
  // read back there by its restorer), so that states saved before they existed still load.
  virtual void write_trailer(ByteWriter& /*w*/) const {}

  // The restorers' last step: the search rebuilt through its constructor (which turns its
  // copy of the criterion to the search's direction and so re-arms it), then the saved
  // criterion put back as it was.
  template <class Search, class... Args>
  [[nodiscard]] static Search rebuilt(const TerminationFunction& termination, Args&&... args) {
    Search search(std::forward<Args>(args)...);
    search.set_termination(termination);
    return search;
  }

  TerminationFunction termination_;
  Shared<Problem> problem_;
  bool minimize_;

 private:
  const char* multi_refusal_;
};

}  // namespace kestrum
