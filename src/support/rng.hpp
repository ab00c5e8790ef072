// Xoshiro128pp: the seeded random generator each move type owns, and its range draw.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>

#include "support/fatal.hpp"

namespace kestrum {

// One step of SplitMix64: advances `state` and returns the next output.
[[nodiscard]] std::uint64_t split_mix64(std::uint64_t& state) noexcept;

// Fills `bytes` from the operating system's randomness (getrandom), asking again when a
// signal interrupts. Returns 0, or the errno of the failure.
[[nodiscard]] int fill_from_os(std::span<std::uint8_t> bytes) noexcept;

// A 64-bit seed from the operating system's randomness, for a call given no seed; a failure
// stops as Xoshiro128pp::from_entropy does.
[[nodiscard]] std::uint64_t seed_from_entropy();

// xoshiro128++ over four 32-bit state words. A plain value: copying it copies the state, so
// the copy continues the same sequence independently of the original.
class Xoshiro128pp {
 public:
  using State = std::array<std::uint32_t, 4>;

  // The state is taken as is (used to restore a saved generator); an all-zero state is
  // accepted here but would only ever yield zeros.
  explicit constexpr Xoshiro128pp(State state) noexcept : s_(state) {}

  // Expands a 64-bit seed to 16 bytes with a PCG32 step per 32-bit word, so nearby seeds
  // give unrelated states.
  [[nodiscard]] static Xoshiro128pp from_seed(std::uint64_t seed) noexcept;
  // Reads the bytes as four little-endian words. All-zero bytes are the one state the
  // generator can never leave, so they are replaced by a SplitMix64 expansion of 0.
  [[nodiscard]] static Xoshiro128pp from_seed_bytes(
      const std::array<std::uint8_t, 16>& bytes) noexcept;
  // 16 bytes from getrandom(2); a failure stops with "from_entropy failed: <error text>".
  [[nodiscard]] static Xoshiro128pp from_entropy();

  [[nodiscard]] constexpr std::uint32_t next_u32() noexcept {
    const std::uint32_t result = std::rotl(s_[0] + s_[3], 7) + s_[0];
    const std::uint32_t t = s_[1] << 9;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = std::rotl(s_[3], 11);
    return result;
  }

  // Uniform value in lo..hi (hi exclusive): widening multiply, rejecting draws whose low
  // half falls above the zone. The zone (r shifted up to the top bit, minus one) is a cheap
  // bound that rejects a little more than the exact one would; it is kept because it fixes
  // which draws are consumed, and so the move sequence a seed produces.
  [[nodiscard]] std::uint32_t range(std::uint32_t lo, std::uint32_t hi) {
    if (hi <= lo) fatal("cannot sample empty range");
    const std::uint32_t r = hi - lo;
    const std::uint32_t zone = (r << std::countl_zero(r)) - 1U;
    for (;;) {
      const std::uint64_t m = static_cast<std::uint64_t>(next_u32()) * r;
      if (static_cast<std::uint32_t>(m) <= zone) return lo + static_cast<std::uint32_t>(m >> 32);
    }
  }

  [[nodiscard]] constexpr State state() const noexcept { return s_; }

  friend constexpr bool operator==(const Xoshiro128pp&, const Xoshiro128pp&) = default;

 private:
  State s_;
};

}  // namespace kestrum
