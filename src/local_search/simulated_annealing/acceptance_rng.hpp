// The acceptance generator of simulated annealing: ChaCha12 keyed from the OS, one per thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrum {

// One ChaCha block: `Rounds` rounds (two per double round) over the 16 input words, then
// the input added back word by word. Rounds is 12 for the generator; the 20-round block is
// the published one and lets the construction be checked against its reference vector.
template <int Rounds>
[[nodiscard]] std::array<std::uint32_t, 16> chacha_block(const std::array<std::uint32_t, 16>& input) noexcept;

// A ChaCha12 keystream with a 64-bit block counter and a 64-bit stream number (the
// original layout: words 12-13 count, 14-15 select the stream). Output words are handed
// out in block order; a 64-bit draw takes two consecutive words, low word first.
class ChaCha12Stream {
 public:
  using Key = std::array<std::uint32_t, 8>;

  explicit ChaCha12Stream(const Key& key, std::uint64_t stream = 0) noexcept;

  [[nodiscard]] std::uint64_t next_u64() noexcept;
  // Words handed out since the key was installed (the re-keying policy counts bytes).
  [[nodiscard]] std::uint64_t words_since_key() const noexcept { return words_since_key_; }
  // Starts over from block 0 with a new key, same stream number.
  void rekey(const Key& key) noexcept;
  // Keeps the key and its position but counts the output from zero again.
  void reset_word_count() noexcept { words_since_key_ = 0; }

 private:
  [[nodiscard]] std::uint32_t next_u32() noexcept;
  void refill() noexcept;

  std::array<std::uint32_t, 16> input_{};
  std::array<std::uint32_t, 16> block_{};
  std::size_t used_ = 16;  // words of block_ already handed out; 16 = empty
  std::uint64_t words_since_key_ = 0;
};

// What a run draws acceptance numbers from. Two kinds:
//  - the calling thread's generator (thread()): keyed with 32 bytes of getrandom on the
//    thread's first use and re-keyed from the OS after every 65536 bytes of output and in
//    a child after fork, so that a forked worker never repeats its parent's draws; a failed
//    re-key keeps the old key;
//  - a seeded generator (from_seed()): a fixed key derived from the seed and never re-keyed,
//    so a run's acceptance decisions can be reproduced.
class AcceptanceRng {
 public:
  // The calling thread's generator, created now if this is its first use. A creation
  // failure stops with "could not initialize thread_rng: <error text>".
  [[nodiscard]] static AcceptanceRng& thread();
  [[nodiscard]] static AcceptanceRng from_seed(std::uint64_t seed) noexcept;

  [[nodiscard]] std::uint64_t next_u64() noexcept;
  // A uniform double in [0, 1): the top 53 bits of one 64-bit draw, times 2^-53.
  [[nodiscard]] double next_unit() noexcept {
    return static_cast<double>(next_u64() >> 11) * 0x1.0p-53;
  }

 private:
  AcceptanceRng(const ChaCha12Stream::Key& key, bool reseeding) noexcept;
  void maybe_rekey() noexcept;

  ChaCha12Stream stream_;
  bool reseeding_;
  std::uint64_t fork_generation_;  // the process-wide fork count when the key was drawn
};

}  // namespace kestrum
