// Decimal number fields of the data files: the accepted grammar and its correctly rounded value.
#pragma once

#include <optional>
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

}  // namespace kestrum
