// SipHash-1-3 with zero keys, streamed, and the solution hash built on it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/word.hpp"

namespace kestrum {

// Incremental SipHash-1-3 (one compression round per 8-byte block, three finalisation
// rounds). Bytes are fed as they come, so nothing has to be copied into a message buffer.
class SipHasher13 {
 public:
  constexpr SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0) noexcept
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  constexpr void write_u8(std::uint8_t byte) noexcept {
    tail_ |= static_cast<std::uint64_t>(byte) << (8 * tail_len_);
    ++length_;
    if (++tail_len_ == 8) flush_block();
  }

  // Four bytes, little-endian: the common case of the solution hash, taken word-wise
  // whenever it fits in the pending block.
  constexpr void write_u32_le(std::uint32_t word) noexcept {
    if (tail_len_ <= 4) {
      tail_ |= static_cast<std::uint64_t>(word) << (8 * tail_len_);
      tail_len_ += 4;
      length_ += 4;
      if (tail_len_ == 8) flush_block();
      return;
    }
    for (int b = 0; b < 4; ++b) write_u8(static_cast<std::uint8_t>(word >> (8 * b)));
  }

  constexpr void write(std::span<const std::uint8_t> bytes) noexcept {
    for (std::uint8_t byte : bytes) write_u8(byte);
  }

  // The last block holds the leftover bytes and, in its top byte, the total length mod 256.
  [[nodiscard]] constexpr std::uint64_t finish() const noexcept {
    SipHasher13 h = *this;
    const std::uint64_t b = (static_cast<std::uint64_t>(h.length_ & 0xff) << 56) | h.tail_;
    h.v3_ ^= b;
    h.round();
    h.v0_ ^= b;
    h.v2_ ^= 0xff;
    h.round();
    h.round();
    h.round();
    return h.v0_ ^ h.v1_ ^ h.v2_ ^ h.v3_;
  }

 private:
  constexpr void round() noexcept {
    v0_ += v1_;
    v1_ = std::rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = std::rotl(v0_, 32);
    v2_ += v3_;
    v3_ = std::rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = std::rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = std::rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = std::rotl(v2_, 32);
  }

  constexpr void flush_block() noexcept {
    v3_ ^= tail_;
    round();
    v0_ ^= tail_;
    tail_ = 0;
    tail_len_ = 0;
  }

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;       // pending bytes of the current block, little-endian
  unsigned tail_len_ = 0;        // how many of them (0..7)
  std::uint64_t length_ = 0;     // total bytes written
};

// SipHash-1-3 with zero keys over a whole message.
[[nodiscard]] std::uint64_t siphash13(std::span<const std::uint8_t> message) noexcept;

// Hash of a solution: the length as a 4-byte little-endian word, then every entry as one.
// Equal solutions hash equally; tabu search recognises visited solutions by it.
[[nodiscard]] std::uint64_t solution_hash(std::span<const Word> solution) noexcept;

}  // namespace kestrum
