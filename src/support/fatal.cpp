// Fatal stops are thrown here and caught by the binding's envelope.
#include "support/fatal.hpp"

#include <utility>

#include "support/shared.hpp"

namespace kestrum {

void fatal(std::string message, std::source_location where) {
  t_unwinding_consistent = false;  // a fatal stop always poisons the locks it unwinds through
  t_fatal_unwinding = true;
  throw FatalStop{std::move(message), where};
}

void fatal_index(std::size_t len, std::size_t index, std::source_location where) {
  fatal("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
            std::to_string(index),
        where);
}

}  // namespace kestrum
