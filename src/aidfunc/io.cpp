// The file readers: a flat value list, a distance matrix, and distances from coordinates.
#include "aidfunc/io.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "aidfunc/lines.hpp"
#include "aidfunc/number.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

using Token = FieldReader::Token;

// pi / 180
constexpr double kRadiansPerDegree = 0.017453292519943295;
// Twice a mean Earth radius of 6371 km.
constexpr double kEarthDiameterKm = 12742.0;

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

// The stops every plain reader ends with when the stream does.
[[noreturn]] void fatal_stream_error(Token token, const FieldReader& reader) {
  if (token == Token::ReadError) fatal_read_error(reader.read_errno());
  fatal(kInvalidUtf8Message);
}

// The field as a number; a cut field never is one.
[[nodiscard]] std::optional<double> number_of(const FieldReader& reader) {
  if (reader.cut()) return std::nullopt;
  return parse_number(reader.field());
}

// Every number of every line without a '#', in file order. Lines are judged whole, as if read
// one at a time: a line's numbers are stored as they come and dropped again once a '#' shows
// up in it, and a field that is not a number stops the reading only at the end of its line
// (when the line is known not to be a comment), so the first problem in file order is the
// one reported, and a line that is not UTF-8 stops it before any of its numbers.
[[nodiscard]] Result<ValueStore> read_values(std::string_view path) {
  Result<FieldReader> opened = FieldReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  FieldReader& reader = opened.value();
  ValueStore values;
  std::size_t line_start = 0;
  bool bad_field = false;
  for (;;) {
    const Token token = reader.next();
    switch (token) {
      case Token::Field:
        if (reader.line_has_hash()) {
          values.truncate(line_start);
        } else if (!bad_field) {
          const std::optional<double> value = number_of(reader);
          if (value) values.push_back(*value);
          bad_field = !value;
        }
        break;
      case Token::LineEnd:
        if (reader.line_has_hash()) {
          values.truncate(line_start);
        } else if (bad_field) {
          fatal(kParseFloatMessage);
        }
        bad_field = false;
        line_start = values.size();
        break;
      case Token::End: return values;
      case Token::ReadError:
      case Token::InvalidUtf8: fatal_stream_error(token, reader);
    }
  }
}

struct Position {
  double latitude;
  double longitude;
};

// Haversine form; the longitudes are subtracted in degrees before conversion.
[[nodiscard]] double great_circle_km(Position from, Position to) {
  const double phi1 = from.latitude * kRadiansPerDegree;
  const double phi2 = to.latitude * kRadiansPerDegree;
  const double a = std::sin((phi2 - phi1) * 0.5);
  const double b = std::sin(((to.longitude - from.longitude) * kRadiansPerDegree) * 0.5);
  const double h = std::cos(phi2) * (std::cos(phi1) * (b * b)) + a * a;
  return std::asin(std::sqrt(h)) * kEarthDiameterKm;
}

// Fills a zero-diagonal symmetric matrix computing each unordered pair once (i < j, both
// ascending) and writing it to both halves.
template <class Distance>
[[nodiscard]] SquareMatrix symmetric_matrix(std::size_t n, Distance&& distance) {
  SquareMatrix matrix{n, std::vector<double>(n * n, 0.0)};
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const double d = distance(i, j);
      matrix.data[i * n + j] = d;
      matrix.data[j * n + i] = d;
    }
  }
  return matrix;
}

// One DMS line: fields 0-2 and 4-6 are numbers, 3 and 7 hemispheres, later ones ignored. The
// fields are taken in order, so a bad number is reported before a missing field after it.
class DmsLine {
 public:
  void field(const FieldReader& reader) {
    const std::size_t k = count_++;
    if (k >= 8 || bad_) return;
    if (k == 3 || k == 7) {
      negate_[k / 4] = !reader.cut() && reader.field() == (k == 3 ? "S" : "W");
      return;
    }
    const std::optional<double> value = number_of(reader);
    if (value) parts_[k] = *value;
    bad_ = !value;
  }

  // The position, or a fatal stop for a bad or missing field; resets for the next line.
  [[nodiscard]] Position end() {
    const std::size_t count = std::exchange(count_, 0);
    if (std::exchange(bad_, false)) fatal(kParseFloatMessage);
    if (count < 8) fatal_index(count, count);
    return {angle(0), angle(4)};
  }

  void drop() {
    count_ = 0;
    bad_ = false;
  }

 private:
  // The degrees keep their own sign and minutes and seconds are always added, so -33 30 0 is
  // -32.5.
  [[nodiscard]] double angle(std::size_t first) const {
    const double a = (parts_[first] + parts_[first + 1] / 60.0) + parts_[first + 2] / 3600.0;
    return negate_[first / 4] ? -a : a;
  }

  std::size_t count_ = 0;
  bool bad_ = false;
  double parts_[8] = {};
  bool negate_[2] = {};
};

}  // namespace

std::vector<std::vector<double>> SquareMatrix::rows() const {
  std::vector<std::vector<double>> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.emplace_back((*this)[i].begin(), (*this)[i].end());
  return out;
}

void ValueStore::add_block() {
  // The first block grows as it fills, so a short file costs a few bytes, not a whole block.
  blocks_.emplace_back();
  if (blocks_.size() > 1) blocks_.back().reserve(kBlock);
}

void ValueStore::truncate(std::size_t size) {
  if (size >= size_) return;
  const std::size_t keep_blocks = (size + kBlock - 1) / kBlock;
  blocks_.resize(keep_blocks);
  if (keep_blocks > 0) blocks_.back().resize(size - (keep_blocks - 1) * kBlock);
  size_ = size;
}

std::vector<double> ValueStore::take(std::size_t first, std::size_t count) {
  std::vector<double> out;
  out.reserve(count);
  std::size_t i = first;
  const std::size_t last = first + count;
  while (i < last) {
    std::vector<double>& block = blocks_[i / kBlock];
    const std::size_t offset = i % kBlock;
    const std::size_t n = std::min(block.size() - offset, last - i);
    out.insert(out.end(), block.begin() + static_cast<std::ptrdiff_t>(offset),
               block.begin() + static_cast<std::ptrdiff_t>(offset + n));
    i += n;
    if (offset + n == block.size()) std::vector<double>().swap(block);
  }
  return out;
}

Result<std::vector<double>> read_csv(std::string_view path) {
  Result<ValueStore> read = read_values(path);
  if (!read.ok()) return std::move(read).error();
  ValueStore& values = read.value();
  return values.take(0, values.size());
}

Result<SquareMatrix> read_distance_matrix(std::string_view path) {
  Result<ValueStore> read = read_values(path);
  if (!read.ok()) return std::move(read).error();
  ValueStore& values = read.value();

  const double side = std::sqrt(static_cast<double>(values.size()));
  if (std::fmod(side, 1.0) != 0.0) {
    return ReaderError::invalid_input("distanceMatrix is not a square");
  }
  const auto n = static_cast<std::size_t>(side);
  if (n == 0) fatal("chunk size must be non-zero");
  // The square root of a count this large may round to a whole number that is not its root.
  if (n * n != values.size()) return ReaderError::invalid_input("distanceMatrix is not a square");

  SquareMatrix matrix{n, values.take(0, n * n)};
  for (std::size_t i = 0; i < n; ++i) {
    // `!=` makes NaN fail and lets -0 pass.
    if (matrix.data[i * n + i] != 0.0) {
      return ReaderError::invalid_input("distance to location " + std::to_string(i) +
                                        " itself is not zero");
    }
  }
  return matrix;
}

Result<SquareMatrix> read_coord2d_to_distance_matrix(std::string_view path) {
  Result<ValueStore> read = read_values(path);
  if (!read.ok()) return std::move(read).error();
  const std::vector<double> values = read.value().take(0, read.value().size() / 2 * 2);
  const std::size_t n = values.size() / 2;
  return symmetric_matrix(n, [&](std::size_t i, std::size_t j) {
    const double dy = values[2 * i + 1] - values[2 * j + 1];
    const double dx = values[2 * i] - values[2 * j];
    return std::sqrt(dy * dy + dx * dx);
  });
}

Result<SquareMatrix> read_dms_to_distance_matrix(std::string_view path) {
  Result<FieldReader> opened = FieldReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  FieldReader& reader = opened.value();
  std::vector<Position> positions;
  DmsLine line;
  for (;;) {
    const Token token = reader.next();
    if (token == Token::End) break;
    switch (token) {
      case Token::Field:
        if (!reader.line_has_hash()) line.field(reader);
        break;
      case Token::LineEnd:
        if (reader.line_has_hash()) {
          line.drop();
        } else {
          positions.push_back(line.end());
        }
        break;
      case Token::End: break;
      case Token::ReadError:
      case Token::InvalidUtf8: fatal_stream_error(token, reader);
    }
  }
  return symmetric_matrix(positions.size(), [&](std::size_t i, std::size_t j) {
    return great_circle_km(positions[i], positions[j]);
  });
}

}  // namespace kestrum
