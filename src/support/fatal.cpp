// Fatal stops are thrown here and caught by the binding's envelope.
#include "support/fatal.hpp"

#include <cstring>
#include <string_view>
#include <utility>

#include "support/shared.hpp"

namespace kestrum {

const char* source_path(const std::source_location& where) noexcept {
  // This file's own name, minus its place in the repository, is the repository's prefix as
  // the compiler wrote it (empty when the build already maps it away).
  static constexpr std::string_view kThisFile = "src/support/fatal.cpp";
  static const std::string_view here = std::source_location::current().file_name();
  const char* file = where.file_name();
  if (here.size() < kThisFile.size() || here.substr(here.size() - kThisFile.size()) != kThisFile) return file;
  const std::string_view prefix = here.substr(0, here.size() - kThisFile.size());
  if (std::strncmp(file, prefix.data(), prefix.size()) != 0) return file;
  return file + prefix.size();
}

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
