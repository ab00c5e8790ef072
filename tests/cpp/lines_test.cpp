// The field stream through its fixed buffer, UTF-8 checking and white-space field splitting.
#include "aidfunc/lines.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io_test_files.hpp"

namespace kestrum {
namespace {


struct Split {
  const char* name;
  std::string line;
  std::vector<std::string> fields;
};

class SplitFields : public ::testing::TestWithParam<Split> {};

TEST_P(SplitFields, SplitsAtWhiteSpaceRuns) {
  std::vector<std::string_view> fields{"stale"};  // replaced, not appended to
  split_fields(GetParam().line, fields);
  EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.end()), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitFields,
    ::testing::Values(
        Split{"Blank", "", {}}, Split{"OnlySpaces", " \t  ", {}},
        Split{"LeadingTrailingRuns", "  1\t\t2   3 ", {"1", "2", "3"}},
        Split{"AsciiControls", "a\x0b" "b\x0c" "c\rd\ne", {"a", "b", "c", "d", "e"}},
        // Comma, U+001F and U+200B are not White_Space.
        Split{"NotSeparators", "1,2 a\x1f" "b x\xe2\x80\x8by", {"1,2", "a\x1f" "b", "x\xe2\x80\x8by"}},
        // Every White_Space code point above ASCII, in order.
        Split{"WideSpaces",
              "1\xc2\x85" "2\xc2\xa0" "3\xe1\x9a\x80" "4\xe2\x80\x80" "5\xe2\x80\x8a" "6\xe2\x80\xa8"
              "7\xe2\x80\xa9" "8\xe2\x80\xaf" "9\xe2\x81\x9f" "a\xe3\x80\x80\xe3\x80\x80" "b",
              {"1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b"}},
        Split{"ByteOrderMarkSticks", "\xef\xbb\xbf" "1 2", {"\xef\xbb\xbf" "1", "2"}},
        Split{"FourByteCharacter", "\xf0\x9f\x98\x80 1", {"\xf0\x9f\x98\x80", "1"}}),
    [](const auto& info) { return info.param.name; });

struct Utf8 {
  const char* name;
  std::string bytes;
  bool valid;
};

class Utf8Validity : public ::testing::TestWithParam<Utf8> {};

TEST_P(Utf8Validity, Classifies) { EXPECT_EQ(is_valid_utf8(GetParam().bytes), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validity,
    ::testing::Values(Utf8{"Ascii", "0 1 2", true}, Utf8{"TwoByte", "\xc2\xa0", true},
                      Utf8{"ThreeByte", "\xe3\x80\x80", true},
                      Utf8{"FourByteMax", "\xf4\x8f\xbf\xbf", true},
                      Utf8{"LoneContinuation", "\x80", false},
                      Utf8{"OverlongTwoByte", "\xc0\xaf", false},
                      Utf8{"OverlongThreeByte", "\xe0\x80\xaf", false},
                      Utf8{"Surrogate", "\xed\xa0\x80", false},
                      Utf8{"BeyondMax", "\xf4\x90\x80\x80", false},
                      Utf8{"Truncated", "1 \xe3\x80", false},
                      Utf8{"BadThirdByte", "\xe3\x80" "1", false},
                      Utf8{"Latin1", "caf\xe9", false}, Utf8{"Ff", "\xff", false}),
    [](const auto& info) { return info.param.name; });

class FieldReaderTest : public testing::ScratchDir {
 protected:
  // The tokens of a file: "text" per field ("cut:text" when cut), "|" per line end ("|#" when
  // the line holds a '#'), and "utf8@N" or "errno N" for an error.
  [[nodiscard]] std::vector<std::string> tokens_of(const std::string& bytes,
                                                   std::size_t buffer_size = FieldReader::kBufferSize) {
    Result<FieldReader> opened = FieldReader::open(write("f.txt", bytes), buffer_size);
    EXPECT_TRUE(opened.ok());
    std::vector<std::string> out;
    if (!opened.ok()) return out;
    FieldReader& reader = opened.value();
    for (;;) {
      switch (reader.next()) {
        case FieldReader::Token::Field:
          out.push_back((reader.cut() ? "cut:" : "") + std::string(reader.field()));
          break;
        case FieldReader::Token::LineEnd: out.push_back(reader.line_has_hash() ? "|#" : "|"); break;
        case FieldReader::Token::End: return out;
        case FieldReader::Token::ReadError:
          out.push_back("errno " + std::to_string(reader.read_errno()));
          return out;
        case FieldReader::Token::InvalidUtf8:
          out.push_back("utf8@" + std::to_string(reader.line()));
          return out;
      }
    }
  }
};

using Tokens = std::vector<std::string>;

TEST_F(FieldReaderTest, FieldsAndLineEnds) {
  EXPECT_EQ(tokens_of(""), Tokens{});
  EXPECT_EQ(tokens_of(" 1\t2 \n3"), (Tokens{"1", "2", "|", "3", "|"}));  // last line unended
  EXPECT_EQ(tokens_of("a\r\nb\r\n"), (Tokens{"a", "|", "b", "|"}));
  EXPECT_EQ(tokens_of("\n\n"), (Tokens{"|", "|"}));
  EXPECT_EQ(tokens_of("a\r\rb\rc"), (Tokens{"a", "b", "c", "|"}));
  EXPECT_EQ(tokens_of("1 #x 2\n#\n3"), (Tokens{"1", "#x", "2", "|#", "#", "|#", "3", "|"}));
}

TEST_F(FieldReaderTest, LineNumbersOfErrors) {
  EXPECT_EQ(tokens_of("1\n2 \xff\n"), (Tokens{"1", "|", "2", "utf8@2"}));
  EXPECT_EQ(tokens_of("1\n\n1 \xe3\x80"), (Tokens{"1", "|", "|", "1", "utf8@3"}));  // truncated at the end
  EXPECT_EQ(tokens_of("\xc0\xaf\n"), (Tokens{"utf8@1"}));
}

TEST_F(FieldReaderTest, FieldsAcrossBufferRefills) {
  const std::size_t size = FieldReader::kBufferSize;
  // A field as long as is ever held whole, across two refills.
  const std::string digits = std::string(FieldReader::kLongNumber - 1, '7') + "9";
  const std::string spaces(size - 100, ' ');
  EXPECT_EQ(tokens_of(spaces + digits + "\n5 " + spaces + digits),
            (Tokens{digits, "|", "5", digits, "|"}));
  // The line feed is the last byte of the first buffer, then the first of the second.
  const std::string first = std::string(size - 4, ' ') + "123";
  const std::string second = std::string(size - 3, ' ') + "123";
  EXPECT_EQ(tokens_of(first + "\nc\n"), (Tokens{"123", "|", "c", "|"}));
  EXPECT_EQ(tokens_of(second + "\nc"), (Tokens{"123", "|", "c", "|"}));
  EXPECT_EQ(tokens_of(first + "\r\nc"), (Tokens{"123", "|", "c", "|"}));
  // A character split by the boundary, as white space and inside a field.
  const std::string pad(size - 3, ' ');
  EXPECT_EQ(tokens_of("1" + pad + " \xe3\x80\x80" "2\n"), (Tokens{"1", "2", "|"}));
  EXPECT_EQ(tokens_of(pad + "ab\xc3\xa9\n"), (Tokens{"ab\xc3\xa9", "|"}));
}

// The buffer's size moves the refills and nothing else: every split of a character, a field,
// a carriage return and line feed, or a long number gives the same tokens.
TEST_F(FieldReaderTest, AnyBufferSizeGivesTheSameTokens) {
  const std::string long_number = std::string(FieldReader::kLongNumber + 10, '3') + ".5e-2";
  const std::string inputs[] = {
      " 1\t2 \r\n3 \xe3\x80\x80" "4\xc3\xa9 #x\n\n" "5\xf0\x9f\x98\x80 6\r\n",
      "ab " + std::string(3 * FieldReader::kCutLength, 'z') + " cd\n" + long_number + " 7\n",
      "1 2\n3 \xe3\x80 4\n5\n",  // a bad sequence on the second line
  };
  for (const std::string& input : inputs) {
    const Tokens expected = tokens_of(input);
    for (std::size_t size = FieldReader::kMinBufferSize; size < 48; ++size) {
      EXPECT_EQ(tokens_of(input, size), expected) << "buffer of " << size;
    }
  }
}

TEST_F(FieldReaderTest, LongFieldThatCannotBeANumberIsCutAndSkipped) {
  const std::size_t size = FieldReader::kBufferSize;
  // An endless run of NUL bytes (/dev/zero) is one field that can never be a number.
  const std::string zeros(5 * size, '\0');
  EXPECT_EQ(tokens_of("1 " + zeros + " 2\n3"),
            (Tokens{"1", "cut:" + std::string(FieldReader::kCutLength, '\0'), "2", "|", "3", "|"}));
  // A '#' in the skipped part still makes the line a comment.
  EXPECT_EQ(tokens_of(std::string(2 * size, 'x') + "#\n"),
            (Tokens{"cut:" + std::string(FieldReader::kCutLength, 'x'), "|#"}));
  // The cut ends on a character: 63 bytes of 'x', then a two-byte character that does not fit.
  std::string pairs = std::string(FieldReader::kCutLength - 1, 'x');
  for (std::size_t k = 0; k < size; ++k) pairs += "\xc3\xa9";
  EXPECT_EQ(tokens_of(pairs), (Tokens{"cut:" + std::string(FieldReader::kCutLength - 1, 'x'), "|"}));
  // A short word is never judged; a long field shaped like a number is kept whole up to
  // kLongNumber bytes, then as its value.
  const std::string number = std::string(FieldReader::kLongNumber - 2, '1') + "e-9";
  EXPECT_EQ(tokens_of(number + " infinity"), (Tokens{number, "infinity", "|"}));
  const std::string too_long = "-" + std::string(2 * size, '0') + "25." + std::string(size, '0') + "e-1";
  const Tokens held = tokens_of(too_long + " x\n");
  ASSERT_EQ(held.size(), 3u);
  EXPECT_EQ(parse_number(held[0]), -2.5);
  EXPECT_EQ(held[1], "x");
  const std::string unfinished = std::string(2 * size, '1') + "e";
  EXPECT_EQ(tokens_of(unfinished), (Tokens{"cut:" + std::string(FieldReader::kCutLength, '1'), "|"}));
  const std::string two_points =
      std::string(size, '1') + "." + std::string(size, '1') + "." + std::string(2 * size, '1');
  EXPECT_EQ(tokens_of(two_points), (Tokens{"cut:" + std::string(FieldReader::kCutLength, '1'), "|"}));
}

TEST_F(FieldReaderTest, DirectoryIsAReadError) {
  Result<FieldReader> opened = FieldReader::open(dir());
  ASSERT_TRUE(opened.ok());  // opening a directory succeeds; reading it does not
  EXPECT_EQ(opened.value().next(), FieldReader::Token::ReadError);
  EXPECT_EQ(opened.value().read_errno(), 21);
}

TEST_F(FieldReaderTest, PathWithNulIsRefusedNotTruncated) {
  const Result<FieldReader> nul = FieldReader::open(write("a", "1") + std::string(1, '\0') + "b");
  ASSERT_FALSE(nul.ok());
  EXPECT_EQ(nul.error().kind, ErrorKind::InvalidInput);
}

TEST(Utf8Prefix, EndsOnACharacter) {
  EXPECT_EQ(utf8_prefix("abc", 5), "abc");
  EXPECT_EQ(utf8_prefix("ab\xc3\xa9", 3), "ab");
  EXPECT_EQ(utf8_prefix("ab\xc3\xa9", 4), "ab\xc3\xa9");
  EXPECT_EQ(utf8_prefix("\xf0\x9f\x98\x80", 3), "");
}

}  // namespace
}  // namespace kestrum
