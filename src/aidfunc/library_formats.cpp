// TSPLIB and QAPLIB readers: headers and sections, TSPLIB's rounded distances, matrix layouts.
#include "aidfunc/library_formats.hpp"

#include <algorithm>
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

using Token = FieldReader::Token;

// Cities and QAP sizes index a solution of machine words.
constexpr std::uint64_t kMaxDimension = 4294967295u;

[[nodiscard]] std::string at_line(std::size_t line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

// A field in quotes, its start only when it is long (or was cut by the reader).
[[nodiscard]] std::string quoted(std::string_view text, bool cut = false) {
  const std::string_view shown = utf8_prefix(text, FieldReader::kCutLength);
  std::string out;
  out.reserve(shown.size() + 5);
  out += '\'';
  out += shown;
  if (cut || shown.size() < text.size()) out += "...";
  out += '\'';
  return out;
}

// The error that ends a stream (a read error, or a line that is not UTF-8).
[[nodiscard]] ReaderError stream_error(Token token, const FieldReader& reader) {
  if (token == Token::ReadError) return ReaderError::from_errno(reader.read_errno());
  return ReaderError::malformed(at_line(reader.line(), "not valid UTF-8"));
}

// A finite number, or the format error naming the field.
[[nodiscard]] Result<double> finite_number(const FieldReader& reader) {
  const std::optional<double> value =
      reader.cut() ? std::nullopt : parse_number(reader.field());
  if (!value) {
    return ReaderError::malformed(
        at_line(reader.line(), quoted(reader.field(), reader.cut()) + " is not a number"));
  }
  if (!std::isfinite(*value)) {
    return ReaderError::malformed(
        at_line(reader.line(), quoted(reader.field()) + " is not a finite number"));
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

// What an EDGE_WEIGHT_SECTION was read as: the layout and the city count in force when it
// began. The matrix is built from these, never from keywords seen later.
struct WeightLayout {
  WeightFormat format;
  std::uint64_t n;
};

// The weights in the order the layout lists them, written to both halves where it gives only
// one triangle. The diagonal is left at 0 whatever the file puts there: a tour never goes
// from a city to itself (only a one-city tour reads it), and ATSP files hold placeholders
// such as 9999 or 100000000 on it. The caller has checked that `weights` holds exactly
// weight_count(layout) values.
[[nodiscard]] SquareMatrix explicit_matrix(WeightLayout layout, const ValueStore& weights) {
  const auto n = static_cast<std::size_t>(layout.n);
  SquareMatrix matrix{n, std::vector<double>(n * n, 0.0)};
  std::size_t k = 0;
  const auto put = [&](std::size_t i, std::size_t j, bool mirror) {
    const double w = weights[k++];
    if (i == j) return;
    matrix.data[i * n + j] = w;
    if (mirror) matrix.data[j * n + i] = w;
  };
  for (std::size_t i = 0; i < n; ++i) {
    switch (layout.format) {
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

[[nodiscard]] const char* section_name(Section section) {
  switch (section) {
    case Section::NodeCoord: return "NODE_COORD_SECTION";
    case Section::EdgeWeight: return "EDGE_WEIGHT_SECTION";
    case Section::None:
    case Section::Skipped: break;
  }
  return "a data section";
}

// The fields of one keyword line, "KEY : value" (the colon may be missing or stuck to
// either side). Only the first values are kept; keyword lines are short, and a long one (a
// COMMENT, say) costs nothing beyond them.
class KeywordLine {
 public:
  static constexpr std::size_t kKeptValues = 2;

  void start(std::string_view first) {
    const std::size_t colon = first.find(':');
    key_ = std::string(first.substr(0, colon));
    values_.clear();
    count_ = 0;
    colon_seen_ = colon != std::string_view::npos;
    if (colon_seen_ && colon + 1 < first.size()) add(first.substr(colon + 1), false);
  }

  void field(std::string_view text, bool cut) {
    if (!colon_seen_) {
      colon_seen_ = true;
      if (text.front() == ':') {
        if (text.size() == 1) return;
        text.remove_prefix(1);
      }
    }
    add(text, cut);
  }

  [[nodiscard]] const std::string& key() const noexcept { return key_; }
  // The first value: enumerated values are single words, and anything after it is ignored.
  [[nodiscard]] std::string_view word() const noexcept {
    return values_.empty() ? std::string_view{} : std::string_view(values_.front());
  }
  // The single whole value, or nullopt when there are several (or a cut one).
  [[nodiscard]] std::optional<std::string_view> single() const noexcept {
    if (count_ != 1 || cut_) return std::nullopt;
    return std::string_view(values_.front());
  }
  // All of the value, quoted (its start only, when long).
  [[nodiscard]] std::string quoted_value() const {
    std::string joined;
    for (const std::string& v : values_) joined += (joined.empty() ? "" : " ") + v;
    return quoted(joined, cut_ || count_ > values_.size());
  }

 private:
  void add(std::string_view text, bool cut) {
    if (++count_ > kKeptValues) return;
    values_.emplace_back(utf8_prefix(text, FieldReader::kCutLength));
    cut_ = cut_ || cut || values_.back().size() < text.size();
  }

  std::string key_;
  std::vector<std::string> values_;
  std::size_t count_ = 0;
  bool colon_seen_ = false;
  bool cut_ = false;
};

// Reads a TSPLIB file field by field: header lines "KEY : value" (the colon may be missing),
// section keywords whose data lines follow until the next keyword, and an optional EOF. A
// line is a keyword line when its first field starts with a letter; data lines start with a
// digit, a sign or a point. Weights are taken as they come; other lines are judged whole at
// their end.
class TsplibParser {
 public:
  explicit TsplibParser(FieldReader& reader) : reader_(reader) {}

  // With `coordinates`, a file of coordinates fills it (cities in index order) and gives an
  // empty matrix instead of computing one.
  [[nodiscard]] Result<SquareMatrix> parse(std::vector<Point>* coordinates = nullptr) {
    for (;;) {
      const Token token = reader_.next();
      std::optional<ReaderError> error;
      switch (token) {
        case Token::Field: error = field(); break;
        case Token::LineEnd: {
          bool stop = false;
          error = line_end(stop);
          if (stop) return build(coordinates);
          break;
        }
        case Token::End:
          if (auto ended = end_section(reader_.line())) return std::move(*ended);
          return build(coordinates);
        case Token::ReadError:
        case Token::InvalidUtf8: return stream_error(token, reader_);
      }
      if (error) return std::move(*error);
    }
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
  enum class Line { Start, Keyword, City, Weights, Skipped };

  [[nodiscard]] ReaderError error_here(std::string_view what) const {
    return ReaderError::malformed(at_line(reader_.line(), what));
  }

  [[nodiscard]] std::optional<ReaderError> field() {
    const std::string_view text = reader_.field();
    switch (line_) {
      case Line::Start: break;
      case Line::Keyword:
        keyword_.field(text, reader_.cut());
        return std::nullopt;
      case Line::City:
        if (city_fields_.size() < 3) city_fields_.emplace_back(text, reader_.cut());
        ++city_field_count_;
        return std::nullopt;
      case Line::Weights: return weight();
      case Line::Skipped: return std::nullopt;
    }
    // The first field of a line says what the line is.
    if (is_ascii_letter(text.front())) {
      if (auto ended = end_section(reader_.line())) return ended;
      line_ = Line::Keyword;
      keyword_.start(text);
      return std::nullopt;
    }
    switch (section_) {
      case Section::None: return error_here("numbers outside a data section");
      case Section::NodeCoord:
        line_ = Line::City;
        city_fields_.clear();
        city_fields_.emplace_back(text, reader_.cut());
        city_field_count_ = 1;
        return std::nullopt;
      case Section::EdgeWeight: line_ = Line::Weights; return weight();
      case Section::Skipped: line_ = Line::Skipped; return std::nullopt;
    }
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> line_end(bool& stop) {
    const Line ending = std::exchange(line_, Line::Start);
    if (ending == Line::Keyword) return keyword_line(stop);
    if (ending == Line::City) return city_line();
    return std::nullopt;
  }

  // A keyword that decides how a section's data is read may not follow that section.
  [[nodiscard]] std::optional<ReaderError> not_after_section(std::string_view key,
                                                             Section section) const {
    const bool read = section == Section::NodeCoord ? seen_coords_ : weights_layout_.has_value();
    if (!read) return std::nullopt;
    return error_here(std::string(key) + " after " + section_name(section) +
                      " would change how that section was read");
  }

  [[nodiscard]] std::optional<ReaderError> keyword_line(bool& stop) {
    const std::string_view key = keyword_.key();
    const std::string_view word = keyword_.word();
    if (key == "EOF") {
      stop = true;
    } else if (key == "TYPE") {
      if (word != "TSP" && word != "ATSP") {
        return error_here("unsupported TYPE " + quoted(word) + " (expected TSP or ATSP)");
      }
    } else if (key == "DIMENSION") {
      if (dimension_) return error_here("DIMENSION given twice");
      const std::optional<std::string_view> value = keyword_.single();
      if (value) dimension_ = whole_number(*value, 1);
      if (!dimension_) {
        return error_here("DIMENSION must be a whole number from 1 to 4294967295, not " +
                          keyword_.quoted_value());
      }
    } else if (key == "EDGE_WEIGHT_TYPE") {
      if (auto e = not_after_section(key, Section::NodeCoord)) return e;
      if (auto e = not_after_section(key, Section::EdgeWeight)) return e;
      if (weight_type_) return error_here("EDGE_WEIGHT_TYPE given twice");
      weight_type_ = weight_type_named(word);
      if (!weight_type_) {
        return error_here("unsupported EDGE_WEIGHT_TYPE " + quoted(word) +
                          " (expected EUC_2D, CEIL_2D, ATT, GEO or EXPLICIT)");
      }
    } else if (key == "EDGE_WEIGHT_FORMAT") {
      if (auto e = not_after_section(key, Section::EdgeWeight)) return e;
      if (weight_format_) return error_here("EDGE_WEIGHT_FORMAT given twice");
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
      if (weights_layout_) return error_here("EDGE_WEIGHT_SECTION given twice");
      if (!dimension_) return error_here("EDGE_WEIGHT_SECTION before DIMENSION");
      if (!weight_format_ || *weight_format_ == WeightFormat::Function) {
        return error_here("EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT before it");
      }
      weights_layout_ = WeightLayout{*weight_format_, *dimension_};
      expected_weights_ = weight_count(*weight_format_, *dimension_);
      section_ = Section::EdgeWeight;
    } else if (key.ends_with("_SECTION")) {
      section_ = Section::Skipped;  // display coordinates, fixed edges: not part of the distances
    }
    // Other keys (NAME, COMMENT, DISPLAY_DATA_TYPE, ...) do not affect the distances.
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> city_line() {
    if (city_field_count_ != 3) {
      return error_here("a city line holds an index and two coordinates, found " +
                        std::to_string(city_field_count_) + " fields");
    }
    const auto& [index_text, index_cut] = city_fields_[0];
    const std::optional<std::uint64_t> index =
        index_cut ? std::nullopt : whole_number(index_text, 1);
    if (!index || *index > *dimension_) {
      return error_here("city index " + quoted(index_text, index_cut) +
                        " is not a whole number from 1 to " + std::to_string(*dimension_));
    }
    if (cities_.size() == *dimension_) {
      return error_here("NODE_COORD_SECTION has more than " + std::to_string(*dimension_) +
                        " cities");
    }
    double xy[2] = {};
    for (std::size_t k = 0; k < 2; ++k) {
      const auto& [text, cut] = city_fields_[k + 1];
      const std::optional<double> value = cut ? std::nullopt : parse_number(text);
      if (!value) return error_here(quoted(text, cut) + " is not a number");
      if (!std::isfinite(*value)) return error_here(quoted(text) + " is not a finite number");
      xy[k] = *value;
    }
    cities_.push_back({*index, xy[0], xy[1], reader_.line()});
    return std::nullopt;
  }

  [[nodiscard]] std::optional<ReaderError> weight() {
    if (weights_.size() == expected_weights_) {
      return error_here("EDGE_WEIGHT_SECTION has more than " + std::to_string(expected_weights_) +
                        " weights");
    }
    Result<double> w = finite_number(reader_);
    if (!w.ok()) return std::move(w).error();
    weights_.push_back(w.value());
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
    const std::size_t last = reader_.line();
    if (!dimension_) return ReaderError::malformed(at_line(last, "no DIMENSION given"));
    if (!weight_type_) return ReaderError::malformed(at_line(last, "no EDGE_WEIGHT_TYPE given"));
    // Section lengths were checked against DIMENSION, so the sizes below are the file's own.
    const auto n = static_cast<std::size_t>(*dimension_);
    if (*weight_type_ == WeightType::Explicit) {
      if (!weights_layout_) {
        return ReaderError::malformed(at_line(last, "no EDGE_WEIGHT_SECTION given"));
      }
      // The section's own count, checked where it ended; kept as a guard for the reads below.
      if (weights_.size() != weight_count(weights_layout_->format, weights_layout_->n)) {
        return ReaderError::malformed(at_line(last, "EDGE_WEIGHT_SECTION holds " +
                                                        std::to_string(weights_.size()) +
                                                        " weights, not the number its layout needs"));
      }
      return explicit_matrix(*weights_layout_, weights_);
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
    SquareMatrix matrix{n, std::vector<double>(n * n, 0.0)};
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        const double d = coordinate_distance(*weight_type_, *points[i], *points[j]);
        matrix.data[i * n + j] = d;
        matrix.data[j * n + i] = d;
      }
    }
    return matrix;
  }

  FieldReader& reader_;
  Line line_ = Line::Start;
  KeywordLine keyword_;
  std::vector<std::pair<std::string, bool>> city_fields_;  // text and cut flag, at most 3
  std::size_t city_field_count_ = 0;
  Section section_ = Section::None;
  std::optional<std::uint64_t> dimension_;
  std::optional<WeightType> weight_type_;
  std::optional<WeightFormat> weight_format_;
  bool seen_coords_ = false;
  std::optional<WeightLayout> weights_layout_;
  std::vector<City> cities_;
  std::uint64_t expected_weights_ = 0;
  ValueStore weights_;
};

}  // namespace

Result<SquareMatrix> read_tsplib(std::string_view path) {
  Result<FieldReader> opened = FieldReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  return TsplibParser(opened.value()).parse();
}

Result<std::variant<SquareMatrix, TsplibPoints>> read_tsplib_points(std::string_view path) {
  Result<FieldReader> opened = FieldReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  TsplibParser parser(opened.value());
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
  Result<FieldReader> opened = FieldReader::open(path);
  if (!opened.ok()) return std::move(opened).error();
  FieldReader& reader = opened.value();
  std::optional<std::uint64_t> n;
  std::uint64_t per_matrix = 0;  // n * n fits in 64 bits; 2 * n * n may not
  std::string shape;             // "two 12 x 12 matrices"
  ValueStore values;
  for (;;) {
    const Token token = reader.next();
    if (token == Token::End) break;
    if (token == Token::ReadError || token == Token::InvalidUtf8) return stream_error(token, reader);
    if (token != Token::Field) continue;
    if (!n) {
      if (!reader.cut()) n = whole_number(reader.field(), 1);
      if (!n) {
        return ReaderError::malformed(
            at_line(reader.line(), "the size must be a whole number from 1 to 4294967295, not " +
                                       quoted(reader.field(), reader.cut())));
      }
      per_matrix = *n * *n;
      shape = "two " + std::to_string(*n) + " x " + std::to_string(*n) + " matrices";
      continue;
    }
    if (values.size() >= per_matrix && values.size() - per_matrix == per_matrix) {
      return ReaderError::malformed(at_line(reader.line(), "more numbers than " + shape + " hold"));
    }
    Result<double> value = finite_number(reader);
    if (!value.ok()) return std::move(value).error();
    values.push_back(value.value());
  }
  if (!n) return ReaderError::malformed(at_line(reader.line(), "no size given"));
  if (values.size() < per_matrix || values.size() - per_matrix < per_matrix) {
    return ReaderError::malformed(at_line(reader.line(), "the file ends after " +
                                                             std::to_string(values.size()) +
                                                             " numbers, short of " + shape));
  }
  const auto size = static_cast<std::size_t>(*n);
  SquareMatrix first{size, values.take(0, size * size)};
  SquareMatrix second{size, values.take(size * size, size * size)};
  return std::pair{std::move(first), std::move(second)};
}

}  // namespace kestrum
