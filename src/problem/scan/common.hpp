// What every specialised scan shares: the checked fallback and small helpers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/move.hpp"
#include "problem/or_opt.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

[[nodiscard]] inline bool values_below(std::span<const Word> s, std::size_t bound) noexcept {
  return std::all_of(s.begin(), s.end(), [bound](Word v) { return v < bound; });
}
[[nodiscard]] inline Move move_at(std::size_t i, std::size_t j, std::uint8_t shape = 0) noexcept {
  return Move{static_cast<Word>(i), static_cast<Word>(j), shape};
}

// A visitor may end a scan early: one that has stop_scan(moves) is asked before each row,
// with the number of moves the row holds.
template <class Visit>
[[nodiscard]] inline bool scan_stop(Visit& visit, std::size_t row_moves) {
  if constexpr (requires { visit.stop_scan(row_moves); }) {
    return visit.stop_scan(row_moves);
  } else {
    return false;
  }
}

// The enumeration with checked deltas: exactly what calling delta_eval move by move gives,
// failures and their order included. Used when the data does not cover the solution.
template <class Kernel, class Visit>
void scan_checked(const Kernel& k, std::span<const Word> s, std::size_t first, std::size_t n,
                  Visit& visit) {
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    for (std::size_t j = i + 1; j < n; ++j) visit(move_at(i, j), k.delta(s, i, j));
  }
}

// The segment moves over n positions in get_all_mov order (i, then j, then the shapes), each
// scored by score(i, j, shape); a stop is asked before each row.
template <class Visit, class Score>
void scan_segments(std::size_t n, Visit& visit, Score&& score) {
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (scan_stop(visit, or_opt::moves_in_row(i, n))) return;
    for (std::size_t j = i + 1; j < n; ++j) {
      const std::size_t run = j - i + 1;
      for (const std::uint8_t shape : or_opt::kShapes) {
        if (or_opt::enumerated(shape, run)) visit(move_at(i, j, shape), score(i, j, shape));
      }
    }
  }
}

}  // namespace kestrum::scan
