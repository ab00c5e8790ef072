// Numeric buffers as doubles.
#include "lib/buffers.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include <sys/mman.h>

namespace kestrum::py {
namespace {

class Buffer {
 public:
  explicit Buffer(PyObject* o) {
    ok_ = PyObject_GetBuffer(o, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0;
    if (!ok_) PyErr_Clear();
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (ok_) PyBuffer_Release(&view_);
  }
  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] const Py_buffer& view() const { return view_; }

 private:
  Py_buffer view_{};
  bool ok_ = false;
};

template <class T>
bool append_as_double(std::size_t itemsize, const void* data, std::size_t count, std::vector<double>& out) {
  if (itemsize != sizeof(T)) return false;  // e.g. '=l' is 4 bytes where long is 8
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t k = 0; k < count; ++k) {
    T v;
    std::memcpy(&v, p + k * sizeof(T), sizeof(T));  // buffers need not be aligned
    out.push_back(static_cast<double>(v));
  }
  return true;
}

// Appends and returns true for a native-order format we know; false otherwise.
bool append_format(char code, std::size_t itemsize, const void* data, std::size_t count,
                   std::vector<double>& out) {
  switch (code) {
    case 'd':
      if (itemsize != sizeof(double)) return false;
      if (reinterpret_cast<std::uintptr_t>(data) % alignof(double) == 0) {
        const auto* first = static_cast<const double*>(data);
        out.insert(out.end(), first, first + count);  // one memmove, no zero-filling
        return true;
      }
      return append_as_double<double>(itemsize, data, count, out);
    case 'f': return append_as_double<float>(itemsize, data, count, out);
    case '?': return append_as_double<bool>(itemsize, data, count, out);
    case 'b': return append_as_double<signed char>(itemsize, data, count, out);
    case 'B': return append_as_double<unsigned char>(itemsize, data, count, out);
    case 'h': return append_as_double<short>(itemsize, data, count, out);
    case 'H': return append_as_double<unsigned short>(itemsize, data, count, out);
    case 'i': return append_as_double<int>(itemsize, data, count, out);
    case 'I': return append_as_double<unsigned int>(itemsize, data, count, out);
    case 'l': return append_as_double<long>(itemsize, data, count, out);
    case 'L': return append_as_double<unsigned long>(itemsize, data, count, out);
    case 'q': return append_as_double<long long>(itemsize, data, count, out);
    case 'Q': return append_as_double<unsigned long long>(itemsize, data, count, out);
    default: return false;
  }
}

// Room for `total` doubles. Large blocks are advised onto transparent huge pages before
// they are first touched: copying a big matrix is otherwise dominated by page faults.
void reserve_for_copy(std::vector<double>& out, std::size_t total) {
  if (out.capacity() >= total) return;
  out.reserve(std::max(total, 2 * out.capacity()));
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  const std::size_t bytes = out.capacity() * sizeof(double);
  if (bytes < 2 * kHuge) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(out.data() + out.size());
  const auto end = reinterpret_cast<std::uintptr_t>(out.data()) + bytes;
  const std::uintptr_t lo = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t hi = end & ~(kHuge - 1);
  if (hi > lo) (void)madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}

}  // namespace

bool read_numeric_buffer(PyObject* o, int ndim, std::vector<double>& out, std::vector<std::size_t>& shape) {
  if (!PyObject_CheckBuffer(o) || PyUnicode_Check(o)) return false;
  Buffer buffer(o);
  if (!buffer.ok()) return false;
  const Py_buffer& v = buffer.view();
  if (v.ndim != ndim || v.format == nullptr) return false;
  const char* format = v.format;
  if (*format == '@' || *format == '=' || *format == '<') {
    // '=' and '<' are standard sizes in little-endian order: native on the machines we build for.
    if (*format != '@' && std::endian::native != std::endian::little) return false;
    ++format;
  }
  if (format[0] == '\0' || format[1] != '\0') return false;
  std::size_t count = 1;
  shape.assign(static_cast<std::size_t>(ndim), 0);
  for (int d = 0; d < ndim; ++d) {
    shape[static_cast<std::size_t>(d)] = static_cast<std::size_t>(v.shape[d]);
    count *= static_cast<std::size_t>(v.shape[d]);
  }
  const std::size_t before = out.size();
  reserve_for_copy(out, before + count);
  if (!append_format(format[0], static_cast<std::size_t>(v.itemsize), v.buf, count, out)) {
    out.resize(before);
    return false;
  }
  return true;
}

}  // namespace kestrum::py
