// Text files line by line through one fixed buffer, UTF-8 checking, and white-space fields.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace kestrum {

// The fatal stop for a line that is not UTF-8.
inline constexpr const char* kInvalidUtf8Message =
    "called `Result::unwrap()` on an `Err` value: "
    "Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }";

// Owns an open file descriptor; closes it on every path out, including a fatal stop.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  [[nodiscard]] int get() const noexcept { return fd_; }

 private:
  int fd_;
};

class LineReader {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  // Opens `path` for reading; the operating system's refusal comes back as a value.
  [[nodiscard]] static Result<LineReader> open(std::string_view path);

  // The next line without its line feed and the carriage return directly before it; the
  // last line may lack the line feed. nullopt at the end of the file. The view is valid
  // until the next call. A read error or a line that is not UTF-8 is a fatal stop.
  [[nodiscard]] std::optional<std::string_view> next_line();

 private:
  explicit LineReader(FileDescriptor fd);
  [[nodiscard]] bool fill();  // false at end of file

  FileDescriptor fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::string spill_;  // a line that crosses a buffer refill is assembled here
};

[[nodiscard]] bool is_valid_utf8(std::string_view text) noexcept;

// Lines holding '#' anywhere are dropped whole, numbers before the '#' included.
[[nodiscard]] inline bool is_comment(std::string_view line) noexcept {
  return line.find('#') != std::string_view::npos;
}

// Replaces `fields` with the pieces of `line` between runs of Unicode White_Space; no empty
// pieces. `line` must be valid UTF-8. U+FEFF is not white space and stays in its field.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

}  // namespace kestrum
