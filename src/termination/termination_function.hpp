// TerminationFunction: the stop criteria every search consults, as a closed variant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "support/clock.hpp"
#include "support/word.hpp"

namespace kestrum {

// A search owns its own copy of a criterion. It calls set_goal once when it is built,
// init at the start of every run, keep_running before every step, and after every step
// iteration_done plus check_new_variable (a score) or check_variable (a temperature).
// Copying copies all run state; a combination holds its children by value, so a copy is
// deep and never shares state with the original.
// The most a criterion lets one run go on, in each measure it bounds: a run stops by the
// time `iterations` iterations are done or `seconds` have passed (each absent when the
// criterion sets no such bound). For progress reports; no search reads it.
struct Budget {
  std::optional<Word> iterations;
  std::optional<double> seconds;
  friend bool operator==(const Budget&, const Budget&) = default;
};

class TerminationFunction {
 public:
  // The best-score reset value: the largest finite double, not infinity, so that a first
  // score of +inf (or of this very value) is not an improvement when minimising.
  static constexpr double kResetScore = std::numeric_limits<double>::max();

  struct AlwaysTrue {
    friend bool operator==(const AlwaysTrue&, const AlwaysTrue&) = default;
  };
  struct MaxIterations {
    Word max_iterations = 0;
    Word iteration_count = 0;  // iteration_done calls since the last init
    friend bool operator==(const MaxIterations&, const MaxIterations&) = default;
  };
  struct MaxSec {
    std::uint64_t max_sec = 0;  // whole seconds
    Instant start;              // taken at construction and again by every init
    friend bool operator==(const MaxSec&, const MaxSec&) = default;
  };
  // Fractional seconds. `limit_ns` is `seconds` in nanoseconds, rounded down and saturated
  // at 2^64 - 1 (about 584 years, so +inf never stops); it is derived, kept only so the
  // check before every step is one integer compare.
  struct TimeLimit {
    double seconds = 0.0;
    std::uint64_t limit_ns = 0;
    Instant start;  // taken at construction and again by every init
    friend bool operator==(const TimeLimit&, const TimeLimit&) = default;
  };
  struct MinTemp {
    std::int32_t min_temp = 0;
    friend bool operator==(const MinTemp&, const MinTemp&) = default;
  };
  struct MultiCritAnd {
    std::vector<TerminationFunction> children;
    friend bool operator==(const MultiCritAnd&, const MultiCritAnd&) = default;
  };
  struct MultiCritOr {
    std::vector<TerminationFunction> children;
    friend bool operator==(const MultiCritOr&, const MultiCritOr&) = default;
  };
  struct MustImprove {
    bool running = true;
    bool minimize = true;
    double best_score = kResetScore;
    friend bool operator==(const MustImprove&, const MustImprove&) = default;
  };
  struct NoImprove {
    bool running = true;
    bool minimize = true;
    Word iter_without_imp = 0;       // non-improving scores tolerated
    Word non_improvement_count = 0;  // all non-improving scores since init, not a streak
    double best_score = kResetScore;
    friend bool operator==(const NoImprove&, const NoImprove&) = default;
  };

  // Tag order; the alternatives of Kind follow it exactly.
  enum class Tag : std::size_t {
    kAlwaysTrue = 0,
    kMaxIterations = 1,
    kMaxSec = 2,
    kMinTemp = 3,
    kMultiCritAnd = 4,
    kMultiCritOr = 5,
    kMustImprove = 6,
    kNoImprove = 7,
    kTimeLimit = 8,
  };

  using Kind = std::variant<AlwaysTrue, MaxIterations, MaxSec, MinTemp, MultiCritAnd,
                            MultiCritOr, MustImprove, NoImprove, TimeLimit>;

  // Builds a criterion with the given state as is (restoring a saved criterion).
  explicit TerminationFunction(Kind kind) : kind_(std::move(kind)) {}
  TerminationFunction(const TerminationFunction&) = default;
  TerminationFunction(TerminationFunction&&) noexcept = default;
  TerminationFunction& operator=(const TerminationFunction&) = default;
  TerminationFunction& operator=(TerminationFunction&&) noexcept = default;
  // Takes nested combinations apart with a list of its own rather than by recursion, so
  // dropping a deeply nested criterion needs no deep stack.
  ~TerminationFunction();

  [[nodiscard]] static TerminationFunction always_true();
  [[nodiscard]] static TerminationFunction max_iterations(Word max_iterations);
  // The start instant is the clock at construction; a search's init re-reads it.
  [[nodiscard]] static TerminationFunction max_sec(std::uint64_t max_sec);
  [[nodiscard]] static TerminationFunction min_temp(std::int32_t min_temp);
  [[nodiscard]] static TerminationFunction multi_crit_and(std::vector<TerminationFunction> vec);
  [[nodiscard]] static TerminationFunction multi_crit_or(std::vector<TerminationFunction> vec);
  [[nodiscard]] static TerminationFunction must_improve();
  [[nodiscard]] static TerminationFunction no_improve(Word iter_without_imp);
  // `seconds` is neither negative nor NaN (the caller checks); the start instant is the
  // clock at construction, as for max_sec.
  [[nodiscard]] static TerminationFunction time_limit(double seconds);
  // `seconds` in whole nanoseconds, rounded down, saturated at 2^64 - 1.
  [[nodiscard]] static std::uint64_t limit_ns_of(double seconds) noexcept;

  // True = go on. Changes nothing, allocates nothing; only max_sec and time_limit read the clock.
  [[nodiscard]] bool keep_running() const;
  // Re-arms the criterion for a new run.
  void init();
  // The temperature check of simulated annealing. True = go on.
  [[nodiscard]] bool check_variable(std::int32_t variable) const;
  // Reports a step's score.
  void check_new_variable(double score);
  void iteration_done();
  // Sets the direction; the improvement criteria are re-armed, the others untouched.
  void set_goal(bool minimize);
  // max_iterations, max_sec and time_limit bound a run; an and-combination stops at the
  // first of its children's bounds, an or-combination only at the last, so it has a bound
  // in a measure only when every child has one in it.
  [[nodiscard]] Budget budget() const;

  [[nodiscard]] const Kind& kind() const noexcept { return kind_; }
  [[nodiscard]] Tag tag() const noexcept { return static_cast<Tag>(kind_.index()); }

  friend bool operator==(const TerminationFunction&, const TerminationFunction&) = default;

 private:
  std::vector<TerminationFunction>* children_if_combination();

  Kind kind_;
};

}  // namespace kestrum
