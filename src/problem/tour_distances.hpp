// One way to read a tour evaluation's distances, whether it holds a matrix or points.
#pragma once

#include <variant>

#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"

namespace kestrum {

// If `e` is a tour evaluation whose distances cover every pair of its n cities, calls
// f(distances, symmetric) once and returns true; otherwise returns false without calling it.
// `distances` is read as a square matrix is:
//   rows()        n
//   fast(a, b)    the distance from a to b, unchecked (a, b < n)
//   at(a, b)      the same, checked, failing with the index message
//   row(a)[b]     fast(a, b), with a's data hoisted for a run of reads from one city
// Its type differs by representation (a Matrix, or points under a metric), so f is a generic
// lambda: the representation is resolved once, and every read in f is inline.
template <class F>
bool with_tour_distances(const Evaluation& e, F&& f) {
  if (const Tsp* tour = std::get_if<Tsp>(&e.kind())) {
    if (!tour->distance_matrix.is_square()) return false;
    f(tour->distance_matrix, tour->symmetric);
    return true;
  }
  if (const TspPoints* tour = std::get_if<TspPoints>(&e.kind())) {
    tour->points.with_distances([&](const auto& d) { f(d, true); });
    return true;
  }
  return false;
}

}  // namespace kestrum
