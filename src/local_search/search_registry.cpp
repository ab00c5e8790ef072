// The registry's table, built from the list of searches.
#include "local_search/search_registry.hpp"

#include <array>
#include <string>
#include <utility>

#include "support/fatal.hpp"
#include "support/tags.hpp"

namespace kestrum {

namespace {

template <class Search>
Shared<LocalSearch> make_as(const SearchParams& params, bool minimize, Shared<Problem> problem,
                            const TerminationFunction& termination) {
  const auto* own = std::get_if<typename Search::Params>(&params);
  if (own == nullptr) fatal(std::string("another search's parameters given to ") + Search::kName);
  return Search::make(*own, minimize, std::move(problem), termination);
}

template <class... Search>
constexpr std::array<SearchEntry, sizeof...(Search)> entries_of(SearchList<Search...> /*list*/) {
  return {SearchEntry{Search::kName, Search::kTag, &Search::restore, &make_as<Search>}...};
}

constexpr std::array kEntries = entries_of(Searches{});

// Saved tags are never renumbered, so the list keeps their order and leaves no gap.
constexpr bool tags_are_places() {
  for (std::size_t k = 0; k < kEntries.size(); ++k) {
    if (static_cast<std::size_t>(kEntries[k].tag) != k) return false;
  }
  return true;
}
static_assert(tags_are_places(), "each search's kTag must be its place in Searches");

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

// The tag of the search whose Params these are.
template <class... Search>
SearchTag tag_of(const SearchParams& params, SearchList<Search...> /*list*/) {
  return std::visit(Overloaded{[](const typename Search::Params&) { return Search::kTag; }...}, params);
}

}  // namespace

std::span<const SearchEntry> search_entries() noexcept { return kEntries; }

const SearchEntry& search_entry(SearchTag tag) {
  const auto k = static_cast<std::size_t>(tag);
  if (k >= kEntries.size()) unknown_tag("search", tag);
  return kEntries[k];
}

Shared<LocalSearch> make_search(const SearchParams& params, bool minimize, Shared<Problem> problem,
                                const TerminationFunction& termination) {
  return search_entry(tag_of(params, Searches{})).make(params, minimize, std::move(problem), termination);
}

}  // namespace kestrum
