// The grid behind nearest_in_plane.
#include "local_search/iterated_local_search/neighbour_lists.hpp"

#include <cmath>

namespace kestrum {

PlaneGrid::PlaneGrid(std::span<const double> xy) : xy_(xy), n_(static_cast<Word>(xy.size() / 2)) {
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
  side_ = extent / per_side;
  if (std::isfinite(extent) && side_ > 0.0) {
    cols_ = cells_along(x1 - x0);
    rows_ = cells_along(y1 - y0);
  } else {
    // All points at one place, or spread so far that the extent overflows: one cell.
    side_ = 1.0;
    cols_ = rows_ = 1;
  }
  start_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_) + 1, 0);
  for (Word c = 0; c < n_; ++c) ++start_[cell_of(c) + 1];
  for (std::size_t i = 1; i < start_.size(); ++i) start_[i] += start_[i - 1];
  items_.resize(n_);
  std::vector<Word> fill(start_.begin(), start_.end() - 1);
  for (Word c = 0; c < n_; ++c) items_[fill[cell_of(c)]++] = c;
}

std::int64_t PlaneGrid::cells_along(double extent) const {
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(extent / side_)) + 1);
}

std::int64_t PlaneGrid::col(Word c) const {
  if (cols_ == 1) return 0;
  return std::min<std::int64_t>(cols_ - 1, static_cast<std::int64_t>((xy_[2 * c] - x0_) / side_));
}

std::int64_t PlaneGrid::row(Word c) const {
  if (rows_ == 1) return 0;
  return std::min<std::int64_t>(rows_ - 1, static_cast<std::int64_t>((xy_[2 * c + 1] - y0_) / side_));
}

}  // namespace kestrum
