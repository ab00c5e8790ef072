// Saved state of an evaluation: its tag and its data (weights and capacity, matrices, points,
// or a custom evaluation's size and score function index).
#pragma once

#include "problem/evaluation.hpp"
#include "support/serialize.hpp"

namespace kestrum {

// The tag written is Evaluation::Tag's value: tags are only ever appended.
void write_evaluation(ByteWriter& w, const Evaluation& evaluation);
// Rebuilds through the constructors, which recompute what is derived (the symmetry flags);
// a tour matrix too ragged for the symmetry walk is refused as malformed.
[[nodiscard]] Evaluation read_evaluation(ByteReader& r);

}  // namespace kestrum
