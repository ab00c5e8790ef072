// ChaCha12 keystream and the per-thread, OS-keyed acceptance generator.
#include "local_search/simulated_annealing/acceptance_rng.hpp"

#include <pthread.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include "support/fatal.hpp"
#include "support/rng.hpp"

namespace kestrum {

namespace {

// "expand 32-byte k"
constexpr std::array<std::uint32_t, 4> kSigma{0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
constexpr std::uint64_t kRekeyAfterWords = 65536 / 4;

constexpr void quarter_round(std::array<std::uint32_t, 16>& x, int a, int b, int c, int d) noexcept {
  x[a] += x[b]; x[d] = std::rotl(x[d] ^ x[a], 16);
  x[c] += x[d]; x[b] = std::rotl(x[b] ^ x[c], 12);
  x[a] += x[b]; x[d] = std::rotl(x[d] ^ x[a], 8);
  x[c] += x[d]; x[b] = std::rotl(x[b] ^ x[c], 7);
}

// Incremented in every child after fork; a generator keyed under an older count re-keys.
std::atomic<std::uint64_t> g_fork_generation{0};

void on_fork_child() noexcept { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t fork_generation() noexcept {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, &on_fork_child);
    return true;
  }();
  (void)registered;
  return g_fork_generation.load(std::memory_order_relaxed);
}

// Fills the key from the operating system; returns the errno of a failure, 0 on success.
int os_key(ChaCha12Stream::Key& key) noexcept {
  return fill_from_os({reinterpret_cast<std::uint8_t*>(key.data()), sizeof key});
}

}  // namespace

template <int Rounds>
std::array<std::uint32_t, 16> chacha_block(const std::array<std::uint32_t, 16>& input) noexcept {
  static_assert(Rounds % 2 == 0);
  std::array<std::uint32_t, 16> x = input;
  for (int r = 0; r < Rounds; r += 2) {
    quarter_round(x, 0, 4, 8, 12);
    quarter_round(x, 1, 5, 9, 13);
    quarter_round(x, 2, 6, 10, 14);
    quarter_round(x, 3, 7, 11, 15);
    quarter_round(x, 0, 5, 10, 15);
    quarter_round(x, 1, 6, 11, 12);
    quarter_round(x, 2, 7, 8, 13);
    quarter_round(x, 3, 4, 9, 14);
  }
  for (std::size_t k = 0; k < 16; ++k) x[k] += input[k];
  return x;
}

template std::array<std::uint32_t, 16> chacha_block<12>(const std::array<std::uint32_t, 16>&) noexcept;
template std::array<std::uint32_t, 16> chacha_block<20>(const std::array<std::uint32_t, 16>&) noexcept;

ChaCha12Stream::ChaCha12Stream(const Key& key, std::uint64_t stream) noexcept {
  for (std::size_t k = 0; k < 4; ++k) input_[k] = kSigma[k];
  input_[14] = static_cast<std::uint32_t>(stream);
  input_[15] = static_cast<std::uint32_t>(stream >> 32);
  rekey(key);
}

void ChaCha12Stream::rekey(const Key& key) noexcept {
  for (std::size_t k = 0; k < 8; ++k) input_[4 + k] = key[k];
  input_[12] = 0;
  input_[13] = 0;
  used_ = 16;
  words_since_key_ = 0;
}

void ChaCha12Stream::refill() noexcept {
  block_ = chacha_block<12>(input_);
  if (++input_[12] == 0) ++input_[13];
  used_ = 0;
}

std::uint32_t ChaCha12Stream::next_u32() noexcept {
  if (used_ == 16) refill();
  ++words_since_key_;
  return block_[used_++];
}

std::uint64_t ChaCha12Stream::next_u64() noexcept {
  const std::uint64_t low = next_u32();
  return low | (static_cast<std::uint64_t>(next_u32()) << 32);
}

AcceptanceRng::AcceptanceRng(const ChaCha12Stream::Key& key, bool reseeding) noexcept
    : stream_(key), reseeding_(reseeding), fork_generation_(fork_generation()) {}

AcceptanceRng& AcceptanceRng::thread() {
  thread_local std::optional<AcceptanceRng> rng;
  if (!rng) {
    ChaCha12Stream::Key key{};
    if (const int err = os_key(key); err != 0) {
      fatal("could not initialize thread_rng: " + std::generic_category().message(err));
    }
    rng.emplace(AcceptanceRng(key, true));
  }
  return *rng;
}

AcceptanceRng AcceptanceRng::from_seed(std::uint64_t seed) noexcept {
  ChaCha12Stream::Key key{};
  std::uint64_t state = seed;
  for (std::size_t k = 0; k < 8; k += 2) {
    const std::uint64_t v = split_mix64(state);
    key[k] = static_cast<std::uint32_t>(v);
    key[k + 1] = static_cast<std::uint32_t>(v >> 32);
  }
  return AcceptanceRng(key, false);
}

void AcceptanceRng::maybe_rekey() noexcept {
  const std::uint64_t generation = g_fork_generation.load(std::memory_order_relaxed);
  if (stream_.words_since_key() < kRekeyAfterWords && generation == fork_generation_) return;
  fork_generation_ = generation;
  ChaCha12Stream::Key key{};
  if (os_key(key) == 0) {
    stream_.rekey(key);
  } else {
    // Keep the old key and go on; start the count again so the OS is not asked per draw.
    stream_.reset_word_count();
  }
}

std::uint64_t AcceptanceRng::next_u64() noexcept {
  if (reseeding_) maybe_rekey();
  return stream_.next_u64();
}

}  // namespace kestrum
