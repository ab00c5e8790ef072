// Number fields: the grammar is checked here, the digits are converted by std::from_chars.
#include "aidfunc/number.hpp"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "support/fatal.hpp"

namespace kestrum {

namespace {

[[nodiscard]] bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// `word` is lower case.
[[nodiscard]] bool equals_ignoring_case(std::string_view text, std::string_view word) noexcept {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// Caps a decimal exponent far outside the double range; the only use is telling an
// overflow from an underflow, and those are more than 600 decades apart.
constexpr std::int64_t kExponentCap = 1'000'000'000'000;

// Checks an unsigned body: digits with at most one point and at least one digit, then an
// optional exponent. Returns the decimal exponent of the value's leading non-zero digit
// (123.4 -> 2, 0.05 -> -2, 5e10 -> 10; anything for zero), used to tell an overflow from an
// underflow; nullopt if the body is not in the grammar.
[[nodiscard]] std::optional<std::int64_t> scan_decimal(std::string_view body) {
  bool all_zero = true;
  std::size_t i = 0;
  std::int64_t digits = 0;
  std::int64_t integer_digits = 0;
  std::int64_t first_non_zero = 0;  // index among all digits, when !all_zero
  bool seen_point = false;
  for (; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '.') {
      if (seen_point) return std::nullopt;
      seen_point = true;
      continue;
    }
    if (!is_digit(c)) break;
    if (c != '0' && all_zero) {
      all_zero = false;
      first_non_zero = digits;
    }
    ++digits;
    if (!seen_point) ++integer_digits;
  }
  if (digits == 0) return std::nullopt;
  // 123.4: 3 - 1 - 0 = 2;  0.05: 1 - 1 - 2 = -2;  .05: 0 - 1 - 1 = -2.
  const std::int64_t leading = integer_digits - 1 - first_non_zero;

  std::int64_t exponent = 0;
  if (i < body.size()) {
    if (body[i] != 'e' && body[i] != 'E') return std::nullopt;
    ++i;
    bool negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) negative = body[i++] == '-';
    if (i == body.size()) return std::nullopt;
    for (; i < body.size(); ++i) {
      if (!is_digit(body[i])) return std::nullopt;
      if (exponent < kExponentCap) exponent = exponent * 10 + (body[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return leading + exponent;
}

}  // namespace

std::optional<double> parse_number(std::string_view field) {
  bool negative = false;
  std::string_view body = field;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  double value = 0.0;
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    value = std::numeric_limits<double>::infinity();
  } else if (equals_ignoring_case(body, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else {
    const std::optional<std::int64_t> magnitude = scan_decimal(body);
    if (!magnitude) return std::nullopt;
    // from_chars rounds correctly; the sign is applied afterwards because it takes no '+',
    // and negating is exact since rounding to nearest is symmetric.
    const char* const end = body.data() + body.size();
    const auto [ptr, ec] = std::from_chars(body.data(), end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
      // The value is left untouched then; out of range means it rounds to inf or to 0.
      value = *magnitude >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc{} || ptr != end) {
      return std::nullopt;  // the grammar above is narrower than from_chars'; not reached
    }
  }
  return negative ? -value : value;
}

double parse_field(std::string_view field) {
  const std::optional<double> value = parse_number(field);
  if (!value) fatal(kParseFloatMessage);
  return *value;
}

namespace {

// Counts that would only pass this with more input than any file holds.
constexpr std::int64_t kCountCap = std::int64_t{1} << 60;

void count(std::int64_t& n) noexcept {
  if (n < kCountCap) ++n;
}

}  // namespace

bool LongNumber::feed(char c) {
  const bool digit = is_digit(c);
  switch (state_) {
    case State::Start:
      if (c == '+' || c == '-') {
        negative_ = c == '-';
        state_ = State::Sign;
        return true;
      }
      [[fallthrough]];
    case State::Sign:
    case State::Mantissa:
      if (digit) {
        state_ = State::Mantissa;
        any_digit_ = true;
        if (!point_) count(before_point_);
        if (digits_.empty() && c == '0') {
          count(leading_zeros_);
        } else if (digits_.size() < kKeptDigits) {
          digits_ += c;
        } else if (c != '0') {
          sticky_ = true;
        }
        return true;
      }
      if (c == '.' && !point_) {
        point_ = true;
        state_ = State::Mantissa;
        return true;
      }
      if ((c == 'e' || c == 'E') && any_digit_) {
        state_ = State::Exponent;
        return true;
      }
      break;
    case State::Exponent:
      if (c == '+' || c == '-') {
        exponent_negative_ = c == '-';
        state_ = State::ExponentSign;
        return true;
      }
      [[fallthrough]];
    case State::ExponentSign:
    case State::ExponentDigits:
      if (digit) {
        state_ = State::ExponentDigits;
        if (exponent_ < kExponentCap) exponent_ = exponent_ * 10 + (c - '0');
        return true;
      }
      break;
    case State::Dead: break;
  }
  state_ = State::Dead;
  return false;
}

std::string LongNumber::text() const {
  const bool complete = (state_ == State::Mantissa && any_digit_) || state_ == State::ExponentDigits;
  if (!complete) return {};
  std::string out = negative_ ? "-" : "";
  if (digits_.empty()) return out + "0";
  // 0.d1d2d3... times ten to the power of the digits before the point, less the zeros ahead
  // of the first significant digit, plus the written exponent.
  const std::int64_t power =
      before_point_ - leading_zeros_ + (exponent_negative_ ? -exponent_ : exponent_);
  out += "0.";
  out += digits_;
  if (sticky_) out += '1';
  out += 'e';
  out += std::to_string(power);
  return out;
}

}  // namespace kestrum
