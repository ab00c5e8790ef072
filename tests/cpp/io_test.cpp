// The file readers on small files: layouts, comments, errors, and hand-computed distances.
#include "aidfunc/io.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "io_test_files.hpp"

namespace kestrum {
namespace {

using Values = std::vector<double>;
using Rows = std::vector<std::vector<double>>;

constexpr const char* kParseError =
    "called `Result::unwrap()` on an `Err` value: ParseFloatError { kind: Invalid }";
constexpr const char* kUtf8Error =
    "called `Result::unwrap()` on an `Err` value: "
    "Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }";

class Readers : public testing::ScratchDir {
 protected:
  template <class T>
  void expect_invalid_input(const Result<T>& result, const std::string& text) {
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::InvalidInput);
    EXPECT_EQ(result.error().os_errno, 0);
    EXPECT_EQ(result.error().text, text);
  }
};

struct Layout {
  const char* name;
  const char* bytes;
};

class DistanceLayout : public testing::ScratchDir,
                       public ::testing::WithParamInterface<Layout> {};

TEST_P(DistanceLayout, ReadsTheSameMatrix) {
  const Result<SquareMatrix> read = read_distance_matrix(write("d.txt", GetParam().bytes));
  ASSERT_TRUE(read.ok()) << read.error().text;
  EXPECT_EQ(read.value().rows(), (Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, DistanceLayout,
    ::testing::Values(Layout{"ThreeLines", "0 1 2\n1 0 3\n2 3 0\n"},
                      Layout{"OneLine", "0 1 2 1 0 3 2 3 0"},
                      Layout{"OnePerLine", "0\n1\n2\n1\n0\n3\n2\n3\n0\n"},
                      Layout{"Crlf", "0 1 2\r\n1 0 3\r\n2 3 0\r\n"},
                      Layout{"BlankLines", "\n0 1 2\n\n   \n1 0 3\n2 3 0\n\n"},
                      Layout{"CommentsAndTabs", "# matrix\n0\t1  2\n#1 2 3\n1 0 3\n2 3 0 \n"},
                      Layout{"UnicodeSpaces", "0\xc2\xa0" "1\xe3\x80\x80" "2 1 0 3 2 3 0"},
                      Layout{"ByteOrderMarkOnComment", "\xef\xbb\xbf# c\n0 1 2 1 0 3 2 3 0"},
                      Layout{"OtherSpellings", "0.0 1e0 +2\n1. 0 .3e1\n20e-1 3 -0\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Readers, CsvKeepsFileOrderAcrossLines) {
  const Result<Values> read = read_csv(write("v.txt", "3 -1.5\n# 9 9\n\n2e2 0 # 7\n+4\n"));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.value(), (Values{3, -1.5, 4}));
  const Result<Values> empty = read_csv(write("e.txt", ""));
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.value().empty());
}

TEST_F(Readers, FieldAcrossBufferBoundary) {
  // "12345" starts 2 bytes before the end of the first 8192-byte fill.
  const std::string padding(8192 - 2, ' ');
  const Result<Values> read = read_csv(write("v.txt", padding + "12345 6"));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.value(), (Values{12345, 6}));
}

TEST_F(Readers, CommentLineDropsItsNumbers) {
  expect_invalid_input(read_distance_matrix(write("d.txt", "0 1 2 # head\n1 0 3\n2 3 0\n")),
                       "distanceMatrix is not a square");
}

TEST_F(Readers, NotASquare) {
  expect_invalid_input(read_distance_matrix(write("d.txt", "0 1 2 3 4 5 6 7")),
                       "distanceMatrix is not a square");
  expect_invalid_input(read_distance_matrix(write("e.txt", "0 0")),
                       "distanceMatrix is not a square");
}

TEST_F(Readers, NoNumbersIsAChunkSizeStop) {
  for (const char* bytes : {"", "# only\n#comments\n", "\n \n"}) {
    const std::string file = write("d.txt", bytes);
    EXPECT_EQ(fatal_message_of([&] { return read_distance_matrix(file); }),
              "chunk size must be non-zero")
        << bytes;
  }
}

TEST_F(Readers, SingleZeroIsAOneByOneMatrix) {
  const Result<SquareMatrix> read = read_distance_matrix(write("d.txt", "0\n"));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.value().rows(), Rows{{0}});
}

TEST_F(Readers, DiagonalChecks) {
  expect_invalid_input(read_distance_matrix(write("a.txt", "0 1 1\n1 0 1\n1 1 5\n")),
                       "distance to location 2 itself is not zero");
  // The first offending location is named.
  expect_invalid_input(read_distance_matrix(write("b.txt", "0 1 1\n1 4 1\n1 1 5\n")),
                       "distance to location 1 itself is not zero");
  expect_invalid_input(read_distance_matrix(write("c.txt", "nan 1\n1 0\n")),
                       "distance to location 0 itself is not zero");

  const Result<SquareMatrix> negative_zero = read_distance_matrix(write("d.txt", "-0 7\n7 -0\n"));
  ASSERT_TRUE(negative_zero.ok());
  EXPECT_TRUE(std::signbit(negative_zero.value()[0][0]));
  // Neither symmetry nor signs are checked.
  const Result<SquareMatrix> odd = read_distance_matrix(write("e.txt", "0 -1\ninf 0\n"));
  ASSERT_TRUE(odd.ok());
  EXPECT_EQ(odd.value()[1][0], std::numeric_limits<double>::infinity());
}

TEST_F(Readers, BadFieldsAreParseStops) {
  const std::string comma = write("comma.txt", "0,1\n1,0\n");
  const std::string bom = write("bom.txt", "\xef\xbb\xbf" "0 1\n1 0\n");
  for (const std::string& file : {comma, bom}) {
    EXPECT_EQ(fatal_message_of([&] { return read_csv(file); }), kParseError) << file;
    EXPECT_EQ(fatal_message_of([&] { return read_distance_matrix(file); }), kParseError) << file;
    EXPECT_EQ(fatal_message_of([&] { return read_coord2d_to_distance_matrix(file); }), kParseError);
  }
}

TEST_F(Readers, FirstProblemInFileOrderWins) {
  const std::string parse_first = write("p.txt", "1\n1,5\n2\n\xff\n");
  EXPECT_EQ(fatal_message_of([&] { return read_csv(parse_first); }), kParseError);
  // Invalid UTF-8 is fatal even on a comment line, and before a later bad field.
  const std::string utf8_first = write("u.txt", "1\n# caf\xe9\n1,5\n");
  EXPECT_EQ(fatal_message_of([&] { return read_csv(utf8_first); }), kUtf8Error);
  const std::string dms = write("g.txt", "0 0 0 N 0 0 0 E\n# caf\xe9\n1 2\n");
  EXPECT_EQ(fatal_message_of([&] { return read_dms_to_distance_matrix(dms); }), kUtf8Error);
  const std::string dms_short_first = write("h.txt", "1 2\n\xff\n");
  EXPECT_EQ(fatal_message_of([&] { return read_dms_to_distance_matrix(dms_short_first); }),
            "index out of bounds: the len is 2 but the index is 2");
}

TEST_F(Readers, ALineIsJudgedWholeEvenWhenReadInPieces) {
  // The bad field and the comment's '#' are far apart: the line is still just a comment.
  const std::string far = write("f.txt", "1 x " + std::string(3 * 8192, ' ') + "#\n3\n");
  const std::string nul = write("n.txt", "1 " + std::string(100000, '\0') + " 2 #\n3\n");
  for (const std::string& file : {far, nul}) {
    const Result<Values> read = read_csv(file);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), (Values{3})) << file.size();
  }
  // Without the '#' the bad field stops the reading, after the numbers before its line.
  const std::string bad = write("b.txt", "1\n2 " + std::string(100000, '\0') + "\n");
  EXPECT_EQ(fatal_message_of([&] { return read_csv(bad); }), kParseError);
}

TEST(ValueStore, KeepsOrderAcrossBlocksThroughTruncationAndTakes) {
  constexpr std::size_t kBlock = ValueStore::kBlock;
  ValueStore store;
  for (std::size_t i = 0; i < 3 * kBlock + 5; ++i) store.push_back(static_cast<double>(i));
  store.truncate(kBlock + 1);  // drops two blocks and most of a third
  store.truncate(2 * kBlock);  // growing is not truncating
  EXPECT_EQ(store.size(), kBlock + 1);
  for (std::size_t i = 0; i < kBlock; ++i) store.push_back(-static_cast<double>(i));
  ASSERT_EQ(store.size(), 2 * kBlock + 1);
  EXPECT_EQ(store[kBlock], static_cast<double>(kBlock));
  EXPECT_EQ(store[kBlock + 1], -0.0);
  const std::vector<double> head = store.take(0, kBlock + 2);
  ASSERT_EQ(head.size(), kBlock + 2);
  EXPECT_EQ(head[kBlock - 1], static_cast<double>(kBlock - 1));
  EXPECT_EQ(head[kBlock + 1], -0.0);
  const std::vector<double> tail = store.take(kBlock + 2, kBlock - 1);
  ASSERT_EQ(tail.size(), kBlock - 1);
  EXPECT_EQ(tail.front(), -1.0);
  EXPECT_EQ(tail.back(), -static_cast<double>(kBlock - 1));
  store.truncate(0);
  EXPECT_EQ(store.size(), 0u);
  store.push_back(7);
  EXPECT_EQ(store.take(0, 1), (Values{7}));
}

TEST_F(Readers, OpenErrorsComeBackAsValues) {
  const std::string missing = path("missing.txt");
  const auto check = [](const ReaderError& error) {
    EXPECT_EQ(error.kind, ErrorKind::Os);
    EXPECT_EQ(error.os_errno, 2);
    EXPECT_EQ(error.text, "No such file or directory (os error 2)");
  };
  const Result<Values> csv = read_csv(missing);
  ASSERT_FALSE(csv.ok());
  check(csv.error());
  for (const auto& read : {read_distance_matrix(missing), read_coord2d_to_distance_matrix(missing),
                           read_dms_to_distance_matrix(missing)}) {
    ASSERT_FALSE(read.ok());
    check(read.error());
  }
}

TEST_F(Readers, Coord2dDistances) {
  const Rows expected{{0, 5}, {5, 0}};
  for (const char* bytes : {"0 0\n3 4\n", "0 0 3 4 7"}) {  // the odd 7 is ignored
    const Result<SquareMatrix> read = read_coord2d_to_distance_matrix(write("c.txt", bytes));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value().rows(), expected) << bytes;
  }
  for (const char* bytes : {"", "42\n"}) {
    const Result<SquareMatrix> read = read_coord2d_to_distance_matrix(write("c.txt", bytes));
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read.value().empty()) << bytes;
  }
}

TEST_F(Readers, Coord2dThreePoints) {
  // (1,1) (4,5) (1,13): 3-4-5 and 12 on the y axis; 4,5 to 1,13 is sqrt(9 + 64).
  const Result<SquareMatrix> read =
      read_coord2d_to_distance_matrix(write("c.txt", "1 1\n4 5\n1 13\n"));
  ASSERT_TRUE(read.ok());
  const SquareMatrix& m = read.value();
  ASSERT_EQ(m.size(), 3U);
  EXPECT_EQ(m.rows()[0], (Values{0, 5, 12}));
  EXPECT_EQ(m[1][2], std::sqrt(73.0));
  EXPECT_EQ(m.rows()[2], (Values{12, std::sqrt(73.0), 0}));
}

TEST_F(Readers, DmsSamePositionIsZero) {
  const Result<SquareMatrix> read = read_dms_to_distance_matrix(
      write("g.txt", "48 51 24 N 2 21 3 E\n48 51 24 N 2 21 3 E extra fields\n"));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.value().rows(), (Rows{{0, 0}, {0, 0}}));
}

TEST_F(Readers, DmsQuarterOfTheEquator) {
  // A quarter of a great circle: pi/4 * 12742 = 10007.543398...
  const Result<SquareMatrix> read =
      read_dms_to_distance_matrix(write("g.txt", "0 0 0 N 0 0 0 E\n0 0 0 N 90 0 0 E\n"));
  ASSERT_TRUE(read.ok());
  EXPECT_NEAR(read.value()[0][1], 10007.543398010286, 1e-9);
  EXPECT_EQ(read.value()[0][1], read.value()[1][0]);
  EXPECT_EQ(read.value()[1][1], 0.0);
}

TEST_F(Readers, DmsHemispheres) {
  // Only a capital S or W negates: S/W on zero changes nothing; "s" and "South" do not negate.
  // Point pairs along a meridian, so the distance is |lat_i - lat_j| in radians * 6371.
  const double km_per_degree = 12742.0 / 2.0 * 3.14159265358979323846 / 180.0;
  struct Case {
    const char* lines;
    double degrees_apart;
  };
  for (const Case c : {Case{"0 0 0 N 0 0 0 E\n0 0 0 S 0 0 0 W\n", 0.0},
                       Case{"10 0 0 N 0 0 0 E\n10 0 0 S 0 0 0 E\n", 20.0},
                       Case{"10 0 0 N 0 0 0 E\n10 0 0 s 0 0 0 E\n", 0.0},
                       Case{"10 0 0 N 0 0 0 E\n10 0 0 South 0 0 0 E\n", 0.0},
                       // -33 30 0 is -32.5: minutes are added to negative degrees.
                       Case{"-33 30 0 N 0 0 0 E\n0 0 0 N 0 0 0 E\n", 32.5},
                       Case{"0 30 0 S 0 0 0 E\n0 0 1800 N 0 0 0 E\n", 1.0}}) {
    const Result<SquareMatrix> read = read_dms_to_distance_matrix(write("g.txt", c.lines));
    ASSERT_TRUE(read.ok());
    EXPECT_NEAR(read.value()[0][1], c.degrees_apart * km_per_degree, 1e-7) << c.lines;
  }
  // W negates longitude: 10 E and 10 W on the equator are 20 degrees apart.
  const Result<SquareMatrix> read =
      read_dms_to_distance_matrix(write("w.txt", "0 0 0 N 10 0 0 E\n0 0 0 N 10 0 0 W\n"));
  ASSERT_TRUE(read.ok());
  EXPECT_NEAR(read.value()[0][1], 20 * km_per_degree, 1e-7);
}

TEST_F(Readers, DmsMissingFields) {
  struct Case {
    const char* lines;
    const char* message;
  };
  for (const Case c :
       {Case{"0 0 0 N 0 0 0\n", "index out of bounds: the len is 7 but the index is 7"},
        Case{"0 0 0 N 0 0 0 E\n\n", "index out of bounds: the len is 0 but the index is 0"},
        Case{"1 2 3\n", "index out of bounds: the len is 3 but the index is 3"},
        Case{"1 2 3 N 4\n", "index out of bounds: the len is 5 but the index is 5"},
        // Fields are used in order, so a bad number comes before a missing field after it.
        Case{"1 x\n", kParseError}, Case{"1 2 3 N 4 5 y\n", kParseError},
        Case{"1 2 3 4 5 6 7 8\n1 2\n", "index out of bounds: the len is 2 but the index is 2"}}) {
    const std::string file = write("g.txt", c.lines);
    EXPECT_EQ(fatal_message_of([&] { return read_dms_to_distance_matrix(file); }), c.message)
        << c.lines;
  }
}

TEST_F(Readers, DmsCommentsAndEmptyFile) {
  const Result<SquareMatrix> empty = read_dms_to_distance_matrix(write("g.txt", "# none\n"));
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.value().empty());
  // A hemisphere field is any text; numbers after the eighth field are not parsed.
  const Result<SquareMatrix> one =
      read_dms_to_distance_matrix(write("h.txt", "1 2 3 N 4 5 6 E not,a,number\n"));
  ASSERT_TRUE(one.ok());
  EXPECT_EQ(one.value().rows(), Rows{{0}});
}

}  // namespace
}  // namespace kestrum
