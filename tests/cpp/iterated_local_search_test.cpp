// Iterated local search as a whole: optima kept or taken back, descents that must end, and
// the final row after a stop.
#include "local_search/iterated_local_search/iterated_local_search.hpp"

#include <gtest/gtest.h>

#include "search_fixtures.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>

#include "problem/custom_evaluation.hpp"

namespace kestrum {
namespace {

using testing_support::random_tour;

constexpr double kInf = std::numeric_limits<double>::infinity();

RunLog run_ils(const Shared<Problem>& problem, TerminationFunction criterion, std::uint64_t seed = 7) {
  IteratedLocalSearch search(true, problem, criterion, 10, seed);
  return search.run(true);
}

// A worse local optimum is taken back: the final row's best is the least of the log, and
// the problem ends on it. The tour form (symmetric, 8 cities or more) and the general form
// (asymmetric) keep the best each their own way.
TEST(IteratedLocalSearch, WorseOptimaAreTakenBackInBothForms) {
  for (const bool asymmetric : {false, true}) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
      auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(seed),
                                                         random_tour(asymmetric ? 11 : 60, seed, asymmetric));
      const RunLog log = run_ils(problem, TerminationFunction::max_iterations(150), seed);
      double least = kInf;
      for (const ProgressRecord& row : log) least = std::min(least, row.best_score);
      SCOPED_TRACE(testing::Message() << "asymmetric=" << asymmetric << " seed=" << seed);
      // The tour form's rows carry lengths summed from gains, its final row the tour scored
      // afresh: they agree to rounding.
      EXPECT_NEAR(log.back().best_score, least, 1e-12 * least);
      EXPECT_EQ(log.back().current_score, log.back().best_score);
      auto locked = problem.lock();
      EXPECT_NEAR(locked->eval(), least, 1e-12 * least);
    }
  }
}

// Scores every solution `score` and promises `lie` for every move: a descent that believed
// the deltas would never end, since max_iterations counts kicks, not steps.
struct LyingDelta final : ScoreFunction {
  LyingDelta(double lie, double score) : lie(lie), score(score) {}
  [[nodiscard]] double evaluate(std::span<const Word>) const override { return score; }
  [[nodiscard]] bool has_delta() const noexcept override { return true; }
  [[nodiscard]] double delta(std::span<const Word>, CustomMove, Word, Word) const override { return lie; }
  double lie;
  double score;
};

TEST(IteratedLocalSearch, DescentsEndWhenTheScoreStopsImprovingOrIsNotFinite) {
  const double nan = std::nan("");
  for (const double lie : {-1.0, -kInf, -1e-300}) {
    for (const double score : {0.0, kInf, nan}) {
      auto problem = Shared<Problem>::make<ArrayProblem>(
          MoveType::swap(1), Evaluation::custom(9, std::make_shared<LyingDelta>(lie, score)));
      const RunLog log = run_ils(problem, TerminationFunction::max_iterations(3));
      SCOPED_TRACE(testing::Message() << "lie=" << lie << " score=" << score);
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log.back().iteration, 3u);
      // Nothing is better than the start: the best stays the score every solution has.
      EXPECT_EQ(std::bit_cast<std::uint64_t>(log.back().best_score), std::bit_cast<std::uint64_t>(score));
    }
  }
}

// A tour whose length is infinite: the tour form's descent ends instead of moving the
// infinite edges around for ever.
TEST(IteratedLocalSearch, ATourOfInfiniteLengthEndsItsDescents) {
  const std::size_t n = 40;
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 1.0));
  for (std::size_t a = 0; a < n; ++a) {
    d[a][a] = 0.0;
    d[a][(a + 1) % n] = d[(a + 1) % n][a] = kInf;  // every edge of the identity tour
  }
  auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(1), Evaluation::tsp(Matrix(d)));
  const RunLog log = run_ils(problem, TerminationFunction::max_iterations(5));
  EXPECT_EQ(log.back().iteration, 5u);
  std::vector<Word> sorted = testing_support::solution_of(problem);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, testing_support::identity(n));
}

// A score with a single best arrangement: the identity reversed.
double weighted(std::span<const Word> s) {
  double score = 0.0;
  for (std::size_t k = 0; k < s.size(); ++k) {
    score += std::abs(static_cast<double>(s[k]) - static_cast<double>(s.size() - 1 - k)) * static_cast<double>(k + 1);
  }
  return score;
}

// Counts evaluations and, from the `stop_at`-th on, asks the run to stop and scores NaN, as a
// Python objective does once its run is stopping.
struct StopsTheRun final : ScoreFunction {
  explicit StopsTheRun(int stop_at) : stop_at(stop_at) {}
  [[nodiscard]] double evaluate(std::span<const Word> s) const override {
    if (++calls >= stop_at) {
      if (RunControl* control = RunControl::current()) control->request_stop();
      return std::nan("");
    }
    return weighted(s);
  }
  [[nodiscard]] bool has_delta() const noexcept override { return false; }
  [[nodiscard]] double delta(std::span<const Word>, CustomMove, Word, Word) const override { return 0.0; }
  int stop_at;
  mutable std::atomic<int> calls{0};
};

struct NeverStops final : RunHost {
  bool service(const ProgressRecord&, ProgressCallback*, bool) override { return true; }
};

TEST(IteratedLocalSearch, AStopReportsTheTrackedBestNotALaterScore) {
  for (const int stop_at : {2, 40, 400, 2000}) {
    auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::swap(3),
                                                       Evaluation::custom(6, std::make_shared<StopsTheRun>(stop_at)));
    NeverStops host;
    RunControl control(&host);
    control.begin_run(RunSettings{});
    const RunLog log = run_ils(problem, TerminationFunction::always_true(), 5);
    SCOPED_TRACE(testing::Message() << "stop_at=" << stop_at);
    ASSERT_FALSE(log.empty());
    EXPECT_FALSE(std::isnan(log.back().best_score));
    double least = kInf;
    for (const ProgressRecord& row : log) least = std::min(least, row.best_score);
    EXPECT_EQ(log.back().best_score, least);
    // The problem holds the best it reports, as a solution of the same score.
    EXPECT_EQ(weighted(testing_support::solution_of(problem)), log.back().best_score);
  }
}

}  // namespace
}  // namespace kestrum
