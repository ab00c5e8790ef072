// Or-opt moves: their checks, their application and their enumeration.
#include "problem/or_opt.hpp"

#include <algorithm>
#include <string>

#include "support/fatal.hpp"

namespace kestrum::or_opt {

void check(std::size_t len, std::size_t i, std::size_t j, std::uint8_t shape) {
  if (!valid_shape(shape) || i >= j || length(shape) > j - i) {
    fatal("or_opt needs i < j and a segment shorter than the run i..j, got i = " + std::to_string(i) +
          ", j = " + std::to_string(j) + " and shape " + std::to_string(shape));
  }
  if (j >= len) fatal_index(len, j);
}

void apply(std::span<Word> array, Word i, Word j, std::uint8_t shape) {
  check(array.size(), i, j, shape);
  const std::size_t l = length(shape);
  const auto first = array.begin() + i;
  const auto last = array.begin() + j + 1;
  if (!back(shape)) {
    std::rotate(first, first + static_cast<std::ptrdiff_t>(l), last);
    if (reversed(shape)) std::reverse(last - static_cast<std::ptrdiff_t>(l), last);
  } else {
    std::rotate(first, last - static_cast<std::ptrdiff_t>(l), last);
    if (reversed(shape)) std::reverse(first, first + static_cast<std::ptrdiff_t>(l));
  }
}

std::vector<Move> all_moves(Word n) {
  std::vector<Move> moves;
  std::size_t count = 0;
  for (std::size_t run = 2; run <= n; ++run) count += (n + 1 - run) * shapes_on(run);
  moves.reserve(count);
  for (Word i = 0; i + 1U < n; ++i) {
    for (Word j = i + 1U; j < n; ++j) {
      for (const std::uint8_t shape : kShapes) {
        if (enumerated(shape, std::size_t{j} - i + 1)) moves.push_back(Move{i, j, shape});
      }
    }
  }
  return moves;
}

}  // namespace kestrum::or_opt
