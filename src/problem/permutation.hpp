// The permutation check that every solution handed to a problem passes, and random starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "support/word.hpp"

namespace kestrum {

// Why `entries` is not a permutation of 0..n-1, or nothing when it is. The first fault in
// position order is named: a wrong length, a value out of range, or a value seen twice.
[[nodiscard]] std::optional<std::string> permutation_error(std::span<const std::int64_t> entries,
                                                           std::size_t n);
[[nodiscard]] std::optional<std::string> permutation_error(std::span<const std::uint32_t> entries,
                                                           std::size_t n);

// Makes `out` a uniformly random permutation of 0..size-1 that depends only on `seed` and
// the size: the identity, then a Fisher-Yates shuffle from the last position down. Its
// generator is its own, derived from the seed so that its draws are unrelated to those of
// a move type seeded with the same number.
void random_permutation(std::span<Word> out, std::uint64_t seed);

}  // namespace kestrum
