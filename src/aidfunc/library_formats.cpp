// TSPLIB and QAPLIB readers: headers and sections, TSPLIB's rounded distances, matrix layouts.
#include "aidfunc/library_formats.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "aidfunc/lines.hpp"
#include "aidfunc/number.hpp"
#include "problem/point_metrics.hpp"

namespace kestrum {

namespace {

// Cities and QAP sizes index a solution of machine words.
constexpr std::uint64_t kMaxDimension = 4294967295u;

// ---- the file as numbered lines

// The whole file in memory: these files are at most a few megabytes, and whole-file reading lets a
// read error (a directory, say) come back as the operating system's error instead of a stop.
[[nodiscard]] Result<std::string> read_file(std::string_view path) {
  // open(2) would stop at an embedded NUL and read some other file.
  if (path.find('\0') != std::string_view::npos) {
    return ReaderError::invalid_input("path contains a NUL byte");
  }
  const std::string c_path(path);
  int raw = -1;
  do {
    raw = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return ReaderError::from_errno(errno);
  const FileDescriptor fd(raw);
  std::string text;
  std::vector<char> buffer(LineReader::kBufferSize);
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return ReaderError::from_errno(errno);
    }
    if (got == 0) break;
    text.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return text;
}

[[nodiscard]] std::string at_line(std::size_t line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

// Hands out the lines of a text one by one (line feed and a carriage return before it removed),
// counting from 1.
class NumberedLines {
 public:
  explicit NumberedLines(std::string_view text) : text_(text) {}

  // nullopt at the end; a line that is not UTF-8 is a format error.
  [[nodiscard]] Result<std::optional<std::string_view>> next() {
    if (pos_ >= text_.size()) return std::optional<std::string_view>{};
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++number_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!is_valid_utf8(line)) return ReaderError::malformed(at_line(number_, "not valid UTF-8"));
    return std::optional<std::string_view>{line};
  }
  // The number of the line last handed out (0 before the first); at the end, the last line's.
  [[nodiscard]] std::size_t number() const noexcept { return number_; }
  // Where an error about the file as a whole is reported: its last line (1 for an empty file).
  [[nodiscard]] std::size_t last() const noexcept { return std::max<std::size_t>(number_, 1); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

[[nodiscard]] std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}

// A finite number, or the format error naming the field.
[[nodiscard]] Result<double> finite_number(std::string_view field, std::size_t line) {
  const std::optional<double> value = parse_number(field);
  if (!value) return ReaderError::malformed(at_line(line, quoted(field) + " is not a number"));
  if (!std::isfinite(*value)) {
    return ReaderError::malformed(at_line(line, quoted(field) + " is not a finite number"));
  }
  return *value;
}

// A whole number in [low, kMaxDimension], or nullopt.
[[nodiscard]] std::optional<std::uint64_t> whole_number(std::string_view field, std::uint64_t low) {
  const std::optional<double> value = parse_number(field);
  if (!value || !(*value >= static_cast<double>(low)) ||
      !(*value <= static_cast<double>(kMaxDimension)) || std::trunc(*value) != *value) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(*value);
}

[[nodiscard]] std::string_view trim(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\f\v";
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

[[nodiscard]] bool is_ascii_letter(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ---- TSPLIB

enum class WeightType { Euc2d, Ceil2d, Att, Geo, Explicit };

// The column layouts list the same numbers as a row layout of the other triangle, and the
// matrix is mirrored anyway, so each is read as that row layout.
enum class WeightFormat { FullMatrix, UpperRow, LowerRow, UpperDiagRow, LowerDiagRow, Function };

[[nodiscard]] std::optional<WeightType> weight_type_named(std::string_view name) {
  if (name == "EUC_2D") return WeightType::Euc2d;
  if (name == "CEIL_2D") return WeightType::Ceil2d;
  if (name == "ATT") return WeightType::Att;
  if (name == "GEO") return WeightType::Geo;
  if (name == "EXPLICIT") return WeightType::Explicit;
  return std::nullopt;
}

[[nodiscard]] std::optional<WeightFormat> weight_format_named(std::string_view name) {
  if (name == "FULL_MATRIX") return WeightFormat::FullMatrix;
  if (name == "UPPER_ROW" || name == "LOWER_COL") return WeightFormat::UpperRow;
  if (name == "LOWER_ROW" || name == "UPPER_COL") return WeightFormat::LowerRow;
  if (name == "UPPER_DIAG_ROW" || name == "LOWER_DIAG_COL") return WeightFormat::UpperDiagRow;
  if (name == "LOWER_DIAG_ROW" || name == "UPPER_DIAG_COL") return WeightFormat::LowerDiagRow;
  if (name == "FUNCTION") return WeightFormat::Function;
  return std::nullopt;
}

// How many numbers an EDGE_WEIGHT_SECTION of n cities holds (n < 2^32, so no overflow).
[[nodiscard]] std::uint64_t weight_count(WeightFormat format, std::uint64_t n) {
  switch (format) {
    case WeightFormat::FullMatrix: return n * n;
    case WeightFormat::UpperRow:
    case WeightFormat::LowerRow: return n * (n - 1) / 2;
    case WeightFormat::UpperDiagRow:
    case WeightFormat::LowerDiagRow: return n * (n + 1) / 2;
    case WeightFormat::Function: return 0;
  }
  return 0;
}

struct City {
  std::uint64_t index;  // from 1, as written
  double x;
  double y;
  std::size_t line;
};

// The rules live beside the point evaluation, which computes the same distances on demand.
using metrics::att;
using metrics::ceil_2d;
using metrics::euc_2d;
using metrics::geo;
using metrics::Point;

[[nodiscard]] double coordinate_distance(WeightType type, Point a, Point b) {
  switch (type) {
    case WeightType::Euc2d: return euc_2d(a, b);
    case WeightType::Ceil2d: return ceil_2d(a, b);
    case WeightType::Att: return att(a, b);
    case WeightType::Geo: return geo(a, b);
    case WeightType::Explicit: break;
  }
  return 0.0;
}

// The weights in the order the format lists them, written to both halves where the format
// gives only one triangle. The diagonal is left at 0 whatever the file puts there: a tour
// never goes from a city to itself (only a one-city tour reads it), and ATSP files hold
// placeholders such as 9999 or 100000000 on it.
[[nodiscard]] SquareMatrix explicit_matrix(WeightFormat format, std::size_t n,
                                           const std::vector<double>& weights) {
  SquareMatrix matrix(n, std::vector<double>(n, 0.0));
  std::size_t k = 0;
  const auto put = [&](std::size_t i, std::size_t j, bool mirror) {
    const double w = weights[k++];
    if (i == j) return;
    matrix[i][j] = w;
    if (mirror) matrix[j][i] = w;
  };
  for (std::size_t i = 0; i < n; ++i) {
    switch (format) {
      case WeightFormat::FullMatrix:
        for (std::size_t j = 0; j < n; ++j) put(i, j, false);
        break;
      case WeightFormat::UpperRow:
        for (std::size_t j = i + 1; j < n; ++j) put(i, j, true);
        break;
      case WeightFormat::LowerRow:
        for (std::size_t j = 0; j < i; ++j) put(i, j, true);
        break;
      case WeightFormat::UpperDiagRow:
        for (std::size_t j = i; j < n; ++j) put(i, j, true);
        break;
      case WeightFormat::LowerDiagRow:
        for (std::size_t j = 0; j <= i; ++j) put(i, j, true);
        break;
      case WeightFormat::Function: break;
    }
  }
  return matrix;
}

enum class Section { None, NodeCoord, EdgeWeight, Skipped };

// Reads a TSPLIB file: header lines "KEY : value" (the colon may be missing), section keywords
// whose data lines follow until the next keyword, and an optional EOF. A line is a keyword line
// when it starts with a letter; data lines start with a digit, a sign or a point.
class TsplibParser {
 public:
  explicit TsplibParser(std::string_view text) : lines_(text) {}

  // With `coordinates`, a file of coordinates fills it (cities in index order) and gives an
  // empty matrix instead of computing one.
  [[nodiscard]] Result<SquareMatrix> parse(std::vector<Point>* coordinates = nullptr) {
    for (;;) {
      Result<std::optional<std::string_view>> next = lines_.next();
      if (!next.ok()) return std::move(next).error();
      if (!next.value()) break;
      const std::string_view line = trim(*next.value());
      if (line.empty()) continue;
      std::optional<ReaderError> error;
      if (is_ascii_letter(line.front())) {
        if (auto ended = end_section(lines_.number())) return std::move(*ended);
        bool stop = false;
        error = keyword_line(line, stop);
        if (stop) break;
      } else {
        error = data_line(line);
      }
      if (error) return std::move(*error);
    }
    if (auto ended = end_section(lines_.last())) return std::move(*ended);
    return build(coordinates);
  }

  // The rule of a file of coordinates, after parse(); none for EXPLICIT weights.
  [[nodiscard]] std::optional<PointMetric> point_metric() const {
    if (!weight_type_) return std::nullopt;
    switch (*weight_type_) {
      case WeightType::Euc2d: return PointMetric::kEuc2d;
      case WeightType::Ceil2d: return PointMetric::kCeil2d;
      case WeightType::Att: return PointMetric::kAtt;
      case WeightType::Geo: return PointMetric::kGeo;
      case WeightType::Explicit: return std::nullopt;
    }
    return std::nullopt;
  }

 private:
  [[nodiscard]] ReaderError error_here(std::string_view what) const {
    return ReaderError::malformed(at_line(lines_.number(), what));
  }

  [[nodiscard]] std::optional<ReaderError> keyword_line(std::string_view line, bool& stop) {
    const std::size_t key_end = std::min(line.find(':'), line.find_first_of(" \t\f\v"));
    const std::string_view key = line.substr(0, key_end);
    std::string_view value =
        trim(key_end == std::string_view::npos ? std::string_view{} : line.substr(key_end));
    if (!value.empty() && value.front() == ':') value = trim(value.substr(1));
    // Enumerated values are single words; anything after the first one is ignored.
    const std::string_view word = value.substr(0, value.find_first_of(" \t\f\v"));

    if (key == "EOF") {
      stop = true;
    } else if (key == "TYPE") {
      if (word != "TSP" && word != "ATSP") {
        return error_here("unsupported TYPE " + quoted(word) + " (expected TSP or ATSP)");
      }
    } else if (key == "DIMENSION") {
      if (dimension_) return error_here("DIMENSION given twice");
      dimension_ = whole_number(value, 1);
      if (!dimension_) {
        return error_here("DIMENSION must be a whole number from 1 to 4294967295, not " +
                          quoted(value));
      }
    } else if (key == "EDGE_WEIGHT_TYPE") {
      weight_type_ = weight_type_named(word);
      if (!weight_type_) {
        return error_here("unsupported EDGE_WEIGHT_TYPE " + quoted(word) +
                          " (expected EUC_2D, CEIL_2D, ATT, GEO or EXPLICIT)");
      }
    } else if (key == "EDGE_WEIGHT_FORMAT") {
      weight_format_ = weight_format_named(word);
      if (!weight_format_) {
        return error_here("unsupported EDGE_WEIGHT_FORMAT " + quoted(word) +
                          " (expected FULL_MATRIX, UPPER_ROW, LOWER_ROW, UPPER_DIAG_ROW, "
                          "LOWER_DIAG_ROW or their _COL forms)");
      }
    } else if (key == "NODE_COORD_SECTION") {
      if (seen_coords_) return error_here("NODE_COORD_SECTION given twice");
      if (!dimension_) return error_here("NODE_COORD_SECTION before DIMENSION");
      seen_coords_ = true;
      section_ = Section::NodeCoord;
    } else if (key == "EDGE_WEIGHT_SECTION") {
      if (seen_weights_) return error_here("EDGE_WEIGHT_SECTION given twice");
      if (!dimension_) return error_here("EDGE_WEIGHT_SECTION before DIMENSION");
      if (!weight_format_ || *weight_format_ == WeightFormat::Function) {
        return error_here("EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT before it");
      }
      seen_weights_ = true;
      expected_weights_ = weight_count(*weight_format_, *dimension_);
      section_ = Section::EdgeWeight;
    } else if (key.ends_with("_SECTION")) {
      section_ = Section::Skipped;  // display coordinates, fixed edges: not part of the distances
    }
    // Other keys (NAME, COMMENT, DISPLAY_DATA_TYPE, ...) do not affect the distances.
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> data_line(std::string_view line) {
    switch (section_) {
      case Section::None: return error_here("numbers outside a data section");
      case Section::NodeCoord: return city_line(line);
      case Section::EdgeWeight: return weight_line(line);
      case Section::Skipped: return std::nullopt;
    }
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> city_line(std::string_view line) {
    split_fields(line, fields_);
    if (fields_.size() != 3) {
      return error_here("a city line holds an index and two coordinates, found " +
                        std::to_string(fields_.size()) + " fields");
    }
    const std::optional<std::uint64_t> index = whole_number(fields_[0], 1);
    if (!index || *index > *dimension_) {
      return error_here("city index " + quoted(fields_[0]) + " is not a whole number from 1 to " +
                        std::to_string(*dimension_));
    }
    if (cities_.size() == *dimension_) {
      return error_here("NODE_COORD_SECTION has more than " + std::to_string(*dimension_) +
                        " cities");
    }
    Result<double> x = finite_number(fields_[1], lines_.number());
    if (!x.ok()) return std::move(x).error();
    Result<double> y = finite_number(fields_[2], lines_.number());
    if (!y.ok()) return std::move(y).error();
    cities_.push_back({*index, x.value(), y.value(), lines_.number()});
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> weight_line(std::string_view line) {
    split_fields(line, fields_);
    for (const std::string_view field : fields_) {
      if (weights_.size() == expected_weights_) {
        return error_here("EDGE_WEIGHT_SECTION has more than " + std::to_string(expected_weights_) +
                          " weights");
      }
      Result<double> w = finite_number(field, lines_.number());
      if (!w.ok()) return std::move(w).error();
      weights_.push_back(w.value());
    }
    return std::nullopt;
  }

  // Called when a data section ends: at the next keyword line or at the end of the file.
  [[nodiscard]] std::optional<ReaderError> end_section(std::size_t line) {
    const Section ending = std::exchange(section_, Section::None);
    if (ending == Section::NodeCoord && cities_.size() < *dimension_) {
      return ReaderError::malformed(at_line(line, "NODE_COORD_SECTION ends after " +
                                                      std::to_string(cities_.size()) + " of " +
                                                      std::to_string(*dimension_) + " cities"));
    }
    if (ending == Section::EdgeWeight && weights_.size() < expected_weights_) {
      return ReaderError::malformed(at_line(line, "EDGE_WEIGHT_SECTION ends after " +
                                                      std::to_string(weights_.size()) + " of " +
                                                      std::to_string(expected_weights_) +
                                                      " weights"));
    }
    return std::nullopt;
  }

  [[nodiscard]] Result<SquareMatrix> build(std::vector<Point>* coordinates) const {
    const std::size_t last = lines_.last();
    if (!dimension_) return ReaderError::malformed(at_line(last, "no DIMENSION given"));
    if (!weight_type_) return ReaderError::malformed(at_line(last, "no EDGE_WEIGHT_TYPE given"));
    // Section lengths were checked against DIMENSION, so the sizes below are the file's own.
    const auto n = static_cast<std::size_t>(*dimension_);
    if (*weight_type_ == WeightType::Explicit) {
      if (!seen_weights_) {
        return ReaderError::malformed(at_line(last, "no EDGE_WEIGHT_SECTION given"));
      }
      return explicit_matrix(*weight_format_, n, weights_);
    }
    if (!seen_coords_) return ReaderError::malformed(at_line(last, "no NODE_COORD_SECTION given"));
    std::vector<std::optional<Point>> points(n);
    for (const City& city : cities_) {
      std::optional<Point>& slot = points[city.index - 1];
      if (slot) {
        return ReaderError::malformed(at_line(city.line, "city " + std::to_string(city.index) +
                                                             " is given twice"));
      }
      slot = Point{city.x, city.y};
    }
    // Every index is in range, none repeats and there are n of them: all slots are set.
    if (coordinates != nullptr) {
      coordinates->reserve(n);
      for (const std::optional<Point>& point : points) coordinates->push_back(*point);
      return SquareMatrix{};
    }
    SquareMatrix matrix(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        const double d = coordinate_distance(*weight_type_, *points[i], *points[j]);
        matrix[i][j] = d;
        matrix[j][i] = d;
      }
    }
    return matrix;
  }

  NumberedLines lines_;
  std::vector<std::string_view> fields_;
  Section section_ = Section::None;
  std::optional<std::uint64_t> dimension_;
  std::optional<WeightType> weight_type_;
  std::optional<WeightFormat> weight_format_;
  bool seen_coords_ = false;
  bool seen_weights_ = false;
  std::vector<City> cities_;
  std::uint64_t expected_weights_ = 0;
  std::vector<double> weights_;
};

// n rows of n values from values[offset...].
[[nodiscard]] SquareMatrix square_from(const std::vector<double>& values, std::size_t offset,
                                       std::size_t n) {
  SquareMatrix matrix;
  matrix.reserve(n);
  for (std::size_t row = 0; row < n; ++row) {
    const auto begin = values.begin() + static_cast<std::ptrdiff_t>(offset + row * n);
    matrix.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(n));
  }
  return matrix;
}

}  // namespace

Result<SquareMatrix> read_tsplib(std::string_view path) {
  Result<std::string> text = read_file(path);
  if (!text.ok()) return std::move(text).error();
  return TsplibParser(text.value()).parse();
}

Result<std::variant<SquareMatrix, TsplibPoints>> read_tsplib_points(std::string_view path) {
  Result<std::string> text = read_file(path);
  if (!text.ok()) return std::move(text).error();
  TsplibParser parser(text.value());
  std::vector<Point> coordinates;
  Result<SquareMatrix> matrix = parser.parse(&coordinates);
  if (!matrix.ok()) return std::move(matrix).error();
  const std::optional<PointMetric> metric = parser.point_metric();
  if (!metric) return std::variant<SquareMatrix, TsplibPoints>(std::move(matrix).value());
  TsplibPoints points{{}, *metric};
  points.xy.reserve(2 * coordinates.size());
  for (const Point& p : coordinates) {
    points.xy.push_back(p.x);
    points.xy.push_back(p.y);
  }
  return std::variant<SquareMatrix, TsplibPoints>(std::move(points));
}

Result<std::pair<SquareMatrix, SquareMatrix>> read_qaplib(std::string_view path) {
  Result<std::string> text = read_file(path);
  if (!text.ok()) return std::move(text).error();
  NumberedLines lines(text.value());
  std::vector<std::string_view> fields;
  std::optional<std::uint64_t> n;
  std::uint64_t per_matrix = 0;  // n * n fits in 64 bits; 2 * n * n may not
  std::string shape;             // "two 12 x 12 matrices"
  std::vector<double> values;
  for (;;) {
    Result<std::optional<std::string_view>> next = lines.next();
    if (!next.ok()) return std::move(next).error();
    if (!next.value()) break;
    split_fields(*next.value(), fields);
    for (const std::string_view field : fields) {
      if (!n) {
        n = whole_number(field, 1);
        if (!n) {
          return ReaderError::malformed(at_line(
              lines.number(), "the size must be a whole number from 1 to 4294967295, not " +
                                  quoted(field)));
        }
        per_matrix = *n * *n;
        shape = "two " + std::to_string(*n) + " x " + std::to_string(*n) + " matrices";
        continue;
      }
      if (values.size() >= per_matrix && values.size() - per_matrix == per_matrix) {
        return ReaderError::malformed(
            at_line(lines.number(), "more numbers than " + shape + " hold"));
      }
      Result<double> value = finite_number(field, lines.number());
      if (!value.ok()) return std::move(value).error();
      values.push_back(value.value());
    }
  }
  if (!n) return ReaderError::malformed(at_line(lines.last(), "no size given"));
  if (values.size() < per_matrix || values.size() - per_matrix < per_matrix) {
    return ReaderError::malformed(at_line(lines.last(), "the file ends after " +
                                                            std::to_string(values.size()) +
                                                            " numbers, short of " + shape));
  }
  const auto size = static_cast<std::size_t>(*n);
  return std::pair{square_from(values, 0, size), square_from(values, size * size, size)};
}

}  // namespace kestrum
