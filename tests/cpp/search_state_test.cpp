// Saved searches: each search's state round-trips through the registry to a search that runs
// on as the original does; tours over points and a tabu list of tours are kept. The registry
// builds each search from its parameters as its constructor does.
#include "local_search/search_state.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "local_search/search_registry.hpp"
#include "problem/evaluation_state.hpp"
#include "kinds.hpp"
#include "search_fixtures.hpp"
#include "state_reading.hpp"

namespace kestrum {
namespace {

using namespace testing_support;
using Bytes = std::vector<std::uint8_t>;

Bytes saved(const LocalSearch& search) {
  const SearchSnapshot snapshot = search.snapshot();
  ByteWriter w;
  write_search(w, snapshot, *snapshot.problem.lock());
  return std::move(w).take();
}

Shared<LocalSearch> loaded(const Bytes& bytes) { return read_whole(bytes, read_search); }

Evaluation points_tour() {
  std::vector<double> xy;
  for (int k = 0; k < 9; ++k) {
    xy.push_back((7 * k) % 11 + 0.25 * k);
    xy.push_back((5 * k * k) % 13 - 0.5);
  }
  return Evaluation::tsp_points(Points::make(std::move(xy), PointMetric::kEuc2d).value());
}

Shared<Problem> problem_of(MoveType move_type) {
  return Shared<Problem>::make<ArrayProblem>(std::move(move_type), points_tour());
}

TerminationFunction criterion() {
  return TerminationFunction::multi_crit_and({TerminationFunction::max_iterations(20),
                                              TerminationFunction::no_improve(5)});
}

using Build = std::function<Shared<LocalSearch>()>;

TEST(SearchState, EverySearchRoundTripsAndRunsOnAlike) {
  const std::vector<Build> builds{
      [] { return Shared<LocalSearch>::make<SteepestDescent>(false, problem_of(MoveType::swap(3)), criterion()); },
      [] {
        auto sa = Shared<LocalSearch>::make<SimulatedAnnealing>(30, true, problem_of(MoveType::reverse(3)),
                                                                criterion(), 0.9, 4);
        sa.lock()->set_acceptance_seed(11);
        return sa;
      },
      [] {
        return Shared<LocalSearch>::make<TabuSearch>(problem_of(MoveType::reverse(3)), criterion(), true, Word{4},
                                                     true);
      },
      [] { return Shared<LocalSearch>::make<TabuSearch>(problem_of(MoveType::swap(3)), criterion(), false, Word{2}); },
      [] { return Shared<LocalSearch>::make<VariableNeighborhood>(problem_of(MoveType::tsp(3)), criterion(), true); },
      [] {
        return Shared<LocalSearch>::make<IteratedLocalSearch>(true, problem_of(MoveType::reverse(3)),
                                                              TerminationFunction::max_iterations(4), Word{3},
                                                              std::uint64_t{9});
      },
      [] {
        return Shared<LocalSearch>::make<RobustTabuSearch>(false, problem_of(MoveType::swap(3)), criterion(),
                                                           std::pair{Word{2}, Word{5}}, std::uint64_t{30},
                                                           std::uint64_t{7});
      },
      [] {
        return Shared<LocalSearch>::make<RobustTabuSearch>(true, problem_of(MoveType::tsp(3)), criterion(),
                                                           std::nullopt, std::nullopt, std::uint64_t{8});
      },
      [] {
        return Shared<LocalSearch>::make<Annealing>(
            true, problem_of(MoveType::reverse(3)), criterion(),
            Annealing::Params{.start_temperature = std::nullopt, .alpha = 0.95, .iterations_per_temperature = 3,
                              .seed = 5});
      },
      [] {
        return Shared<LocalSearch>::make<Annealing>(
            false, problem_of(MoveType::swap(3)), criterion(),
            Annealing::Params{.start_temperature = 2.5, .alpha = std::nullopt, .iterations_per_temperature = std::nullopt,
                              .seed = 6});
      },
  };
  std::vector<Build> all = builds;
  // And every registered search as the kind list builds it, through the registry.
  for (const kinds::SearchKind& kind : kinds::search_kinds()) {
    all.push_back([&kind] {
      Shared<LocalSearch> search = kind.make(true, problem_of(kind.move_type(3)), criterion());
      search.lock()->set_acceptance_seed(11);
      return search;
    });
  }
  std::set<SearchTag> seen;
  for (std::size_t k = 0; k < all.size(); ++k) {
    SCOPED_TRACE(k);
    const Shared<LocalSearch> search = all[k]();
    seen.insert(search.lock()->tag());
    (void)search.lock()->run(false);
    const Bytes bytes = saved(*search.lock());
    const Shared<LocalSearch> copy = loaded(bytes);
    EXPECT_EQ(copy.lock()->tag(), search.lock()->tag());
    EXPECT_EQ(saved(*copy.lock()), bytes);
    EXPECT_EQ(rows_of(copy.lock()->run(true)), rows_of(search.lock()->run(true)));
  }
  // A search registered without a line above would go untested.
  EXPECT_EQ(seen.size(), kSearchTags);
}

TEST(SearchRegistry, EachSearchIsListedOnceAndBuiltFromItsParamsAsByItsConstructor) {
  std::set<std::string_view> names;
  for (std::size_t k = 0; k < search_entries().size(); ++k) {
    const SearchEntry& entry = search_entries()[k];
    EXPECT_EQ(static_cast<std::size_t>(entry.tag), k);
    EXPECT_EQ(&search_entry(entry.tag), &entry);
    EXPECT_FALSE(std::string_view(entry.name).empty());
    names.insert(entry.name);
  }
  EXPECT_EQ(search_entries().size(), kSearchTags);
  EXPECT_EQ(names.size(), kSearchTags);

  // Settings away from the defaults, so that a field passed to the wrong place shows.
  struct Case {
    SearchParams params;
    bool minimize;
    Shared<LocalSearch> direct;
  };
  const std::vector<Case> cases{
      {SteepestDescent::Params{}, false,
       Shared<LocalSearch>::make<SteepestDescent>(false, problem_of(MoveType::swap(3)), criterion())},
      {SimulatedAnnealing::Params{.start_temp = 30, .alpha = 0.9, .iterations_temperature = 4}, true,
       Shared<LocalSearch>::make<SimulatedAnnealing>(30, true, problem_of(MoveType::swap(3)), criterion(), 0.9, 4)},
      {TabuSearch::Params{.tabu_list_size = 4, .canonical_tours = true}, true,
       Shared<LocalSearch>::make<TabuSearch>(problem_of(MoveType::swap(3)), criterion(), true, Word{4}, true)},
      {VariableNeighborhood::Params{}, true,
       Shared<LocalSearch>::make<VariableNeighborhood>(problem_of(MoveType::swap(3)), criterion(), true)},
      {IteratedLocalSearch::Params{.neighbours = 3, .seed = 9}, false,
       Shared<LocalSearch>::make<IteratedLocalSearch>(false, problem_of(MoveType::swap(3)), criterion(), Word{3},
                                                     std::uint64_t{9})},
      {RobustTabuSearch::Params{.tenure = std::pair{Word{3}, Word{4}}, .aspiration = 17, .seed = 5}, true,
       Shared<LocalSearch>::make<RobustTabuSearch>(true, problem_of(MoveType::swap(3)), criterion(),
                                                   std::pair{Word{3}, Word{4}}, std::uint64_t{17}, std::uint64_t{5})},
      {Annealing::Params{.start_temperature = 0.75, .alpha = 0.5, .iterations_per_temperature = 7, .seed = 2}, false,
       Shared<LocalSearch>::make<Annealing>(
           false, problem_of(MoveType::swap(3)), criterion(),
           Annealing::Params{.start_temperature = 0.75, .alpha = 0.5, .iterations_per_temperature = 7, .seed = 2})},
  };
  std::set<SearchTag> seen;
  for (const Case& c : cases) {
    const SearchTag tag = c.direct.lock()->tag();
    SCOPED_TRACE(search_entry(tag).name);
    seen.insert(tag);
    const Shared<LocalSearch> made = make_search(c.params, c.minimize, problem_of(MoveType::swap(3)), criterion());
    EXPECT_EQ(made.lock()->tag(), tag);
    const Bytes bytes = saved(*made.lock());
    EXPECT_EQ(bytes, saved(*c.direct.lock()));
    // Through the entry's own restorer, after the common head read_search takes.
    const Shared<LocalSearch> copy = loaded(bytes);
    EXPECT_EQ(copy.lock()->tag(), tag);
    EXPECT_EQ(saved(*copy.lock()), bytes);
  }
  EXPECT_EQ(seen.size(), kSearchTags);

  // An entry given another search's parameters stops rather than guessing.
  EXPECT_THROW((void)search_entry(SearchTag::kTabuSearch)
                   .make(SteepestDescent::Params{}, true, problem_of(MoveType::swap(1)), criterion()),
               FatalStop);
}

TEST(SearchState, TabuTourFlagIsATrailerWrittenOnlyWhenSet) {
  const TabuSearch plain(problem_of(MoveType::reverse(1)), criterion(), true, Word{3});
  const TabuSearch tours(problem_of(MoveType::reverse(1)), criterion(), true, Word{3}, true);
  const Bytes a = saved(plain);
  const Bytes b = saved(tours);
  ASSERT_EQ(b.size(), a.size() + 1);
  EXPECT_EQ(Bytes(b.begin(), b.end() - 1), a);
  EXPECT_EQ(b.back(), 1);
  const Shared<LocalSearch> copy = loaded(b);
  EXPECT_EQ(saved(*copy.lock()), b);

  Bytes zero = b;
  zero.back() = 0;
  EXPECT_EQ(reason_of(zero, read_search), "a tabu search's tour flag is written only when set");
  Bytes extra = b;
  extra.push_back(1);
  EXPECT_EQ(reason_of(extra, read_search), "1 unexpected bytes at the end");
}

TEST(SearchState, RobustTabuTenureMustBeOrdered) {
  const RobustTabuSearch search(true, problem_of(MoveType::swap(1)), criterion(), std::pair{Word{4}, Word{6}},
                                std::nullopt, std::nullopt);
  Bytes bytes = saved(search);
  // The tenure's low and high words follow the head and the presence flag; swap them.
  const Bytes tenure{4, 0, 0, 0, 6, 0, 0, 0};
  auto at = std::search(bytes.begin(), bytes.end(), tenure.begin(), tenure.end());
  ASSERT_NE(at, bytes.end());
  std::swap_ranges(at, at + 4, at + 4);
  EXPECT_EQ(reason_of(bytes, read_search), "a robust tabu search's tenure has low > high");
}

TEST(SearchState, AnnealingSettingsOutOfRangeAreRefused) {
  // Tag, direction and criterion come first; then the four settings, each a flag and a value.
  const Annealing search(true, problem_of(MoveType::swap(1)), criterion(),
                         Annealing::Params{.start_temperature = 1.0, .alpha = 0.5, .iterations_per_temperature = 2,
                                           .seed = std::nullopt});
  const Bytes bytes = saved(search);
  const Bytes settings{1, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 1, 2, 0, 0, 0, 0};
  const auto at = std::search(bytes.begin(), bytes.end(), settings.begin(), settings.end());
  ASSERT_NE(at, bytes.end());
  const std::size_t start = static_cast<std::size_t>(at - bytes.begin());
  auto forged = [&](std::size_t offset, std::uint8_t value) {
    Bytes b = bytes;
    b.at(start + offset) = value;
    return reason_of(b, read_search);
  };
  EXPECT_EQ(forged(8, 0xBF), "an annealing start temperature is finite and >= 0");  // -1.0
  EXPECT_EQ(forged(8, 0x7F), "an annealing start temperature is finite and >= 0");  // inf
  EXPECT_EQ(forged(17, 0x3F + 0x80), "an annealing alpha is > 0 and <= 1");           // -0.5
  EXPECT_EQ(forged(17, 0x40), "an annealing alpha is > 0 and <= 1");                  // 32768.0
  EXPECT_EQ(forged(19, 0), "annealing takes at least one iteration per temperature");
  EXPECT_EQ(forged(0, 2), "a flag byte is 2, not 0 or 1");
}

TEST(SearchState, UnknownSearchTagIsRefused) {
  Bytes bytes = saved(SteepestDescent(true, problem_of(MoveType::swap(1)), criterion()));
  bytes.at(0) = static_cast<std::uint8_t>(kSearchTags);
  EXPECT_EQ(reason_of(bytes, read_search), "search tag " + std::to_string(kSearchTags) + " is unknown");
}

TEST(SearchState, PointsKeepTheirMetricAndCoordinates) {
  for (PointMetric metric : {PointMetric::kEuclidean, PointMetric::kEuc2d, PointMetric::kCeil2d, PointMetric::kAtt,
                             PointMetric::kGeo}) {
    const Evaluation e = Evaluation::tsp_points(Points::make({10, 20.5, 11, 18.5, 12.25, 16}, metric).value());
    ByteWriter w;
    write_evaluation(w, e);
    const Bytes bytes = std::move(w).take();
    EXPECT_EQ(bytes.at(0), 5);
    EXPECT_EQ(bytes.at(1), static_cast<std::uint8_t>(metric));
    ByteReader r(bytes);
    const Evaluation back = read_evaluation(r);
    const std::vector<Word> tour{2, 0, 1};
    EXPECT_EQ(back.eval(tour), e.eval(tour));
    ByteWriter again;
    write_evaluation(again, back);
    EXPECT_EQ(std::move(again).take(), bytes);

    Bytes forged = bytes;
    forged.at(1) = 5;
    ByteReader fr(forged);
    EXPECT_THROW((void)read_evaluation(fr), MalformedState);
  }
}

}  // namespace
}  // namespace kestrum
