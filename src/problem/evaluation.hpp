// Evaluation: the objective functions (three bin-packing measures, tour length, assignment cost).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "problem/custom_evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/points.hpp"
#include "problem/tour_distances.hpp"
#include "support/result.hpp"
#include "support/word.hpp"

namespace kestrum {

// Bins are filled in solution order; `weights[v]` is item v's weight, `max_fill` a bin's capacity.
struct EmptyBins {  // number of times an item did not fit and a new bin was started
  std::vector<double> weights;
  double max_fill = 0.0;
};
struct EmptySpace {  // free capacity of every bin, the last open one included
  std::vector<double> weights;
  double max_fill = 0.0;
};
struct EmptySpaceExp {  // as EmptySpace, each bin's free capacity squared
  std::vector<double> weights;
  double max_fill = 0.0;
};
// Items packed by first fit in solution order: each into the lowest-numbered bin with room
// for it (fill + weight <= capacity), else into a new bin. Minimised score: bins used -
// (sum over bins of (fill / capacity)^2) / bins used, so fewer bins always win and, among
// packings with as many bins, fuller ones do. Weights [5, 5, 4, 6], capacity 10: the order
// 0 1 2 3 packs [5 5] [4 6] and scores 2 - (1 + 1) / 2 = 1; the order 0 2 1 3 packs [5 4]
// [5] [6] and scores 3 - (0.81 + 0.25 + 0.36) / 3. No items score 0. Every weight is finite,
// non-negative and at most the capacity, which is finite and positive.
struct BinPacking {
  std::vector<double> weights;
  double capacity = 0.0;
};
// Closed tour length; position 0's city is also where the tour ends.
struct Tsp {
  // Every entry of the n x n block equals its mirror exactly: selects the reversal delta.
  bool symmetric = true;
  Matrix distance_matrix;
};
// Closed tour length over cities given as points, distances computed on demand: O(n) memory.
// Every metric is symmetric, so it scores as a Tsp over the matrix of the same distances.
struct TspPoints {
  Points points;
};
// Sum over location pairs a < b of distance[a][b] * flow[s_a][s_b].
struct Qap {
  Matrix distance_matrix;
  Matrix flow_matrix;
  // The n x n blocks of both matrices (n = distance rows), the entries a solution reads, are
  // present and exactly symmetric: only then does the short exchange formula give the true
  // change of eval. Entries outside the blocks are never read and do not count.
  bool symmetric = false;
  // Both n x n blocks hold integers small enough that the change of every exchange, each
  // partial sum of it and each step of the exchange table's update (scan/assignment.hpp) is
  // an integer below 2^53. Every route then computes an exchange's change exactly, in any
  // order, so the table gives the formula's numbers bit for bit.
  bool integral = false;
};

class Evaluation {
 public:
  // Tag order; the alternatives of Kind follow it exactly.
  enum class Tag : std::uint8_t {
    kEmptyBins = 0,
    kEmptySpace = 1,
    kEmptySpaceExp = 2,
    kTsp = 3,
    kQap = 4,
    kTspPoints = 5,
    kCustom = 6,
    kBinPacking = 7,
  };
  using Kind = std::variant<EmptyBins, EmptySpace, EmptySpaceExp, Tsp, Qap, TspPoints, Custom, BinPacking>;

  [[nodiscard]] static Evaluation empty_bins(std::vector<double> weights, double max_fill);
  [[nodiscard]] static Evaluation empty_space(std::vector<double> weights, double max_fill);
  [[nodiscard]] static Evaluation empty_space_exp(std::vector<double> weights, double max_fill);
  // Computes `symmetric` by walking i = 1..n-1, j = 0..i-1; a row too short for the walk
  // stops with the index message.
  [[nodiscard]] static Evaluation tsp(Matrix distance_matrix);
  [[nodiscard]] static Evaluation tsp_points(Points points);
  // No checks: shapes are taken as given. Computes `symmetric` and `integral` on the n x n
  // blocks.
  [[nodiscard]] static Evaluation qap(Matrix distance_matrix, Matrix flow_matrix);
  // n positions scored by a caller's function (not null).
  [[nodiscard]] static Evaluation custom(Word size, std::shared_ptr<const ScoreFunction> score);
  // Refuses, naming the value, a capacity that is not finite and positive, and a weight
  // that is negative, not finite or above the capacity.
  [[nodiscard]] static Result<Evaluation> bin_packing(std::vector<double> weights, double capacity);

  // Score of a whole solution.
  [[nodiscard]] double eval(std::span<const Word> s) const;
  // Score after move m of `move_type` minus the score before. `s` is only read in effect:
  // it is the same on return (the move is never applied).
  [[nodiscard]] double delta_eval(Move m, const MoveType& move_type, std::span<Word> s) const;
  // n: the number of weights, of rows of the distance matrix, or of points.
  [[nodiscard]] std::size_t size() const;
  [[nodiscard]] const Kind& kind() const noexcept { return kind_; }
  [[nodiscard]] Tag tag() const noexcept { return static_cast<Tag>(kind_.index()); }

  // What the searches, the saved state and the binding may ask of an evaluation. Each answer
  // is given here, by one switch over the kinds, so nothing outside these files tells kinds
  // apart.
  //
  // The name of the factory family that made it; a tour over points is "tsp_points", however
  // it was read.
  [[nodiscard]] const char* name() const { return name(tag()); }
  // The factory name of a kind.
  [[nodiscard]] static const char* name(Tag tag);
  // Whether the matrices a score reads mirror exactly, for tours and assignments; nothing for
  // the others, where the question has no meaning.
  [[nodiscard]] std::optional<bool> symmetric() const;
  // Whether a solution is scored as a closed tour, so that its rotations and mirror images
  // (on symmetric distances) are the same tour.
  [[nodiscard]] bool scores_tours() const;
  // The distances of a tour evaluation whose data covers every pair of its n cities, or
  // nothing (not a tour, or a matrix that is not square).
  [[nodiscard]] std::optional<TourDistances> tour_distances() const;
  // Whether only solutions of exactly size() positions can be scored: a caller's function is
  // written for its declared size, while the built-in kinds read their data at any length up
  // to it. Such a size is a number the evaluation was given, not the length of data it holds.
  [[nodiscard]] bool fixed_size() const;
  // The first-fit packing this evaluation decodes, or nullptr: searches that work on bins ask
  // this rather than the tag.
  [[nodiscard]] const BinPacking* packing() const noexcept { return std::get_if<BinPacking>(&kind_); }
  // Whether every delta is the change of eval by construction (the built-in kernels). A
  // caller's objective is not: its delta may disagree with its evaluate, or never run out.
  [[nodiscard]] bool deltas_follow_eval() const noexcept;

 private:
  explicit Evaluation(Kind kind) : kind_(std::move(kind)) {}
  Kind kind_;
};

}  // namespace kestrum
