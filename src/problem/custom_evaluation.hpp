// Custom evaluations: a caller's own score of a permutation, reached through a ScoreFunction.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "problem/move.hpp"
#include "problem/scan/common.hpp"
#include "problem/scan_scratch.hpp"
#include "support/fatal.hpp"
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
// The changes of the moves (i, j) of `kind` for j = j_begin..j_end-1, written to out[0..].
using NativeDeltaRow = void (*)(const std::uint32_t* solution, std::intptr_t n, int kind,
                                std::intptr_t i, std::intptr_t j_begin, std::intptr_t j_end,
                                double* out, void* user_data);

struct NativeEntries {
  NativeEvaluate evaluate = nullptr;
  void* evaluate_data = nullptr;
  NativeDelta delta = nullptr;
  void* delta_data = nullptr;
  NativeDeltaRow delta_row = nullptr;
  void* delta_row_data = nullptr;
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
  // Whether delta_row() may be called: full scans then score a row of moves per call.
  [[nodiscard]] virtual bool has_delta_row() const noexcept { return false; }
  // The changes of the moves (i, j) of `kind` for j in [j_begin, j_end) into `out` (one value
  // per move, j_begin < j_end). A failure fills `out` with quiet NaNs, as delta() returns one.
  virtual void delta_row(std::span<const Word> s, CustomMove kind, Word i, Word j_begin,
                         Word j_end, std::span<double> out) const;
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

// Applies move m of `r` to `s` after the checks applying a move makes (a reversal needs
// i <= j; both positions below the length), with their fatal stops. undo_custom_move applies
// the move that undoes it (for reversals and exchanges, the same move again).
void apply_custom_move(Rearrangement r, std::span<Word> s, Move m);
void undo_custom_move(Rearrangement r, std::span<Word> s, Move m);

// The score function resolved once per scan or per run: native entry points are called
// directly, the others through the interface. Holds no ownership; the Custom outlives it.
class CustomScorer {
 public:
  // The bits a native row function finds after its row: a quiet NaN with a payload that no
  // arithmetic produces.
  static constexpr std::uint64_t kRowGuard = 0x7ff8'6b65'7374'7275ULL;

  explicit CustomScorer(const Custom& custom) noexcept
      : fn_(custom.score.get()),
        native_(fn_->native()),
        has_move_delta_(fn_->has_delta()),
        has_row_delta_(fn_->has_delta_row()) {}

  // Whether moves can be scored without applying them: by the delta function or, without
  // one, by the row function over a single move.
  [[nodiscard]] bool has_delta() const noexcept { return has_move_delta_ || has_row_delta_; }
  [[nodiscard]] bool has_delta_row() const noexcept { return has_row_delta_; }
  // Whether a move of this kind is scored by the delta function (otherwise on a copy).
  [[nodiscard]] bool delta_scores(const std::optional<CustomMove>& kind) const noexcept {
    return has_delta() && kind.has_value();
  }
  [[nodiscard]] const NativeEntries& native() const noexcept { return native_; }
  [[nodiscard]] const ScoreFunction& function() const noexcept { return *fn_; }

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
    if (has_move_delta_) return fn_->delta(s, kind, static_cast<Word>(i), static_cast<Word>(j));
    std::array<double, 2> out{};  // the move's change, then the guard
    delta_row(s, kind, i, j, j + 1, out.data());
    return out[0];
  }
  // Only with has_delta_row(); every move (i, j), j in [j_begin, j_end), has been checked.
  // `out` has room for one number past the row: a native row function finds a guard there,
  // and one that overwrote it (it wrote past its row) stops the run.
  void delta_row(std::span<const Word> s, CustomMove kind, std::size_t i, std::size_t j_begin,
                 std::size_t j_end, double* out) const {
    if (native_.delta_row != nullptr) {
      double* const guard = out + (j_end - j_begin);
      *guard = std::bit_cast<double>(kRowGuard);
      native_.delta_row(s.data(), static_cast<std::intptr_t>(s.size()), static_cast<int>(kind),
                        static_cast<std::intptr_t>(i), static_cast<std::intptr_t>(j_begin),
                        static_cast<std::intptr_t>(j_end), out, native_.delta_row_data);
      if (std::bit_cast<std::uint64_t>(*guard) != kRowGuard) {
        fatal("delta_row wrote past the end of its row: out holds j_end - j_begin numbers");
      }
      return;
    }
    fn_->delta_row(s, kind, static_cast<Word>(i), static_cast<Word>(j_begin),
                   static_cast<Word>(j_end), std::span<double>(out, j_end - j_begin));
  }

 private:
  const ScoreFunction* fn_;
  NativeEntries native_;
  bool has_move_delta_;
  bool has_row_delta_;
};

// The checks of apply_custom_move without applying anything.
void check_custom_move(Rearrangement r, std::size_t len, Move m);

// Score of a whole solution.
[[nodiscard]] double custom_eval(const Custom& c, std::span<const Word> s);

// delta_eval of one move. Without a delta function the move is applied to `s`, the result
// evaluated and the move applied again, which undoes it: `s` is the same on return.
[[nodiscard]] double custom_delta(const Custom& c, Rearrangement r, std::span<Word> s, Move m);

// Random proposals (one kernel per run): delta(s, m) gives what custom_delta gives, but
// without a delta function works on a private copy of `s`, and scores the copy's starting
// point only when the solution has changed since the last proposal.
class CustomKernel {
 public:
  CustomKernel(const Custom& c, Rearrangement r) : scorer_(c), rearrangement_(r), kind_(custom_move_of(r)) {}

  [[nodiscard]] double delta(std::span<const Word> s, Move m) const;

 private:
  CustomScorer scorer_;
  Rearrangement rearrangement_;
  std::optional<CustomMove> kind_;
  // The copy the moves are tried on, and its score; `work_` is empty until the first
  // proposal. Kept between proposals (mutable: the kernel is handed out as const).
  mutable std::vector<Word> work_;
  mutable double before_ = 0.0;
};

// Calls visit(m, delta) for every move m of the kind (get_all_mov order), each delta what
// custom_delta would give and each failure where it would stop. `s` is only read. The way
// moves are scored is chosen once per scan: a row function scores each row in one call (into
// scratch.values); a native delta function is called directly, with nothing else done per
// move; without a delta function, or for a move the delta function is not told about
// (custom_move_of), the moves are tried on scratch.words, a copy made once per scan, and the
// solution is scored once per scan. The delta routes take kinds that list every pair
// (neighbourhood.hpp sends others to the kernel, move by move).
template <class Visit>
void scan_custom(const Custom& c, const scan::ScanContext& ctx, Visit& visit) {
  const Rearrangement r = ctx.moves.rearrangement;
  const std::span<const Word> s = ctx.s;
  const std::size_t first = ctx.first();
  const std::size_t n = ctx.n;
  const CustomScorer scorer(c);
  const std::optional<CustomMove> kind = custom_move_of(r);
  const std::size_t len = s.size();
  if (scorer.delta_scores(kind)) {
    if (n > len) {
      // Some moves reach past the solution: each is checked, and the first of those stops.
      for (std::size_t i = first; i + 1 < n; ++i) {
        if (scan::scan_stop(visit, n - 1 - i)) return;
        for (std::size_t j = i + 1; j < n; ++j) {
          const Move m = scan::move_at(i, j);
          check_custom_move(r, len, m);
          visit(m, scorer.delta(s, *kind, i, j));
        }
      }
      return;
    }
    // From here on every move has i < j < len: nothing to check per move.
    if (scorer.has_delta_row()) {
      // A row holds at most n - 1 moves: n numbers leave room for the guard after each.
      std::vector<double>& row = ctx.scratch.values;
      if (row.size() < n) row.resize(n);
      for (std::size_t i = first; i + 1 < n; ++i) {
        if (scan::scan_stop(visit, n - 1 - i)) return;
        scorer.delta_row(s, *kind, i, i + 1, n, row.data());
        for (std::size_t j = i + 1; j < n; ++j) visit(scan::move_at(i, j), row[j - i - 1]);
      }
      return;
    }
    if (const NativeDelta fn = scorer.native().delta; fn != nullptr) {
      void* const data = scorer.native().delta_data;
      const std::uint32_t* const words = s.data();
      const auto size = static_cast<std::intptr_t>(len);
      const int k = static_cast<int>(*kind);
      for (std::size_t i = first; i + 1 < n; ++i) {
        if (scan::scan_stop(visit, n - 1 - i)) return;
        const auto ii = static_cast<std::intptr_t>(i);
        for (std::size_t j = i + 1; j < n; ++j) {
          visit(scan::move_at(i, j), fn(words, size, k, ii, static_cast<std::intptr_t>(j), data));
        }
      }
      return;
    }
    for (std::size_t i = first; i + 1 < n; ++i) {
      if (scan::scan_stop(visit, n - 1 - i)) return;
      for (std::size_t j = i + 1; j < n; ++j) visit(scan::move_at(i, j), scorer.delta(s, *kind, i, j));
    }
    return;
  }
  std::vector<Word>& work = ctx.scratch.words;
  work.assign(s.begin(), s.end());
  const std::span<Word> w(work);
  const double before = scorer.evaluate(s);
  scan::scan_moves(ctx, visit, [&](Move m) {
    apply_custom_move(r, w, m);
    const double after = scorer.evaluate(w);
    undo_custom_move(r, w, m);
    return after - before;
  });
}

}  // namespace kestrum
