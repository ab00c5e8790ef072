// Saved state of a move type: each simple kind's generator and size, or a MultiNeighbor's members.
#pragma once

#include <cstddef>

#include "problem/move.hpp"
#include "support/serialize.hpp"

namespace kestrum {

void write_move_type(ByteWriter& w, const MoveType& move_type);
[[nodiscard]] MoveType read_move_type(ByteReader& r);
// Whether every neighbourhood of the move type is sized to n positions.
[[nodiscard]] bool sized_to(const MoveType& move_type, std::size_t n);

}  // namespace kestrum
