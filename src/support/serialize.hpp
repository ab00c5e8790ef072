// Little-endian byte encoding of native state: an appending writer and a checked reader.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kestrum {

// Thrown by ByteReader (and by decoders built on it) when the input cannot be a saved
// state. The input may come from anywhere, so this is an expected failure of the input,
// not of the program: the binding turns it into ValueError. Not a std::exception, like
// FatalStop, so only the code that decodes catches it.
struct MalformedState {
  std::string reason;
};

[[noreturn]] inline void malformed(std::string reason) { throw MalformedState{std::move(reason)}; }

// Fixed-width little-endian fields, whatever the host's byte order, so a state written on
// one machine reads the same on another.
class ByteWriter {
 public:
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void boolean(bool v) { u8(v ? 1 : 0); }
  void u32(std::uint32_t v) { put(v, 4); }
  void u64(std::uint64_t v) { put(v, 8); }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
  void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }  // every bit, NaN payloads too
  void count(std::size_t n) { u64(n); }
  // Runs of values (the caller writes their count): one copy on a little-endian host.
  void f64s(std::span<const double> xs) { put_all<std::uint64_t>(xs); }
  void u32s(std::span<const std::uint32_t> xs) { put_all<std::uint32_t>(xs); }
  // A run of floats with its count.
  void floats(std::span<const double> xs) {
    count(xs.size());
    f64s(xs);
  }
  // Bytes another writer produced, as they are.
  void bytes(std::span<const std::uint8_t> xs) { bytes_.insert(bytes_.end(), xs.begin(), xs.end()); }

  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
  [[nodiscard]] std::vector<std::uint8_t> take() && { return std::move(bytes_); }

 private:
  void put(std::uint64_t v, int width) {
    for (int k = 0; k < width; ++k) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  template <class Bits, class T>
  void put_all(std::span<const T> xs) {
    static_assert(sizeof(Bits) == sizeof(T));
    if constexpr (std::endian::native == std::endian::little) {
      const auto* start = reinterpret_cast<const std::uint8_t*>(xs.data());
      bytes_.insert(bytes_.end(), start, start + xs.size_bytes());
    } else {
      for (const T x : xs) put(std::bit_cast<Bits>(x), sizeof(Bits));
    }
  }
  std::vector<std::uint8_t> bytes_;
};

// Reads what ByteWriter wrote. Every read checks the remaining length first; a short input
// or a field out of its domain throws MalformedState, never reads past the end.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) noexcept : data_(data) {}

  [[nodiscard]] std::uint8_t u8() { return static_cast<std::uint8_t>(get(1)); }
  [[nodiscard]] bool boolean() {
    const std::uint8_t v = u8();
    if (v > 1) malformed("a flag byte is " + std::to_string(v) + ", not 0 or 1");
    return v == 1;
  }
  [[nodiscard]] std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
  [[nodiscard]] std::uint64_t u64() { return get(8); }
  [[nodiscard]] std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  [[nodiscard]] std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
  [[nodiscard]] double f64() { return std::bit_cast<double>(u64()); }

  // A count of elements that each take at least `min_bytes_each` further bytes. A count the
  // rest of the input cannot hold is refused before anyone allocates for it, so a forged
  // length cannot ask for gigabytes.
  [[nodiscard]] std::size_t count(std::size_t min_bytes_each) {
    const std::uint64_t n = u64();
    const std::size_t left = remaining();
    if (min_bytes_each == 0 ? n > left : n > left / min_bytes_each) {
      malformed("a length of " + std::to_string(n) + " does not fit in the " + std::to_string(left) +
                " bytes left");
    }
    return static_cast<std::size_t>(n);
  }

  // Fills `out` with as many values as it holds.
  void f64s(std::span<double> out) { get_all<std::uint64_t>(out); }
  void u32s(std::span<std::uint32_t> out) { get_all<std::uint32_t>(out); }
  // What ByteWriter::floats wrote.
  [[nodiscard]] std::vector<double> floats() {
    std::vector<double> xs(count(8));
    f64s(xs);
    return xs;
  }
  // A kind's tag byte, below `count` (the number of kinds `what` has).
  [[nodiscard]] std::uint8_t tag(std::size_t count, const char* what) {
    const std::uint8_t t = u8();
    if (t >= count) malformed(std::string(what) + " tag " + std::to_string(t) + " is unknown");
    return t;
  }

  [[nodiscard]] std::size_t remaining() const noexcept { return data_.size() - pos_; }

  // The whole input must have been used: trailing bytes mean it was not written as read.
  void expect_end() const {
    if (remaining() != 0) malformed(std::to_string(remaining()) + " unexpected bytes at the end");
  }

 private:
  std::uint64_t get(std::size_t width) {
    if (remaining() < width) malformed("the state ends early");
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < width; ++k) v |= std::uint64_t{data_[pos_ + k]} << (8 * k);
    pos_ += width;
    return v;
  }

  template <class Bits, class T>
  void get_all(std::span<T> out) {
    static_assert(sizeof(Bits) == sizeof(T));
    if (remaining() / sizeof(T) < out.size()) malformed("the state ends early");
    if constexpr (std::endian::native == std::endian::little) {
      if (!out.empty()) std::memcpy(out.data(), data_.data() + pos_, out.size_bytes());
      pos_ += out.size_bytes();
    } else {
      for (T& x : out) x = std::bit_cast<T>(static_cast<Bits>(get(sizeof(Bits))));
    }
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace kestrum
