// Line reading through the fixed buffer, UTF-8 checking and white-space field splitting.
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

class LineReaderTest : public testing::ScratchDir {
 protected:
  // Every line of the file, copied out before the next read invalidates the view.
  [[nodiscard]] std::vector<std::string> lines_of(const std::string& bytes) {
    Result<LineReader> opened = LineReader::open(write("f.txt", bytes));
    EXPECT_TRUE(opened.ok());
    std::vector<std::string> lines;
    if (!opened.ok()) return lines;
    while (const auto line = opened.value().next_line()) lines.emplace_back(*line);
    return lines;
  }
};

using Lines = std::vector<std::string>;

TEST_F(LineReaderTest, LineEndings) {
  EXPECT_EQ(lines_of(""), Lines{});
  EXPECT_EQ(lines_of("a\nb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of("a\nb"), (Lines{"a", "b"}));  // last line without line feed
  EXPECT_EQ(lines_of("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of("\n\n"), (Lines{"", ""}));
  // Only one carriage return goes, and only right before a line feed.
  EXPECT_EQ(lines_of("a\r\r\nb\rc"), (Lines{"a\r", "b\rc"}));
}

TEST_F(LineReaderTest, LinesAcrossBufferRefills) {
  const std::size_t size = LineReader::kBufferSize;
  const std::string long_line(3 * size + 17, 'x');
  // The line feed is the last byte of the first buffer, then the first of the second.
  const std::string first_fill(size - 1, 'a');
  const std::string second_fill(size, 'b');
  EXPECT_EQ(lines_of(long_line + "\nshort\n" + long_line),
            (Lines{long_line, "short", long_line}));
  EXPECT_EQ(lines_of(first_fill + "\n" + "c\n"), (Lines{first_fill, "c"}));
  EXPECT_EQ(lines_of(second_fill + "\n" + "c"), (Lines{second_fill, "c"}));
  // CR and LF split by the boundary.
  EXPECT_EQ(lines_of(first_fill + "\r\nc"), (Lines{first_fill, "c"}));
}

TEST_F(LineReaderTest, MultiByteCharacterAcrossBufferBoundaryIsValid) {
  const std::string head(LineReader::kBufferSize - 1, 'a');
  EXPECT_EQ(lines_of(head + "\xe3\x80\x80" "1\n"), (Lines{head + "\xe3\x80\x80" "1"}));
}

TEST_F(LineReaderTest, DirectoryIsAFatalReadError) {
  Result<LineReader> opened = LineReader::open(dir());
  ASSERT_TRUE(opened.ok());  // opening a directory succeeds; reading it does not
  EXPECT_EQ(fatal_message_of([&] { return opened.value().next_line(); }),
            "called `Result::unwrap()` on an `Err` value: "
            "Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }");
}

TEST_F(LineReaderTest, PathWithNulIsRefusedNotTruncated) {
  const Result<LineReader> nul = LineReader::open(write("a", "1") + std::string(1, '\0') + "b");
  ASSERT_FALSE(nul.ok());
  EXPECT_EQ(nul.error().kind, ErrorKind::InvalidInput);
}

TEST(Comment, HashAnywhereMakesAComment) {
  EXPECT_TRUE(is_comment("# header"));
  EXPECT_TRUE(is_comment("0 1 2 # trailing"));
  EXPECT_TRUE(is_comment("1#"));
  EXPECT_FALSE(is_comment("0 1 2"));
  EXPECT_FALSE(is_comment(""));
}

}  // namespace
}  // namespace kestrum
