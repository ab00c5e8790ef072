// The permutation check that every solution handed to a problem passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrum {

// Why `entries` is not a permutation of 0..n-1, or nothing when it is. The first fault in
// position order is named: a wrong length, a value out of range, or a value seen twice.
[[nodiscard]] std::optional<std::string> permutation_error(std::span<const std::int64_t> entries,
                                                           std::size_t n);
[[nodiscard]] std::optional<std::string> permutation_error(std::span<const std::uint32_t> entries,
                                                           std::size_t n);

}  // namespace kestrum
