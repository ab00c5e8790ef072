// Number fields: which texts are numbers, and that their values are the nearest doubles.
#include "aidfunc/number.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "io_test_files.hpp"

namespace kestrum {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Accepted {
  const char* text;
  double value;
};

class AcceptedNumber : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedNumber, ParsesToExactValue) {
  const std::optional<double> got = parse_number(GetParam().text);
  ASSERT_TRUE(got.has_value()) << GetParam().text;
  // Bit-exact, so -0 and +0 are told apart.
  EXPECT_EQ(std::signbit(*got), std::signbit(GetParam().value)) << GetParam().text;
  EXPECT_EQ(*got, GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, AcceptedNumber,
    ::testing::Values(Accepted{"1e3", 1000.0}, Accepted{"+2.5", 2.5}, Accepted{"-0", -0.0},
                      Accepted{"0", 0.0}, Accepted{"5.", 5.0}, Accepted{".5", 0.5},
                      Accepted{"-.5", -0.5}, Accepted{"1E+5", 1e5}, Accepted{"2e-1", 0.2},
                      Accepted{"007", 7.0}, Accepted{"1.5E0", 1.5}, Accepted{"inf", kInf},
                      Accepted{"-inf", -kInf}, Accepted{"+Infinity", kInf},
                      Accepted{"iNfInItY", kInf}, Accepted{"INF", kInf}));

INSTANTIATE_TEST_SUITE_P(
    Rounding, AcceptedNumber,
    ::testing::Values(
        Accepted{"0.1", 0x1.999999999999ap-4}, Accepted{"1e23", 0x1.52d02c7e14af6p+76},
        // 2^53 + 1 and 2^53 + 3 are halfway cases: ties go to the even neighbour.
        Accepted{"9007199254740993", 0x1p53}, Accepted{"9007199254740995", 0x1.0000000000002p53},
        // Exactly halfway between 1 and the next double, then one digit past halfway.
        Accepted{"1.00000000000000011102230246251565404236316680908203125", 1.0},
        Accepted{"1.000000000000000111022302462515654042363166809082031250000000001",
                 0x1.0000000000001p0},
        Accepted{"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
        Accepted{"1.7976931348623158e308", 0x1.fffffffffffffp+1023},
        Accepted{"2.4703282292062328e-324", 0x0.0000000000001p-1022}));

// Values outside the double range round to infinity or to zero, keeping their sign.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, AcceptedNumber,
    ::testing::Values(Accepted{"1.7976931348623159e308", kInf}, Accepted{"1e400", kInf},
                      Accepted{"-1e400", -kInf}, Accepted{"0001e309", kInf},
                      Accepted{"1e99999999999999999999999", kInf},
                      Accepted{"2.4703282292062327e-324", 0.0}, Accepted{"1e-400", 0.0},
                      Accepted{"-1e-400", -0.0}, Accepted{"1000e-327", 0.0},
                      Accepted{"0.0000001e-99999999999999999999", 0.0},
                      Accepted{"0e99999999999", 0.0}));

TEST(Number, LongMantissaIsExact) {
  // 800 zeros then a 1: 1e-801, scaled back by 1e801.
  const std::string text = "0." + std::string(800, '0') + "1e801";
  EXPECT_EQ(parse_number(text), 1.0);
}

TEST(Number, NanInAnyCaseAndSign) {
  for (const char* text : {"nan", "NaN", "nAn", "NAN", "+nan", "-NaN"}) {
    const std::optional<double> got = parse_number(text);
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_TRUE(std::isnan(*got)) << text;
  }
}

class RejectedNumber : public ::testing::TestWithParam<const char*> {};

TEST_P(RejectedNumber, IsNotANumber) {
  EXPECT_EQ(parse_number(GetParam()), std::nullopt) << '"' << GetParam() << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, RejectedNumber,
    ::testing::Values("", ".", "+", "-", "+.", "1_000", "0x10", "1,2", "1.2.3", "nan(1)", "1e",
                      "1e+", "e5", ".e5", "++1", "+-1", "infx", "infinit", "in", "nana", " ",
                      " 1", "1 ", "1e5.0", "1f", "1d", "\xef\xbb\xbf" "1", "\xd9\xa1"));

TEST(Number, ParseFieldStopsOnBadField) {
  EXPECT_EQ(fatal_message_of([] { return parse_field("1,5"); }),
            "called `Result::unwrap()` on an `Err` value: ParseFloatError { kind: Invalid }");
  EXPECT_EQ(parse_field("-2.25"), -2.25);
}

// The value of a text fed to LongNumber a character at a time, through its short text.
std::optional<double> long_value(const std::string& text) {
  LongNumber number;
  for (const char c : text) {
    if (!number.feed(c)) return std::nullopt;
  }
  const std::string held = number.text();
  if (held.empty()) return std::nullopt;
  EXPECT_LT(held.size(), 850u);
  return parse_number(held);
}

TEST(LongNumber, KeepsTheValueOfNumbersTooLongToHold) {
  const std::string zeros(5000, '0');
  EXPECT_EQ(long_value("1" + zeros + "e-5000"), 1.0);
  EXPECT_EQ(long_value("-0." + zeros + "25e5002"), -25.0);
  EXPECT_EQ(long_value(zeros + "." + zeros), 0.0);
  EXPECT_TRUE(std::signbit(*long_value("-" + zeros)));
  EXPECT_EQ(long_value("+" + zeros + "7." + zeros), 7.0);
  EXPECT_EQ(long_value("1" + zeros), std::numeric_limits<double>::infinity());
  EXPECT_EQ(long_value("0." + zeros + "1"), 0.0);
  EXPECT_EQ(long_value("1e" + zeros + "9999999999999999999999"), std::numeric_limits<double>::infinity());
  // 2^53 + 1 lies halfway between two doubles: ties go to even, unless any digit however far
  // down says the number is above the tie.
  const std::string tie = "9007199254740993";
  EXPECT_EQ(long_value(tie + "." + zeros), 9007199254740992.0);
  EXPECT_EQ(long_value(tie + "." + zeros + "1"), 9007199254740994.0);
  EXPECT_EQ(long_value(tie + "." + zeros + "1"), parse_number(tie + "." + zeros + "1"));
}

TEST(LongNumber, RefusesWhatIsNotANumber) {
  for (const char* text : {"", ".", "1e", "1e+", "1.2.3", "--1", "1e5.5", ".e1", "inf", "1 2"}) {
    EXPECT_EQ(long_value(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace kestrum
