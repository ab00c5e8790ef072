// TourDistances: one way to read a tour's distances, whether they are a matrix or points.
#pragma once

#include <cstddef>

#include "problem/matrix.hpp"
#include "problem/points.hpp"

namespace kestrum {

// The distances between every pair of a tour's n cities, as Evaluation::tour_distances()
// hands them out. A small view: it holds a pointer into the evaluation, which outlives it.
//
// read(f) calls f(distances) once and returns what f returns. `distances` is read as a square
// matrix is:
//   rows()        n
//   fast(a, b)    the distance from a to b, unchecked (a, b < n)
//   at(a, b)      the same, checked, failing with the index message
//   row(a)[b]     fast(a, b), with a's data hoisted for a run of reads from one city
// Its type differs by representation (a Matrix, or points under a metric), so f is a generic
// lambda: the representation is resolved once, and every read in f is inline.
class TourDistances {
 public:
  // A square matrix; `symmetric` is whether every entry equals its mirror exactly.
  TourDistances(const Matrix& matrix, bool symmetric) noexcept : matrix_(&matrix), symmetric_(symmetric) {}
  // Points under their metric: every metric is symmetric.
  explicit TourDistances(const Points& points) noexcept : points_(&points), symmetric_(true) {}

  [[nodiscard]] std::size_t cities() const noexcept { return points_ != nullptr ? points_->size() : matrix_->rows(); }
  [[nodiscard]] bool symmetric() const noexcept { return symmetric_; }
  // The cities as points, for a search that can find near neighbours in the plane; nullptr
  // when the distances are a matrix.
  [[nodiscard]] const Points* points() const noexcept { return points_; }

  template <class F>
  decltype(auto) read(F&& f) const {
    if (points_ != nullptr) return points_->with_distances(f);
    return f(*matrix_);
  }

 private:
  const Matrix* matrix_ = nullptr;
  const Points* points_ = nullptr;
  bool symmetric_;
};

}  // namespace kestrum
