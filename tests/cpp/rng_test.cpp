// Tests of Xoshiro128pp: reference outputs, seeding, range draws and copies.
#include "support/rng.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <string>

namespace kestrum {
namespace {

TEST(Xoshiro128pp, ReferenceOutputsFromSmallState) {
  // Published reference sequence of xoshiro128++ from the state 1, 2, 3, 4.
  Xoshiro128pp rng({1, 2, 3, 4});
  const std::uint32_t expected[] = {641U,        1573767U,   3222811527U, 3517856514U,
                                    836907274U,  4247214768U, 3867114732U, 1355841295U,
                                    495546011U,  621204420U};
  for (std::uint32_t e : expected) EXPECT_EQ(rng.next_u32(), e);
}

TEST(Xoshiro128pp, SeedZeroExpandsToKnownState) {
  const Xoshiro128pp::State expected{0xf973f2ec, 0x45cdb581, 0x7346f087, 0xad6cad06};
  EXPECT_EQ(Xoshiro128pp::from_seed(0).state(), expected);
}

TEST(Xoshiro128pp, SeedBytesAreLittleEndianWords) {
  const std::array<std::uint8_t, 16> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                           0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10};
  const Xoshiro128pp::State expected{0x04030201, 0x08070605, 0x0c0b0a09, 0x100f0e0d};
  EXPECT_EQ(Xoshiro128pp::from_seed_bytes(bytes).state(), expected);
}

TEST(Xoshiro128pp, AllZeroSeedBytesUseSplitMixOfZero) {
  // The first two SplitMix64 outputs from 0 are 0xe220a8397b1dcdaf and 0x6e789e6aa1b965f4.
  const Xoshiro128pp::State expected{0x7b1dcdaf, 0xe220a839, 0xa1b965f4, 0x6e789e6a};
  EXPECT_EQ(Xoshiro128pp::from_seed_bytes({}).state(), expected);
}


TEST(Xoshiro128pp, EntropyGivesFreshNonZeroStates) {
  const auto a = Xoshiro128pp::from_entropy().state();
  const auto b = Xoshiro128pp::from_entropy().state();
  EXPECT_NE(a, b);
  EXPECT_NE(a, Xoshiro128pp::State{});
}

TEST(Xoshiro128pp, RangeRejectsDrawsAboveTheZoneAndConsumesThem) {
  // r = 2^31 + 1 makes the zone 2^31; the low half of v * r is v + 2^31 for odd v, so the
  // first two reference draws (641 and 1573767) are rejected and the third, 3222811527, is
  // taken: floor(3222811527 * (2^31 + 1) / 2^32) = 1611405764.
  Xoshiro128pp rng({1, 2, 3, 4});
  EXPECT_EQ(rng.range(0, 0x80000001U), 1611405764U);
  EXPECT_EQ(rng.next_u32(), 3517856514U);

  Xoshiro128pp shifted({1, 2, 3, 4});
  EXPECT_EQ(shifted.range(10, 10U + 0x80000001U), 10U + 1611405764U);
}

TEST(Xoshiro128pp, RangeOfOneAcceptsOnlyTheLowerHalfOfDraws) {
  // r = 1: the zone is 0x7fffffff, so 3222811527 (above it) is skipped.
  Xoshiro128pp rng({1, 2, 3, 4});
  for (int k = 0; k < 2; ++k) EXPECT_EQ(rng.range(4, 5), 4U);
  EXPECT_EQ(rng.range(4, 5), 4U);  // rejected 3222811527 and 3517856514, took 836907274
  EXPECT_EQ(rng.next_u32(), 4247214768U);
}

TEST(Xoshiro128pp, RangeStaysInBounds) {
  Xoshiro128pp rng = Xoshiro128pp::from_seed(99);
  for (std::uint32_t hi : {2U, 3U, 10U, 1000U, 0xffffffffU}) {
    for (int k = 0; k < 2000; ++k) {
      const std::uint32_t v = rng.range(1, hi);
      ASSERT_GE(v, 1U);
      ASSERT_LT(v, hi);
    }
  }
}

TEST(Xoshiro128pp, EmptyRangeStopsWithoutDrawing) {
  for (auto [lo, hi] : {std::pair{0U, 0U}, std::pair{5U, 5U}, std::pair{6U, 5U}}) {
    Xoshiro128pp rng({1, 2, 3, 4});
    EXPECT_EQ(fatal_message_of([&] { (void)rng.range(lo, hi); }), "cannot sample empty range");
    EXPECT_EQ(rng.state(), (Xoshiro128pp::State{1, 2, 3, 4}));
  }
}


}  // namespace
}  // namespace kestrum
