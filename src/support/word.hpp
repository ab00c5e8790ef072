// The machine word of solutions and moves: positions and values are unsigned 32-bit.
#pragma once

#include <cstdint>

namespace kestrum {

using Word = std::uint32_t;

inline constexpr Word kWordMax = UINT32_MAX;

}  // namespace kestrum
