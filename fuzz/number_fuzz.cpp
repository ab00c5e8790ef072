// Fuzz target: the number grammar against an independent matcher, its value against strtod.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "aidfunc/number.hpp"
#include "fuzz_support.hpp"
#include "support/fatal.hpp"

namespace {

using kestrum::fuzz::check;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[k]) return false;
  }
  return true;
}

// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], or [+-] inf|infinity|nan.
bool in_grammar(std::string_view s) {
  std::size_t k = 0;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
  const std::string_view body = s.substr(k);
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity") ||
      equals_ignoring_case(body, "nan")) {
    return true;
  }
  std::size_t digits = 0;
  while (k < s.size() && is_digit(s[k])) ++k, ++digits;
  if (k < s.size() && s[k] == '.') {
    ++k;
    while (k < s.size() && is_digit(s[k])) ++k, ++digits;
  }
  if (digits == 0) return false;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    std::size_t exponent_digits = 0;
    while (k < s.size() && is_digit(s[k])) ++k, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return k == s.size();
}

}  // namespace

// A long number read a character at a time must keep its value: its short text parses to the
// same double, and a text LongNumber gives up on is not a number of the digit form.
void check_long_number(std::string_view field, const std::optional<double>& parsed) {
  kestrum::LongNumber number;
  bool alive = true;
  for (const char c : field) alive = alive && number.feed(c);
  const std::string text = alive ? number.text() : std::string();
  const bool word = field.find_first_of("aAfFiInNtTyY") != std::string_view::npos;
  if (text.empty()) {
    check(!parsed || word, "LongNumber refused a number", field);
    return;
  }
  check(parsed.has_value(), "LongNumber accepted a field that is not a number", field);
  const std::optional<double> reparsed = kestrum::parse_number(text);
  check(reparsed.has_value() && kestrum::fuzz::same_bits(*reparsed, *parsed),
        "LongNumber changed the value", field);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view field(reinterpret_cast<const char*>(data), size);
  const std::optional<double> parsed = kestrum::parse_number(field);
  check(parsed.has_value() == in_grammar(field), "grammar disagrees with the matcher", field);
  check_long_number(field, parsed);

  if (!parsed) {
    try {
      (void)kestrum::parse_field(field);
      kestrum::fuzz::fail("parse_field accepted a rejected field", field);
    } catch (const kestrum::FatalStop& stop) {
      check(stop.message == kestrum::kParseFloatMessage, "wrong parse_field message", stop.message);
    }
    return 0;
  }

  // glibc's strtod rounds correctly to nearest-even in the C locale, which is what a program
  // has before it calls setlocale. Every field of the grammar is a complete strtod number.
  const std::string copy(field);
  char* end = nullptr;
  errno = 0;
  const double expected = std::strtod(copy.c_str(), &end);
  check(end == copy.c_str() + copy.size(), "strtod stopped early", field);
  if (std::isnan(expected)) {
    check(std::isnan(*parsed), "expected NaN", field);
  } else {
    check(kestrum::fuzz::same_bits(*parsed, expected), "value differs from strtod", field);
  }
  check(kestrum::fuzz::same_bits(kestrum::parse_field(field), *parsed), "parse_field differs", field);
  return 0;
}
