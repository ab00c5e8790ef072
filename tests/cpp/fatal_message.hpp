// The message of the fatal stop a callable ends with, for tests of failure paths.
#pragma once

#include <string>

#include "support/fatal.hpp"

namespace kestrum {

// "<no fatal stop>" when the callable returns normally, so an expectation on the message
// fails with a readable difference.
inline std::string fatal_message_of(auto&& body) {
  try {
    (void)body();
  } catch (const FatalStop& stop) {
    return stop.message;
  }
  return "<no fatal stop>";
}

}  // namespace kestrum
