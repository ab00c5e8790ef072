// What every specialised scan shares: the checked fallback and small helpers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>

#include "problem/move.hpp"
#include "problem/scan_scratch.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

[[nodiscard]] inline bool values_below(std::span<const Word> s, std::size_t bound) noexcept {
  return std::all_of(s.begin(), s.end(), [bound](Word v) { return v < bound; });
}
// The pair move (i, j) of a scan written for pairs.
[[nodiscard]] inline Move move_at(std::size_t i, std::size_t j) noexcept {
  return Move{static_cast<Word>(i), static_cast<Word>(j)};
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

// What a scan may know of a row of changes it hands over: none is below lo or above hi.
struct RowBounds {
  double lo = -std::numeric_limits<double>::infinity();
  double hi = std::numeric_limits<double>::infinity();
};

// A visitor may take a row of pair moves at once: one with visit_row(i, j, deltas, count,
// bounds) is handed the moves (i, j), (i, j + 1), ... (i, j + count - 1) and their deltas in
// that order, and may look at them in lanes, or pass over a row whose bounds say it holds
// nothing it wants; any other visitor gets them one by one.
template <class Visit>
inline void visit_row(Visit& visit, std::size_t i, std::size_t j, const double* deltas, std::size_t count,
                      RowBounds bounds = {}) {
  if constexpr (requires { visit.visit_row(i, j, deltas, count, bounds); }) {
    visit.visit_row(i, j, deltas, count, bounds);
  } else {
    for (std::size_t k = 0; k < count; ++k) visit(move_at(i, j + k), deltas[k]);
  }
}

// What a scan is given: the solution it reads, the geometry of the move kind (its
// rearrangement and the moves it lists), the number of positions the moves cover and the
// problem's workspace.
struct ScanContext {
  std::span<const Word> s;
  const MoveGeometry& moves;
  std::size_t n;
  ScanScratch& scratch;
  [[nodiscard]] std::size_t first() const noexcept { return moves.first_position; }
};

// Every move of the kind in get_all_mov order, each scored by score(Move); a stop is asked
// before each row. With a checked score this is exactly what calling delta_eval move by move
// gives, failures and their order included.
template <class Visit, class Score>
void scan_moves(const ScanContext& c, Visit& visit, Score&& score) {
  for (std::size_t i = c.first(); i + 1 < c.n; ++i) {
    if (scan_stop(visit, moves_in_row(c.moves, i, c.n))) return;
    for_each_move_in_row(c.moves, i, c.n, [&](Move m) { visit(m, score(m)); });
  }
}

// Calls f(shape) for each shape of `shapes` that `bits` lists (bit k: shapes[k]), in order. A
// scan hands its row loop this for a shape list it knows at compile time (Shapes, a constexpr
// std::array), where each f(shape) gets the shape as a constant and its kernel folds the
// shape's branches away, and listed_shapes(c.moves.shapes) for any other kind.
template <const auto& Shapes>
struct ConstantShapes {
  template <class F>
  void operator()(std::uint16_t bits, F&& f) const {
    [&]<std::size_t... K>(std::index_sequence<K...>) {
      ((((bits >> K) & 1U) != 0 ? f(std::integral_constant<std::uint8_t, Shapes[K]>{}) : void()), ...);
    }(std::make_index_sequence<Shapes.size()>{});
  }
};
struct ListedShapes {
  std::span<const std::uint8_t> shapes;
  template <class F>
  void operator()(std::uint16_t bits, F&& f) const {
    for (std::size_t k = 0; k < shapes.size(); ++k) {
      if (((bits >> k) & 1U) != 0) f(shapes[k]);
    }
  }
};

// As scan_moves, scored by a kernel's delta(s, m).
template <class Kernel, class Visit>
void scan_checked(const Kernel& k, const ScanContext& c, Visit& visit) {
  scan_moves(c, visit, [&](Move m) { return k.delta(c.s, m); });
}

}  // namespace kestrum::scan
