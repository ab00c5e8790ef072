// Fuzz target: one matrix file reader (chosen by KESTRUM_FUZZ_READER) over arbitrary bytes.
// A reader may refuse its input as a value or with a fatal stop; whatever it returns must be
// a well-formed matrix, and a TSPLIB matrix of EXPLICIT weights may only hold numbers the file
// holds (a matrix built from more weights than were read shows other memory there).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "aidfunc/io.hpp"
#include "aidfunc/library_formats.hpp"
#include "aidfunc/lines.hpp"
#include "aidfunc/number.hpp"
#include "fuzz_support.hpp"
#include "support/fatal.hpp"

#ifndef KESTRUM_FUZZ_READER
#error "KESTRUM_FUZZ_READER selects the reader: 1 distance, 2 coord2d, 3 dms, 4 tsplib, 5 qaplib"
#endif

namespace {

using kestrum::fuzz::check;
using kestrum::SquareMatrix;

enum class Shape { kZeroDiagonal, kSymmetricDistances, kSquare };

void check_matrix(const SquareMatrix& m, Shape shape) {
  const std::size_t n = m.size();
  check(m.data.size() == n * n, "matrix storage is not n x n");
  for (std::size_t i = 0; i < n; ++i) {
    check(m[i].size() == n, "matrix is not square");
    if (shape == Shape::kSquare) continue;
    check(m[i][i] == 0.0, "diagonal entry is not zero");
    if (shape != Shape::kSymmetricDistances) continue;
    for (std::size_t j = 0; j < i; ++j) {
      check(kestrum::fuzz::same_bits(m[i][j], m[j][i]), "computed distances are not mirrored");
      check(std::isnan(m[i][j]) || m[i][j] >= 0.0, "negative distance");
    }
  }
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The stops a reader may end with on bad data.
bool expected_stop(std::string_view message) {
  return message == kestrum::kParseFloatMessage || message == kestrum::kInvalidUtf8Message ||
         message == "chunk size must be non-zero" ||
         starts_with(message, "index out of bounds: the len is ");
}

// Every number written in the file, bit for bit.
[[maybe_unused]] std::set<std::uint64_t> numbers_in(std::string_view text) {
  std::set<std::uint64_t> out;
  std::vector<std::string_view> fields;
  kestrum::split_fields(text, fields);
  for (const std::string_view field : fields) {
    if (const std::optional<double> v = kestrum::parse_number(field)) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &*v, sizeof bits);
      out.insert(bits);
    }
  }
  return out;
}

// Whether the EDGE_WEIGHT_TYPE in force at EOF (or the end) is EXPLICIT, read independently of
// the reader: keyword lines start with a letter, ':' separates like white space.
[[maybe_unused]] bool explicit_weights(std::string_view text) {
  bool is_explicit = false;
  std::vector<std::string_view> fields;
  while (!text.empty()) {
    const std::size_t feed = std::min(text.find('\n'), text.size());
    std::string line(text.substr(0, feed));
    text.remove_prefix(std::min(feed + 1, text.size()));
    for (char& c : line) {
      if (c == ':') c = ' ';
    }
    kestrum::split_fields(line, fields);
    if (fields.empty()) continue;
    if (fields[0] == "EOF") break;
    if (fields[0] == "EDGE_WEIGHT_TYPE") is_explicit = fields.size() > 1 && fields[1] == "EXPLICIT";
  }
  return is_explicit;
}

// Off the diagonal, explicit weights come from the file and computed distances are whole.
[[maybe_unused]] void check_tsplib_entries(const SquareMatrix& m, std::string_view text) {
  const bool from_file = explicit_weights(text);
  const std::set<std::uint64_t> written = from_file ? numbers_in(text) : std::set<std::uint64_t>{};
  for (std::size_t i = 0; i < m.size(); ++i) {
    for (std::size_t j = 0; j < m.size(); ++j) {
      if (i == j) continue;
      const double v = m[i][j];
      if (from_file) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        check(written.count(bits) == 1, "a weight that the file does not hold");
      } else {
        check(std::trunc(v) == v, "a computed TSPLIB distance that is not whole");
      }
    }
  }
}

template <class T>
void check_refusal(const kestrum::Result<T>& result) {
  const kestrum::ReaderError& e = result.error();
  check(e.kind != kestrum::ErrorKind::Os, "an operating-system error on a readable file", e.text);
  check(!e.text.empty(), "an error without text");
  if (e.kind == kestrum::ErrorKind::Malformed) check(starts_with(e.text, "line "), "no line number", e.text);
}

void run_reader(const std::string& path, [[maybe_unused]] std::string_view text) {
#if KESTRUM_FUZZ_READER == 1
  auto r = kestrum::read_distance_matrix(path);
  if (!r.ok()) return check_refusal(r);
  check(!r.value().empty(), "an empty matrix was returned");
  check_matrix(r.value(), Shape::kZeroDiagonal);
#elif KESTRUM_FUZZ_READER == 2
  auto r = kestrum::read_coord2d_to_distance_matrix(path);
  if (!r.ok()) return check_refusal(r);
  check_matrix(r.value(), Shape::kSymmetricDistances);
#elif KESTRUM_FUZZ_READER == 3
  auto r = kestrum::read_dms_to_distance_matrix(path);
  if (!r.ok()) return check_refusal(r);
  check_matrix(r.value(), Shape::kSymmetricDistances);
  // Half the circumference of a sphere of radius 6371 km bounds every great-circle distance.
  for (const double d : r.value().data) check(!(d > 20015.09), "distance beyond half the globe");
#elif KESTRUM_FUZZ_READER == 4
  auto r = kestrum::read_tsplib(path);
  if (!r.ok()) return check_refusal(r);
  check(!r.value().empty(), "an empty matrix was returned");
  check_matrix(r.value(), Shape::kZeroDiagonal);
  check_tsplib_entries(r.value(), text);
#elif KESTRUM_FUZZ_READER == 5
  auto r = kestrum::read_qaplib(path);
  if (!r.ok()) return check_refusal(r);
  check(r.value().first.size() == r.value().second.size(), "the two matrices differ in size");
  check(!r.value().first.empty(), "empty matrices were returned");
  check_matrix(r.value().first, Shape::kSquare);
  check_matrix(r.value().second, Shape::kSquare);
#endif
}

kestrum::fuzz::InputFile& input_file() {
  static kestrum::fuzz::InputFile file;
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = input_file().write(data, size);
  try {
    run_reader(path, std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const kestrum::FatalStop& stop) {
    check(expected_stop(stop.message), "unexpected fatal stop", stop.message);
  }
  return 0;
}
