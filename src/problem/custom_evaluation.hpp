// Custom evaluations: a caller's own score of a permutation, reached through a ScoreFunction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "problem/move.hpp"
#include "problem/scan/common.hpp"
#include "support/word.hpp"

namespace kestrum {

// How a move rearranges positions, as a caller's delta function is told. The numbers are
// part of the public interface (the module exposes them as constants), so they never change;
// a new move geometry gets a new number.
enum class CustomMove : int {
  kReverse = 0,  // reverse(1,4): 0 1 2 3 4 5 -> 0 4 3 2 1 5
  kSwap = 1,     // swap(1,4):    0 1 2 3 4 5 -> 0 4 2 3 1 5 (swap_tsp exchanges alike)
};

// The C entry points of a score function compiled to native code. `n` is the length of the
// solution; `kind` a CustomMove; i < j are positions below n.
using NativeEvaluate = double (*)(const std::uint32_t* solution, std::intptr_t n, void* user_data);
using NativeDelta = double (*)(const std::uint32_t* solution, std::intptr_t n, int kind,
                               std::intptr_t i, std::intptr_t j, void* user_data);

struct NativeEntries {
  NativeEvaluate evaluate = nullptr;
  void* evaluate_data = nullptr;
  NativeDelta delta = nullptr;
  void* delta_data = nullptr;
};

// A caller's objective. Immutable once built and shared by every copy of the evaluation that
// holds it, so its operations must be safe to call from any thread that holds a problem.
// They never throw: an implementation that cannot produce a score (a callback that failed)
// records why on its side, asks the running search to stop, and returns a quiet NaN.
class ScoreFunction {
 public:
  virtual ~ScoreFunction() = default;

  // The score of a whole solution.
  [[nodiscard]] virtual double evaluate(std::span<const Word> s) const = 0;
  // Whether delta() may be called; without it a move is scored by applying it to a copy.
  [[nodiscard]] virtual bool has_delta() const noexcept = 0;
  // The score after move (i, j) of `kind` minus the score before, without applying it.
  [[nodiscard]] virtual double delta(std::span<const Word> s, CustomMove kind, Word i,
                                     Word j) const = 0;
  // Entry points that are plain native code, which the scans call directly instead of
  // through the virtual functions; null members go through the virtual functions.
  [[nodiscard]] virtual NativeEntries native() const noexcept { return {}; }
};

// The evaluation kind: n positions scored by `score` (never null).
struct Custom {
  Word size = 0;
  std::shared_ptr<const ScoreFunction> score;
};

// The number a caller's delta is told for a rearrangement, or nothing for a segment move:
// those are always scored on a copy, so a delta only ever meets the two numbers above.
[[nodiscard]] std::optional<CustomMove> custom_move_of(Rearrangement r);

// Applies move (i, j) of `r` to `s` after the checks applying a move makes (a reversal needs
// i <= j; both positions below the length), with their fatal stops. Both rearrangements undo
// themselves: applying the same move again restores `s`.
// A segment move (shape: Move::shape) is undone by undo_custom_move.
void apply_custom_move(Rearrangement r, std::span<Word> s, std::size_t i, std::size_t j,
                       std::uint8_t shape = 0);
void undo_custom_move(Rearrangement r, std::span<Word> s, std::size_t i, std::size_t j,
                      std::uint8_t shape = 0);

// The score function resolved once per scan or per run: native entry points are called
// directly, the others through the interface. Holds no ownership; the Custom outlives it.
class CustomScorer {
 public:
  explicit CustomScorer(const Custom& custom) noexcept
      : fn_(custom.score.get()), native_(fn_->native()), has_delta_(fn_->has_delta()) {}

  [[nodiscard]] bool has_delta() const noexcept { return has_delta_; }
  // Whether a move of this kind is scored by the delta function (otherwise on a copy).
  [[nodiscard]] bool delta_scores(const std::optional<CustomMove>& kind) const noexcept {
    return has_delta_ && kind.has_value();
  }
  [[nodiscard]] double evaluate(std::span<const Word> s) const {
    if (native_.evaluate != nullptr) {
      return native_.evaluate(s.data(), static_cast<std::intptr_t>(s.size()), native_.evaluate_data);
    }
    return fn_->evaluate(s);
  }
  // Only with has_delta(); the move has been checked against the solution.
  [[nodiscard]] double delta(std::span<const Word> s, CustomMove kind, std::size_t i,
                             std::size_t j) const {
    if (native_.delta != nullptr) {
      return native_.delta(s.data(), static_cast<std::intptr_t>(s.size()), static_cast<int>(kind),
                           static_cast<std::intptr_t>(i), static_cast<std::intptr_t>(j),
                           native_.delta_data);
    }
    return fn_->delta(s, kind, static_cast<Word>(i), static_cast<Word>(j));
  }

 private:
  const ScoreFunction* fn_;
  NativeEntries native_;
  bool has_delta_;
};

// The checks of apply_custom_move without applying anything.
void check_custom_move(Rearrangement r, std::size_t len, std::size_t i, std::size_t j,
                       std::uint8_t shape = 0);

// Score of a whole solution.
[[nodiscard]] double custom_eval(const Custom& c, std::span<const Word> s);

// delta_eval of one move. Without a delta function the move is applied to `s`, the result
// evaluated and the move applied again, which undoes it: `s` is the same on return.
[[nodiscard]] double custom_delta(const Custom& c, Rearrangement r, std::span<Word> s, Word i,
                                  Word j, std::uint8_t shape = 0);

// Random proposals (one kernel per run): delta(s, i, j) gives what custom_delta gives, but
// without a delta function works on a private copy of `s`, and scores the copy's starting
// point only when the solution has changed since the last proposal.
class CustomKernel {
 public:
  CustomKernel(const Custom& c, Rearrangement r) : scorer_(c), rearrangement_(r), kind_(custom_move_of(r)) {}

  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j,
                             std::uint8_t shape = 0) const;

 private:
  CustomScorer scorer_;
  Rearrangement rearrangement_;
  std::optional<CustomMove> kind_;
  // The copy the moves are tried on, and its score; `work_` is empty until the first
  // proposal. Kept between proposals (mutable: the kernel is handed out as const).
  mutable std::vector<Word> work_;
  mutable double before_ = 0.0;
};

// Calls visit(Move{i, j}, delta) for every move i = first.., j = i+1..n-1 (the move types'
// enumeration order), each delta what custom_delta would give and each failure where it would
// stop. `s` is only read: without a delta function the moves are tried on `work`, a copy made
// once per scan, and the solution is scored once per scan.
template <class Visit>
void scan_custom(const Custom& c, Rearrangement r, std::span<const Word> s, std::size_t first,
                 std::size_t n, std::vector<Word>& work, Visit& visit) {
  const CustomScorer scorer(c);
  const std::optional<CustomMove> kind = custom_move_of(r);
  const std::size_t len = s.size();
  if (r == Rearrangement::kSegment) {
    // Segment moves, on the copy whether or not there is a delta function.
    work.assign(s.begin(), s.end());
    const std::span<Word> w(work);
    const double before = scorer.evaluate(s);
    return scan::scan_segments(n, visit, [&](std::size_t i, std::size_t j, std::uint8_t shape) {
      apply_custom_move(r, w, i, j, shape);
      const double after = scorer.evaluate(w);
      undo_custom_move(r, w, i, j, shape);
      return after - before;
    });
  }
  if (scorer.delta_scores(kind)) {
    for (std::size_t i = first; i + 1 < n; ++i) {
      if (scan::scan_stop(visit, n - 1 - i)) return;
      for (std::size_t j = i + 1; j < n; ++j) {
        check_custom_move(r, len, i, j);
        visit(Move{static_cast<Word>(i), static_cast<Word>(j)}, scorer.delta(s, *kind, i, j));
      }
    }
    return;
  }
  work.assign(s.begin(), s.end());
  const std::span<Word> w(work);
  const double before = scorer.evaluate(s);
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan::scan_stop(visit, n - 1 - i)) return;
    for (std::size_t j = i + 1; j < n; ++j) {
      apply_custom_move(r, w, i, j);
      const double after = scorer.evaluate(w);
      apply_custom_move(r, w, i, j);
      visit(Move{static_cast<Word>(i), static_cast<Word>(j)}, after - before);
    }
  }
}

}  // namespace kestrum
