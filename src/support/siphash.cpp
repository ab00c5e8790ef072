// One-shot SipHash-1-3 and the solution hash.
#include "support/siphash.hpp"

namespace kestrum {

std::uint64_t siphash13(std::span<const std::uint8_t> message) noexcept {
  SipHasher13 h;
  h.write(message);
  return h.finish();
}

std::uint64_t solution_hash(std::span<const Word> solution) noexcept {
  SipHasher13 h;
  // Solutions index with 32-bit words, so their length always fits the 4-byte prefix.
  h.write_u32_le(static_cast<std::uint32_t>(solution.size()));
  for (Word w : solution) h.write_u32_le(w);
  return h.finish();
}

}  // namespace kestrum
