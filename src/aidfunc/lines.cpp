// Buffered line reading with its fatal stops, UTF-8 validation and field splitting.
#include "aidfunc/lines.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "support/fatal.hpp"

namespace kestrum {

namespace {

// Names the error kinds a read(2) can realistically give; anything else is Uncategorized.
[[nodiscard]] const char* error_kind_name(int errno_value) noexcept {
  switch (errno_value) {
    case EPERM:
    case EACCES: return "PermissionDenied";
    case ENOENT: return "NotFound";
    case EINTR: return "Interrupted";
    case EAGAIN: return "WouldBlock";
    case ENOMEM: return "OutOfMemory";
    case EISDIR: return "IsADirectory";
    case ENOTDIR: return "NotADirectory";
    case EINVAL: return "InvalidInput";
    case ESTALE: return "StaleNetworkFileHandle";
    default: return "Uncategorized";
  }
}

// e.g. Os { code: 21, kind: IsADirectory, message: "Is a directory" }
[[noreturn]] void fatal_read_error(int errno_value) {
  fatal("called `Result::unwrap()` on an `Err` value: Os { code: " + std::to_string(errno_value) +
        ", kind: " + error_kind_name(errno_value) + ", message: \"" +
        std::generic_category().message(errno_value) + "\" }");
}

[[nodiscard]] bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// The White_Space code points outside ASCII.
[[nodiscard]] bool is_wide_white_space(char32_t cp) noexcept {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

LineReader::LineReader(FileDescriptor fd) : fd_(std::move(fd)), buffer_(kBufferSize) {}

Result<LineReader> LineReader::open(std::string_view path) {
  // open(2) would silently stop at an embedded NUL and read some other file.
  if (path.find('\0') != std::string_view::npos) {
    return ReaderError::invalid_input("path contains a NUL byte");
  }
  const std::string c_path(path);
  int fd = -1;
  do {
    fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ReaderError::from_errno(errno);
  return LineReader(FileDescriptor(fd));
}

bool LineReader::fill() {
  ssize_t got = -1;
  do {
    got = ::read(fd_.get(), buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) fatal_read_error(errno);
  begin_ = 0;
  end_ = static_cast<std::size_t>(got);
  return got > 0;
}

std::optional<std::string_view> LineReader::next_line() {
  spill_.clear();
  bool started = false;  // at least one byte of this line was read
  std::string_view line;
  bool had_line_feed = false;
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (!started) return std::nullopt;
      line = spill_;
      break;
    }
    started = true;
    const char* const start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const void* const found = std::memchr(start, '\n', available);
    if (found == nullptr) {
      spill_.append(start, available);
      begin_ = end_;
      continue;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(found) - start);
    begin_ += length + 1;
    had_line_feed = true;
    // A line wholly inside the buffer is handed out in place, without a copy.
    if (spill_.empty()) {
      line = std::string_view(start, length);
    } else {
      spill_.append(start, length);
      line = spill_;
    }
    break;
  }
  if (!is_valid_utf8(line)) fatal(kInvalidUtf8Message);
  if (had_line_feed && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    // The second byte's range rules out overlong forms, surrogates and code points past
    // U+10FFFF; later bytes only need to be continuation bytes.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (!is_continuation(p[k])) return false;
    }
    p += length;
  }
  return true;
}

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  const auto* const bytes = reinterpret_cast<const unsigned char*>(line.data());
  const std::size_t size = line.size();
  std::size_t field_start = 0;
  bool in_field = false;
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    bool white = false;
    if (length == 1) {
      white = lead == ' ' || (lead >= 0x09 && lead <= 0x0D);
    } else if (length > size - i) {
      length = 1;  // a truncated sequence (not valid UTF-8): never white space, never overrun
    } else {
      char32_t cp = lead & (0x7Fu >> length);
      for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (bytes[i + k] & 0x3Fu);
      white = is_wide_white_space(cp);
    }
    if (white && in_field) {
      fields.push_back(line.substr(field_start, i - field_start));
      in_field = false;
    } else if (!white && !in_field) {
      field_start = i;
      in_field = true;
    }
    i += length;
  }
  if (in_field) fields.push_back(line.substr(field_start));
}

}  // namespace kestrum
