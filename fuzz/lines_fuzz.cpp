// Fuzz target: the field stream and the field splitter against a plain line-by-line model of both.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "aidfunc/lines.hpp"
#include "fuzz_support.hpp"

namespace {

using kestrum::fuzz::check;

// The model is plain code that the fuzzer need not learn from: left out of the coverage
// instrumentation, it costs a fraction of the time, which goes to the reader instead.
#define KESTRUM_MODEL __attribute__((no_sanitize("coverage")))

struct CodePoint {
  char32_t value;
  std::size_t offset;
  std::size_t length;
};

// Decodes UTF-8 the long way round: any sequence, then range checks on the value. `bad` is
// set to the offset of the first invalid sequence.
KESTRUM_MODEL std::optional<std::vector<CodePoint>> decode(std::string_view text, std::size_t* bad = nullptr) {
  std::vector<CodePoint> out;
  if (bad != nullptr) *bad = text.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = bytes[i];
    std::size_t length = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      length = 1, cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, cp = b & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      if (bad != nullptr) *bad = i;
      return std::nullopt;
    }
    out.push_back({cp, i, length});
    i += length;
  }
  return out;
}

KESTRUM_MODEL bool is_white_space(char32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

KESTRUM_MODEL std::vector<std::string_view> model_fields(std::string_view line, const std::vector<CodePoint>& cps) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  bool inside = false;
  for (const CodePoint& c : cps) {
    const bool white = is_white_space(c.value);
    if (white && inside) out.push_back(line.substr(start, c.offset - start));
    if (!white && !inside) start = c.offset;
    inside = !white;
  }
  if (inside) out.push_back(line.substr(start));
  return out;
}

// Raw lines: split at line feeds, a carriage return before a line feed dropped; a final line
// feed does not start another line.
struct ModelLine {
  std::string_view raw;  // before the carriage return is dropped
  std::string_view text;
};
KESTRUM_MODEL std::vector<ModelLine> model_lines(std::string_view data) {
  std::vector<ModelLine> out;
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t feed = data.find('\n', start);
    if (feed == std::string_view::npos) {
      out.push_back({data.substr(start), data.substr(start)});
      break;
    }
    std::string_view raw = data.substr(start, feed - start);
    std::string_view text = raw;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    out.push_back({raw, text});
    start = feed + 1;
  }
  return out;
}

// Whether a field follows [+-] digits-and-points [eE [+-] digits] with at most one point: the
// only shape of a long number. The reader may cut a long field only when it is not.
KESTRUM_MODEL bool number_shaped(std::string_view f) {
  std::size_t i = 0;
  if (i < f.size() && (f[i] == '+' || f[i] == '-')) ++i;
  bool point = false;
  for (; i < f.size() && ((f[i] >= '0' && f[i] <= '9') || f[i] == '.'); ++i) {
    if (f[i] == '.' && std::exchange(point, true)) return false;
  }
  if (i == f.size()) return true;
  if (f[i] != 'e' && f[i] != 'E') return false;
  ++i;
  if (i < f.size() && (f[i] == '+' || f[i] == '-')) ++i;
  for (; i < f.size(); ++i) {
    if (f[i] < '0' || f[i] > '9') return false;
  }
  return true;
}

using Token = kestrum::FieldReader::Token;

// One field from the reader: the model's field, whole, cut, or (a long number) its value.
void check_field(kestrum::FieldReader& reader, std::string_view expected) {
  const bool long_number = expected.size() > kestrum::FieldReader::kLongNumber && number_shaped(expected);
  if (!reader.cut()) {
    if (reader.field() == expected) return;
    check(long_number, "field differs", expected);
    const std::optional<double> value = kestrum::parse_number(expected);
    const std::optional<double> held = kestrum::parse_number(reader.field());
    check(value && held && kestrum::fuzz::same_bits(*value, *held), "a long number changed", expected);
    return;
  }
  check(expected.size() > kestrum::FieldReader::kCutLength &&
            (!number_shaped(expected) || !kestrum::parse_number(expected)),
        "a short field or a number was cut", expected);
  check(reader.field() == kestrum::utf8_prefix(expected, kestrum::FieldReader::kCutLength),
        "a cut field is not the field's start", expected);
}

kestrum::fuzz::InputFile& input_file() {
  static kestrum::fuzz::InputFile file;
  return file;
}

// What the reader must give for one line: its fields and then the line end, or (a line that
// is not UTF-8) the fields ended before the bad sequence and then InvalidUtf8.
struct ExpectedLine {
  std::string_view raw;
  std::vector<std::string_view> fields;
  bool valid = true;
  bool open_field = false;  // not valid: the sequence falls in a field, which may come out cut
};

// The model of the whole input, up to and including its first line that is not UTF-8.
KESTRUM_MODEL std::vector<ExpectedLine> expected_lines(std::string_view whole) {
  std::vector<ExpectedLine> out;
  std::vector<std::string_view> fields;
  for (const ModelLine& line : model_lines(whole)) {
    ExpectedLine e{line.raw, {}, true, false};
    std::size_t bad = 0;
    const std::optional<std::vector<CodePoint>> cps = decode(line.raw, &bad);
    if (!cps) {
      const std::string_view head = line.raw.substr(0, bad);
      const std::vector<CodePoint> head_cps = *decode(head);
      e.fields = model_fields(head, head_cps);
      e.valid = false;
      e.open_field = !head_cps.empty() && !is_white_space(head_cps.back().value);
      out.push_back(std::move(e));
      return out;
    }
    std::vector<CodePoint> text_cps = *cps;
    if (line.text.size() < line.raw.size()) text_cps.pop_back();  // the carriage return
    e.fields = model_fields(line.text, text_cps);
    kestrum::split_fields(line.text, fields);
    check(fields == e.fields, "split_fields differs", line.text);
    out.push_back(std::move(e));
  }
  return out;
}

// Reads the input through a buffer of `buffer_size` bytes and compares it with the model.
void replay(const std::string& path, std::size_t buffer_size, const std::vector<ExpectedLine>& lines) {
  auto opened = kestrum::FieldReader::open(path, buffer_size);
  check(opened.ok(), "open failed");
  kestrum::FieldReader& reader = opened.value();
  std::size_t number = 0;
  for (const ExpectedLine& expected : lines) {
    ++number;
    if (!expected.valid) {
      // The fields ended by white space before the bad sequence come out, then the error;
      // the field the sequence falls in may come out cut first.
      const std::size_t closed = expected.fields.size() - (expected.open_field ? 1 : 0);
      std::size_t k = 0;
      for (Token t = reader.next(); t != Token::InvalidUtf8; t = reader.next(), ++k) {
        check(t == Token::Field, "a line that is not UTF-8 ended otherwise", expected.raw);
        if (k < closed) {
          check_field(reader, expected.fields[k]);
        } else {
          check(reader.cut(), "a field past the bad sequence", expected.raw);
        }
      }
      check(k >= closed && k <= closed + 1, "fields before the bad sequence lost or added");
      check(reader.line() == number, "wrong line for the bad sequence");
      return;
    }
    for (const std::string_view f : expected.fields) {
      check(reader.next() == Token::Field, "field missing", f);
      check_field(reader, f);
      check(reader.line() == number, "wrong line number", f);
    }
    check(reader.next() == Token::LineEnd, "line end missing", expected.raw);
    check(reader.line() == number, "wrong line number at a line end");
    check(reader.line_has_hash() == (expected.raw.find('#') != std::string_view::npos),
          "'#' seen wrongly", expected.raw);
  }
  check(reader.next() == Token::End, "token after the end");
  check(reader.line() == std::max<std::size_t>(number, 1), "wrong last line number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view whole(reinterpret_cast<const char*>(data), size);
  check(kestrum::is_valid_utf8(whole) == decode(whole).has_value(), "is_valid_utf8 disagrees");

  // The splitter must stay inside its input even when it is not UTF-8.
  std::vector<std::string_view> fields;
  kestrum::split_fields(whole, fields);
  const char* previous_end = whole.data();
  for (const std::string_view f : fields) {
    check(!f.empty() && f.data() >= previous_end && f.data() + f.size() <= whole.data() + whole.size(),
          "field outside its line or out of order");
    previous_end = f.data() + f.size();
  }

  // The reader's own buffer, and a small one of a size taken from the input, so that short
  // inputs cross many refills: fields, characters and carriage returns split anywhere.
  const std::vector<ExpectedLine> lines = expected_lines(whole);
  const std::string& path = input_file().write(data, size);
  replay(path, kestrum::FieldReader::kBufferSize, lines);
  const std::size_t small = kestrum::FieldReader::kMinBufferSize + size % 29;
  replay(path, small, lines);
  return 0;
}
