// Run control: the slow path of the work counter, and the recorder's growth and final row.
#include "local_search/run_control.hpp"

#include <algorithm>

namespace kestrum {
namespace {

thread_local RunControl* t_current = nullptr;

constexpr std::uint64_t kFastReadNs = 250'000;   // clock reads closer than this: count longer
constexpr std::uint64_t kSlowReadNs = 2'000'000;  // further apart than this: count shorter

std::uint64_t ns_between(Instant a, Instant b) noexcept {
  const U128 ns = elapsed_ns(a, b);
  return ns > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                        : static_cast<std::uint64_t>(ns);
}

std::uint64_t seconds_to_ns(double s) noexcept {
  if (!(s > 0.0)) return 0;
  if (s >= 1e9) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(s * 1e9);
}

}  // namespace

RunControl::RunControl(RunHost* host) noexcept
    : host_(host), previous_(t_current), installed_(true), last_read_(now()), last_service_(last_read_) {
  if (host_ != nullptr) countdown_ = period_;
  t_current = this;
}

RunControl::RunControl(IdleTag) noexcept : host_(nullptr), installed_(false) {}

RunControl::~RunControl() {
  if (installed_) t_current = previous_;
}

RunControl* RunControl::current() noexcept { return t_current; }

RunControl& RunControl::active() noexcept {
  if (t_current != nullptr) return *t_current;
  static thread_local RunControl idle{IdleTag{}};
  return idle;
}

void RunControl::begin_run(const RunSettings& settings, std::optional<Restart> restart) {
  settings_ = settings;
  stop_ = false;
  restart_ = restart;
  partial_.clear();
}

// The signal clock runs across the runs of one call, so that many short runs are still
// watched; the progress clock starts with each run.
void RunControl::start(Instant start) noexcept {
  start_ = start;
  last_progress_ = start;
  latest_ = {};
  if (stop_) return;
  if (host_ == nullptr) {
    countdown_ = kIdleCount;
  } else {
    // Each run learns the cost of its own units.
    period_ = kStartPeriod;
    countdown_ = std::min(countdown_, period_);
  }
}

bool RunControl::poll() {
  if (stop_) {
    countdown_ = 1;
    return true;
  }
  if (host_ == nullptr) {
    countdown_ = kIdleCount;
    return false;
  }
  const Instant t = now();
  const std::uint64_t since_read = ns_between(last_read_, t);
  if (since_read > kSlowReadNs && period_ > 1) {
    period_ /= 2;
  } else if (since_read < kFastReadNs && period_ < kMaxPeriod) {
    period_ *= 2;
  }
  last_read_ = t;
  countdown_ = period_;
  const bool signals = ns_between(last_service_, t) >= kServiceNs;
  const bool progress = settings_.progress != nullptr &&
                        ns_between(last_progress_, t) >= seconds_to_ns(settings_.progress_every_s);
  if (!signals && !progress) return false;
  if (signals) last_service_ = t;
  ProgressRecord row = latest_;
  row.elapsed_ns = elapsed_ns(start_, t);
  const bool keep = host_->service(row, progress ? settings_.progress.get() : nullptr, signals);
  // The callback's own time does not count against the next interval.
  if (progress) last_progress_ = now();
  if (!keep) request_stop();
  return stop_;
}

bool RunControl::between_runs() {
  if (stop_) return true;
  if (host_ == nullptr) return false;
  const Instant t = now();
  if (ns_between(last_service_, t) < kServiceNs) return false;
  last_service_ = t;
  if (!host_->service(latest_, nullptr, true)) request_stop();
  return stop_;
}

void RunControl::finish(const ProgressRecord& final_row) {
  if (host_ == nullptr || settings_.progress == nullptr) return;
  if (!host_->service(final_row, settings_.progress.get(), false)) request_stop();
}

RunRecorder::RunRecorder()
    : control_(RunControl::active()),
      entry_count_(std::uncaught_exceptions()),
      mode_(control_.log_mode()),
      start_(now()) {
  control_.start(start_);
}

RunRecorder::~RunRecorder() {
  if (std::uncaught_exceptions() > entry_count_) control_.keep_partial(std::move(rows_));
}

// A log that cannot grow fails between two moves, with the problem and the search whole: the
// caller sees MemoryError with the rows so far.
void RunRecorder::grow() { rows_.reserve(rows_.empty() ? 64 : rows_.size() * 2); }

RunLog RunRecorder::take() && {
  // Every search adds its final row just before taking the log.
  if (added_ > 0 && !last_kept_) {
    keep(last_.best_score, last_.current_score, last_.iteration);
  }
  if (!rows_.empty()) control_.finish(rows_.back());
  return std::move(rows_);
}

}  // namespace kestrum
