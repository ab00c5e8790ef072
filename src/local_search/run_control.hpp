// Run control: how a run is watched, reported on and stopped from outside its search loop,
// and the recorder that writes its log in the search's log mode.
//
// A driver (the Python binding, the benchmark runner's caller) builds a RunControl with a
// RunHost for the duration of a call; the RunControl installs itself as the calling thread's
// current one. Every search counts units of work through its RunRecorder (`stopping()`,
// one per step and, inside a scan, one per move). The count is cheap; every `period` units
// the clock is read, and about every 50 ms the host is asked to look for pending signals
// (and, at the search's interval, to report progress). When the host says stop, or when
// code running inside the run calls `RunControl::current()->request_stop()`, the search
// stops at its next check as if its termination criterion had ended it: it writes its final
// row, leaves the problem on a whole solution with its best solution set, and returns.
//
// Entry point for code that runs inside a run (a user evaluation, a callback): on the
// running thread, `if (RunControl* c = RunControl::current()) c->request_stop();` asks the
// run to stop; `stop_requested()` tells whether that has happened, so further work can be
// skipped. The reason (a Python exception, say) is the driver's to keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "support/clock.hpp"
#include "support/shared.hpp"

namespace kestrum {

// One row of a run log.
struct ProgressRecord {
  unsigned __int128 elapsed_ns = 0;  // since the run's start instant
  double best_score = 0.0;
  double current_score = 0.0;
  std::uint64_t iteration = 0;  // iterations completed before the row was written
};

// A run log: an optional start row, the step rows, and always a final row.
using RunLog = std::vector<ProgressRecord>;

// Which rows a run keeps. kAll: every row the search writes. kImprovements: the first row
// (the start row where the search writes one), the rows at which the best score changes
// (it only ever improves), and the final row. kFinal: the final row only.
enum class LogMode : std::uint8_t { kAll, kImprovements, kFinal };

// Opaque to the core: the driver's progress callback, kept with the search's settings.
class ProgressCallback {
 public:
  virtual ~ProgressCallback() = default;
};

// What a search carries for its runs besides its own fields.
struct RunSettings {
  LogMode log_mode = LogMode::kAll;
  double progress_every_s = 1.0;
  std::shared_ptr<ProgressCallback> progress;  // none: no progress reports
};

// Supplied by the driver; called on the running thread, inside the run.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // Looks for pending signals when `signals` is set and reports `row` (the latest row the
  // search wrote, stamped now) to `progress` when given. Returns false to stop the run.
  virtual bool service(const ProgressRecord& row, ProgressCallback* progress, bool signals) = 0;
};

class RunControl {
 public:
  static constexpr std::uint64_t kServiceNs = 50'000'000;  // signal checks: about every 50 ms

  // Installs itself as the thread's current control until destroyed (they nest).
  explicit RunControl(RunHost* host) noexcept;
  ~RunControl();
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // The control installed on this thread, or none.
  [[nodiscard]] static RunControl* current() noexcept;
  // The installed control, or a per-thread idle one that never stops a run.
  [[nodiscard]] static RunControl& active() noexcept;

  // How the benchmark runner prepares a run: the problem reseeded with `seed`, then reset to
  // the identity, or with `shuffle` started from a random permutation drawn from the seed.
  struct Restart {
    std::uint64_t seed = 0;
    bool shuffle = false;
  };
  // Before each run: its settings and a cleared stop request. With `restart`, the search
  // prepares its problem so under the lock it takes for the run (the benchmark runner's
  // preparation, which another thread must not get between).
  void begin_run(const RunSettings& settings, std::optional<Restart> restart = std::nullopt);
  // The preparation asked for the run about to start, once.
  [[nodiscard]] std::optional<Restart> take_restart() noexcept { return std::exchange(restart_, std::nullopt); }

  // Asks the running search to stop at its next check; callable from anything the run calls.
  void request_stop() noexcept {
    stop_ = true;
    countdown_ = 1;
  }
  [[nodiscard]] bool stop_requested() const noexcept { return stop_; }

  // Counts `units` of work done or about to be done; true once the run must stop.
  [[nodiscard]] bool tick(std::int64_t units = 1) {
    countdown_ -= units;
    if (countdown_ > 0) return false;
    return poll();
  }
  // Between runs: looks for signals when they are due. True when the caller must stop.
  [[nodiscard]] bool between_runs();

  [[nodiscard]] LogMode log_mode() const noexcept { return settings_.log_mode; }
  [[nodiscard]] RunHost* host() const noexcept { return host_; }

  // The recorder's side.
  void start(Instant start) noexcept;
  void note(double best, double current, std::uint64_t iteration) noexcept {
    latest_.best_score = best;
    latest_.current_score = current;
    latest_.iteration = iteration;
  }
  // The final row is written: the last progress report.
  void finish(const ProgressRecord& final_row);

  // The rows of a run that an exception (an allocation that failed) ended before its final
  // row: its recorder leaves them here on the way out, for the driver to attach.
  void keep_partial(RunLog&& rows) noexcept { partial_ = std::move(rows); }
  [[nodiscard]] RunLog take_partial() noexcept { return std::move(partial_); }

 private:
  struct IdleTag {};
  explicit RunControl(IdleTag) noexcept;
  bool poll();

  static constexpr std::int64_t kIdleCount = std::numeric_limits<std::int64_t>::max() / 2;
  // A unit is a move or a step: from nanoseconds to microseconds. The cap keeps a period
  // learnt on fast units from hiding the clock for long when the units become slow.
  static constexpr std::int64_t kStartPeriod = 256;
  static constexpr std::int64_t kMaxPeriod = std::int64_t{1} << 16;

  RunHost* host_;
  RunControl* previous_ = nullptr;
  bool installed_;
  RunSettings settings_;
  bool stop_ = false;
  std::int64_t countdown_ = kIdleCount;
  std::int64_t period_ = kStartPeriod;  // units between clock reads, adapted to about one per ms
  Instant start_{};
  Instant last_read_{};
  Instant last_service_{};
  Instant last_progress_{};
  ProgressRecord latest_{};
  std::optional<Restart> restart_;
  RunLog partial_;
};

// A scan visitor that counts moves as units of work a row at a time: the scans ask
// stop_scan(moves) before each row with the number of moves in it, so a stop request ends
// even one long step while the inner loop carries nothing but the visit.
template <class Visit>
struct CountedVisit {
  Visit& visit;
  RunControl& control;
  bool stopped = false;

  template <class M>
  void operator()(M move, double delta) {
    visit(move, delta);
  }
  template <class Bounds>
  void visit_row(std::size_t i, std::size_t j, const double* deltas, std::size_t count, Bounds bounds)
    requires requires(Visit& v, std::size_t x, const double* d) { v.visit_row(x, x, d, x, bounds); }
  {
    visit.visit_row(i, j, deltas, count, bounds);
  }
  [[nodiscard]] bool stop_scan(std::size_t moves) {
    if (!stopped && control.tick(static_cast<std::int64_t>(moves))) stopped = true;
    return stopped;
  }
};

// The run's clock and log: the start instant is read once and every kept row is stamped with
// the time elapsed since it when the row is written. Rows are kept by the log mode of the
// thread's run control; without one, every row is kept.
class RunRecorder {
 public:
  RunRecorder();
  // Left by an exception, it hands the rows so far to the run control.
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  void add(double best_score, double current_score, std::uint64_t iteration) {
    control_.note(best_score, current_score, iteration);
    last_ = {0, best_score, current_score, iteration};
    switch (mode_) {
      case LogMode::kAll: keep(best_score, current_score, iteration); break;
      case LogMode::kImprovements:
        if (added_ == 0 || !same_score(best_score, last_best_)) {
          keep(best_score, current_score, iteration);
        } else {
          last_kept_ = false;
        }
        break;
      case LogMode::kFinal: last_kept_ = false; break;
    }
    last_best_ = best_score;
    ++added_;
  }
  // One unit of work done (a step; inside a scan, a move). True once the run must stop:
  // the search then ends as if its criterion had stopped it.
  [[nodiscard]] bool stopping() { return control_.tick(); }
  [[nodiscard]] RunControl& control() noexcept { return control_; }

  // The log, its final row (the last one added) always included.
  [[nodiscard]] RunLog take() &&;

 private:
  [[nodiscard]] static bool same_score(double a, double b) noexcept {
    return a == b || (a != a && b != b);  // NaN stays NaN: no change
  }
  void keep(double best_score, double current_score, std::uint64_t iteration) {
    if (rows_.size() == rows_.capacity()) grow();
    rows_.push_back({elapsed_ns(start_, now()), best_score, current_score, iteration});
    last_kept_ = true;
  }
  void grow();

  RunControl& control_;
  int entry_count_;
  LogMode mode_;
  Instant start_;
  RunLog rows_;
  ProgressRecord last_{};  // the last row added, kept or not
  double last_best_ = 0.0;
  std::uint64_t added_ = 0;
  bool last_kept_ = false;
};

}  // namespace kestrum
