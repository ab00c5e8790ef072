// Byte layout of ByteWriter and the refusals of ByteReader.
#include "support/serialize.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace kestrum {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteWriter, WritesFixedWidthLittleEndian) {
  ByteWriter w;
  w.u8(0xAB);
  w.u32(0x01020304);
  w.i32(-2);
  w.boolean(true);
  w.f64(1.0);  // 0x3FF0000000000000
  EXPECT_EQ(w.bytes(), (Bytes{0xAB, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0,
                              0, 0, 0, 0xF0, 0x3F}));
}

TEST(ByteReader, ReadsBackExtremesAndNanPayloads) {
  const double nan_with_payload = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
  ByteWriter w;
  w.u64(std::numeric_limits<std::uint64_t>::max());
  w.i64(std::numeric_limits<std::int64_t>::min());
  w.i32(std::numeric_limits<std::int32_t>::min());
  w.f64(-0.0);
  w.f64(nan_with_payload);
  w.boolean(false);
  const Bytes bytes = std::move(w).take();
  ByteReader r(bytes);
  EXPECT_EQ(r.u64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(r.i64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(r.i32(), std::numeric_limits<std::int32_t>::min());
  const double zero = r.f64();
  EXPECT_TRUE(zero == 0.0 && std::signbit(zero));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(r.f64()), 0x7FF8000000000123U);
  EXPECT_FALSE(r.boolean());
  r.expect_end();
}

std::string refusal(const Bytes& bytes, void (*read)(ByteReader&)) {
  ByteReader r(bytes);
  try {
    read(r);
  } catch (const MalformedState& m) {
    return m.reason;
  }
  return "";
}

TEST(ByteReader, RefusesMalformedInput) {
  EXPECT_EQ(refusal({1, 2, 3}, [](ByteReader& r) { (void)r.u32(); }), "the state ends early");
  EXPECT_EQ(refusal({}, [](ByteReader& r) { (void)r.u8(); }), "the state ends early");
  EXPECT_EQ(refusal({2}, [](ByteReader& r) { (void)r.boolean(); }), "a flag byte is 2, not 0 or 1");
  EXPECT_EQ(refusal({7, 0}, [](ByteReader& r) {
              (void)r.u8();
              r.expect_end();
            }),
            "1 unexpected bytes at the end");
  // Three 4-byte elements need 12 bytes; only 11 follow the count.
  Bytes short_list{3, 0, 0, 0, 0, 0, 0, 0};
  short_list.resize(8 + 11);
  EXPECT_EQ(refusal(short_list, [](ByteReader& r) { (void)r.count(4); }),
            "a length of 3 does not fit in the 11 bytes left");
  // A forged huge count is refused before any allocation.
  EXPECT_EQ(refusal({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                    [](ByteReader& r) { (void)r.count(8); }),
            "a length of 18446744073709551615 does not fit in the 0 bytes left");
}

TEST(ByteWriter, RunsOfValuesMatchSingleWrites) {
  const std::vector<double> xs{1.5, -0.0, 1e308};
  const std::vector<std::uint32_t> ws{1, 0xA0B0C0D0, 7};
  ByteWriter runs;
  runs.f64s(xs);
  runs.u32s(ws);
  ByteWriter singles;
  for (double x : xs) singles.f64(x);
  for (std::uint32_t w : ws) singles.u32(w);
  EXPECT_EQ(runs.bytes(), singles.bytes());

  ByteReader r(runs.bytes());
  std::vector<double> xs_back(3);
  std::vector<std::uint32_t> ws_back(3);
  r.f64s(xs_back);
  r.u32s(ws_back);
  EXPECT_EQ(xs_back, xs);
  EXPECT_EQ(ws_back, ws);
  r.expect_end();
}

TEST(ByteReader, RunLongerThanTheInputIsRefused) {
  const Bytes bytes(11, 0);
  ByteReader r(bytes);
  std::vector<std::uint32_t> three(3);
  r.u32s(std::span(three).first(2));
  EXPECT_EQ(r.remaining(), 3U);
  EXPECT_EQ(refusal(bytes, [](ByteReader& rr) {
              std::vector<double> two(2);
              rr.f64s(two);
            }),
            "the state ends early");
}

TEST(ByteReader, CountAcceptsExactFit) {
  Bytes bytes{2, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB};
  ByteReader r(bytes);
  EXPECT_EQ(r.count(1), 2U);
  EXPECT_EQ(r.u8(), 0xAA);
  EXPECT_EQ(r.u8(), 0xBB);
  r.expect_end();
}

}  // namespace
}  // namespace kestrum
