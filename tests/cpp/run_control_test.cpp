// The run control: log modes of the recorder, stop requests inside runs, lock re-entry.
#include "local_search/run_control.hpp"

#include <gtest/gtest.h>

#include "kinds.hpp"
#include "search_fixtures.hpp"

#include <new>
#include <vector>

#include "local_search/steepest_descent/steepest_descent.hpp"
#include "support/clock.hpp"

namespace kestrum {
namespace {

using testing_support::random_tour;
using testing_support::Row;
using testing_support::rows_of;

// Says stop at its n-th service and counts the services and progress reports.
struct StopAfter final : RunHost {
  explicit StopAfter(int n) : left(n) {}
  bool service(const ProgressRecord& row, ProgressCallback* progress, bool) override {
    ++services;
    if (progress != nullptr) reported.push_back(row);
    return --left > 0;
  }
  int left;
  int services = 0;
  std::vector<ProgressRecord> reported;
};

struct Marker final : ProgressCallback {};

RunLog record(LogMode mode, const std::vector<Row>& rows) {
  RunControl control(nullptr);
  control.begin_run(RunSettings{mode, 1.0, nullptr});
  RunRecorder recorder;
  for (const Row& r : rows) recorder.add(r.best, r.current, r.iteration);
  return std::move(recorder).take();
}

TEST(RunRecorder, ModesKeepStartImprovementsAndFinal) {
  const std::vector<Row> rows{{9, 9, 0}, {9, 10, 0}, {7, 7, 1}, {7, 8, 2}, {7, 8, 3}, {5, 5, 4}, {5, 6, 5}};
  EXPECT_EQ(rows_of(record(LogMode::kAll, rows)), rows);
  EXPECT_EQ(rows_of(record(LogMode::kImprovements, rows)),
            (std::vector<Row>{{9, 9, 0}, {7, 7, 1}, {5, 5, 4}, {5, 6, 5}}));
  EXPECT_EQ(rows_of(record(LogMode::kFinal, rows)), (std::vector<Row>{{5, 6, 5}}));
  // A final row that improves is kept once; NaN after NaN is no change.
  const double nan = std::nan("");
  EXPECT_EQ(rows_of(record(LogMode::kImprovements, {{nan, 1, 0}, {nan, 2, 1}, {3, 3, 2}})),
            (std::vector<Row>{{nan, 1, 0}, {3, 3, 2}}));
  EXPECT_EQ(rows_of(record(LogMode::kImprovements, {{4, 4, 0}})), (std::vector<Row>{{4, 4, 0}}));
}

TEST(RunRecorder, WithoutAControlKeepsEveryRow) {
  ASSERT_EQ(RunControl::current(), nullptr);
  RunRecorder recorder;
  recorder.add(3, 3, 0);
  recorder.add(3, 4, 1);
  EXPECT_FALSE(recorder.stopping());
  EXPECT_EQ(rows_of(std::move(recorder).take()), (std::vector<Row>{{3, 3, 0}, {3, 4, 1}}));
}

TEST(RunControl, NestsAndRestoresTheCurrentOne) {
  StopAfter host(100);
  {
    RunControl outer(&host);
    EXPECT_EQ(RunControl::current(), &outer);
    {
      RunControl inner(&host);
      EXPECT_EQ(RunControl::current(), &inner);
    }
    EXPECT_EQ(RunControl::current(), &outer);
  }
  EXPECT_EQ(RunControl::current(), nullptr);
}

TEST(RunControl, ServicesEveryFiftyMillisecondsOfWork) {
  FakeClock clock({100, 0});
  StopAfter host(3);
  RunControl control(&host);
  control.begin_run(RunSettings{});
  control.start(now());
  int units = 0;
  for (; units < 10'000'000; ++units) {
    if (units % 1000 == 0) clock.set({100 + units / 20'000'000, static_cast<std::uint32_t>(units % 20'000'000 * 50)});
    if (control.tick()) break;
  }
  // 1 ms of fake time per 20,000 units: the third service, the stop, comes after 150 ms.
  EXPECT_EQ(host.services, 3);
  EXPECT_TRUE(control.stop_requested());
  EXPECT_NEAR(units, 3'000'000, 300'000);
  EXPECT_TRUE(control.tick());  // stays stopped until the next run begins
  control.begin_run(RunSettings{});
  EXPECT_FALSE(control.stop_requested());
}

// Every search stops at a request made inside its run: final row at the stop, the problem's
// current solution scored by it, and the best solution is the one with the final row's best.
TEST(RunControl, EverySearchStopsOnRequest) {
  for (const kinds::SearchKind& kind : kinds::search_kinds()) {
    SCOPED_TRACE(kind.name);
    auto problem = Shared<Problem>::make<ArrayProblem>(kind.move_type(1), random_tour(60, 3));
    const Shared<LocalSearch> search = kind.make(true, problem, TerminationFunction::always_true());
    StopAfter host(1'000'000);
    RunControl control(&host);
    control.begin_run(RunSettings{});
    control.request_stop();
    const RunLog log = search.lock()->run(true);
    ASSERT_GE(log.size(), 1u);
    const ProgressRecord& last = log.back();
    EXPECT_EQ(last.iteration, 0u);
    auto locked = problem.lock();
    EXPECT_DOUBLE_EQ(locked->eval(), last.current_score);
  }
}

TEST(RunControl, ProgressIsReportedAtTheEndWithTheFinalRow) {
  auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(1), random_tour(40, 5));
  SteepestDescent search(true, problem, TerminationFunction::max_iterations(5));
  StopAfter host(1'000'000);
  RunControl control(&host);
  control.begin_run(RunSettings{LogMode::kFinal, 3600.0, std::make_shared<Marker>()});
  const RunLog log = search.run(true);
  ASSERT_EQ(log.size(), 1u);
  ASSERT_EQ(host.reported.size(), 1u);
  EXPECT_EQ(rows_of(host.reported), rows_of(log));
}

TEST(RunControl, ProgressComesOncePerIntervalNotAtEveryClockRead) {
  // 10 ms between reports over 200 ms of fake time read about once a millisecond: about 20
  // reports. Reporting at every read once the first interval has passed would give ~190.
  FakeClock clock({100, 0});
  StopAfter host(1'000'000);
  RunControl control(&host);
  control.begin_run(RunSettings{LogMode::kAll, 0.01, std::make_shared<Marker>()});
  control.start(now());
  for (int units = 1; units <= 4'000'000; ++units) {
    // 1 ms of fake time per 20,000 units.
    if (units % 1000 == 0) clock.set({100, static_cast<std::uint32_t>(units / 20) * 1000});
    ASSERT_FALSE(control.tick());
  }
  EXPECT_GE(host.reported.size(), 15u);
  EXPECT_LE(host.reported.size(), 21u);
  // Each report is at least the interval after the one before.
  for (std::size_t k = 1; k < host.reported.size(); ++k) {
    EXPECT_GE(host.reported[k].elapsed_ns - host.reported[k - 1].elapsed_ns, 10'000'000u) << k;
  }
}

TEST(RunControl, ARunEndedByAnExceptionLeavesItsRowsAndNoPoison) {
  auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::reverse(1), random_tour(30, 4));
  RunControl control(nullptr);
  control.begin_run(RunSettings{});
  {
    RunRecorder recorder;
    recorder.add(5, 5, 0);
    recorder.add(4, 4, 1);
    EXPECT_THROW(
        {
          auto locked = problem.lock();
          throw std::bad_alloc();
        },
        std::bad_alloc);
    // Only the rows of a recorder left by an exception are handed over.
    EXPECT_TRUE(control.take_partial().empty());
  }
  EXPECT_TRUE(control.take_partial().empty());
  try {
    RunRecorder recorder;
    recorder.add(5, 5, 0);
    recorder.add(4, 6, 1);
    auto locked = problem.lock();
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EQ(rows_of(control.take_partial()), (std::vector<Row>{{5, 5, 0}, {4, 6, 1}}));
  EXPECT_FALSE(problem.poisoned());
  // The next run starts with nothing left over.
  control.begin_run(RunSettings{});
  EXPECT_TRUE(control.take_partial().empty());
}

TEST(RunControl, AReseedAskedForIsDoneOnceUnderTheRunsLock) {
  // The problem is moved off its start; the run asked to reseed resets it first, and a run
  // without the request starts where the problem stands.
  auto problem = Shared<Problem>::make<ArrayProblem>(MoveType::swap(1), random_tour(20, 6));
  SteepestDescent search(true, problem, TerminationFunction::max_iterations(0));
  RunControl control(nullptr);
  const auto moved = [&] {
    auto locked = problem.lock();
    locked->do_mov(Move{0, 5});
    return locked->eval();
  };
  const double start = problem.lock()->eval();
  const double away = moved();
  control.begin_run(RunSettings{}, RunControl::Restart{.seed = 3});
  EXPECT_EQ(search.run(true).back().best_score, start);
  EXPECT_FALSE(control.take_restart());
  EXPECT_EQ(moved(), away);
  control.begin_run(RunSettings{});
  EXPECT_EQ(search.run(true).back().best_score, away);
  // A random start: the run begins from the permutation the seed's shuffle draws.
  auto twin = Shared<Problem>::make<ArrayProblem>(MoveType::swap(1), random_tour(20, 6));
  double shuffled = 0.0;
  {
    auto locked = twin.lock();
    locked->set_seed(4);
    locked->shuffle(4);
    shuffled = locked->eval();
  }
  ASSERT_NE(shuffled, start);
  control.begin_run(RunSettings{}, RunControl::Restart{.seed = 4, .shuffle = true});
  EXPECT_EQ(search.run(true).front().best_score, shuffled);
}

TEST(Shared, ReentryFromTheHoldingThreadIsRefusedWithoutPoisoning) {
  auto shared = Shared<int>::make(7);
  {
    auto held = shared.lock();
    bool refused = false;
    try {
      (void)shared.lock();
    } catch (const InUse&) {
      refused = true;
    }
    EXPECT_TRUE(refused);
    t_unwinding_consistent = false;
  }
  EXPECT_FALSE(shared.poisoned());
  EXPECT_EQ(*shared.lock(), 7);
}

}  // namespace
}  // namespace kestrum
