// The permutation check: one walk that remembers where each value was first seen.
#include "problem/permutation.hpp"

#include <numeric>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/rng.hpp"

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

void random_permutation(std::span<Word> out, std::uint64_t seed) {
  // A fixed odd constant flips the seed's bits before expansion: seed k for the start and
  // seed k for the moves (as benchmark gives both) draw from different streams.
  constexpr std::uint64_t kStartStream = 0x5eed'57a7'0f5a'1e5bULL;
  Xoshiro128pp rng = Xoshiro128pp::from_seed(seed ^ kStartStream);
  std::iota(out.begin(), out.end(), Word{0});
  // Position k takes a value drawn from positions 0..k: k = size-1 down to 1.
  for (std::size_t k = out.size(); k > 1; --k) {
    const Word j = rng.range(0, static_cast<Word>(k));
    std::swap(out[k - 1], out[j]);
  }
}

}  // namespace kestrum
