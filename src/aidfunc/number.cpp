// Number fields: the grammar is checked here, the digits are converted by std::from_chars.
#include "aidfunc/number.hpp"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>

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

}  // namespace kestrum
