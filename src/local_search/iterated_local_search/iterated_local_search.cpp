// Iterated local search: the run loop over tours and over any other problem.
#include "local_search/iterated_local_search/iterated_local_search.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <variant>
#include <vector>

#include "local_search/iterated_local_search/neighbour_lists.hpp"
#include "local_search/iterated_local_search/tour.hpp"
#include "local_search/iterated_local_search/tour_search.hpp"
#include "local_search/iterated_local_search/two_level_tour.hpp"
#include "support/fatal.hpp"
#include "support/interrupt.hpp"

namespace kestrum {

namespace {

Xoshiro128pp generator(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128pp::from_seed(*seed) : Xoshiro128pp::from_entropy();
}

// Distances of a square matrix, read without checks: the tour covers exactly its rows.
struct DenseDistance {
  const double* data;
  std::size_t n;
  [[nodiscard]] double operator()(Word a, Word b) const noexcept { return data[a * n + b]; }
};

// The matrix of a symmetric square tour evaluation, or nullptr when the tour search does
// not apply to this evaluation.
const Matrix* symmetric_tour_matrix(const Evaluation& evaluation) {
  const auto* tsp = std::get_if<Tsp>(&evaluation.kind());
  if (tsp == nullptr || !tsp->symmetric || !tsp->distance_matrix.is_square()) return nullptr;
  return &tsp->distance_matrix;
}

// Shared by both forms: the criterion, the rows and the iteration count.
class Loop {
 public:
  Loop(TerminationFunction& termination, bool log) : termination_(termination), log_(log) {
    termination_.init();
  }
  // The criterion, and every 64th time a pending signal: a stop asked for from outside ends
  // the run as the criterion would, with the best so far in the problem.
  [[nodiscard]] bool stop() {
    if (interrupted_ || !termination_.keep_running()) return true;
    if (++until_signals_ % 64 == 0) interrupted_ = interrupt_requested();
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
  std::uint32_t until_signals_ = 0;
  bool interrupted_ = false;
};

template <class TourT, class Dist>
RunLog run_tour(ArrayProblem& problem, const Dist& dist, const NeighbourLists& lists, Loop& loop,
                Xoshiro128pp& rng) {
  const std::span<Word> solution = problem.solution();
  const Word n = static_cast<Word>(solution.size());
  const Word first_city = solution[0];
  TourT tour(solution);
  const double start = problem.eval();
  loop.start(start);
  // Gains below a billionth of the mean edge are rounding noise, not improvements.
  const double eps = std::isfinite(start) ? std::abs(start) / n * 1e-9 : 0.0;
  TourSearch<Dist, TourT> search(dist, lists, tour, eps);
  const auto stop = [&] { return loop.stop(); };
  if (!loop.stop()) {
    search.activate_all();
    search.descend(stop);
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
  }
  // Back into the problem, read forwards from the city it started with.
  tour.order_from(first_city, solution);
  problem.set_best();
  return std::move(loop).finish(problem.eval());
}

// The problem's own neighbourhood: its simple move type, or every member of its
// MultiNeighbor. The kicks draw from copies of them, seeded from the run's generator, so
// that neither the problem's generators nor memory for a list of all moves are used.
struct Neighbourhood {
  std::vector<MoveType> members;
  std::vector<std::size_t> drawable;  // members with at least one move at this size

  Neighbourhood(const MoveType& own, Word n, Xoshiro128pp& rng) {
    if (const auto* multi = std::get_if<MultiNeighbor>(&own.kind())) {
      for (const SimpleMoveType& member : multi->move_array) members.emplace_back(member);
    } else {
      members.push_back(own);
    }
    for (std::size_t m = 0; m < members.size(); ++m) {
      members[m].set_size(n);
      members[m].set_seed((std::uint64_t{rng.next_u32()} << 32) | rng.next_u32());
      // SwapTsp never moves position 0, so it needs three positions for a move.
      const Word least = std::holds_alternative<SwapTsp>(members[m].kind()) ? 3 : 2;
      if (n >= least) drawable.push_back(m);
    }
  }
};

struct Improvement {
  double delta = 0.0;
  Move move{};
  const MoveType* member = nullptr;
};

// Tie rule: a move is taken only when strictly better than the best so far (and than no
// move at all), so the first of equal deltas wins (members in order) and a NaN is never
// taken.
Improvement best_improvement(ArrayProblem& problem, const Neighbourhood& hood, bool minimize) {
  Improvement best;
  for (const MoveType& member : hood.members) {
    const SimpleMoveType kind = *simple_kind(member);
    for_each_delta(problem.evaluation(), kind, problem.solution(), problem.scratch(),
                   [&](Move m, double delta) {
                     if (minimize ? delta < best.delta : delta > best.delta) best = {delta, m, &member};
                   });
  }
  return best;
}

template <class Stop>
double descend(ArrayProblem& problem, const Neighbourhood& hood, double score, bool minimize,
               const Stop& stop) {
  while (!stop()) {
    const Improvement best = best_improvement(problem, hood, minimize);
    if (best.member == nullptr) break;
    problem.do_mov(best.move, best.member);
    score += best.delta;
  }
  return score;
}

// A kick: kKickMoves random moves, each of a member drawn uniformly.
void kick(ArrayProblem& problem, Neighbourhood& hood, Xoshiro128pp& rng) {
  for (Word k = 0; k < IteratedLocalSearch::kKickMoves; ++k) {
    const std::size_t m = hood.drawable[rng.range(0, static_cast<Word>(hood.drawable.size()))];
    problem.do_mov(hood.members[m].get_mov(), &hood.members[m]);
  }
}

RunLog run_general(ArrayProblem& problem, bool minimize, Loop loop, Xoshiro128pp rng) {
  double score = problem.eval();
  loop.start(score);
  const auto stop = [&] { return loop.stop(); };
  Neighbourhood hood(problem.move_type(), static_cast<Word>(problem.size()), rng);
  if (!loop.stop()) {
    score = descend(problem, hood, score, minimize, stop);
    loop.optimum(score, minimize);
    loop.iteration_done();
    std::vector<Word> best(problem.solution().begin(), problem.solution().end());
    double best_score = score;
    // Without a move there is nothing to kick: the first descent was the whole run.
    while (!hood.drawable.empty() && !loop.stop()) {
      kick(problem, hood, rng);
      score = descend(problem, hood, problem.eval(), minimize, stop);
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
  return std::move(loop).finish(problem.eval());
}

}  // namespace

IteratedLocalSearch::IteratedLocalSearch(bool minimize, Shared<Problem> problem,
                                         const TerminationFunction& termination_function,
                                         Word neighbours, std::optional<std::uint64_t> seed)
    : termination_(termination_function),
      problem_(std::move(problem)),
      minimize_(minimize),
      neighbours_(neighbours),
      seed_(seed) {
  if (neighbours == 0) fatal("neighbours must be at least 1");
  termination_.set_goal(minimize);
}

void IteratedLocalSearch::reset() { reset_problem(problem_); }

void IteratedLocalSearch::set_problem(Shared<Problem> problem) { problem_ = std::move(problem); }

void IteratedLocalSearch::set_termination(const TerminationFunction& termination_function) {
  termination_ = termination_function;
}

RunLog IteratedLocalSearch::run(bool log) {
  // Drawn before the lock: a failing OS read must not poison the problem.
  Xoshiro128pp rng = generator(seed_);
  auto locked = problem_.lock();
  ArrayProblem* problem = locked->as_array_problem();
  if (problem == nullptr) fatal("Iterated Local Search needs an array problem");
  const Word n = static_cast<Word>(problem->size());
  if (const Matrix* matrix = symmetric_tour_matrix(problem->evaluation());
      matrix != nullptr && minimize_ && n >= kMinTourCities && matrix->rows() == n) {
    const DenseDistance dist{matrix->data().data(), n};
    const NeighbourLists lists = nearest_by_rows(n, std::min(neighbours_, n - 1), dist);
    Loop loop(termination_, log);
    if (n >= kTwoLevelCities) return run_tour<TwoLevelTour>(*problem, dist, lists, loop, rng);
    return run_tour<Tour>(*problem, dist, lists, loop, rng);
  }
  return run_general(*problem, minimize_, Loop(termination_, log), rng);
}

}  // namespace kestrum
