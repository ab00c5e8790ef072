// Move types: random draws, full enumeration and application of reversal and exchange moves.
#include "problem/move.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

#include "problem/or_opt.hpp"
#include "support/fatal.hpp"
#include "support/tags.hpp"

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
    refuse_inverted_run(i, j);
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
// The run as reverse draws its pair, then a shape uniformly among the ten, redrawn until it
// is one enumerated on the run (every run of two or more positions has front 1).
Move draw(OrOpt& m) {
  Move move = draw_any_pair(m.rng, m.size);
  const std::size_t run = std::size_t{move.j} - move.i + 1;
  do {
    move.shape = or_opt::kShapes[m.rng.range(0, static_cast<std::uint32_t>(or_opt::kShapes.size()))];
  } while (!or_opt::enumerated(move.shape, run));
  return move;
}

std::vector<Move> all_moves(const Reverse& m) { return enumerate_pairs(0, m.size); }
std::vector<Move> all_moves(const Swap& m) { return enumerate_pairs(0, m.size); }
std::vector<Move> all_moves(const SwapTsp& m) { return enumerate_pairs(1, m.size); }
std::vector<Move> all_moves(const OrOpt& m) { return or_opt::all_moves(m.size); }

// Pair moves carry shape 0; the shape is only read by the segment moves.
void apply(const Reverse&, std::span<Word> array, Move m) { reverse_run(array, m.i, m.j); }
void apply(const Swap&, std::span<Word> array, Move m) { exchange(array, m.i, m.j); }
void apply(const SwapTsp&, std::span<Word> array, Move m) { exchange(array, m.i, m.j); }
void apply(const OrOpt&, std::span<Word> array, Move m) { or_opt::apply(array, m.i, m.j, m.shape); }

}  // namespace

void refuse_inverted_run(std::size_t i, std::size_t j) {
  fatal("reverse needs i <= j, got i = " + std::to_string(i) + " and j = " + std::to_string(j));
}

MoveGeometry geometry(MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return {Rearrangement::kReverse, 0};
    case MoveKind::kSwap: return {Rearrangement::kExchange, 0};
    case MoveKind::kSwapTsp: return {Rearrangement::kExchange, 1};
    case MoveKind::kOrOpt: return {Rearrangement::kSegment, 0};
  }
  unknown_tag("move", kind);
}

Move inverse(Rearrangement rearrangement, Move m) {
  switch (rearrangement) {
    case Rearrangement::kReverse:
    case Rearrangement::kExchange: return m;
    case Rearrangement::kSegment: return Move{m.i, m.j, static_cast<std::uint8_t>(m.shape ^ or_opt::kBack)};
  }
  unknown_tag("rearrangement", rearrangement);
}

Word size_of(const SimpleMoveType& m) noexcept {
  return std::visit([](const auto& k) { return k.size; }, m);
}

Move get_mov(SimpleMoveType& move_type) {
  return std::visit([](auto& m) { return draw(m); }, move_type);
}

std::vector<Move> get_all_mov(const SimpleMoveType& move_type) {
  return std::visit([](const auto& m) { return all_moves(m); }, move_type);
}

void do_move(const SimpleMoveType& move_type, std::span<Word> array, Move move) {
  std::visit([&](const auto& m) { apply(m, array, move); }, move_type);
}

void set_seed(SimpleMoveType& move_type, std::uint64_t seed) {
  std::visit([seed](auto& m) { m.rng = Xoshiro128pp::from_seed(seed); }, move_type);
}

void set_size(SimpleMoveType& move_type, Word n) {
  std::visit([n](auto& m) { m.size = n; }, move_type);
}

MoveType MoveType::reverse(std::optional<std::uint64_t> seed) {
  return MoveType(SimpleMoveType(Reverse{make_rng(seed), 0}));
}

MoveType MoveType::swap(std::optional<std::uint64_t> seed) {
  return MoveType(SimpleMoveType(Swap{make_rng(seed), 0}));
}

MoveType MoveType::tsp(std::optional<std::uint64_t> seed) {
  return MoveType(SimpleMoveType(SwapTsp{make_rng(seed), 0}));
}

MoveType MoveType::or_opt(std::optional<std::uint64_t> seed) {
  return MoveType(SimpleMoveType(OrOpt{make_rng(seed), 0}));
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

Move MoveType::get_mov() {
  switch (tag()) {
    case Tag::kSimple: return kestrum::get_mov(std::get<SimpleMoveType>(kind_));
    case Tag::kMultiNeighbor: fatal("MultiNeighbor doesn't support get_move");
  }
  unknown_tag("move type", tag());
}

std::vector<Move> MoveType::get_all_mov() const {
  switch (tag()) {
    case Tag::kSimple: return kestrum::get_all_mov(std::get<SimpleMoveType>(kind_));
    case Tag::kMultiNeighbor: fatal("MultiNeighbor doesn't support get_all_mov");
  }
  unknown_tag("move type", tag());
}

void MoveType::do_move(std::span<Word> array, Move m) const {
  switch (tag()) {
    case Tag::kSimple: return kestrum::do_move(std::get<SimpleMoveType>(kind_), array, m);
    case Tag::kMultiNeighbor: fatal("MultiNeighbor doesn't support do_move");
  }
  unknown_tag("move type", tag());
}

void MoveType::set_seed(std::uint64_t seed) {
  switch (tag()) {
    case Tag::kSimple: return kestrum::set_seed(std::get<SimpleMoveType>(kind_), seed);
    case Tag::kMultiNeighbor:
      // The same seed for every member: they end up with identical generator states.
      for (SimpleMoveType& m : std::get<MultiNeighbor>(kind_).move_array) kestrum::set_seed(m, seed);
      return;
  }
  unknown_tag("move type", tag());
}

void MoveType::set_size(Word n) {
  switch (tag()) {
    case Tag::kSimple: return kestrum::set_size(std::get<SimpleMoveType>(kind_), n);
    case Tag::kMultiNeighbor:
      for (SimpleMoveType& m : std::get<MultiNeighbor>(kind_).move_array) kestrum::set_size(m, n);
      return;
  }
  unknown_tag("move type", tag());
}

// Tag values and the alternatives of the variants must stay in step.
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveKind::kReverse), SimpleMoveType>, Reverse> &&
              std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveKind::kSwap), SimpleMoveType>, Swap> &&
              std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveKind::kSwapTsp), SimpleMoveType>, SwapTsp> &&
              std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveKind::kOrOpt), SimpleMoveType>, OrOpt> &&
              std::variant_size_v<SimpleMoveType> == 4);
static_assert(std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveType::Tag::kSimple), MoveType::Kind>, SimpleMoveType> &&
              std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(MoveType::Tag::kMultiNeighbor), MoveType::Kind>, MultiNeighbor>);

}  // namespace kestrum
