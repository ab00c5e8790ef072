// Matrix: flattening of nested rows into one shared buffer, the rectangular shape and the
// offsets of ragged rows.
#include "problem/matrix.hpp"

#include <limits>
#include <string>
#include <utility>

namespace kestrum {

Matrix::Matrix(std::shared_ptr<const Storage> storage, std::size_t rows, std::size_t columns) noexcept
    : storage_(std::move(storage)),
      data_(storage_->data.data()),
      offsets_(storage_->offsets.empty() ? nullptr : storage_->offsets.data()),
      rows_(rows),
      columns_(columns) {}

Matrix::Matrix() : Matrix([] {
  // Every empty matrix shares one buffer: building one allocates nothing after the first.
  static const std::shared_ptr<const Storage> empty = std::make_shared<const Storage>();
  return empty;
}(), 0, 0) {}

Matrix Matrix::from_lengths(std::vector<double> data, std::span<const std::size_t> lengths) {
  auto storage = std::make_shared<Storage>();
  storage->data = std::move(data);
  std::size_t total = 0;
  bool equal = true;
  for (const std::size_t len : lengths) {
    total += len;
    equal = equal && len == lengths.front();
  }
  if (total != storage->data.size()) {
    fatal("matrix data holds " + std::to_string(storage->data.size()) +
          " values but its rows need " + std::to_string(total));
  }
  if (equal) return Matrix(std::move(storage), lengths.size(), lengths.empty() ? 0 : lengths.front());
  storage->offsets.reserve(lengths.size() + 1);
  storage->offsets.push_back(0);
  for (const std::size_t len : lengths) storage->offsets.push_back(storage->offsets.back() + len);
  return Matrix(std::move(storage), lengths.size(), 0);
}

Matrix::Matrix(const std::vector<std::vector<double>>& rows) : Matrix() {
  std::vector<double> data;
  std::vector<std::size_t> lengths;
  std::size_t total = 0;
  for (const auto& r : rows) total += r.size();
  data.reserve(total);
  lengths.reserve(rows.size());
  for (const auto& r : rows) {
    data.insert(data.end(), r.begin(), r.end());
    lengths.push_back(r.size());
  }
  *this = from_lengths(std::move(data), lengths);
}

Matrix::Matrix(std::vector<double> data, std::size_t rows, std::size_t columns) : Matrix() {
  const bool fits = columns == 0 || rows <= std::numeric_limits<std::size_t>::max() / columns;
  if (!fits || rows * columns != data.size()) {
    fatal("matrix data holds " + std::to_string(data.size()) + " values, not those of its " +
          std::to_string(rows) + " x " + std::to_string(columns) + " shape");
  }
  auto storage = std::make_shared<Storage>();
  storage->data = std::move(data);
  *this = Matrix(std::move(storage), rows, columns);
}

Matrix::Matrix(std::vector<double> data, std::span<const std::size_t> row_lengths) : Matrix() {
  *this = from_lengths(std::move(data), row_lengths);
}

std::size_t Matrix::row_len(std::size_t r, std::source_location where) const {
  if (r >= rows_) fatal_index(rows_, r, where);
  return is_rectangular() ? columns_ : offsets_[r + 1] - offsets_[r];
}

bool Matrix::covers(std::size_t n) const noexcept {
  if (rows_ < n) return false;
  if (is_rectangular()) return columns_ >= n;
  for (std::size_t r = 0; r < n; ++r) {
    if (offsets_[r + 1] - offsets_[r] < n) return false;
  }
  return true;
}

std::vector<std::vector<double>> Matrix::to_rows() const {
  std::vector<std::vector<double>> out;
  out.reserve(rows_);
  for (std::size_t r = 0; r < rows_; ++r) {
    const std::span<const double> row = row_span(r);
    out.emplace_back(row.begin(), row.end());
  }
  return out;
}

}  // namespace kestrum
