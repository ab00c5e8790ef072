// Every kind the tests walk, listed once: move kinds, evaluation kinds, criteria and searches,
// each with a factory. A kind added to its enum or to the search registry does not build here
// until it is listed (the static_asserts) and built (the switches, under -Werror=switch, and
// the search overloads), and every test that walks a list then takes it at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "local_search/search_registry.hpp"
#include "problem/array_problem.hpp"
#include "problem/custom_evaluation.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/points.hpp"
#include "support/tags.hpp"
#include "termination/termination_function.hpp"

namespace kestrum::kinds {

// Whether `list` holds the tags 0, 1, 2, ... in order: then a list as long as its enum holds
// each tag exactly once.
template <class Tag, std::size_t N>
constexpr bool in_tag_order(const std::array<Tag, N>& list) {
  for (std::size_t k = 0; k < N; ++k) {
    if (static_cast<std::size_t>(list[k]) != k) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Move kinds

inline constexpr std::array kMoveKinds{MoveKind::kReverse, MoveKind::kSwap, MoveKind::kSwapTsp, MoveKind::kOrOpt};
static_assert(kMoveKinds.size() == std::variant_size_v<SimpleMoveType>, "a move kind is missing from kMoveKinds");
static_assert(in_tag_order(kMoveKinds));

// The kind's factory name in Python.
inline const char* name_of(MoveKind kind) { return name(kind); }

inline MoveType move_type(MoveKind kind, std::optional<std::uint64_t> seed) {
  switch (kind) {
    case MoveKind::kReverse: return MoveType::reverse(seed);
    case MoveKind::kSwap: return MoveType::swap(seed);
    case MoveKind::kSwapTsp: return MoveType::tsp(seed);
    case MoveKind::kOrOpt: return MoveType::or_opt(seed);
  }
  unknown_tag("move kind", kind);
}

// The kind sized to n positions, seeded.
inline SimpleMoveType simple_move(MoveKind kind, Word n, std::uint64_t seed = 3) {
  MoveType m = move_type(kind, seed);
  m.set_size(n);
  return *m.simple();
}

inline MoveType sized_move_type(MoveKind kind, Word n, std::uint64_t seed = 3) {
  return MoveType(simple_move(kind, n, seed));
}

// ---------------------------------------------------------------------------------------
// Evaluation kinds

using Tag = Evaluation::Tag;
inline constexpr std::array kEvaluationTags{Tag::kEmptyBins, Tag::kEmptySpace, Tag::kEmptySpaceExp, Tag::kTsp,
                                            Tag::kQap,       Tag::kTspPoints,  Tag::kCustom,        Tag::kBinPacking};
static_assert(kEvaluationTags.size() == std::variant_size_v<Evaluation::Kind>,
              "an evaluation kind is missing from kEvaluationTags");
static_assert(in_tag_order(kEvaluationTags));

inline const char* name_of(Tag tag) { return Evaluation::name(tag); }

// A caller's objective for the tests: position k weighs k % 7 + 1, so every move of every
// kind that changes the array changes the score. It offers no delta of its own, so moves are
// scored on a copy; delta() answers the same way for a caller that asks anyway.
class WeightedPositions final : public ScoreFunction {
 public:
  [[nodiscard]] double evaluate(std::span<const Word> s) const override {
    double total = 0.0;
    for (std::size_t k = 0; k < s.size(); ++k) total += static_cast<double>((k % 7) + 1) * s[k];
    return total;
  }
  [[nodiscard]] bool has_delta() const noexcept override { return false; }
  [[nodiscard]] double delta(std::span<const Word> s, CustomMove kind, Word i, Word j) const override {
    Rearrangement r = Rearrangement::kReverse;
    switch (kind) {
      case CustomMove::kReverse: r = Rearrangement::kReverse; break;
      case CustomMove::kSwap: r = Rearrangement::kExchange; break;
    }
    std::vector<Word> t(s.begin(), s.end());
    apply_custom_move(r, t, Move{i, j});
    return evaluate(t) - evaluate(s);
  }
};

// The data every kind is built from; each kind reads its own part. The rows are n x n for a
// solution of n positions; `xy` holds n points.
struct Instance {
  std::vector<double> weights;
  double capacity = 1.0;
  std::vector<std::vector<double>> distances;
  std::vector<std::vector<double>> flows;
  std::vector<double> xy;
};

// The evaluation of `tag` over `data`. Bin packing takes the weights as they are: a weight
// above the capacity is the caller's fault and stops the test.
inline Evaluation evaluation_of(Tag tag, const Instance& data) {
  switch (tag) {
    case Tag::kEmptyBins: return Evaluation::empty_bins(data.weights, data.capacity);
    case Tag::kEmptySpace: return Evaluation::empty_space(data.weights, data.capacity);
    case Tag::kEmptySpaceExp: return Evaluation::empty_space_exp(data.weights, data.capacity);
    case Tag::kTsp: return Evaluation::tsp(Matrix(data.distances));
    case Tag::kQap: return Evaluation::qap(Matrix(data.distances), Matrix(data.flows));
    case Tag::kTspPoints: return Evaluation::tsp_points(Points::make(data.xy, PointMetric::kEuclidean).value());
    case Tag::kCustom:
      return Evaluation::custom(static_cast<Word>(data.weights.size()), std::make_shared<WeightedPositions>());
    case Tag::kBinPacking: return Evaluation::bin_packing(data.weights, data.capacity).value();
  }
  unknown_tag("evaluation", tag);
}

// ---------------------------------------------------------------------------------------
// Criteria

using TF = TerminationFunction;
inline constexpr std::array kCriterionTags{
    TF::Tag::kAlwaysTrue,   TF::Tag::kMaxIterations, TF::Tag::kMaxSec,   TF::Tag::kMinTemp,   TF::Tag::kMultiCritAnd,
    TF::Tag::kMultiCritOr,  TF::Tag::kMustImprove,   TF::Tag::kNoImprove, TF::Tag::kTimeLimit};
static_assert(kCriterionTags.size() == std::variant_size_v<TF::Kind>, "a criterion is missing from kCriterionTags");
static_assert(in_tag_order(kCriterionTags));

// A criterion of `tag` with settings away from zero; a combination holds one of each simple
// kind before it in the list.
inline TF criterion_of(TF::Tag tag) {
  switch (tag) {
    case TF::Tag::kAlwaysTrue: return TF::always_true();
    case TF::Tag::kMaxIterations: return TF::max_iterations(9);
    case TF::Tag::kMaxSec: return TF::max_sec(7);
    case TF::Tag::kMinTemp: return TF::min_temp(-4);
    case TF::Tag::kMultiCritAnd: return TF::multi_crit_and({TF::max_iterations(5), TF::no_improve(2)});
    case TF::Tag::kMultiCritOr: return TF::multi_crit_or({TF::must_improve(), TF::max_iterations(3)});
    case TF::Tag::kMustImprove: return TF::must_improve();
    case TF::Tag::kNoImprove: return TF::no_improve(3);
    case TF::Tag::kTimeLimit: return TF::time_limit(0.25);
  }
  unknown_tag("criterion", tag);
}

// ---------------------------------------------------------------------------------------
// Searches: the registry's list, with one overload of `example` per search. A registered
// search without its overload does not build.

// A search's settings away from its defaults, and the move kind it runs on (a multi-neighbour
// search on a MultiNeighbor of that kind and reverse).
template <class Search>
struct SearchExample {
  typename Search::Params params;
  MoveKind move_kind;
  bool multi_neighbor = false;
};

template <class S>
struct Of {};

inline SearchExample<SteepestDescent> example(Of<SteepestDescent>) { return {{}, MoveKind::kSwap}; }
inline SearchExample<SimulatedAnnealing> example(Of<SimulatedAnnealing>) {
  return {{.start_temp = 30, .alpha = 0.9, .iterations_temperature = 4}, MoveKind::kReverse};
}
inline SearchExample<TabuSearch> example(Of<TabuSearch>) {
  return {{.tabu_list_size = 4, .canonical_tours = true}, MoveKind::kReverse};
}
inline SearchExample<VariableNeighborhood> example(Of<VariableNeighborhood>) {
  return {{}, MoveKind::kSwapTsp, true};
}
inline SearchExample<IteratedLocalSearch> example(Of<IteratedLocalSearch>) {
  return {{.neighbours = 3, .seed = 9}, MoveKind::kReverse};
}
inline SearchExample<RobustTabuSearch> example(Of<RobustTabuSearch>) {
  return {{.tenure = std::pair{Word{2}, Word{5}}, .aspiration = 30, .seed = 7}, MoveKind::kSwap};
}
inline SearchExample<Annealing> example(Of<Annealing>) {
  return {{.start_temperature = 2.5, .alpha = 0.95, .iterations_per_temperature = 3, .seed = 5}, MoveKind::kOrOpt};
}

// One search of the list, type-erased: its tag, name, example settings and move type.
struct SearchKind {
  SearchTag tag;
  const char* name;
  SearchParams params;
  MoveKind move_kind;
  bool multi_neighbor;

  // The move type of its example, seeded.
  [[nodiscard]] MoveType move_type(std::uint64_t seed) const {
    MoveType simple = kinds::move_type(move_kind, seed);
    if (!multi_neighbor) return simple;
    return MoveType::multi_neighbor({*simple.simple(), *MoveType::reverse(seed + 1).simple()}, std::nullopt);
  }
  // The search over `problem`, built through the registry.
  [[nodiscard]] Shared<LocalSearch> make(bool minimize, Shared<Problem> problem, const TF& termination) const {
    return make_search(params, minimize, std::move(problem), termination);
  }
};

template <class... Search>
std::array<SearchKind, sizeof...(Search)> search_kinds_of(SearchList<Search...>) {
  auto one = [](auto of) {
    using S = typename decltype(of)::type;
    const SearchExample<S> e = example(Of<S>{});
    return SearchKind{S::kTag, S::kName, SearchParams(e.params), e.move_kind, e.multi_neighbor};
  };
  return {one(std::type_identity<Search>{})...};
}

// Every registered search, in tag order.
inline const std::array<SearchKind, kSearchTags>& search_kinds() {
  static const auto all = search_kinds_of(Searches{});
  return all;
}

}  // namespace kestrum::kinds
