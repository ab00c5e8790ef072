// Fatal stops: an operation is abandoned with a fixed message that Python sees as PanicException.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>

namespace kestrum {

// Thrown by fatal() and caught only by the binding's envelope. Deliberately not a
// std::exception, so nothing but the envelope can swallow it by accident.
struct FatalStop {
  std::string message;
  std::source_location where;
};

// The source file of `where` relative to the repository ("src/problem/move.cpp"), however
// the compiler spelled it: the build machine's directories are no one else's business. A
// file outside the repository keeps its full name.
[[nodiscard]] const char* source_path(const std::source_location& where) noexcept;

[[noreturn]] void fatal(std::string message,
                        std::source_location where = std::source_location::current());

// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void fatal_index(std::size_t len, std::size_t index,
                              std::source_location where = std::source_location::current());

// Bounds-checked element access with the index-out-of-range stop.
template <class Container>
[[nodiscard]] inline decltype(auto) at(Container& c, std::size_t index,
                                       std::source_location where = std::source_location::current()) {
  if (index >= c.size()) fatal_index(c.size(), index, where);
  return c[index];
}

inline constexpr const char* kPoisonedMessage =
    "called `Result::unwrap()` on an `Err` value: PoisonError { .. }";

}  // namespace kestrum
