// Move types: random draws, full enumeration and application of reversal and exchange moves.
#include "problem/move.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "support/fatal.hpp"

namespace kestrum {

namespace {

Xoshiro128pp make_rng(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128pp::from_seed(*seed) : Xoshiro128pp::from_entropy();
}

Move ordered(Word a, Word b) noexcept { return Move{std::min(a, b), std::max(a, b)}; }

// Reverse and Swap draw the same pairs: i from 0..n, j from 1..n, j redrawn while it equals i.
Move draw_any_pair(Xoshiro128pp& rng, Word n) {
  const Word i = rng.range(0, n);
  Word j = rng.range(1, n);
  if (j == i && n == 2) {
    // Only i = 1 gets here, and the redraw range 1..2 could only give 1 again. The one move
    // of two positions is (0, 1), so that is the answer.
    return Move{0, 1};
  }
  while (j == i) j = rng.range(1, n);
  return ordered(i, j);
}

// SwapTsp never draws position 0: i from 1..n, j from 2..n, j redrawn from 1..n while equal.
// The redraw range holds at least 1 and 2 whenever the first two draws succeeded (n >= 3),
// so the loop ends.
Move draw_pair_after_start(Xoshiro128pp& rng, Word n) {
  const Word i = rng.range(1, n);
  Word j = rng.range(2, n);
  while (j == i) j = rng.range(1, n);
  return ordered(i, j);
}

// Every (i, j) with first <= i < j < n, in lexicographic order.
std::vector<Move> enumerate_pairs(Word first, Word n) {
  std::vector<Move> moves;
  if (n <= first + 1U) return moves;
  const std::size_t k = n - first;
  moves.reserve(k * (k - 1) / 2);
  for (Word i = first; i + 1U < n; ++i) {
    for (Word j = i + 1U; j < n; ++j) moves.push_back(Move{i, j});
  }
  return moves;
}

// swap(1,4): 0 1 2 3 4 5 -> 0 4 2 3 1 5. Both positions are checked before anything changes.
void exchange(std::span<Word> array, Word i, Word j) {
  if (i >= array.size()) fatal_index(array.size(), i);
  if (j >= array.size()) fatal_index(array.size(), j);
  std::swap(array[i], array[j]);
}

// reverse(1,4): 0 1 2 3 4 5 -> 0 4 3 2 1 5. The outermost pair is checked first, so an
// out-of-range move fails before its first exchange and leaves the array as it was.
void reverse_run(std::span<Word> array, Word i, Word j) {
  if (i > j) {
    // The pair count j - i + 1 would wrap and the walk would corrupt the array before
    // failing, so an inverted run is refused up front.
    fatal("reverse needs i <= j, got i = " + std::to_string(i) + " and j = " + std::to_string(j));
  }
  const std::size_t len = array.size();
  // 64-bit so that the run 0..kWordMax does not wrap to zero pairs.
  const std::uint64_t pairs = (std::uint64_t{j} - i + 1U) / 2U;
  for (std::uint64_t t = 0; t < pairs; ++t) {
    const std::uint64_t lo = i + t;
    const std::uint64_t hi = j - t;
    if (lo >= len) fatal_index(len, lo);
    if (hi >= len) fatal_index(len, hi);
    std::swap(array[lo], array[hi]);
  }
}

// One overload per simple kind, so that SimpleMoveType and MoveType dispatch to the same code.
Move draw(Reverse& m) { return draw_any_pair(m.rng, m.size); }
Move draw(Swap& m) { return draw_any_pair(m.rng, m.size); }
Move draw(SwapTsp& m) { return draw_pair_after_start(m.rng, m.size); }

std::vector<Move> all_moves(const Reverse& m) { return enumerate_pairs(0, m.size); }
std::vector<Move> all_moves(const Swap& m) { return enumerate_pairs(0, m.size); }
std::vector<Move> all_moves(const SwapTsp& m) { return enumerate_pairs(1, m.size); }

void apply(const Reverse&, std::span<Word> array, Word i, Word j) { reverse_run(array, i, j); }
void apply(const Swap&, std::span<Word> array, Word i, Word j) { exchange(array, i, j); }
void apply(const SwapTsp&, std::span<Word> array, Word i, Word j) { exchange(array, i, j); }

template <class Simple>
void reseed(Simple& m, std::uint64_t seed) noexcept {
  m.rng = Xoshiro128pp::from_seed(seed);
}

}  // namespace

Move get_mov(SimpleMoveType& move_type) {
  switch (move_type.index()) {
    case 0: return draw(std::get<0>(move_type));
    case 1: return draw(std::get<1>(move_type));
    case 2: return draw(std::get<2>(move_type));
  }
  __builtin_unreachable();
}

std::vector<Move> get_all_mov(const SimpleMoveType& move_type) {
  switch (move_type.index()) {
    case 0: return all_moves(std::get<0>(move_type));
    case 1: return all_moves(std::get<1>(move_type));
    case 2: return all_moves(std::get<2>(move_type));
  }
  __builtin_unreachable();
}

void do_move(const SimpleMoveType& move_type, std::span<Word> array, Word i, Word j) {
  switch (move_type.index()) {
    case 0: return apply(std::get<0>(move_type), array, i, j);
    case 1: return apply(std::get<1>(move_type), array, i, j);
    case 2: return apply(std::get<2>(move_type), array, i, j);
  }
  __builtin_unreachable();
}

void set_seed(SimpleMoveType& move_type, std::uint64_t seed) {
  switch (move_type.index()) {
    case 0: return reseed(std::get<0>(move_type), seed);
    case 1: return reseed(std::get<1>(move_type), seed);
    case 2: return reseed(std::get<2>(move_type), seed);
  }
  __builtin_unreachable();
}

void set_size(SimpleMoveType& move_type, Word n) {
  switch (move_type.index()) {
    case 0: std::get<0>(move_type).size = n; return;
    case 1: std::get<1>(move_type).size = n; return;
    case 2: std::get<2>(move_type).size = n; return;
  }
  __builtin_unreachable();
}

MoveType MoveType::reverse(std::optional<std::uint64_t> seed) {
  return MoveType(Kind(Reverse{make_rng(seed), 0}));
}

MoveType MoveType::swap(std::optional<std::uint64_t> seed) {
  return MoveType(Kind(Swap{make_rng(seed), 0}));
}

MoveType MoveType::tsp(std::optional<std::uint64_t> seed) {
  return MoveType(Kind(SwapTsp{make_rng(seed), 0}));
}

MoveType MoveType::multi_neighbor(std::vector<SimpleMoveType> move_array,
                                  std::optional<std::vector<double>> weights) {
  if (!weights) {
    const std::size_t k = move_array.size();
    weights.emplace();
    if (k > 0) weights->assign(k, 1.0 / static_cast<double>(k));
  }
  return MoveType(Kind(MultiNeighbor{std::move(move_array), std::move(*weights)}));
}

MoveType::MoveType(SimpleMoveType simple)
    : kind_(std::visit([](auto&& m) { return Kind(std::move(m)); }, std::move(simple))) {}

Move MoveType::get_mov() {
  switch (kind_.index()) {
    case 0: return draw(std::get<0>(kind_));
    case 1: return draw(std::get<1>(kind_));
    case 2: return draw(std::get<2>(kind_));
    case 3: fatal("MultiNeighbor doesn't support get_move");
  }
  __builtin_unreachable();
}

std::vector<Move> MoveType::get_all_mov() const {
  switch (kind_.index()) {
    case 0: return all_moves(std::get<0>(kind_));
    case 1: return all_moves(std::get<1>(kind_));
    case 2: return all_moves(std::get<2>(kind_));
    case 3: fatal("MultiNeighbor doesn't support get_all_mov");
  }
  __builtin_unreachable();
}

void MoveType::do_move(std::span<Word> array, Word i, Word j) const {
  switch (kind_.index()) {
    case 0: return apply(std::get<0>(kind_), array, i, j);
    case 1: return apply(std::get<1>(kind_), array, i, j);
    case 2: return apply(std::get<2>(kind_), array, i, j);
    case 3: fatal("MultiNeighbor doesn't support do_move");
  }
  __builtin_unreachable();
}

void MoveType::set_seed(std::uint64_t seed) {
  switch (kind_.index()) {
    case 0: return reseed(std::get<0>(kind_), seed);
    case 1: return reseed(std::get<1>(kind_), seed);
    case 2: return reseed(std::get<2>(kind_), seed);
    case 3:
      // The same seed for every member: they end up with identical generator states.
      for (SimpleMoveType& m : std::get<3>(kind_).move_array) kestrum::set_seed(m, seed);
      return;
  }
  __builtin_unreachable();
}

void MoveType::set_size(Word n) {
  switch (kind_.index()) {
    case 0: std::get<0>(kind_).size = n; return;
    case 1: std::get<1>(kind_).size = n; return;
    case 2: std::get<2>(kind_).size = n; return;
    case 3:
      for (SimpleMoveType& m : std::get<3>(kind_).move_array) kestrum::set_size(m, n);
      return;
  }
  __builtin_unreachable();
}

}  // namespace kestrum
