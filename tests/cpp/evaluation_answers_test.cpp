// What an evaluation answers about itself: its name, symmetry, tours, distances and size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/points.hpp"

namespace kestrum {
namespace {

class Sum final : public ScoreFunction {
 public:
  double evaluate(std::span<const Word> s) const override {
    double t = 0.0;
    for (std::size_t p = 0; p < s.size(); ++p) t += static_cast<double>(p * s[p]);
    return t;
  }
  bool has_delta() const noexcept override { return false; }
  double delta(std::span<const Word>, CustomMove, Word, Word) const override { return 0.0; }
};

Matrix square(std::vector<std::vector<double>> rows) { return Matrix(rows); }

// Four cities on a 3 x 4 rectangle, corners in tour order: every side and diagonal is an
// integer (3, 4, 5), so a matrix of them and the points give the same numbers exactly.
const std::vector<double> kCorners{0, 0, 3, 0, 3, 4, 0, 4};
const std::vector<std::vector<double>> kCornerDistances{
    {0, 3, 5, 4}, {3, 0, 4, 5}, {5, 4, 0, 3}, {4, 5, 3, 0}};

Evaluation points_tour() { return Evaluation::tsp_points(Points::make(kCorners, PointMetric::kEuclidean).value()); }

struct Answers {
  std::string name;
  std::optional<bool> symmetric;
  bool scores_tours;
  bool has_tour_distances;
  bool fixed_size;
};

struct AnswerCase {
  const char* label;
  Evaluation (*make)();
  Answers expected;
};

class AnswerTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, EachKindAnswersForItself) {
  const Evaluation e = GetParam().make();
  const Answers& want = GetParam().expected;
  EXPECT_EQ(e.name(), want.name);
  EXPECT_EQ(e.symmetric(), want.symmetric);
  EXPECT_EQ(e.scores_tours(), want.scores_tours);
  EXPECT_EQ(e.tour_distances().has_value(), want.has_tour_distances);
  EXPECT_EQ(e.fixed_size(), want.fixed_size);
  // Only a first-fit packing is one.
  EXPECT_EQ(e.packing() != nullptr, want.name == "bin_packing");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AnswerTest,
    testing::Values(
        AnswerCase{"EmptyBins", [] { return Evaluation::empty_bins({1, 2}, 3); },
                   {"empty_bins", std::nullopt, false, false, false}},
        AnswerCase{"EmptySpace", [] { return Evaluation::empty_space({1, 2}, 3); },
                   {"empty_space", std::nullopt, false, false, false}},
        AnswerCase{"EmptySpaceExp", [] { return Evaluation::empty_space_exp({1, 2}, 3); },
                   {"empty_space_exp", std::nullopt, false, false, false}},
        AnswerCase{"BinPacking", [] { return Evaluation::bin_packing({1, 2}, 3).value(); },
                   {"bin_packing", std::nullopt, false, false, false}},
        AnswerCase{"SymmetricTour", [] { return Evaluation::tsp(square(kCornerDistances)); },
                   {"tsp", true, true, true, false}},
        AnswerCase{"AsymmetricTour", [] { return Evaluation::tsp(square({{0, 1}, {2, 0}})); },
                   {"tsp", false, true, true, false}},
        // Still a tour, whose moves are scored, but its distances do not cover every pair.
        AnswerCase{"WideTour", [] { return Evaluation::tsp(Matrix({0, 1, 9, 1, 0, 9}, 2, 3)); },
                   {"tsp", true, true, false, false}},
        AnswerCase{"PointTour", points_tour, {"tsp_points", true, true, true, false}},
        AnswerCase{"SymmetricAssignment",
                   [] { return Evaluation::qap(square({{0, 2}, {2, 0}}), square({{0, 5}, {5, 0}})); },
                   {"qap", true, false, false, false}},
        AnswerCase{"AsymmetricAssignment",
                   [] { return Evaluation::qap(square({{0, 2}, {1, 0}}), square({{0, 5}, {5, 0}})); },
                   {"qap", false, false, false, false}},
        AnswerCase{"Custom", [] { return Evaluation::custom(3, std::make_shared<const Sum>()); },
                   {"custom", std::nullopt, false, false, true}}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.label); });

// The sum of d(s[p], s[p + 1]) around the closed tour, read through the view.
double tour_through(const TourDistances& tour, const std::vector<Word>& s) {
  return tour.read([&](const auto& d) {
    double length = 0.0;
    for (std::size_t p = 0; p < s.size(); ++p) length += d.at(s[p], s[(p + 1) % s.size()]);
    return length;
  });
}

TEST(TourDistancesTest, PointsAndTheirMatrixReadAlikeAndScoreAsEval) {
  const Evaluation by_points = points_tour();
  const Evaluation by_matrix = Evaluation::tsp(square(kCornerDistances));
  const TourDistances p = *by_points.tour_distances();
  const TourDistances m = *by_matrix.tour_distances();
  EXPECT_EQ(p.cities(), 4u);
  EXPECT_EQ(m.cities(), 4u);
  // Only the points can be searched in the plane.
  ASSERT_NE(p.points(), nullptr);
  EXPECT_EQ(p.points()->size(), 4u);
  EXPECT_EQ(m.points(), nullptr);
  for (Word a = 0; a < 4; ++a) {
    for (Word b = 0; b < 4; ++b) {
      const double want = kCornerDistances[a][b];
      EXPECT_EQ(p.read([&](const auto& d) { return d.fast(a, b); }), want) << a << " " << b;
      EXPECT_EQ(m.read([&](const auto& d) { return d.row(a)[b]; }), want) << a << " " << b;
    }
  }
  // Around the rectangle 3 + 4 + 3 + 4; across it twice 3 + 5 + 3 + 5.
  for (const std::vector<Word>& s : {std::vector<Word>{0, 1, 2, 3}, std::vector<Word>{0, 1, 3, 2}}) {
    EXPECT_EQ(tour_through(p, s), by_points.eval(s));
    EXPECT_EQ(tour_through(m, s), by_matrix.eval(s));
  }
  EXPECT_EQ(by_points.eval(std::vector<Word>{0, 1, 2, 3}), 14.0);
  EXPECT_EQ(by_points.eval(std::vector<Word>{0, 1, 3, 2}), 16.0);
}

TEST(TourDistancesTest, AnAsymmetricMatrixSaysSoAndReadsEachDirection) {
  const Evaluation e = Evaluation::tsp(square({{0, 1, 7}, {2, 0, 1}, {1, 9, 0}}));
  const TourDistances t = *e.tour_distances();
  EXPECT_FALSE(t.symmetric());
  EXPECT_EQ(t.read([](const auto& d) { return d.fast(0, 2); }), 7.0);
  EXPECT_EQ(t.read([](const auto& d) { return d.fast(2, 0); }), 1.0);
  // 0 -> 1 -> 2 -> 0 and the other way round.
  EXPECT_EQ(tour_through(t, {0, 1, 2}), 3.0);
  EXPECT_EQ(tour_through(t, {0, 2, 1}), 18.0);
}

}  // namespace
}  // namespace kestrum
