// NeighbourLists: the k nearest other cities of every city, nearest first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// Lists are flat: city c's neighbours are ids[c * k .. c * k + k), with their distances
// beside them in `dist`, so a scan reads neither the matrix nor the points. Order: by
// distance, then by city number.
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
template <class Dist>
[[nodiscard]] NeighbourLists nearest_by_rows(Word n, Word k, const Dist& dist) {
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
  }
  return lists;
}

// The k nearest by plane distance of interleaved (x, y) coordinates, found through a grid
// of about two points per cell (O(n k log k) for spread-out points), then ordered by
// `dist`, the tour's own distance, which may round or, for geographic coordinates, differ
// from the plane distance used to pick them. k must be below n; coordinates finite.
template <class Dist>
[[nodiscard]] NeighbourLists nearest_in_plane(std::span<const double> xy, Word k, const Dist& dist);

// The candidate search of nearest_in_plane, apart from the final ordering: the k nearest
// cities of every city by plane distance, in no particular order within a city.
[[nodiscard]] std::vector<Word> nearest_candidates_in_plane(std::span<const double> xy, Word k);

template <class Dist>
NeighbourLists nearest_in_plane(std::span<const double> xy, Word k, const Dist& dist) {
  const Word n = static_cast<Word>(xy.size() / 2);
  NeighbourLists lists{k, nearest_candidates_in_plane(xy, k),
                       std::vector<double>(static_cast<std::size_t>(n) * k)};
  std::vector<std::pair<double, Word>> row(k);
  for (Word c = 0; c < n; ++c) {
    const std::size_t base = static_cast<std::size_t>(c) * k;
    for (Word r = 0; r < k; ++r) row[r] = {dist(c, lists.ids[base + r]), lists.ids[base + r]};
    std::sort(row.begin(), row.end());
    for (Word r = 0; r < k; ++r) {
      lists.ids[base + r] = row[r].second;
      lists.dist[base + r] = row[r].first;
    }
  }
  return lists;
}

}  // namespace kestrum
