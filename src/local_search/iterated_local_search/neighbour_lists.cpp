// The grid search behind nearest_in_plane.
#include "local_search/iterated_local_search/neighbour_lists.hpp"

#include <cmath>
#include <cstdint>

namespace kestrum {

namespace {

// Square cells of side `side` over the bounding box, points bucketed by a counting sort.
class Grid {
 public:
  explicit Grid(std::span<const double> xy) : xy_(xy), n_(static_cast<Word>(xy.size() / 2)) {
    double x0 = xy[0], x1 = xy[0], y0 = xy[1], y1 = xy[1];
    for (Word c = 1; c < n_; ++c) {
      x0 = std::min(x0, xy[2 * c]);
      x1 = std::max(x1, xy[2 * c]);
      y0 = std::min(y0, xy[2 * c + 1]);
      y1 = std::max(y1, xy[2 * c + 1]);
    }
    x0_ = x0;
    y0_ = y0;
    // About two points per cell over the larger extent; a thin strip gets few rows.
    const double extent = std::max(x1 - x0, y1 - y0);
    const double per_side = std::ceil(std::sqrt(static_cast<double>(n_) / 2.0));
    side_ = extent > 0.0 ? extent / per_side : 1.0;
    cols_ = cells_along(x1 - x0);
    rows_ = cells_along(y1 - y0);
    start_.assign(static_cast<std::size_t>(cols_) * rows_ + 1, 0);
    for (Word c = 0; c < n_; ++c) ++start_[cell_of(c) + 1];
    for (std::size_t i = 1; i < start_.size(); ++i) start_[i] += start_[i - 1];
    items_.resize(n_);
    std::vector<Word> fill(start_.begin(), start_.end() - 1);
    for (Word c = 0; c < n_; ++c) items_[fill[cell_of(c)]++] = c;
  }

  // The k nearest other cities of c into `out` (unordered), through rings of cells around
  // c's cell until no unvisited cell can hold anything nearer than the k-th found.
  void nearest(Word c, Word k, std::vector<std::pair<double, Word>>& heap, Word* out) const {
    heap.clear();
    const std::int64_t cx = col(c), cy = row(c);
    const double px = xy_[2 * c], py = xy_[2 * c + 1];
    const std::int64_t reach = std::max(cols_, rows_);
    for (std::int64_t r = 0; r <= reach; ++r) {
      for (std::int64_t gy = cy - r; gy <= cy + r; ++gy) {
        if (gy < 0 || gy >= rows_) continue;
        // The ring's top and bottom rows whole, the rows between only at both ends.
        const bool edge_row = gy == cy - r || gy == cy + r;
        const std::int64_t step = edge_row || r == 0 ? 1 : 2 * r;
        for (std::int64_t gx = cx - r; gx <= cx + r; gx += step) {
          if (gx < 0 || gx >= cols_) continue;
          const std::size_t cell = static_cast<std::size_t>(gy) * cols_ + static_cast<std::size_t>(gx);
          for (Word i = start_[cell]; i < start_[cell + 1]; ++i) {
            const Word o = items_[i];
            if (o == c) continue;
            const double dx = xy_[2 * o] - px, dy = xy_[2 * o + 1] - py;
            const std::pair<double, Word> item{dx * dx + dy * dy, o};
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
      // Every cell outside ring r is at least r cell sides away from c.
      const double bound = static_cast<double>(r) * side_;
      if (heap.size() == k && heap.front().first <= bound * bound) break;
    }
    for (Word r = 0; r < k; ++r) out[r] = heap[r].second;
  }

 private:
  [[nodiscard]] std::int64_t cells_along(double extent) const {
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(extent / side_)) + 1);
  }
  [[nodiscard]] std::int64_t col(Word c) const {
    return std::min<std::int64_t>(cols_ - 1, static_cast<std::int64_t>((xy_[2 * c] - x0_) / side_));
  }
  [[nodiscard]] std::int64_t row(Word c) const {
    return std::min<std::int64_t>(rows_ - 1, static_cast<std::int64_t>((xy_[2 * c + 1] - y0_) / side_));
  }
  [[nodiscard]] std::size_t cell_of(Word c) const {
    return static_cast<std::size_t>(row(c)) * cols_ + static_cast<std::size_t>(col(c));
  }

  std::span<const double> xy_;
  Word n_;
  double x0_ = 0.0, y0_ = 0.0, side_ = 1.0;
  std::int64_t cols_ = 1, rows_ = 1;
  std::vector<Word> start_;
  std::vector<Word> items_;
};

}  // namespace

std::vector<Word> nearest_candidates_in_plane(std::span<const double> xy, Word k) {
  const Word n = static_cast<Word>(xy.size() / 2);
  std::vector<Word> ids(static_cast<std::size_t>(n) * k);
  if (n == 0 || k == 0) return ids;
  const Grid grid(xy);
  std::vector<std::pair<double, Word>> heap;
  heap.reserve(k);
  for (Word c = 0; c < n; ++c) grid.nearest(c, k, heap, ids.data() + static_cast<std::size_t>(c) * k);
  return ids;
}

}  // namespace kestrum
