// Opening and reading files with their signal handling, the field stream, UTF-8 and white space.
#include "aidfunc/lines.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "support/interrupt.hpp"

namespace kestrum {

namespace {

[[nodiscard]] bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// The White_Space code points outside ASCII.
[[nodiscard]] bool is_wide_white_space(char32_t cp) noexcept {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// The length of the UTF-8 sequence at p (1 to 4), or 0 if it is not valid there; `available`
// bytes may be read. The second byte's range rules out overlong forms, surrogates and code
// points past U+10FFFF; later bytes only need to be continuation bytes.
[[nodiscard]] std::size_t sequence_length(const unsigned char* p, std::size_t available) noexcept {
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
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
    return 0;
  }
  if (available < length) return 0;
  if (p[1] < low || p[1] > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!is_continuation(p[k])) return 0;
  }
  return length;
}

// The code point of a valid sequence of `length` bytes.
[[nodiscard]] char32_t decode(const unsigned char* p, std::size_t length) noexcept {
  if (length == 1) return p[0];
  char32_t cp = p[0] & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (p[k] & 0x3Fu);
  return cp;
}

[[nodiscard]] bool is_ascii_white_space(unsigned char byte) noexcept {
  return byte == ' ' || (byte >= 0x09 && byte <= 0x0D);
}

// How far a field still follows [+-] digits-and-point [eE [+-] digits]: the only shape a long
// number can have (the words inf, infinity and nan are short). The field is judged only once
// it is longer than kJudgedLength, so those words are never cut.
enum Shape : std::uint8_t { kStart, kSign, kMantissa, kMantissaPoint, kExponent, kExponentSign,
                            kExponentDigits, kNotANumber };
constexpr std::size_t kJudgedLength = 256;

[[nodiscard]] std::uint8_t next_shape(std::uint8_t shape, char c) noexcept {
  const bool digit = c >= '0' && c <= '9';
  switch (shape) {
    case kStart:
      if (c == '+' || c == '-') return kSign;
      [[fallthrough]];
    case kSign:
      if (digit) return kMantissa;
      return c == '.' ? kMantissaPoint : kNotANumber;
    case kMantissa:
      if (digit) return kMantissa;
      if (c == '.') return kMantissaPoint;
      return c == 'e' || c == 'E' ? kExponent : kNotANumber;
    case kMantissaPoint:
      if (digit) return kMantissaPoint;
      return c == 'e' || c == 'E' ? kExponent : kNotANumber;
    case kExponent:
      if (c == '+' || c == '-') return kExponentSign;
      [[fallthrough]];
    case kExponentSign:
    case kExponentDigits:
      return digit ? kExponentDigits : kNotANumber;
    default:
      return kNotANumber;
  }
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

Result<FileDescriptor> open_for_reading(std::string_view path) {
  // open(2) would silently stop at an embedded NUL and read some other file.
  if (path.find('\0') != std::string_view::npos) {
    return ReaderError::invalid_input("path contains a NUL byte");
  }
  const std::string c_path(path);
  for (;;) {
    const int fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return FileDescriptor(fd);
    // A FIFO with no writer blocks here until a signal arrives.
    if (errno != EINTR) return ReaderError::from_errno(errno);
    throw_if_interrupted();
  }
}

Result<std::size_t> read_some(const FileDescriptor& fd, std::span<char> buffer) {
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return ReaderError::from_errno(errno);
    throw_if_interrupted();
  }
}

FieldReader::FieldReader(FileDescriptor fd, std::size_t buffer_size)
    : fd_(std::move(fd)), buffer_(std::max(buffer_size, kMinBufferSize)) {}

Result<FieldReader> FieldReader::open(std::string_view path, std::size_t buffer_size) {
  Result<FileDescriptor> fd = open_for_reading(path);
  if (!fd.ok()) return std::move(fd).error();
  return FieldReader(std::move(fd).value(), buffer_size);
}

void FieldReader::spill() {
  if (skipping_) return;
  const std::string_view part(buffer_.data() + field_start_, pos_ - field_start_);
  field_start_ = pos_;
  if (long_) {
    for (const char c : part) {
      if (!number_.feed(c)) {
        shape_ = kNotANumber;
        return;
      }
    }
    return;
  }
  for (const char c : part) shape_ = next_shape(shape_, c);
  spill_.append(part);
  if (spill_.size() > kLongNumber && shape_ != kNotANumber) {
    // Too long to hold: go on with its value, and keep its start for a message.
    long_ = true;
    number_ = LongNumber{};
    for (const char c : spill_) static_cast<void>(number_.feed(c));
    spill_.resize(utf8_prefix(spill_, kCutLength).size());
  }
}

bool FieldReader::refill() {
  if (in_field_) spill();
  // The bytes not decoded yet (part of a character) move to the front.
  const std::size_t kept = end_ - pos_;
  std::memmove(buffer_.data(), buffer_.data() + pos_, kept);
  pos_ = 0;
  field_start_ = 0;
  end_ = kept;
  if (++fills_ % kCheckEvery == 0) throw_if_interrupted();
  Result<std::size_t> got = read_some(fd_, std::span<char>(buffer_).subspan(end_));
  if (!got.ok()) {
    errno_ = got.error().os_errno;
    return false;
  }
  if (got.value() == 0) eof_ = true;
  end_ += got.value();
  return true;
}

FieldReader::Token FieldReader::finish_field() {
  in_field_ = false;
  cut_ = false;
  if (spill_.empty()) {
    field_ = std::string_view(buffer_.data() + field_start_, pos_ - field_start_);
    return Token::Field;
  }
  spill();
  if (long_) {
    std::string value = number_.text();
    if (shape_ == kNotANumber || value.empty()) return cut_field();
    spill_ = std::move(value);
  }
  field_ = spill_;
  return Token::Field;
}

FieldReader::Token FieldReader::cut_field() {
  spill_.resize(utf8_prefix(spill_, kCutLength).size());
  in_field_ = false;
  field_ = spill_;
  cut_ = true;
  return Token::Field;
}

FieldReader::Token FieldReader::next() {
  if (!in_field_) spill_.clear();
  for (;;) {
    if (end_ - pos_ < 4 && !eof_) {
      if (!refill()) return Token::ReadError;
      continue;
    }
    if (pos_ == end_) {
      if (in_field_) return finish_field();
      skipping_ = false;
      if (line_started_) {
        line_started_ = false;
        return Token::LineEnd;  // a last line without a line feed
      }
      return Token::End;
    }
    if (line_ended_) {  // the first byte of the next line: only now does it exist
      line_ended_ = false;
      ++line_;
      hash_ = false;
    }
    const auto* const p = reinterpret_cast<const unsigned char*>(buffer_.data()) + pos_;
    std::size_t length = 1;
    bool white = false;
    if (*p < 0x80) {
      if (*p == '\n') {
        if (in_field_) return finish_field();
        skipping_ = false;
        ++pos_;
        line_started_ = false;
        line_ended_ = true;
        return Token::LineEnd;
      }
      if (*p == '#') hash_ = true;
      white = is_ascii_white_space(*p);
    } else {
      length = sequence_length(p, end_ - pos_);
      if (length == 0) return Token::InvalidUtf8;
      white = is_wide_white_space(decode(p, length));
    }
    line_started_ = true;
    if (white) {
      if (in_field_) return finish_field();
      skipping_ = false;
    } else if (!in_field_ && !skipping_) {
      in_field_ = true;
      field_start_ = pos_;
      shape_ = kStart;
      long_ = false;
    }
    pos_ += length;
    if (in_field_ && shape_ == kNotANumber && (long_ || spill_.size() > kJudgedLength)) {
      // Hand the field out now, cut, and skip the rest of it.
      skipping_ = true;
      return cut_field();
    }
  }
}

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const std::size_t length = sequence_length(p, static_cast<std::size_t>(end - p));
    if (length == 0) return false;
    p += length;
  }
  return true;
}

std::string_view utf8_prefix(std::string_view text, std::size_t max) noexcept {
  if (text.size() <= max) return text;
  std::size_t size = max;
  while (size > 0 && is_continuation(static_cast<unsigned char>(text[size]))) --size;
  return text.substr(0, size);
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
