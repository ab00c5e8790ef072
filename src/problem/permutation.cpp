// The permutation check: one walk that remembers where each value was first seen.
#include "problem/permutation.hpp"

#include <type_traits>
#include <vector>

namespace kestrum {

namespace {

template <class Int>
std::optional<std::string> first_fault(std::span<const Int> entries, std::size_t n) {
  if (entries.size() != n) {
    return "the permutation has " + std::to_string(entries.size()) + " entries but the problem has " +
           std::to_string(n) + " positions";
  }
  std::vector<std::size_t> seen_at(n, n);
  for (std::size_t k = 0; k < n; ++k) {
    const Int v = entries[k];
    bool negative = false;
    if constexpr (std::is_signed_v<Int>) negative = v < 0;
    if (negative || static_cast<std::uint64_t>(v) >= n) {
      return "value at position " + std::to_string(k) + " is out of range: the values must be 0 to " +
             std::to_string(n) + " - 1";
    }
    std::size_t& first = seen_at[static_cast<std::size_t>(v)];
    if (first != n) {
      return "value " + std::to_string(v) + " is repeated at positions " + std::to_string(first) + " and " +
             std::to_string(k);
    }
    first = k;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> permutation_error(std::span<const std::int64_t> entries, std::size_t n) {
  return first_fault(entries, n);
}

std::optional<std::string> permutation_error(std::span<const std::uint32_t> entries, std::size_t n) {
  return first_fault(entries, n);
}

}  // namespace kestrum
