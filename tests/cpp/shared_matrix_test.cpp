// Matrices shared by copies: evaluations, problems and their copies read one buffer, and
// each still reads as the value it was built from.
#include <gtest/gtest.h>

#include <variant>
#include <vector>

#include "problem/array_problem.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"

namespace kestrum {
namespace {

using Rows = std::vector<std::vector<double>>;

TEST(SharedMatrix, CopiesShareOneBufferAndReadTheSame) {
  const Matrix m(Rows{{0, 1, 2}, {1, 0}, {2, 3, 0}});
  Matrix copy = m;
  EXPECT_TRUE(copy.shares_storage_with(m));
  EXPECT_EQ(copy.row(0), m.row(0));
  EXPECT_EQ(copy.to_rows(), m.to_rows());
  EXPECT_FALSE(copy.is_square());
  // Assigning another matrix re-points the copy only.
  copy = Matrix(Rows{{7}});
  EXPECT_FALSE(copy.shares_storage_with(m));
  EXPECT_EQ(m.at(2, 1), 3.0);
  EXPECT_EQ(copy.at(0, 0), 7.0);
  EXPECT_EQ(Matrix().rows(), 0U);
  EXPECT_TRUE(Matrix().is_square());
}

TEST(SharedMatrix, OutlivesTheMatrixItWasCopiedFrom) {
  Matrix kept;
  {
    const Matrix original(Rows{{0, 4}, {4, 0}});
    kept = original;
  }
  EXPECT_EQ(kept.at(1, 0), 4.0);
  EXPECT_EQ(kept.fast(0, 1), 4.0);
}

TEST(SharedMatrix, ProblemsShareTheirEvaluationsMatrices) {
  const Evaluation tour = Evaluation::tsp(Matrix(Rows{{0, 1, 2}, {1, 0, 3}, {2, 3, 0}}));
  const ArrayProblem p(MoveType::swap(1), tour);
  const ArrayProblem q(MoveType::reverse(2), tour);
  const Matrix& mine = std::get<Tsp>(tour.kind()).distance_matrix;
  EXPECT_TRUE(std::get<Tsp>(p.evaluation().kind()).distance_matrix.shares_storage_with(mine));
  EXPECT_TRUE(std::get<Tsp>(q.evaluation().kind()).distance_matrix.shares_storage_with(mine));
  EXPECT_EQ(p.eval(), 6.0);

  const Evaluation assignment =
      Evaluation::qap(Matrix(Rows{{0, 1}, {1, 0}}), Matrix(Rows{{0, 5}, {5, 0}}));
  const ArrayProblem r(MoveType::swap(3), assignment);
  const Qap& a = std::get<Qap>(assignment.kind());
  const Qap& b = std::get<Qap>(r.evaluation().kind());
  EXPECT_TRUE(b.distance_matrix.shares_storage_with(a.distance_matrix));
  EXPECT_TRUE(b.flow_matrix.shares_storage_with(a.flow_matrix));
  EXPECT_EQ(r.eval(), 5.0);
}

}  // namespace
}  // namespace kestrum
