// Move types: the neighbourhoods of a solution array, each with its own seeded generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "support/rng.hpp"
#include "support/word.hpp"

namespace kestrum {

// An ordered pair of positions; every move a move type produces has i < j. A segment move
// (Or-opt) also needs its shape: which end of the run i..j the segment leaves, its length
// and whether it turns (or_opt.hpp). One byte beside the pair is the smallest sound place for
// it: positions use all 32 bits of a word, so the pair has no bits to spare, and the moves of
// the other kinds keep shape 0.
struct Move {
  Word i = 0;
  Word j = 0;
  std::uint8_t shape = 0;
  friend bool operator==(const Move&, const Move&) = default;
};

// Each kind names the byte it is saved as (move_state.cpp): fixed forever, since pickles hold
// it, and never 3, the byte of a MultiNeighbor. A new kind takes the next free one.

// reverse(1,4): 0 1 2 3 4 5 -> 0 4 3 2 1 5
struct Reverse {
  static constexpr std::uint8_t kSavedTag = 0;
  Xoshiro128pp rng;
  Word size = 0;
};
// swap(1,4): 0 1 2 3 4 5 -> 0 4 2 3 1 5
struct Swap {
  static constexpr std::uint8_t kSavedTag = 1;
  Xoshiro128pp rng;
  Word size = 0;
};
// Like Swap, but position 0 (a tour's fixed start city) is never moved:
// swap_tsp(1,4): 0 1 2 3 4 5 -> 0 4 2 3 1 5, and no move touches the 0 in front.
struct SwapTsp {
  static constexpr std::uint8_t kSavedTag = 2;
  Xoshiro128pp rng;
  Word size = 0;
};

// Or-opt: a segment of 1 to 3 positions is taken out and put back elsewhere, as it was or
// reversed. The move (i, j) with its shape (or_opt.hpp) names the run i..j whose one end is
// the segment and which it crosses:
//   segment 1..2 moved behind 4:           or_opt(1,4, front 2):          0 1 2 3 4 5 -> 0 3 4 1 2 5
//   segment 3..4 reversed, put before 1:   or_opt(1,4, back 2 reversed):  0 1 2 3 4 5 -> 0 4 3 1 2 5
// Segments never wrap around the end of the array.
struct OrOpt {
  static constexpr std::uint8_t kSavedTag = 4;
  Xoshiro128pp rng;
  Word size = 0;
};

// The simple move types, in tag order (the alternatives of SimpleMoveType follow it).
enum class MoveKind : std::uint8_t { kReverse = 0, kSwap = 1, kSwapTsp = 2, kOrOpt = 3 };
using SimpleMoveType = std::variant<Reverse, Swap, SwapTsp, OrOpt>;
[[nodiscard]] inline MoveKind move_kind(const SimpleMoveType& m) noexcept {
  return static_cast<MoveKind>(m.index());
}

// How a move rearranges the positions it touches. The delta routines are written per
// rearrangement, so a move type that rearranges like an existing one needs no kernel.
enum class Rearrangement : std::uint8_t {
  kReverse,   // the run i..j, read backwards
  kExchange,  // positions i and j trade values
  kSegment,   // a segment at one end of the run i..j moves to its other end (Move::shape)
};

// Runs of up to kTabledRuns - 1 positions each have their own entry in a move set's table of
// listed shapes; longer runs list what the last entry lists.
inline constexpr std::size_t kTabledRuns = 8;
using ShapeTable = std::array<std::uint16_t, kTabledRuns>;

// The shape list of the kinds whose moves are plain pairs.
inline constexpr std::array<std::uint8_t, 1> kPairShapes{0};

// A move type's geometry, defined here once for get_all_mov, the kernels, the scans and tabu
// search's neighbour hashes: how its moves rearrange, and which moves it has. Over n
// positions they are every (i, j, shape) with first_position <= i < j < n and shape one of
// `shapes` that the run i..j lists, in the order i, then j, then `shapes`; a move changes
// positions i..j only. Bit k of listed[min(run, kTabledRuns - 1)] says whether a run of `run`
// positions lists shapes[k]. Reversals and exchanges are their own inverse; a segment move
// is undone by the move of the same shape from the other end (inverse()).
struct MoveGeometry {
  Rearrangement rearrangement;
  Word first_position;
  std::span<const std::uint8_t> shapes;
  ShapeTable listed;
};

// The table of a kind whose runs list shapes[k] when listed_on(shapes[k], run). The predicate
// must not change beyond kTabledRuns - 1 positions (checked up to twice that).
template <std::size_t K, class Listed>
[[nodiscard]] consteval ShapeTable shape_table(const std::array<std::uint8_t, K>& shapes, Listed listed_on) {
  static_assert(K <= 16, "a move set lists at most 16 shapes");
  ShapeTable table{};
  for (std::size_t run = 0; run < 2 * kTabledRuns; ++run) {
    std::uint16_t bits = 0;
    for (std::size_t k = 0; k < K; ++k) {
      if (run >= 2 && listed_on(shapes[k], run)) bits = static_cast<std::uint16_t>(bits | (1U << k));
    }
    if (run < kTabledRuns) {
      table[run] = bits;
    } else if (bits != table[kTabledRuns - 1]) {
      throw "the shapes listed must settle within kTabledRuns - 1 positions";
    }
  }
  return table;
}

// The geometry of a kind whose moves are the pairs (i, j), first <= i < j < n, with shape 0.
[[nodiscard]] consteval MoveGeometry pair_geometry(Rearrangement r, Word first) {
  return {r, first, kPairShapes, shape_table(kPairShapes, [](std::uint8_t, std::size_t) { return true; })};
}

// The bits of the shapes a run of `run` positions lists.
[[nodiscard]] constexpr std::uint16_t listed_on(const MoveGeometry& g, std::size_t run) noexcept {
  return g.listed[run < kTabledRuns ? run : kTabledRuns - 1];
}
// The moves with first position i over n positions (i < n): one row of a scan.
[[nodiscard]] std::size_t moves_in_row(const MoveGeometry& g, std::size_t i, std::size_t n) noexcept;
// The number of moves over n positions.
[[nodiscard]] std::size_t move_count(const MoveGeometry& g, std::size_t n) noexcept;
// Whether the moves are every pair (i, j) from the first position, with shape 0: what the
// scans written for pairs enumerate.
[[nodiscard]] bool all_pairs(const MoveGeometry& g) noexcept;

// Calls f(Move) for the moves of row i over n positions, in order.
template <class F>
void for_each_move_in_row(const MoveGeometry& g, std::size_t i, std::size_t n, F&& f) {
  const std::size_t count = g.shapes.size();
  for (std::size_t j = i + 1; j < n; ++j) {
    const std::uint16_t bits = listed_on(g, j - i + 1);
    for (std::size_t k = 0; k < count; ++k) {
      if ((bits >> k) & 1U) f(Move{static_cast<Word>(i), static_cast<Word>(j), g.shapes[k]});
    }
  }
}

// Calls f(Move) for every move over n positions, in get_all_mov order.
template <class F>
void for_each_move(const MoveGeometry& g, std::size_t n, F&& f) {
  for (std::size_t i = g.first_position; i + 1 < n; ++i) for_each_move_in_row(g, i, n, f);
}

[[nodiscard]] const MoveGeometry& geometry(MoveKind kind);
// The kind's factory name, as Python spells it ("or_opt").
[[nodiscard]] const char* name(MoveKind kind);
[[nodiscard]] inline const MoveGeometry& geometry(const SimpleMoveType& m) {
  return geometry(move_kind(m));
}
// The move that undoes m.
[[nodiscard]] Move inverse(Rearrangement rearrangement, Move m);
// The draws and applications of the pair kinds; a kind with a file of its own declares its
// pair there (or_opt.hpp). A move is applied after the checks applying it makes.
[[nodiscard]] Move draw_move(Reverse& m);
[[nodiscard]] Move draw_move(Swap& m);
[[nodiscard]] Move draw_move(SwapTsp& m);
void apply_move(const Reverse& m, std::span<Word> array, Move move);
void apply_move(const Swap& m, std::span<Word> array, Move move);
void apply_move(const SwapTsp& m, std::span<Word> array, Move move);
// A pair i < j as reverse and swap draw it: i from 0..n, j from 1..n, redrawn while equal.
[[nodiscard]] Move draw_any_pair(Xoshiro128pp& rng, Word n);

// The number of positions a simple move type is sized to.
[[nodiscard]] Word size_of(const SimpleMoveType& m) noexcept;

// The stop of a reversal asked to run from i down to a smaller j: applying it and scoring it
// refuse with the same text.
[[noreturn]] void refuse_inverted_run(std::size_t i, std::size_t j);

// The operations of one simple move type. Variable neighbourhood search uses them on a
// member of a MultiNeighbor; MoveType forwards its simple kinds here.
[[nodiscard]] Move get_mov(SimpleMoveType& move_type);
[[nodiscard]] std::vector<Move> get_all_mov(const SimpleMoveType& move_type);
void do_move(const SimpleMoveType& move_type, std::span<Word> array, Move m);
inline void do_move(const SimpleMoveType& move_type, std::span<Word> array, Word i, Word j) {
  do_move(move_type, array, Move{i, j});
}
void set_seed(SimpleMoveType& move_type, std::uint64_t seed);
void set_size(SimpleMoveType& move_type, Word n);

// The neighbourhoods of variable neighbourhood search, in order. Members are simple move
// types by construction, so a nested MultiNeighbor cannot be built.
struct MultiNeighbor {
  std::vector<SimpleMoveType> move_array;
  std::vector<double> weights;  // stored and copied, never read
};

// A simple move type or a MultiNeighbor of them: a new simple kind joins SimpleMoveType and
// renumbers nothing here.
class MoveType {
 public:
  enum class Tag : std::uint8_t { kSimple = 0, kMultiNeighbor = 1 };
  using Kind = std::variant<SimpleMoveType, MultiNeighbor>;

  // A seed gives a reproducible generator; std::nullopt draws 16 bytes from the OS.
  static MoveType reverse(std::optional<std::uint64_t> seed);
  static MoveType swap(std::optional<std::uint64_t> seed);
  static MoveType tsp(std::optional<std::uint64_t> seed);  // SwapTsp
  static MoveType or_opt(std::optional<std::uint64_t> seed);
  static MoveType multi_neighbor(std::vector<SimpleMoveType> move_array,
                                 std::optional<std::vector<double>> weights);
  explicit MoveType(Kind kind) : kind_(std::move(kind)) {}
  explicit MoveType(SimpleMoveType simple) : kind_(std::move(simple)) {}

  [[nodiscard]] Move get_mov();
  [[nodiscard]] std::vector<Move> get_all_mov() const;
  void do_move(std::span<Word> array, Move m) const;
  // A pair move (shape 0): every kind but or_opt.
  void do_move(std::span<Word> array, Word i, Word j) const { do_move(array, Move{i, j}); }
  void set_seed(std::uint64_t seed);
  void set_size(Word n);

  [[nodiscard]] Tag tag() const noexcept { return static_cast<Tag>(kind_.index()); }
  [[nodiscard]] const Kind& kind() const { return kind_; }
  [[nodiscard]] Kind& kind() { return kind_; }
  // The simple kind, or nullptr for a MultiNeighbor.
  [[nodiscard]] const SimpleMoveType* simple() const noexcept { return std::get_if<SimpleMoveType>(&kind_); }
  [[nodiscard]] SimpleMoveType* simple() noexcept { return std::get_if<SimpleMoveType>(&kind_); }
  // The neighbourhoods, or nullptr for a simple kind.
  [[nodiscard]] const MultiNeighbor* multi() const noexcept { return std::get_if<MultiNeighbor>(&kind_); }
  [[nodiscard]] bool is_multi_neighbor() const noexcept { return tag() == Tag::kMultiNeighbor; }

 private:
  Kind kind_;
};

}  // namespace kestrum
