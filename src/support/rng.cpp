// Seeding of Xoshiro128pp: PCG32 seed expansion, the all-zero fallback and OS entropy.
#include "support/rng.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <system_error>

namespace kestrum {

namespace {

std::uint32_t le_word(const std::array<std::uint8_t, 16>& bytes, std::size_t offset) noexcept {
  return static_cast<std::uint32_t>(bytes[offset]) |
         (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

}  // namespace

std::uint64_t split_mix64(std::uint64_t& state) noexcept {
  state += 0x9e3779b97f4a7c15ULL;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

int fill_from_os(std::span<std::uint8_t> bytes) noexcept {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0) {
      // A signal before any byte arrived is not a failure of the source; ask again.
      if (errno == EINTR) continue;
      return errno;
    }
    filled += static_cast<std::size_t>(got);
  }
  return 0;
}

Xoshiro128pp Xoshiro128pp::from_seed(std::uint64_t seed) noexcept {
  constexpr std::uint64_t kMul = 6364136223846793005ULL;
  constexpr std::uint64_t kInc = 11634580027462260723ULL;
  std::array<std::uint8_t, 16> bytes{};
  std::uint64_t state = seed;
  for (std::size_t w = 0; w < 4; ++w) {
    state = state * kMul + kInc;
    const auto x = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto r = static_cast<int>(state >> 59);
    const std::uint32_t word = std::rotr(x, r);
    for (std::size_t b = 0; b < 4; ++b) {
      bytes[4 * w + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
  }
  // Through the byte form so that the all-zero fallback applies to seeds as well.
  return from_seed_bytes(bytes);
}

Xoshiro128pp Xoshiro128pp::from_seed_bytes(const std::array<std::uint8_t, 16>& bytes) noexcept {
  State s{le_word(bytes, 0), le_word(bytes, 4), le_word(bytes, 8), le_word(bytes, 12)};
  if (s == State{}) {
    std::uint64_t sm = 0;
    const std::uint64_t a = split_mix64(sm);
    const std::uint64_t b = split_mix64(sm);
    s = {static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(a >> 32),
         static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(b >> 32)};
  }
  return Xoshiro128pp(s);
}

std::uint64_t seed_from_entropy() {
  std::array<std::uint8_t, 8> bytes{};
  if (const int err = fill_from_os(bytes); err != 0) {
    fatal("from_entropy failed: " + std::generic_category().message(err));
  }
  std::uint64_t seed = 0;
  for (std::uint8_t b : bytes) seed = seed << 8 | b;
  return seed;
}

Xoshiro128pp Xoshiro128pp::from_entropy() {
  std::array<std::uint8_t, 16> bytes{};
  if (const int err = fill_from_os(bytes); err != 0) {
    fatal("from_entropy failed: " + std::generic_category().message(err));
  }
  return from_seed_bytes(bytes);
}

}  // namespace kestrum
