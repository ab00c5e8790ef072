// Move types: the neighbourhoods of a solution array, each with its own seeded generator.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "support/rng.hpp"
#include "support/word.hpp"

namespace kestrum {

// An ordered pair of positions; every move a move type produces has i < j.
struct Move {
  Word i = 0;
  Word j = 0;
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
// Like Swap, but position 0 (a tour's fixed start city) is never moved.
struct SwapTsp {
  Xoshiro128pp rng;
  Word size = 0;
};

using SimpleMoveType = std::variant<Reverse, Swap, SwapTsp>;

// The operations of one simple move type. Variable neighbourhood search uses them on a
// member of a MultiNeighbor; MoveType forwards its simple kinds here.
[[nodiscard]] Move get_mov(SimpleMoveType& move_type);
[[nodiscard]] std::vector<Move> get_all_mov(const SimpleMoveType& move_type);
void do_move(const SimpleMoveType& move_type, std::span<Word> array, Word i, Word j);
void set_seed(SimpleMoveType& move_type, std::uint64_t seed);
void set_size(SimpleMoveType& move_type, Word n);

// The neighbourhoods of variable neighbourhood search, in order. Members are simple move
// types by construction, so a nested MultiNeighbor cannot be built.
struct MultiNeighbor {
  std::vector<SimpleMoveType> move_array;
  std::vector<double> weights;  // stored and copied, never read
};

class MoveType {
 public:
  using Kind = std::variant<Reverse, Swap, SwapTsp, MultiNeighbor>;

  // A seed gives a reproducible generator; std::nullopt draws 16 bytes from the OS.
  static MoveType reverse(std::optional<std::uint64_t> seed);
  static MoveType swap(std::optional<std::uint64_t> seed);
  static MoveType tsp(std::optional<std::uint64_t> seed);  // SwapTsp
  static MoveType multi_neighbor(std::vector<SimpleMoveType> move_array,
                                 std::optional<std::vector<double>> weights);
  explicit MoveType(Kind kind) : kind_(std::move(kind)) {}
  explicit MoveType(SimpleMoveType simple);

  [[nodiscard]] Move get_mov();
  [[nodiscard]] std::vector<Move> get_all_mov() const;
  void do_move(std::span<Word> array, Word i, Word j) const;
  void set_seed(std::uint64_t seed);
  void set_size(Word n);

  [[nodiscard]] const Kind& kind() const { return kind_; }
  [[nodiscard]] Kind& kind() { return kind_; }
  [[nodiscard]] bool is_multi_neighbor() const {
    return std::holds_alternative<MultiNeighbor>(kind_);
  }

 private:
  Kind kind_;
};

}  // namespace kestrum
