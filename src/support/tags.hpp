// Closed sets of kinds: the stop after a switch that names every tag of one.
#pragma once

#include <string>
#include <type_traits>

#include "support/fatal.hpp"

namespace kestrum {

// Each closed set (evaluations, move types, criteria, searches) has an enum class tag, and
// each operation is one switch on it with no default, so -Wswitch names every switch a new
// kind must join. The switch returns from every case; control reaches the line after it only
// if the tag holds a value outside the enumeration (a corrupted object), and that is a stop,
// never a guess at the most likely kind.
template <class Tag>
[[noreturn]] void unknown_tag(const char* set, Tag tag) {
  fatal(std::string("unknown ") + set + " tag " +
        std::to_string(static_cast<unsigned long long>(static_cast<std::underlying_type_t<Tag>>(tag))));
}

}  // namespace kestrum
