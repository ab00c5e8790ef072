// TSPLIB and QAPLIB readers: each layout and distance rule on small files, format errors, and
// the published instances scoring their known optima.
#include "aidfunc/library_formats.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "io_test_files.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "support/word.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;

constexpr const char* kThreeCities = "1 0 0\n2 3 4\n3 0 2.5\n";

std::string coordinate_file(const std::string& type, const std::string& cities) {
  return "NAME: t\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: " + type +
         "\nNODE_COORD_SECTION\n" + cities + "EOF\n";
}

struct Case {
  const char* name;
  std::string file;
  Rows expected;
};

class TsplibCase : public testing::ScratchDir, public ::testing::WithParamInterface<Case> {};

TEST_P(TsplibCase, ReadsTheMatrix) {
  const Result<SquareMatrix> read = read_tsplib(write("t.tsp", GetParam().file));
  ASSERT_TRUE(read.ok()) << read.error().text;
  EXPECT_EQ(read.value().rows(), GetParam().expected);
}

// Distances worked by hand. EUC_2D rounds half up (2.5 -> 3); ATT is sqrt((dx^2+dy^2)/10)
// rounded up unless exact (1000/10 = 100 -> 10); GEO reads 1.30 as 1 degree 30 minutes.
INSTANTIATE_TEST_SUITE_P(
    DistanceRules, TsplibCase,
    ::testing::Values(
        Case{"Euc2d", coordinate_file("EUC_2D", kThreeCities), {{0, 5, 3}, {5, 0, 3}, {3, 3, 0}}},
        Case{"Ceil2d", coordinate_file("CEIL_2D", kThreeCities), {{0, 5, 3}, {5, 0, 4}, {3, 4, 0}}},
        Case{"Att", coordinate_file("ATT", "1 0 0\n2 30 40\n3 30 10\n"),
             {{0, 16, 10}, {16, 0, 10}, {10, 10, 0}}},
        // 1.5 degrees of the equator: 6378.388 * 0.0261799 = 166.99, +1, floor; -1.30 to 1.30
        // is three degrees (334). Half a degree of meridian gives 56, and two cities at the
        // same place are 1 apart: the +1 applies to every pair, as in TSPLIB's own function.
        Case{"GeoEquator", coordinate_file("GEO", "1 0 0\n2 0 1.30\n3 0 -1.30\n"),
             {{0, 167, 167}, {167, 0, 334}, {167, 334, 0}}},
        Case{"GeoMeridianAndSamePlace", coordinate_file("GEO", "1 0 0\n2 0.30 0\n3 0.30 0\n"),
             {{0, 56, 56}, {56, 0, 1}, {56, 1, 0}}},
        Case{"CitiesOutOfOrderCrlfAndExtraKeys",
             "NAME : t\r\nCOMMENT : a: b\r\nTYPE : TSP\r\nDIMENSION : 3\r\nEDGE_WEIGHT_TYPE : "
             "EUC_2D\r\nDISPLAY_DATA_TYPE: COORD_DISPLAY\r\nNODE_COORD_SECTION\r\n"
             "3 0 2.5\r\n\r\n1 0 0\r\n  2   3.0e0\t4  \r\n",
             {{0, 5, 3}, {5, 0, 3}, {3, 3, 0}}},
        Case{"OneCity", "TYPE:TSP\nDIMENSION:1\nEDGE_WEIGHT_TYPE:EUC_2D\nNODE_COORD_SECTION\n1 5 5\n",
             {{0}}}),
    [](const auto& info) { return std::string(info.param.name); });

std::string explicit_file(const std::string& type, int n, const std::string& format,
                          const std::string& weights) {
  return "NAME: e\nTYPE: " + type + "\nDIMENSION: " + std::to_string(n) +
         "\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: " + format +
         " \nEDGE_WEIGHT_SECTION\n" + weights + "DISPLAY_DATA_SECTION\n1 0 0\n2 1 1\nEOF\n";
}

const Rows kFour{{0, 1, 2, 3}, {1, 0, 4, 5}, {2, 4, 0, 6}, {3, 5, 6, 0}};

INSTANTIATE_TEST_SUITE_P(
    ExplicitLayouts, TsplibCase,
    ::testing::Values(
        Case{"FullMatrix", explicit_file("TSP", 4, "FULL_MATRIX", "0 1 2 3\n1 0 4 5\n2 4 0 6\n3 5 6 0\n"), kFour},
        Case{"UpperRow", explicit_file("TSP", 4, "UPPER_ROW", "1 2 3\n4 5\n6\n"), kFour},
        Case{"LowerRow", explicit_file("TSP", 4, "LOWER_ROW", "1\n2 4\n3 5 6\n"), kFour},
        Case{"UpperDiagRowOnOneLine", explicit_file("TSP", 4, "UPPER_DIAG_ROW", "0 1 2 3 0 4 5 0 6 0\n"), kFour},
        Case{"LowerDiagRow", explicit_file("TSP", 4, "LOWER_DIAG_ROW", "0\n1 0\n2 4 0\n3 5 6 0\n"), kFour},
        Case{"UpperCol", explicit_file("TSP", 4, "UPPER_COL", "1\n2 4\n3 5 6\n"), kFour},
        Case{"LowerCol", explicit_file("TSP", 4, "LOWER_COL", "1 2 3\n4 5\n6\n"), kFour},
        Case{"UpperDiagCol", explicit_file("TSP", 4, "UPPER_DIAG_COL", "0\n1 0\n2 4 0\n3 5 6 0\n"), kFour},
        Case{"LowerDiagCol", explicit_file("TSP", 4, "LOWER_DIAG_COL", "0 1 2 3\n0 4 5\n0 6\n0\n"), kFour},
        // Placeholders on the diagonal are dropped; the rest stays asymmetric.
        Case{"AtspPlaceholders", explicit_file("ATSP", 3, "FULL_MATRIX", "9999 1 2\n7 100000000 3\n8 9 9999\n"),
             {{0, 1, 2}, {7, 0, 3}, {8, 9, 0}}},
        Case{"DiagonalIgnored", explicit_file("TSP", 2, "LOWER_DIAG_ROW", "5\n1 5\n"), {{0, 1}, {1, 0}}},
        Case{"LinesAfterEofIgnored", explicit_file("TSP", 2, "UPPER_ROW", "7\n") + "junk 1 2\n",
             {{0, 7}, {7, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Broken {
  const char* name;
  std::string file;
  std::string message;
};

class TsplibMalformed : public testing::ScratchDir, public ::testing::WithParamInterface<Broken> {};

TEST_P(TsplibMalformed, NamesTheLine) {
  const Result<SquareMatrix> read = read_tsplib(write("bad.tsp", GetParam().file));
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind, ErrorKind::Malformed);
  EXPECT_EQ(read.error().os_errno, 0);
  EXPECT_EQ(read.error().text, GetParam().message);
}

const std::string kHead = "NAME: t\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\n";  // 4 lines

INSTANTIATE_TEST_SUITE_P(
    Files, TsplibMalformed,
    ::testing::Values(
        Broken{"NotANumber", kHead + "NODE_COORD_SECTION\n1 0 0\n2 x 4\n", "line 7: 'x' is not a number"},
        Broken{"NotFinite", kHead + "NODE_COORD_SECTION\n1 0 0\n2 3 nan\n", "line 7: 'nan' is not a finite number"},
        Broken{"CommaDecimal", kHead + "NODE_COORD_SECTION\n1 0,5 0\n", "line 6: '0,5' is not a number"},
        Broken{"UnsupportedType", "TYPE: CVRP\n", "line 1: unsupported TYPE 'CVRP' (expected TSP or ATSP)"},
        Broken{"UnsupportedWeightType", "NAME: x\nEDGE_WEIGHT_TYPE: EUC_3D\n",
               "line 2: unsupported EDGE_WEIGHT_TYPE 'EUC_3D' (expected EUC_2D, CEIL_2D, ATT, GEO or EXPLICIT)"},
        Broken{"UnsupportedFormat", "EDGE_WEIGHT_FORMAT: UPPER_TRIANGLE\n",
               "line 1: unsupported EDGE_WEIGHT_FORMAT 'UPPER_TRIANGLE' (expected FULL_MATRIX, UPPER_ROW, "
               "LOWER_ROW, UPPER_DIAG_ROW, LOWER_DIAG_ROW or their _COL forms)"},
        Broken{"DimensionZero", "DIMENSION: 0\n", "line 1: DIMENSION must be a whole number from 1 to 4294967295, not '0'"},
        Broken{"DimensionFraction", "\n\nDIMENSION : 2.5\n", "line 3: DIMENSION must be a whole number from 1 to 4294967295, not '2.5'"},
        Broken{"DimensionTooLarge", "DIMENSION: 4294967296\n",
               "line 1: DIMENSION must be a whole number from 1 to 4294967295, not '4294967296'"},
        Broken{"DimensionTwice", kHead + "DIMENSION: 3\n", "line 5: DIMENSION given twice"},
        Broken{"WeightTypeTwice", kHead + "EDGE_WEIGHT_TYPE: GEO\n", "line 5: EDGE_WEIGHT_TYPE given twice"},
        Broken{"WeightFormatTwice",
               "DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n",
               "line 4: EDGE_WEIGHT_FORMAT given twice"},
        Broken{"SectionBeforeDimension", "EDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n",
               "line 2: NODE_COORD_SECTION before DIMENSION"},
        Broken{"WeightsWithoutFormat", "DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_SECTION\n0 1 1 0\n",
               "line 3: EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT before it"},
        Broken{"TwoFields", kHead + "NODE_COORD_SECTION\n1 0\n",
               "line 6: a city line holds an index and two coordinates, found 2 fields"},
        Broken{"IndexOutOfRange", kHead + "NODE_COORD_SECTION\n4 0 0\n", "line 6: city index '4' is not a whole number from 1 to 3"},
        Broken{"IndexZero", kHead + "NODE_COORD_SECTION\n0 0 0\n", "line 6: city index '0' is not a whole number from 1 to 3"},
        Broken{"CityTwice", kHead + "NODE_COORD_SECTION\n1 0 0\n2 0 0\n2 1 1\nEOF\n", "line 8: city 2 is given twice"},
        Broken{"TooFewCitiesBeforeEof", kHead + "NODE_COORD_SECTION\n1 0 0\n2 0 0\nEOF\n",
               "line 8: NODE_COORD_SECTION ends after 2 of 3 cities"},
        Broken{"TooFewCitiesAtEndOfFile", kHead + "NODE_COORD_SECTION\n1 0 0\n",
               "line 6: NODE_COORD_SECTION ends after 1 of 3 cities"},
        Broken{"TooManyCities", kHead + "NODE_COORD_SECTION\n1 0 0\n2 0 0\n3 0 0\n1 0 0\n",
               "line 9: NODE_COORD_SECTION has more than 3 cities"},
        Broken{"TooManyWeights", explicit_file("TSP", 3, "UPPER_ROW", "1 2\n3 4\n"),
               "line 8: EDGE_WEIGHT_SECTION has more than 3 weights"},
        Broken{"TooFewWeights", explicit_file("ATSP", 2, "FULL_MATRIX", "0 1\n2\n"),
               "line 9: EDGE_WEIGHT_SECTION ends after 3 of 4 weights"},
        Broken{"NumbersOutsideASection", "NAME: t\n1 2 3\n", "line 2: numbers outside a data section"},
        Broken{"SectionTwice", kHead + "NODE_COORD_SECTION\n1 0 0\n2 0 0\n3 0 0\nNODE_COORD_SECTION\n",
               "line 9: NODE_COORD_SECTION given twice"},
        Broken{"NoDimension", "NAME: t\nTYPE: TSP\n", "line 2: no DIMENSION given"},
        Broken{"EmptyFile", "", "line 1: no DIMENSION given"},
        Broken{"NoWeightType", "DIMENSION: 3\nEOF\n", "line 2: no EDGE_WEIGHT_TYPE given"},
        Broken{"NoCoordinates", kHead + "EOF\n", "line 5: no NODE_COORD_SECTION given"},
        Broken{"NoWeights", "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n",
               "line 3: no EDGE_WEIGHT_SECTION given"},
        Broken{"NotUtf8", kHead + "COMMENT: caf\xe9\n", "line 5: not valid UTF-8"},
        // A keyword after a section may not change how the section was read: the matrix would
        // be built from more weights than were counted (memory past the end of them).
        Broken{"FormatAfterWeights",
               "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n"
               "EDGE_WEIGHT_SECTION\n1 1 1\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\nEOF\n",
               "line 6: EDGE_WEIGHT_FORMAT after EDGE_WEIGHT_SECTION would change how that section was read"},
        Broken{"DimensionAfterWeights",
               "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n"
               "EDGE_WEIGHT_SECTION\n1 2\n3\nDIMENSION: 2\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n",
               "line 7: DIMENSION given twice"},
        Broken{"WeightTypeAfterCoordinates",
               kHead + "NODE_COORD_SECTION\n1 0 0\n2 0 1\n3 1 1\nEDGE_WEIGHT_TYPE: GEO\n",
               "line 9: EDGE_WEIGHT_TYPE after NODE_COORD_SECTION would change how that section was read"},
        Broken{"WeightTypeAfterWeights", explicit_file("TSP", 2, "UPPER_ROW", "4\nEDGE_WEIGHT_TYPE: EUC_2D\n"),
               "line 8: EDGE_WEIGHT_TYPE after EDGE_WEIGHT_SECTION would change how that section was read"},
        // Long fields are quoted by their start.
        Broken{"LongField", kHead + "NODE_COORD_SECTION\n1 0 " + std::string(100, 'y') + "\n",
               "line 6: '" + std::string(64, 'y') + "...' is not a number"}),
    [](const auto& info) { return std::string(info.param.name); });

class QaplibFiles : public testing::ScratchDir {};

TEST_F(QaplibFiles, ReadsBothMatricesWhateverTheLineLayout) {
  const Result<std::pair<SquareMatrix, SquareMatrix>> read =
      read_qaplib(write("q.dat", "  2\n\n0 3\n 4 0\r\n0 1 2\t0\n"));
  ASSERT_TRUE(read.ok()) << read.error().text;
  EXPECT_EQ(read.value().first.rows(), (Rows{{0, 3}, {4, 0}}));
  EXPECT_EQ(read.value().second.rows(), (Rows{{0, 1}, {2, 0}}));
}

TEST_F(QaplibFiles, FormatErrorsNameTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "line 1: no size given"},
      {"\n\n", "line 2: no size given"},
      {"0\n", "line 1: the size must be a whole number from 1 to 4294967295, not '0'"},
      {"\n1.5\n", "line 2: the size must be a whole number from 1 to 4294967295, not '1.5'"},
      {"two\n", "line 1: the size must be a whole number from 1 to 4294967295, not 'two'"},
      {"2\n0 1\n1 0\n0 1\n1\n", "line 5: the file ends after 7 numbers, short of two 2 x 2 matrices"},
      {"1\n0\n0\n0\n", "line 4: more numbers than two 1 x 1 matrices hold"},
      {"1\n0 x\n", "line 2: 'x' is not a number"},
      {"1\n0 inf\n", "line 2: 'inf' is not a finite number"},
      // /dev/zero: refused at once, however long the field would have been.
      {std::string(1 << 20, '\0'),
       "line 1: the size must be a whole number from 1 to 4294967295, not '" + std::string(64, '\0') + "...'"},
  };
  for (const auto& [content, message] : cases) {
    const auto read = read_qaplib(write("q.dat", content));
    ASSERT_FALSE(read.ok()) << content;
    EXPECT_EQ(read.error().kind, ErrorKind::Malformed) << content;
    EXPECT_EQ(read.error().text, message) << content;
  }
}

TEST_F(QaplibFiles, OperatingSystemErrorsComeBackAsValues) {
  // A directory opens but cannot be read: the error is the system's, not a stop.
  const std::vector<std::pair<std::string, int>> cases{{path("missing.tsp"), ENOENT}, {dir(), EISDIR}};
  for (const auto& [where, code] : cases) {
    const auto tsp = read_tsplib(where);
    ASSERT_FALSE(tsp.ok());
    EXPECT_EQ(tsp.error().kind, ErrorKind::Os);
    EXPECT_EQ(tsp.error().os_errno, code);
    const auto qap = read_qaplib(where);
    ASSERT_FALSE(qap.ok());
    EXPECT_EQ(qap.error().os_errno, code);
  }
}

// ---- the published instances

// The instance collection: $KESTRUM_DATA, else ../shared/data beside the repository (the build
// passes the repository root in); the tests below skip when it holds no tables.
std::filesystem::path data_dir() {
  const char* env = std::getenv("KESTRUM_DATA");
  if (env != nullptr && *env != '\0') return std::filesystem::path(env);
  return std::filesystem::path(KESTRUM_SOURCE_DIR).parent_path() / "shared" / "data";
}

// optima.tsv as one map per row, keyed by column name.
std::vector<std::map<std::string, std::string>> read_table(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    if (header.empty()) {
      header = cells;
      continue;
    }
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (std::size_t k = 0; k < header.size() && k < cells.size(); ++k) row[header[k]] = cells[k];
  }
  return rows;
}

// Numbers separated by white space or commas (ste36a.sln uses commas) after `marker` (or all
// of them), stopping at -1 or a word.
std::vector<long long> read_numbers(const std::filesystem::path& path, const std::string& marker) {
  std::ifstream file(path);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream in(text);
  std::string token;
  if (!marker.empty()) {
    while (in >> token && token != marker) {
    }
  }
  std::vector<long long> numbers;
  while (in >> token) {
    char* end = nullptr;
    const long long v = std::strtoll(token.c_str(), &end, 10);
    if (*end != '\0' || v == -1) break;
    numbers.push_back(v);
  }
  return numbers;
}

class PublishedInstances : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(data_dir() / "tsplib" / "optima.tsv")) {
      GTEST_SKIP() << "no instance data at " << data_dir();
    }
  }
};

TEST_F(PublishedInstances, OptimalToursScoreTheirOptimum) {
  int tours = 0;
  for (const auto& row : read_table(data_dir() / "tsplib" / "optima.tsv")) {
    const std::string name = row.at("instance");
    const std::string ext = row.at("type") == "ATSP" ? ".atsp" : ".tsp";
    const Result<SquareMatrix> read = read_tsplib((data_dir() / "tsplib" / (name + ext)).string());
    ASSERT_TRUE(read.ok()) << name << ": " << read.error().text;
    const SquareMatrix& m = read.value();
    ASSERT_EQ(m.size(), std::stoul(row.at("n"))) << name;
    for (std::size_t i = 0; i < m.size(); ++i) {
      ASSERT_EQ(m[i].size(), m.size()) << name;
      ASSERT_EQ(m[i][i], 0.0) << name;
    }
    if (row.at("opt_tour") == "-") continue;
    std::vector<Word> tour;
    for (const long long city : read_numbers(data_dir() / "tsplib" / row.at("opt_tour"), "TOUR_SECTION")) {
      tour.push_back(static_cast<Word>(city - 1));
    }
    ASSERT_EQ(tour.size(), m.size()) << name;
    EXPECT_EQ(Evaluation::tsp(Matrix(m.rows())).eval(tour), std::stod(row.at("optimum"))) << name;
    ++tours;
  }
  EXPECT_EQ(tours, 14);
}

TEST_F(PublishedInstances, AtspMatricesStayAsymmetric) {
  // ftv33 starts "100000000 26 82 ..." and its second row "66 100000000 ...".
  const Result<SquareMatrix> ftv33 = read_tsplib((data_dir() / "tsplib" / "ftv33.atsp").string());
  ASSERT_TRUE(ftv33.ok());
  EXPECT_EQ(ftv33.value()[0][0], 0.0);
  EXPECT_EQ(ftv33.value()[0][1], 26.0);
  EXPECT_EQ(ftv33.value()[1][0], 66.0);
  for (const std::string name : {"br17", "ftv33", "ry48p", "ft53", "ftv70", "kro124p"}) {
    const Result<SquareMatrix> read = read_tsplib((data_dir() / "tsplib" / (name + ".atsp")).string());
    ASSERT_TRUE(read.ok()) << name;
    const Evaluation tour = Evaluation::tsp(Matrix(read.value().rows()));
    EXPECT_FALSE(std::get<Tsp>(tour.kind()).symmetric) << name;
  }
}

TEST_F(PublishedInstances, QaplibSolutionsScoreTheirPublishedValues) {
  int solutions = 0;
  for (const auto& row : read_table(data_dir() / "qaplib" / "optima.tsv")) {
    const std::string name = row.at("instance");
    const auto read = read_qaplib((data_dir() / "qaplib" / (name + ".dat")).string());
    ASSERT_TRUE(read.ok()) << name << ": " << read.error().text;
    const auto& [a, b] = read.value();
    const std::size_t n = std::stoul(row.at("n"));
    ASSERT_EQ(a.size(), n) << name;
    ASSERT_EQ(b.size(), n) << name;
    if (row.at("sln_cost") == "-") continue;

    const std::vector<long long> sln = read_numbers(data_dir() / "qaplib" / (name + ".sln"), "");
    ASSERT_EQ(sln.size(), n + 2) << name;  // n, the cost, then p(1..n)
    std::vector<Word> p(n);
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<Word>(sln[i + 2] - 1);
    if (row.at("sln_orientation") == "inverse") {
      std::vector<Word> inverse(n);
      for (std::size_t i = 0; i < n; ++i) inverse[p[i]] = static_cast<Word>(i);
      p = inverse;
    }
    // QAPLIB's own objective over all ordered pairs checks the reader by itself.
    double all_pairs = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) all_pairs += a[i][j] * b[p[i]][p[j]];
    }
    EXPECT_EQ(all_pairs, std::stod(row.at("sln_cost"))) << name;
    EXPECT_EQ(Evaluation::qap(Matrix(a.rows()), Matrix(b.rows())).eval(p), std::stod(row.at("score_upper_pairs"))) << name;
    ++solutions;
  }
  EXPECT_EQ(solutions, 26);
}

}  // namespace
}  // namespace kestrum
