// NeighbourLists: the k nearest other cities of every city, nearest first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// Lists are flat: city c's neighbours are ids[c * k .. c * k + k), with their distances
// beside them in `dist`, so a scan reads neither the matrix nor the points. Order: by
// distance, then by city number. Both builds below give exactly these lists for the same
// distances, so a tour from points and the matrix of its distances are searched alike.
struct NeighbourLists {
  Word k = 0;
  std::vector<Word> ids;
  std::vector<double> dist;

  [[nodiscard]] std::span<const Word> of(Word c) const noexcept {
    return {ids.data() + static_cast<std::size_t>(c) * k, k};
  }
  [[nodiscard]] std::span<const double> dist_of(Word c) const noexcept {
    return {dist.data() + static_cast<std::size_t>(c) * k, k};
  }
};

// From any distance function, by a partial sort of each row: O(n^2 + n k log k). This is
// the build for a matrix, which costs n^2 to hold in the first place. k must be below n.
// `stop()` is asked after every row; when it says so the build ends with an empty result.
template <class Dist, class Stop>
[[nodiscard]] NeighbourLists nearest_by_rows(Word n, Word k, const Dist& dist, const Stop& stop) {
  NeighbourLists lists{k, std::vector<Word>(static_cast<std::size_t>(n) * k),
                       std::vector<double>(static_cast<std::size_t>(n) * k)};
  std::vector<std::pair<double, Word>> row(n > 0 ? n - 1 : 0);
  for (Word c = 0; c < n; ++c) {
    std::size_t m = 0;
    for (Word o = 0; o < n; ++o) {
      if (o != c) row[m++] = {dist(c, o), o};
    }
    std::partial_sort(row.begin(), row.begin() + k, row.end());
    for (Word r = 0; r < k; ++r) {
      lists.ids[static_cast<std::size_t>(c) * k + r] = row[r].second;
      lists.dist[static_cast<std::size_t>(c) * k + r] = row[r].first;
    }
    if (stop()) return {};
  }
  return lists;
}

template <class Dist>
[[nodiscard]] NeighbourLists nearest_by_rows(Word n, Word k, const Dist& dist) {
  return nearest_by_rows(n, k, dist, [] { return false; });
}

// Square cells over the bounding box of n points (interleaved x, y), about two points per
// cell, bucketed by a counting sort.
class PlaneGrid {
 public:
  // At least one point; coordinates finite.
  explicit PlaneGrid(std::span<const double> xy);

  [[nodiscard]] Word size() const noexcept { return n_; }

  // The k nearest other cities of c by `dist`, ties by city number, into `out` (unordered),
  // visiting rings of cells around c's cell until none left unvisited can hold a nearer one
  // or an equal one with a lower number. `bound(r)` must be a lower bound of dist(c, o) for
  // every o at plane distance at least r from c (the distance is a non-decreasing function
  // of the plane distance). `heap` is scratch space.
  template <class Dist, class Bound>
  void nearest(Word c, Word k, const Dist& dist, const Bound& bound,
               std::vector<std::pair<double, Word>>& heap, Word* out) const;

 private:
  [[nodiscard]] std::int64_t cells_along(double extent) const;
  [[nodiscard]] std::int64_t col(Word c) const;
  [[nodiscard]] std::int64_t row(Word c) const;
  [[nodiscard]] std::size_t cell_of(Word c) const {
    return static_cast<std::size_t>(row(c)) * static_cast<std::size_t>(cols_) +
           static_cast<std::size_t>(col(c));
  }

  std::span<const double> xy_;
  Word n_;
  double x0_ = 0.0, y0_ = 0.0, side_ = 1.0;
  std::int64_t cols_ = 1, rows_ = 1;
  std::vector<Word> start_;  // cell i's points are items_[start_[i] .. start_[i + 1])
  std::vector<Word> items_;
};

template <class Dist, class Bound>
void PlaneGrid::nearest(Word c, Word k, const Dist& dist, const Bound& bound,
                        std::vector<std::pair<double, Word>>& heap, Word* out) const {
  heap.clear();
  const std::int64_t cx = col(c), cy = row(c);
  const std::int64_t reach = std::max(cols_, rows_);
  for (std::int64_t r = 0; r <= reach; ++r) {
    for (std::int64_t gy = cy - r; gy <= cy + r; ++gy) {
      if (gy < 0 || gy >= rows_) continue;
      // The ring's top and bottom rows whole, the rows between only at both ends.
      const bool edge_row = gy == cy - r || gy == cy + r;
      const std::int64_t step = edge_row || r == 0 ? 1 : 2 * r;
      for (std::int64_t gx = cx - r; gx <= cx + r; gx += step) {
        if (gx < 0 || gx >= cols_) continue;
        const std::size_t cell = static_cast<std::size_t>(gy) * static_cast<std::size_t>(cols_) +
                                 static_cast<std::size_t>(gx);
        for (Word i = start_[cell]; i < start_[cell + 1]; ++i) {
          const Word o = items_[i];
          if (o == c) continue;
          const std::pair<double, Word> item{dist(c, o), o};
          if (heap.size() < k) {
            heap.push_back(item);
            std::push_heap(heap.begin(), heap.end());
          } else if (item < heap.front()) {
            std::pop_heap(heap.begin(), heap.end());
            heap.back() = item;
            std::push_heap(heap.begin(), heap.end());
          }
        }
      }
    }
    // Every cell outside ring r is r cell sides away from c's cell, so its points are at
    // least about r sides from c: a thousandth of a side less covers a coordinate that
    // rounding put in the cell beside its own.
    const double beyond = std::max(0.0, (static_cast<double>(r) - 1e-3) * side_);
    if (heap.size() == k && heap.front().first < bound(beyond)) break;
  }
  for (Word r = 0; r < k; ++r) out[r] = heap[r].second;
}

// The k nearest other cities of every city of a plane (interleaved x, y), by `dist` with
// ties by city number, through a PlaneGrid: O(n k log k) for spread-out points, the same
// lists as nearest_by_rows gives. `bound` as for PlaneGrid::nearest. k must be below n;
// coordinates finite. `stop()` is asked every 1024 cities; when it says so the build ends
// with an empty result.
template <class Dist, class Bound, class Stop>
[[nodiscard]] NeighbourLists nearest_in_plane(std::span<const double> xy, Word k, const Dist& dist,
                                              const Bound& bound, const Stop& stop) {
  const Word n = static_cast<Word>(xy.size() / 2);
  NeighbourLists lists{k, std::vector<Word>(static_cast<std::size_t>(n) * k),
                       std::vector<double>(static_cast<std::size_t>(n) * k)};
  if (n == 0 || k == 0) return lists;
  const PlaneGrid grid(xy);
  std::vector<std::pair<double, Word>> row;
  row.reserve(k);
  for (Word c = 0; c < n; ++c) {
    const std::size_t base = static_cast<std::size_t>(c) * k;
    grid.nearest(c, k, dist, bound, row, lists.ids.data() + base);
    std::sort_heap(row.begin(), row.end());
    for (Word r = 0; r < k; ++r) {
      lists.ids[base + r] = row[r].second;
      lists.dist[base + r] = row[r].first;
    }
    if (c % 1024 == 1023 && stop()) return {};
  }
  return lists;
}

// The plane distance itself as the bound: for tests and plain Euclidean distances.
template <class Dist>
[[nodiscard]] NeighbourLists nearest_in_plane(std::span<const double> xy, Word k, const Dist& dist) {
  return nearest_in_plane(xy, k, dist, [](double r) { return r * (1.0 - 1e-12); }, [] { return false; });
}

}  // namespace kestrum
