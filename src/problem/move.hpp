// Move types: the neighbourhoods of a solution array, each with its own seeded generator.
#pragma once

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

// reverse(1,4): 0 1 2 3 4 5 -> 0 4 3 2 1 5
struct Reverse {
  Xoshiro128pp rng;
  Word size = 0;
};
// swap(1,4): 0 1 2 3 4 5 -> 0 4 2 3 1 5
struct Swap {
  Xoshiro128pp rng;
  Word size = 0;
};
// Like Swap, but position 0 (a tour's fixed start city) is never moved:
// swap_tsp(1,4): 0 1 2 3 4 5 -> 0 4 2 3 1 5, and no move touches the 0 in front.
struct SwapTsp {
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

// A move type's geometry, defined here once for the kernels, the scans and tabu search's
// neighbour hashes. Every move (i, j) of the kind has first_position <= i < j < size and
// changes positions i..j only. Reversals and exchanges are their own inverse; a segment
// move is undone by the move of the same shape from the other end (inverse()).
struct MoveGeometry {
  Rearrangement rearrangement;
  Word first_position;
};
[[nodiscard]] MoveGeometry geometry(MoveKind kind);
[[nodiscard]] inline MoveGeometry geometry(const SimpleMoveType& m) {
  return geometry(move_kind(m));
}
// The move that undoes m.
[[nodiscard]] Move inverse(Rearrangement rearrangement, Move m);
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
