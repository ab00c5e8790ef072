// Or-opt moves: their checks, their application and their draws.
#include "problem/or_opt.hpp"

#include <algorithm>
#include <string>

#include "support/fatal.hpp"

namespace kestrum::or_opt {

void check(std::size_t len, Move m) {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const std::uint8_t shape = m.shape;
  if (!valid_shape(shape) || i >= j || length(shape) > j - i) {
    fatal("or_opt needs i < j and a segment shorter than the run i..j, got i = " + std::to_string(i) +
          ", j = " + std::to_string(j) + " and shape " + std::to_string(shape));
  }
  if (j >= len) fatal_index(len, j);
}

void apply(std::span<Word> array, Move m) {
  check(array.size(), m);
  const std::size_t l = length(m.shape);
  const auto first = array.begin() + m.i;
  const auto last = array.begin() + m.j + 1;
  const std::uint8_t shape = m.shape;
  if (!back(shape)) {
    std::rotate(first, first + static_cast<std::ptrdiff_t>(l), last);
    if (reversed(shape)) std::reverse(last - static_cast<std::ptrdiff_t>(l), last);
  } else {
    std::rotate(first, last - static_cast<std::ptrdiff_t>(l), last);
    if (reversed(shape)) std::reverse(first, first + static_cast<std::ptrdiff_t>(l));
  }
}

}  // namespace kestrum::or_opt

namespace kestrum {

Move draw_move(OrOpt& m) {
  Move move = draw_any_pair(m.rng, m.size);
  const std::size_t run = std::size_t{move.j} - move.i + 1;
  do {
    move.shape = or_opt::kShapes[m.rng.range(0, static_cast<std::uint32_t>(or_opt::kShapes.size()))];
  } while (!or_opt::enumerated(move.shape, run));
  return move;
}

void apply_move(const OrOpt&, std::span<Word> array, Move move) { or_opt::apply(array, move); }

}  // namespace kestrum
