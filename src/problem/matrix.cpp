// Matrix: flattening of nested rows into one shared buffer, and the square-shape flag.
#include "problem/matrix.hpp"

#include <utility>

namespace kestrum {

Matrix::Matrix(std::shared_ptr<const Storage> storage, bool square) noexcept
    : storage_(std::move(storage)),
      data_(storage_->data.data()),
      offsets_(storage_->offsets.data()),
      rows_(storage_->offsets.size() - 1),
      square_(square) {}

Matrix::Matrix() : Matrix([] {
  // Every empty matrix shares one buffer: building one allocates nothing after the first.
  static const std::shared_ptr<const Storage> empty = std::make_shared<const Storage>();
  return empty;
}(), true) {}

Matrix::Matrix(const std::vector<std::vector<double>>& rows) : Matrix() {
  auto storage = std::make_shared<Storage>();
  std::size_t total = 0;
  for (const auto& r : rows) total += r.size();
  storage->data.reserve(total);
  storage->offsets.reserve(rows.size() + 1);
  bool square = true;
  for (const auto& r : rows) {
    storage->data.insert(storage->data.end(), r.begin(), r.end());
    storage->offsets.push_back(storage->data.size());
    square = square && r.size() == rows.size();
  }
  *this = Matrix(std::move(storage), square);
}

Matrix::Matrix(std::vector<double> data, std::span<const std::size_t> row_lengths) : Matrix() {
  auto storage = std::make_shared<Storage>();
  storage->data = std::move(data);
  storage->offsets.reserve(row_lengths.size() + 1);
  bool square = true;
  for (const std::size_t len : row_lengths) {
    storage->offsets.push_back(storage->offsets.back() + len);
    square = square && len == row_lengths.size();
  }
  if (storage->offsets.back() != storage->data.size()) {
    fatal("matrix data holds " + std::to_string(storage->data.size()) +
          " values but its rows need " + std::to_string(storage->offsets.back()));
  }
  *this = Matrix(std::move(storage), square);
}

std::size_t Matrix::row_len(std::size_t r, std::source_location where) const {
  if (r >= rows()) fatal_index(rows(), r, where);
  return offsets_[r + 1] - offsets_[r];
}

std::vector<std::vector<double>> Matrix::to_rows() const {
  std::vector<std::vector<double>> out;
  out.reserve(rows());
  for (std::size_t r = 0; r < rows(); ++r) {
    const std::span<const double> row = row_span(r);
    out.emplace_back(row.begin(), row.end());
  }
  return out;
}

}  // namespace kestrum
