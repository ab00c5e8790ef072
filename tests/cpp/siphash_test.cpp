// Tests of SipHash-1-3 and the solution hash.
#include "support/siphash.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kestrum {
namespace {

TEST(SolutionHash, KnownValues) {
  EXPECT_EQ(solution_hash({}), 0xcc2247b79ac48af0ULL);
  const std::vector<Word> three{0, 1, 2};
  EXPECT_EQ(solution_hash(three), 0x2102cc66dc65c6daULL);
  std::vector<Word> ten(10);
  std::iota(ten.begin(), ten.end(), 0U);
  EXPECT_EQ(solution_hash(ten), 0x9e676d0942a890a5ULL);
}

TEST(SolutionHash, EqualsByteStreamOfLengthAndEntries) {
  // Every message length mod 8 is reached, so word-wise and byte-wise feeding must agree
  // across all block boundaries.
  for (Word n = 0; n < 12; ++n) {
    std::vector<Word> s(n);
    for (Word k = 0; k < n; ++k) s[k] = 0x01020304U * (k + 1U);
    std::vector<std::uint8_t> bytes;
    auto put = [&](std::uint32_t w) {
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    };
    put(n);
    for (Word w : s) put(w);
    EXPECT_EQ(solution_hash(s), siphash13(bytes)) << "n = " << n;
  }
}

TEST(SolutionHash, OrderOfEntriesMatters) {
  const std::vector<Word> a{0, 1, 2, 3, 4};
  const std::vector<Word> b{0, 3, 2, 1, 4};
  const std::vector<Word> c{0, 1, 2, 3, 4};
  EXPECT_NE(solution_hash(a), solution_hash(b));
  EXPECT_EQ(solution_hash(a), solution_hash(c));
}

TEST(SipHasher13, SplitWritesMatchOneShot) {
  std::vector<std::uint8_t> msg(23);
  std::iota(msg.begin(), msg.end(), std::uint8_t{0});
  for (std::size_t cut = 0; cut <= msg.size(); ++cut) {
    SipHasher13 h;
    h.write(std::span(msg).first(cut));
    h.write(std::span(msg).subspan(cut));
    EXPECT_EQ(h.finish(), siphash13(msg)) << "cut = " << cut;
  }
}


}  // namespace
}  // namespace kestrum
