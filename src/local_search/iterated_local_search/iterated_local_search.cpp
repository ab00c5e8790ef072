// Iterated local search: the run loop over tours and over any other problem.
#include "local_search/iterated_local_search/iterated_local_search.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "local_search/iterated_local_search/bin_search.hpp"
#include "local_search/iterated_local_search/neighbour_lists.hpp"
#include "local_search/iterated_local_search/tour.hpp"
#include "local_search/iterated_local_search/tour_search.hpp"
#include "local_search/iterated_local_search/two_level_tour.hpp"
#include "local_search/neighbourhood.hpp"
#include "problem/array_problem_state.hpp"
#include "problem/point_metrics.hpp"
#include "problem/points.hpp"
#include "problem/tour_distances.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

Xoshiro128pp generator(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128pp::from_seed(*seed) : Xoshiro128pp::from_entropy();
}

// A tour evaluation's distances as the tour search reads them: d(a, b), unchecked.
template <class Distances>
struct FastDistance {
  const Distances& d;
  [[nodiscard]] double operator()(Word a, Word b) const noexcept { return d.fast(a, b); }
};

// Shared by both forms: the criterion, the rows and the iteration count.
class Loop {
 public:
  Loop(TerminationFunction& termination, bool log) : termination_(termination), log_(log) {
    termination_.init();
  }
  // The criterion, and the run control (a count, then the clock, then pending signals and
  // the progress report): a stop asked for from outside ends the run as the criterion would,
  // with the best so far in the problem.
  [[nodiscard]] bool stop() {
    if (interrupted_ || !termination_.keep_running()) return true;
    interrupted_ = rows_.stopping();
    return interrupted_;
  }
  void start(double score) {
    best_ = score;
    if (log_) rows_.add(score, score, 0);
  }
  // Reports a local optimum; true when it is to be kept (not worse than the best).
  bool optimum(double score, bool minimize) {
    termination_.check_new_variable(score);
    const bool better = minimize ? score < best_ : score > best_;
    if (better) {
      best_ = score;
      if (log_) rows_.add(score, score, iterations_);
    }
    return better || score == best_;
  }
  void iteration_done() {
    termination_.iteration_done();
    ++iterations_;
  }
  [[nodiscard]] RunLog finish(double best) && {
    rows_.add(best, best, iterations_);
    return std::move(rows_).take();
  }

 private:
  TerminationFunction& termination_;
  bool log_;
  RunRecorder rows_;
  double best_ = 0.0;
  std::uint64_t iterations_ = 0;
  bool interrupted_ = false;
};

template <class TourT, class Dist, class BuildLists>
RunLog run_tour(ArrayProblem& problem, const Dist& dist, const BuildLists& build_lists, Loop& loop,
                Xoshiro128pp& rng) {
  const std::span<Word> solution = problem.solution();
  const Word n = static_cast<Word>(solution.size());
  const double start = problem.eval();
  loop.start(start);
  const auto stop = [&] { return loop.stop(); };
  // The lists are part of the first iteration: the criterion is asked before them, and a
  // stop while they are built (they may take a while on a large matrix) ends the run there.
  if (!loop.stop()) {
    const NeighbourLists lists = build_lists();
    if (!lists.ids.empty()) {
      const Word first_city = solution[0];
      TourT tour(solution);
      // Gains below a billionth of the mean edge are rounding noise, not improvements.
      const double eps = std::isfinite(start) ? std::abs(start) / n * 1e-9 : 0.0;
      TourSearch<Dist, TourT> search(dist, lists, tour, eps);
      // Don't-look bits retire a city whose moves all fail, though a change elsewhere may give
      // it one later. From a random start that leaves much undone (a quarter of the length on
      // 100,000 cities), so the first descent goes over every city again until a pass finds
      // nothing: a local optimum of the lists, at O(n k) a pass.
      double before = 0.0;
      do {
        before = search.length();
        search.activate_all();
        search.descend(stop);
      } while (search.length() < before && !loop.stop());
      loop.optimum(search.length(), true);
      loop.iteration_done();
      double best = search.length();
      search.start_journal();
      while (!loop.stop()) {
        search.double_bridge(rng);
        search.descend(stop);
        if (loop.optimum(search.length(), true)) {
          best = search.length();
          search.commit();
        } else {
          search.undo();
          search.clear_queue();
          search.set_length(best);
        }
        loop.iteration_done();
      }
      search.stop_journal();
      // Back into the problem, read forwards from the city it started with.
      tour.order_from(first_city, solution);
    }
  }
  problem.set_best();
  return std::move(loop).finish(problem.eval());
}

// The problem's own neighbourhood: its simple move type, or every member of its
// MultiNeighbor. The kicks draw from copies of them, seeded from the run's generator, so
// that the problem's own generators are left alone.
struct Members {
  std::vector<SimpleMoveType> kinds;
  std::vector<MoveType> draws;
  std::vector<std::size_t> drawable;  // members with at least one move at this size

  Members(const MoveType& own, Word n, Xoshiro128pp& rng) {
    if (const MultiNeighbor* multi = own.multi()) {
      kinds = multi->move_array;
    } else {
      kinds.push_back(*own.simple());
    }
    for (std::size_t m = 0; m < kinds.size(); ++m) {
      draws.emplace_back(kinds[m]);
      draws[m].set_size(n);
      draws[m].set_seed((std::uint64_t{rng.next_u32()} << 32) | rng.next_u32());
      // Every move (i, j) has first_position <= i < j < n (swap_tsp never moves position 0).
      if (n >= geometry(kinds[m]).first_position + Word{2}) drawable.push_back(m);
    }
  }
};

struct Improvement {
  double delta = 0.0;
  Move move{};
  std::size_t member = 0;
  bool found = false;
};

// Tie rule: a move is taken only when strictly better than the best so far (and than no
// move at all), so the first of equal deltas wins (members in order) and a NaN is never
// taken.
Improvement best_improvement(Problem& problem, const Members& members, bool minimize) {
  Improvement best;
  for (std::size_t m = 0; m < members.kinds.size(); ++m) {
    Neighbourhood hood(problem, members.kinds[m]);
    hood.for_each([&](Move mv, double delta) {
      if (minimize ? delta < best.delta : delta > best.delta) best = {delta, mv, m, true};
    });
  }
  return best;
}

// Best improvement until no move improves. The score is carried by the deltas, and a move
// after which the score is not finite, or not strictly better than before it, is taken back
// and ends the descent. Without the check a delta that never runs out (always -1, -inf, an
// overflowing objective) would keep the descent going for ever, since max_iterations counts
// kicks, not steps. The built-in deltas are the change of eval, so the carried score is the
// one to check; a caller's delta is checked against the problem's own score, one evaluation
// per step (an assignment's full score would cost as much as its whole scan).
template <class Stop>
double descend(ArrayProblem& problem, const Members& members, double score, bool minimize,
               const Stop& stop) {
  const bool trusted = problem.evaluation().deltas_follow_eval();
  double evaluated = score;  // the callers pass problem.eval()
  while (!stop()) {
    const Improvement best = best_improvement(problem, members, minimize);
    if (!best.found) break;
    Neighbourhood hood(problem, members.kinds[best.member]);
    hood.apply(best.move);
    const double after = trusted ? evaluated + best.delta : problem.eval();
    if (!std::isfinite(after) || !(minimize ? after < evaluated : after > evaluated)) {
      hood.take_back(best.move);
      break;
    }
    evaluated = after;
    score += best.delta;
  }
  return score;
}

// A kick: kKickMoves random moves, each of a member drawn uniformly.
void kick(Problem& problem, Members& members, Xoshiro128pp& rng) {
  for (Word k = 0; k < IteratedLocalSearch::kKickMoves; ++k) {
    const std::size_t m = members.drawable[rng.range(0, static_cast<Word>(members.drawable.size()))];
    Neighbourhood(problem, members.kinds[m]).apply(members.draws[m].get_mov());
  }
}

// The final row holds the best score as the run tracked it, not a score taken afterwards:
// after a stop, a user's objective may no longer be called and would give NaN.
RunLog run_general(ArrayProblem& problem, bool minimize, Loop& loop, Xoshiro128pp& rng) {
  double score = problem.eval();
  double best_score = score;
  loop.start(score);
  const auto stop = [&] { return loop.stop(); };
  Members members(problem.move_type(), static_cast<Word>(problem.size()), rng);
  if (!loop.stop()) {
    score = descend(problem, members, score, minimize, stop);
    loop.optimum(score, minimize);
    loop.iteration_done();
    std::vector<Word> best(problem.solution().begin(), problem.solution().end());
    best_score = score;
    // Without a move there is nothing to kick: the first descent was the whole run.
    while (!members.drawable.empty() && !loop.stop()) {
      kick(problem, members, rng);
      score = descend(problem, members, problem.eval(), minimize, stop);
      if (loop.optimum(score, minimize)) {
        std::copy(problem.solution().begin(), problem.solution().end(), best.begin());
        best_score = score;
      } else {
        std::copy(best.begin(), best.end(), problem.solution().begin());
        score = best_score;
      }
      loop.iteration_done();
    }
  }
  problem.set_best();
  return std::move(loop).finish(best_score);
}

// The bins of a first-fit packing (bin_search.hpp). Every order the search settles on is
// scored by the evaluation itself, and the problem's solution is the best order found.
RunLog run_bins(ArrayProblem& problem, const BinPacking& packing, Loop& loop, Xoshiro128pp& rng) {
  const std::span<Word> solution = problem.solution();
  const Evaluation& evaluation = problem.evaluation();
  loop.start(problem.eval());
  const auto stop = [&] { return loop.stop(); };
  if (!loop.stop()) {
    BinSearch search(packing, rng);
    std::vector<Word> order(solution.begin(), solution.end());
    search.load(order);
    search.descend(stop);
    search.normalise(order);
    loop.optimum(evaluation.eval(order), true);
    loop.iteration_done();
    std::vector<Word> best = order;
    std::size_t best_bins = search.bins();
    // A kicked optimum not worse than the best is kept, and so is one with no more bins than
    // the best: the search walks among the optima of the best bin count, where the squares
    // alone would hold it in one (exactly full bins are rarely a step away). One with more
    // bins is taken back.
    while (!loop.stop()) {
      search.kick();
      search.descend(stop);
      search.normalise(order);
      if (loop.optimum(evaluation.eval(order), true)) {
        best = order;
        best_bins = search.bins();
      } else if (search.bins() > best_bins) {
        order = best;
        search.load(order);
      }
      loop.iteration_done();
    }
    std::copy(best.begin(), best.end(), solution.begin());
  }
  problem.set_best();
  return std::move(loop).finish(problem.eval());
}

// The neighbour lists of a tour: from the points when a plane grid can find them, else by
// rows. The grid needs a lower bound of the distance at a given plane distance: each plane
// metric is a non-decreasing function of it, applied here to a hair less than it (the
// coordinates' own rounding). GEO distances are on a sphere: by rows.
template <class Dist, class Stop>
NeighbourLists neighbour_lists(const TourDistances& tour, Word n, Word k, const Dist& dist, const Stop& stop) {
  if (const Points* points = tour.points()) {
    const std::span<const double> xy = points->coordinates();
    const auto at = [](double r) { return metrics::Point{r * (1.0 - 1e-12), 0.0}; };
    constexpr metrics::Point origin{0.0, 0.0};
    switch (points->metric()) {
      case PointMetric::kEuclidean:
        return nearest_in_plane(xy, k, dist, [&](double r) { return metrics::euclidean(origin, at(r)); }, stop);
      case PointMetric::kEuc2d:
        return nearest_in_plane(xy, k, dist, [&](double r) { return metrics::euc_2d(origin, at(r)); }, stop);
      case PointMetric::kCeil2d:
        return nearest_in_plane(xy, k, dist, [&](double r) { return metrics::ceil_2d(origin, at(r)); }, stop);
      case PointMetric::kAtt:
        return nearest_in_plane(xy, k, dist, [&](double r) { return metrics::att(origin, at(r)); }, stop);
      case PointMetric::kGeo: break;
    }
  }
  return nearest_by_rows(n, k, dist, stop);
}

}  // namespace

IteratedLocalSearch::IteratedLocalSearch(bool minimize, Shared<Problem> problem,
                                         const TerminationFunction& termination_function,
                                         Word neighbours, std::optional<std::uint64_t> seed)
    : SearchBase(minimize, std::move(problem), termination_function, nullptr),
      neighbours_(neighbours),
      seed_(seed) {
  if (neighbours == 0) fatal("neighbours must be at least 1");
}

Shared<LocalSearch> IteratedLocalSearch::make(const Params& params, bool minimize, Shared<Problem> problem,
                                              const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<IteratedLocalSearch>(minimize, std::move(problem), termination, params.neighbours,
                                                        params.seed);
}

// Saved fields: the neighbour list length and the seed, if any.
void IteratedLocalSearch::write_fields(ByteWriter& w) const {
  w.u32(neighbours_);
  w.boolean(seed_.has_value());
  if (seed_) w.u64(*seed_);
}

Shared<LocalSearch> IteratedLocalSearch::restore(ByteReader& r, bool minimize,
                                                 const TerminationFunction& termination) {
  const Word neighbours = r.u32();
  if (neighbours == 0) malformed("an iterated local search has at least one neighbour");
  std::optional<std::uint64_t> seed;
  if (r.boolean()) seed = r.u64();
  Shared<Problem> problem = read_problem(r);
  return Shared<LocalSearch>::make<IteratedLocalSearch>(
      rebuilt<IteratedLocalSearch>(termination, minimize, std::move(problem), termination, neighbours, seed));
}

RunLog IteratedLocalSearch::run(bool log) {
  // Drawn before the lock: a failing OS read must not poison the problem.
  Xoshiro128pp rng = generator(seed_);
  auto locked = lock_problem_for_run();
  ArrayProblem* problem = locked->as_array_problem();
  if (problem == nullptr) fatal("Iterated Local Search needs an array problem");
  Loop loop(termination_, log);
  const Word n = static_cast<Word>(problem->size());
  std::optional<RunLog> result;
  std::optional<TourDistances> tour;
  if (minimize_ && n >= kMinTourCities) tour = problem->evaluation().tour_distances();
  if (tour && tour->symmetric() && tour->cities() == n) {
    tour->read([&](const auto& distances) {
      const FastDistance<std::decay_t<decltype(distances)>> dist{distances};
      const auto build = [&] {
        return neighbour_lists(*tour, n, std::min(neighbours_, n - 1), dist, [&] { return loop.stop(); });
      };
      result = n >= kTwoLevelCities ? run_tour<TwoLevelTour>(*problem, dist, build, loop, rng)
                                    : run_tour<Tour>(*problem, dist, build, loop, rng);
    });
  }
  if (result) return std::move(*result);
  const BinPacking* packing = problem->evaluation().packing();
  if (minimize_ && packing != nullptr && packing->weights.size() == n &&
      scan::values_below(problem->solution(), n)) {
    return run_bins(*problem, *packing, loop, rng);
  }
  return run_general(*problem, minimize_, loop, rng);
}

}  // namespace kestrum
