// Saved state of a criterion: its tag, its fields, and a combination's children in order.
#pragma once

#include <cstddef>

#include "support/serialize.hpp"
#include "termination/termination_function.hpp"

namespace kestrum {

// Combinations may nest; a criterion deeper than this (the top level counts as 1) is refused
// on both sides. Writing, reading and dropping a criterion walk it with a stack of their own,
// so even this depth needs no more than a few frames of the caller's stack.
inline constexpr std::size_t kMaxCriterionDepth = 1000;

// The criterion's nesting depth (1 for one that is not a combination), found without recursion.
[[nodiscard]] std::size_t criterion_depth(const TerminationFunction& criterion);

// Appends the criterion, however deep, and returns its depth; a state deeper than
// kMaxCriterionDepth must not be handed out (check_criterion_depth).
std::size_t write_criterion(ByteWriter& w, const TerminationFunction& criterion);
// Throws MalformedState when `depth` exceeds kMaxCriterionDepth.
void check_criterion_depth(std::size_t depth);
// Reads one criterion, validating tags, flags, counts, instants and depth.
[[nodiscard]] TerminationFunction read_criterion(ByteReader& r);

}  // namespace kestrum
