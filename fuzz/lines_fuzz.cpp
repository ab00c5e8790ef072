// Fuzz target: the line reader and the field splitter against a plain model of both.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aidfunc/lines.hpp"
#include "fuzz_support.hpp"
#include "support/fatal.hpp"

namespace {

using kestrum::fuzz::check;

struct CodePoint {
  char32_t value;
  std::size_t offset;
  std::size_t length;
};

// Decodes UTF-8 the long way round: any sequence, then range checks on the value.
std::optional<std::vector<CodePoint>> decode(std::string_view text) {
  std::vector<CodePoint> out;
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
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return std::nullopt;
    }
    out.push_back({cp, i, length});
    i += length;
  }
  return out;
}

bool is_white_space(char32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

std::vector<std::string_view> model_fields(std::string_view line, const std::vector<CodePoint>& cps) {
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
std::vector<ModelLine> model_lines(std::string_view data) {
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

kestrum::fuzz::InputFile& input_file() {
  static kestrum::fuzz::InputFile file;
  return file;
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

  auto opened = kestrum::LineReader::open(input_file().write(data, size));
  check(opened.ok(), "open failed");
  kestrum::LineReader& reader = opened.value();
  for (const ModelLine& expected : model_lines(whole)) {
    const std::optional<std::vector<CodePoint>> cps = decode(expected.raw);
    std::optional<std::string_view> line;
    try {
      line = reader.next_line();
    } catch (const kestrum::FatalStop& stop) {
      check(!cps.has_value(), "fatal stop on a valid line", stop.message);
      check(stop.message == kestrum::kInvalidUtf8Message, "wrong message", stop.message);
      return 0;
    }
    check(cps.has_value(), "invalid UTF-8 line accepted", expected.raw);
    check(line.has_value() && *line == expected.text, "line differs", expected.text);

    kestrum::split_fields(*line, fields);
    std::vector<CodePoint> text_cps = *cps;
    if (expected.text.size() < expected.raw.size()) text_cps.pop_back();  // the carriage return
    check(fields == model_fields(*line, text_cps), "fields differ", *line);
  }
  check(!reader.next_line().has_value(), "line after the end");
  check(!reader.next_line().has_value(), "line after the end, asked twice");
  return 0;
}
