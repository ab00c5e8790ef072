// Tests of the acceptance generator: the ChaCha block, seeded streams, per-thread and per-fork keys.
#include "local_search/simulated_annealing/acceptance_rng.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

namespace kestrum {
namespace {

TEST(ChaChaBlock, TwentyRoundsMatchPublishedVector) {
  // The block-function test vector for 20 rounds: key 00 01 .. 1f, block counter 1,
  // nonce 00 00 00 09 00 00 00 4a 00 00 00 00, all as little-endian words.
  const std::array<std::uint32_t, 16> input{
      0x61707865, 0x3320646e, 0x79622d32, 0x6b206574, 0x03020100, 0x07060504,
      0x0b0a0908, 0x0f0e0d0c, 0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c,
      0x00000001, 0x09000000, 0x4a000000, 0x00000000};
  const std::array<std::uint32_t, 16> expected{
      0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
      0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
      0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
  EXPECT_EQ(chacha_block<20>(input), expected);
}

TEST(ChaChaBlock, TwelveRoundsIsADifferentPermutation) {
  std::array<std::uint32_t, 16> input{};
  input[0] = 0x61707865;
  EXPECT_NE(chacha_block<12>(input), chacha_block<20>(input));
}

TEST(ChaCha12Stream, DrawsWalkTheBlocksInCounterOrder) {
  const ChaCha12Stream::Key key{1, 2, 3, 4, 5, 6, 7, 8};
  ChaCha12Stream stream(key, 0x0000000500000007ULL);
  std::array<std::uint32_t, 16> input{0x61707865, 0x3320646e, 0x79622d32, 0x6b206574,
                                      1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 7, 5};
  for (std::uint32_t block = 0; block < 3; ++block) {
    input[12] = block;
    const auto words = chacha_block<12>(input);
    for (std::size_t k = 0; k < 16; k += 2) {
      const std::uint64_t expected = words[k] | (static_cast<std::uint64_t>(words[k + 1]) << 32);
      ASSERT_EQ(stream.next_u64(), expected) << "block " << block << " word " << k;
    }
  }
  EXPECT_EQ(stream.words_since_key(), 48U);
  stream.rekey(key);
  input[12] = 0;
  EXPECT_EQ(static_cast<std::uint32_t>(stream.next_u64()), chacha_block<12>(input)[0]);
}

TEST(AcceptanceRng, SeededGeneratorsRepeatBeyondTheRekeyInterval) {
  // 20000 draws are 160000 bytes: a generator that re-keyed from the OS would diverge.
  AcceptanceRng a = AcceptanceRng::from_seed(42);
  AcceptanceRng b = AcceptanceRng::from_seed(42);
  AcceptanceRng c = AcceptanceRng::from_seed(43);
  int equal_to_other_seed = 0;
  for (int k = 0; k < 20000; ++k) {
    const std::uint64_t x = a.next_u64();
    ASSERT_EQ(x, b.next_u64()) << "draw " << k;
    equal_to_other_seed += x == c.next_u64();
  }
  EXPECT_EQ(equal_to_other_seed, 0);
}

TEST(AcceptanceRng, UnitDrawsAreUniformInHalfOpenInterval) {
  AcceptanceRng rng = AcceptanceRng::from_seed(7);
  constexpr int kDraws = 200000;
  int below_half = 0;
  double sum = 0.0;
  for (int k = 0; k < kDraws; ++k) {
    const double r = rng.next_unit();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
    below_half += r < 0.5;
    sum += r;
  }
  // Five standard deviations of a fair coin / uniform mean.
  EXPECT_NEAR(below_half, kDraws / 2, 5 * 224);
  EXPECT_NEAR(sum / kDraws, 0.5, 5 * 0.00065);
}

TEST(AcceptanceRng, ThreadGeneratorIsPerThreadAndKeptAcrossUses) {
  AcceptanceRng& mine = AcceptanceRng::thread();
  EXPECT_EQ(&mine, &AcceptanceRng::thread());
  std::set<std::uint64_t> firsts;
  firsts.insert(mine.next_u64());
  for (int t = 0; t < 4; ++t) {
    std::uint64_t first = 0;
    const AcceptanceRng* address = nullptr;
    std::thread([&] {
      address = &AcceptanceRng::thread();
      first = AcceptanceRng::thread().next_u64();
    }).join();
    EXPECT_NE(address, &mine);
    firsts.insert(first);
  }
  EXPECT_EQ(firsts.size(), 5U);  // OS-keyed: no two threads share a stream
}

TEST(AcceptanceRng, ForkedChildRekeysInsteadOfRepeatingTheParent) {
  AcceptanceRng& rng = AcceptanceRng::thread();
  (void)rng.next_u64();  // make sure it exists before the fork
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::uint64_t x = AcceptanceRng::thread().next_u64();
    const ssize_t written = write(fds[1], &x, sizeof x);
    _exit(written == sizeof x ? 0 : 1);
  }
  const std::uint64_t parent_next = rng.next_u64();
  std::uint64_t child_next = 0;
  ASSERT_EQ(read(fds[0], &child_next, sizeof child_next), static_cast<ssize_t>(sizeof child_next));
  int status = 0;
  waitpid(pid, &status, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_NE(child_next, parent_next);
}

}  // namespace
}  // namespace kestrum
