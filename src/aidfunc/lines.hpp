// Text files as a stream of white-space separated fields and line ends, through one fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "aidfunc/number.hpp"
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

// Opens `path` read-only. A call interrupted by a signal runs the signal handlers and is retried,
// unless a handler asked to stop (then Interrupted is thrown, as from every blocking call here).
// The operating system's refusal comes back as a value.
[[nodiscard]] Result<FileDescriptor> open_for_reading(std::string_view path);

// read(2) into `buffer` with the same handling of signals: the count read (0 at the end of
// the file), or the operating system's error.
[[nodiscard]] Result<std::size_t> read_some(const FileDescriptor& fd, std::span<char> buffer);

// Hands out a file's fields (the pieces between runs of Unicode White_Space) and line ends,
// decoding UTF-8 as it goes, in bounded memory whatever the input: a long field that cannot be
// a number is handed out cut (its first kCutLength bytes) as soon as that is clear, and the
// rest of it is skipped unseen; a number longer than kLongNumber is kept as its value only and
// handed out as a short text of the same value. So an endless line, /dev/zero included, is
// read in constant memory, and readers that refuse a bad field at once (the library formats)
// stop at once.
//
// Signal handlers run whenever a blocked call is interrupted and every kCheckEvery buffer
// fills: input that never blocks can be stopped too.
class FieldReader {
 public:
  static constexpr std::size_t kBufferSize = 8192;
  static constexpr std::size_t kMinBufferSize = 8;
  static constexpr std::size_t kCutLength = 64;
  static constexpr std::size_t kLongNumber = 4096;
  static constexpr unsigned kCheckEvery = 8;

  enum class Token {
    Field,        // field() is the text
    LineEnd,      // a line feed, or the end of a last line that has no line feed
    End,          // the end of the file
    ReadError,    // the operating system's error: read_errno()
    InvalidUtf8,  // the current line is not UTF-8
  };

  // `buffer_size` (at least kMinBufferSize) changes where refills fall and nothing else:
  // tests and the fuzz target make it small so that short inputs cross many of them.
  [[nodiscard]] static Result<FieldReader> open(std::string_view path,
                                                std::size_t buffer_size = kBufferSize);

  // After ReadError or InvalidUtf8 the reader must not be called again.
  [[nodiscard]] Token next();

  // The last field, valid until the next call. A line feed never belongs to a field; a
  // carriage return is white space, so "\r\n" ends a line like "\n".
  [[nodiscard]] std::string_view field() const noexcept { return field_; }
  // The last field was cut (and so is not a number).
  [[nodiscard]] bool cut() const noexcept { return cut_; }
  // The number of the line the last token belongs to, from 1 (1 for an empty file; at End,
  // the last line's).
  [[nodiscard]] std::size_t line() const noexcept { return line_; }
  // At LineEnd: the line holds a '#' somewhere (in a field or a cut part of one).
  [[nodiscard]] bool line_has_hash() const noexcept { return hash_; }
  [[nodiscard]] int read_errno() const noexcept { return errno_; }

 private:
  FieldReader(FileDescriptor fd, std::size_t buffer_size);

  // Makes at least 4 bytes available past pos_ unless the file ends first; false on a read error.
  [[nodiscard]] bool refill();
  // Adds buffer_[field_start_, pos_) to the spilled part of the open field.
  void spill();
  [[nodiscard]] Token finish_field();
  [[nodiscard]] Token cut_field();

  FileDescriptor fd_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;  // the next byte to decode
  std::size_t end_ = 0;  // bytes held are buffer_[0, end_)
  bool eof_ = false;
  unsigned fills_ = 0;

  bool in_field_ = false;
  bool skipping_ = false;  // inside a field already handed out cut
  std::size_t field_start_ = 0;
  std::string spill_;  // the start of an open field that crossed a refill
  std::uint8_t shape_ = 0;  // how far spill_ still follows the shape of a decimal number
  bool long_ = false;       // past kLongNumber: the value is in number_, spill_ keeps the start
  LongNumber number_;
  std::string_view field_;
  bool cut_ = false;

  std::size_t line_ = 1;
  bool line_ended_ = false;  // the last token was LineEnd for a line feed
  bool line_started_ = false;
  bool hash_ = false;
  int errno_ = 0;
};

[[nodiscard]] bool is_valid_utf8(std::string_view text) noexcept;

// The longest prefix of valid UTF-8 `text` of at most `max` bytes that ends on a character.
[[nodiscard]] std::string_view utf8_prefix(std::string_view text, std::size_t max) noexcept;

// Replaces `fields` with the pieces of `line` between runs of Unicode White_Space; no empty
// pieces. `line` must be valid UTF-8. U+FEFF is not white space and stays in its field.
// (FieldReader splits the same way; this line-at-a-time form serves as its reference.)
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

}  // namespace kestrum
