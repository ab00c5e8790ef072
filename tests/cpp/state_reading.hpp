// Reading saved bytes in the state tests: a whole input through one reader, and the reason a
// reader gives for refusing one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/serialize.hpp"

namespace kestrum {

// What `read` makes of all of `bytes`; bytes it leaves over are a refusal too.
template <class Read>
auto read_whole(const std::vector<std::uint8_t>& bytes, Read read) {
  ByteReader r(bytes);
  auto value = read(r);
  r.expect_end();
  return value;
}

// The reason `read` refuses `bytes` with, or "" when it takes them.
template <class Read>
std::string reason_of(const std::vector<std::uint8_t>& bytes, Read read) {
  try {
    (void)read_whole(bytes, read);
  } catch (const MalformedState& m) {
    return m.reason;
  }
  return "";
}

}  // namespace kestrum
