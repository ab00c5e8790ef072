// The monotonic clock: instants, elapsed durations, and a fake clock for tests.
#pragma once

#include <compare>
#include <cstdint>

namespace kestrum {

// Run log rows carry elapsed nanoseconds as an unsigned 128-bit integer.
using U128 = unsigned __int128;

// One reading of the monotonic clock.
struct Instant {
  std::int64_t seconds = 0;
  std::uint32_t nanos = 0;  // always below 1'000'000'000

  friend auto operator<=>(const Instant&, const Instant&) = default;
};

// A non-negative span between two instants.
struct Elapsed {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;

  friend bool operator==(const Elapsed&, const Elapsed&) = default;
};

inline constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;

// Reads the monotonic clock (or the installed FakeClock). Never allocates.
[[nodiscard]] Instant now() noexcept;

// later - earlier; zero when `later` reads before `earlier`, so a clock that seems to step
// back never yields a negative (or wrapped) duration.
[[nodiscard]] constexpr Elapsed elapsed(Instant earlier, Instant later) noexcept {
  if (later <= earlier) return {};
  // later > earlier, so the true difference of the seconds fits in 0..2^64-1 and the
  // unsigned subtraction is exact even at the ends of the int64 range.
  std::uint64_t seconds =
      static_cast<std::uint64_t>(later.seconds) - static_cast<std::uint64_t>(earlier.seconds);
  std::uint32_t nanos;
  if (later.nanos >= earlier.nanos) {
    nanos = later.nanos - earlier.nanos;
  } else {
    seconds -= 1;  // borrow: seconds >= 1 here because later > earlier
    nanos = kNanosPerSecond - earlier.nanos + later.nanos;
  }
  return {seconds, nanos};
}

// Whole seconds * 1e9 + sub-second nanoseconds. 128 bits because 2^64 seconds of
// nanoseconds do not fit in 64.
[[nodiscard]] constexpr U128 elapsed_ns(Instant earlier, Instant later) noexcept {
  const Elapsed e = elapsed(earlier, later);
  return static_cast<U128>(e.seconds) * kNanosPerSecond + e.nanos;
}

// Test hook: while a FakeClock lives, now() returns its instant instead of reading the
// clock, so time-dependent behaviour is tested without sleeping. Installing one nests:
// the destructor puts back whatever was installed before. Tests only; not thread-safe
// against a concurrent install.
class FakeClock {
 public:
  explicit FakeClock(Instant start = {}) noexcept;
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void set(Instant t) noexcept { now_ = t; }
  void advance_ns(std::uint64_t ns) noexcept;
  [[nodiscard]] Instant now() const noexcept { return now_; }

 private:
  Instant now_;
  const Instant* previous_;
};

}  // namespace kestrum
