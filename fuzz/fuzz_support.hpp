// Helpers shared by the fuzz targets: failed checks, and inputs handed to readers as files.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrum::fuzz {

// A broken invariant: report it and abort, which libFuzzer records as a crash with the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// Bit-for-bit equality: the sign of a zero and a NaN's payload count.
[[nodiscard]] inline bool same_bits(double a, double b) {
  std::uint64_t x = 0;
  std::uint64_t y = 0;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// One in-memory file reused for every input: the readers open it by path, each time from
// its start, and nothing touches the disk.
class InputFile {
 public:
  InputFile() {
    fd_ = ::memfd_create("kestrum-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) fail("memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  [[nodiscard]] const std::string& write(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) fail("ftruncate");
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) fail("pwrite");
      done += static_cast<std::size_t>(n);
    }
    return path_;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace kestrum::fuzz
