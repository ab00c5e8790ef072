// Reading the monotonic clock, and the fake-clock switch the tests use.
#include "support/clock.hpp"

#include <atomic>
#include <ctime>

namespace kestrum {

namespace {
// Null in production: now() then costs one relaxed load and one clock_gettime.
std::atomic<const Instant*> g_fake_now{nullptr};
}  // namespace

Instant now() noexcept {
  if (const Instant* fake = g_fake_now.load(std::memory_order_relaxed)) return *fake;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

FakeClock::FakeClock(Instant start) noexcept
    : now_(start), previous_(g_fake_now.exchange(&now_, std::memory_order_relaxed)) {}

FakeClock::~FakeClock() { g_fake_now.store(previous_, std::memory_order_relaxed); }

void FakeClock::advance_ns(std::uint64_t ns) noexcept {
  const std::uint64_t total = static_cast<std::uint64_t>(now_.nanos) + ns % kNanosPerSecond;
  now_.seconds += static_cast<std::int64_t>(ns / kNanosPerSecond + total / kNanosPerSecond);
  now_.nanos = static_cast<std::uint32_t>(total % kNanosPerSecond);
}

}  // namespace kestrum
