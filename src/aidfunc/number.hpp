// Decimal number fields of the data files: the accepted grammar and its correctly rounded value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum {

inline constexpr const char* kParseFloatMessage =
    "called `Result::unwrap()` on an `Err` value: ParseFloatError { kind: Invalid }";

// Accepts exactly: [+-] then either digits with at most one point and at least one digit,
// optionally followed by [eE][+-]digits+, or one of "inf", "infinity", "nan" in any case.
// Anything else (spaces, separators, hex, underscores, "nan(...)") gives nullopt. The value
// is the nearest double, ties to even; magnitudes beyond the range become inf or 0.
[[nodiscard]] std::optional<double> parse_number(std::string_view field);

// parse_number, or the ParseFloatError fatal stop for a field that is not a number.
[[nodiscard]] double parse_field(std::string_view field);

// A number field too long to hold, read a character at a time in bounded memory: it keeps the
// first kKeptDigits significant digits, whether any later digit is not zero, and the decimal
// exponent. That decides the nearest double exactly (no double needs more than 767 significant
// digits to be told from its neighbours). Only the digit form is read; the words (inf, nan)
// are short enough to be held whole.
class LongNumber {
 public:
  static constexpr std::size_t kKeptDigits = 800;

  // Takes the next character; false (and from then on) once the text cannot be a number.
  bool feed(char c);
  // A short text that parse_number reads to the same value as the whole text fed so far, or
  // an empty text if what was fed is not (yet) a complete number.
  [[nodiscard]] std::string text() const;

 private:
  enum class State : std::uint8_t { Start, Sign, Mantissa, Exponent, ExponentSign, ExponentDigits, Dead };

  State state_ = State::Start;
  bool negative_ = false;
  bool point_ = false;
  bool any_digit_ = false;
  std::string digits_;        // significant digits, leading zeros dropped
  bool sticky_ = false;       // a non-zero digit after the kept ones
  std::int64_t before_point_ = 0;   // mantissa digits before the point (capped)
  std::int64_t leading_zeros_ = 0;  // zero digits before the first significant one (capped)
  bool exponent_negative_ = false;
  std::int64_t exponent_ = 0;       // capped
};

}  // namespace kestrum
