// Move types: random draws, the moves each kind lists, and the application of a move.
#include "problem/move.hpp"

#include <algorithm>
#include <bit>
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

}  // namespace

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

namespace {

// SwapTsp never draws position 0: i from 1..n, j from 2..n, j redrawn from 1..n while equal.
// The redraw range holds at least 1 and 2 whenever the first two draws succeeded (n >= 3),
// so the loop ends.
Move draw_pair_after_start(Xoshiro128pp& rng, Word n) {
  const Word i = rng.range(1, n);
  Word j = rng.range(2, n);
  while (j == i) j = rng.range(1, n);
  return ordered(i, j);
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

}  // namespace

// One overload per simple kind, so that SimpleMoveType and MoveType dispatch to the same code
// (a kind with its own file declares its pair there: or_opt.hpp). Pair moves carry shape 0.
Move draw_move(Reverse& m) { return draw_any_pair(m.rng, m.size); }
Move draw_move(Swap& m) { return draw_any_pair(m.rng, m.size); }
Move draw_move(SwapTsp& m) { return draw_pair_after_start(m.rng, m.size); }
void apply_move(const Reverse&, std::span<Word> array, Move m) { reverse_run(array, m.i, m.j); }
void apply_move(const Swap&, std::span<Word> array, Move m) { exchange(array, m.i, m.j); }
void apply_move(const SwapTsp&, std::span<Word> array, Move m) { exchange(array, m.i, m.j); }

namespace {

constexpr MoveGeometry kReverseGeometry = pair_geometry(Rearrangement::kReverse, 0);
constexpr MoveGeometry kSwapGeometry = pair_geometry(Rearrangement::kExchange, 0);
constexpr MoveGeometry kSwapTspGeometry = pair_geometry(Rearrangement::kExchange, 1);

}  // namespace

void refuse_inverted_run(std::size_t i, std::size_t j) {
  fatal("reverse needs i <= j, got i = " + std::to_string(i) + " and j = " + std::to_string(j));
}

const MoveGeometry& geometry(MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return kReverseGeometry;
    case MoveKind::kSwap: return kSwapGeometry;
    case MoveKind::kSwapTsp: return kSwapTspGeometry;
    case MoveKind::kOrOpt: return or_opt::kGeometry;
  }
  unknown_tag("move", kind);
}

const char* name(MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return "reverse";
    case MoveKind::kSwap: return "swap";
    case MoveKind::kSwapTsp: return "swap_tsp";
    case MoveKind::kOrOpt: return "or_opt";
  }
  unknown_tag("move", kind);
}

std::size_t moves_in_row(const MoveGeometry& g, std::size_t i, std::size_t n) noexcept {
  // The runs i..j are 2 to n - i positions long; from kTabledRuns - 1 on they all list the same.
  const std::size_t longest = n - i;
  constexpr std::size_t kSettled = kTabledRuns - 1;
  std::size_t count = 0;
  for (std::size_t run = 2; run <= longest && run < kSettled; ++run) {
    count += static_cast<std::size_t>(std::popcount(listed_on(g, run)));
  }
  if (longest >= kSettled) {
    count += (longest - kSettled + 1) * static_cast<std::size_t>(std::popcount(listed_on(g, kSettled)));
  }
  return count;
}

std::size_t move_count(const MoveGeometry& g, std::size_t n) noexcept {
  std::size_t count = 0;
  for (std::size_t i = g.first_position; i + 1 < n; ++i) count += moves_in_row(g, i, n);
  return count;
}

bool all_pairs(const MoveGeometry& g) noexcept {
  return g.shapes.size() == 1 && g.shapes[0] == 0 &&
         std::ranges::all_of(g.listed.begin() + 2, g.listed.end(), [](std::uint16_t bits) { return bits == 1; });
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
  return std::visit([](auto& m) { return draw_move(m); }, move_type);
}

std::vector<Move> get_all_mov(const SimpleMoveType& move_type) {
  const MoveGeometry& g = geometry(move_type);
  const std::size_t n = size_of(move_type);
  std::vector<Move> moves;
  moves.reserve(move_count(g, n));
  for_each_move(g, n, [&](Move m) { moves.push_back(m); });
  return moves;
}

void do_move(const SimpleMoveType& move_type, std::span<Word> array, Move move) {
  std::visit([&](const auto& m) { apply_move(m, array, move); }, move_type);
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
