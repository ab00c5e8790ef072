// The search registry: every search once, with its name, tag, restorer and factory.
#pragma once

#include <cstddef>
#include <span>
#include <variant>

#include "local_search/annealing/annealing.hpp"
#include "local_search/iterated_local_search/iterated_local_search.hpp"
#include "local_search/local_search.hpp"
#include "local_search/robust_tabu_search/robust_tabu_search.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "local_search/steepest_descent/steepest_descent.hpp"
#include "local_search/tabu_search/tabu_search.hpp"
#include "local_search/vns/variable_neighborhood.hpp"
#include "problem/problem.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {

template <class... Search>
struct SearchList {
  static constexpr std::size_t kSize = sizeof...(Search);
  // One search's parameters, whichever it is.
  using Params = std::variant<typename Search::Params...>;
};

// Every search, in saved-tag order: a search's kTag is its place here (checked when the
// registry is built). A listed search provides
//   kName     its factory's name in Python (LocalSearch.<kName>);
//   kTag      its SearchTag;
//   Params    the settings its factory takes beyond direction, problem and criterion, with
//             their defaults;
//   make      static Shared<LocalSearch> make(const Params&, bool minimize, Shared<Problem>,
//                                             const TerminationFunction&);
//   restore   static Shared<LocalSearch> restore(ByteReader&, bool minimize,
//                                                const TerminationFunction&).
// Adding a search is its folder, its tag, and its line here.
using Searches = SearchList<
    SteepestDescent,
    SimulatedAnnealing,
    TabuSearch,
    VariableNeighborhood,
    IteratedLocalSearch,
    RobustTabuSearch,
    Annealing>;

inline constexpr std::size_t kSearchTags = Searches::kSize;

// What a factory parses its arguments into: the Params of exactly one search.
using SearchParams = Searches::Params;

struct SearchEntry {
  const char* name;
  SearchTag tag;
  // Reads the search's own fields and then its problem (its tag, direction and criterion
  // already read) and rebuilds it over that new problem.
  Shared<LocalSearch> (*restore)(ByteReader& r, bool minimize, const TerminationFunction& termination);
  // Builds it from its own Params (another search's are a fatal stop).
  Shared<LocalSearch> (*make)(const SearchParams& params, bool minimize, Shared<Problem> problem,
                              const TerminationFunction& termination);
};

// The entries in tag order.
[[nodiscard]] std::span<const SearchEntry> search_entries() noexcept;
// The entry of `tag`; a value outside the enumeration is a fatal stop.
[[nodiscard]] const SearchEntry& search_entry(SearchTag tag);
// A new search, the one whose Params these are, over `problem` (neither locked nor looked at).
[[nodiscard]] Shared<LocalSearch> make_search(const SearchParams& params, bool minimize, Shared<Problem> problem,
                                              const TerminationFunction& termination);

}  // namespace kestrum
