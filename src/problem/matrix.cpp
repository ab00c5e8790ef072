// Matrix: flattening of nested rows and the square-shape flag.
#include "problem/matrix.hpp"

#include <utility>

namespace kestrum {

Matrix::Matrix(const std::vector<std::vector<double>>& rows) {
  std::size_t total = 0;
  for (const auto& r : rows) total += r.size();
  data_.reserve(total);
  offsets_.reserve(rows.size() + 1);
  for (const auto& r : rows) {
    data_.insert(data_.end(), r.begin(), r.end());
    offsets_.push_back(data_.size());
    square_ = square_ && r.size() == rows.size();
  }
}

Matrix::Matrix(std::vector<double> data, std::span<const std::size_t> row_lengths)
    : data_(std::move(data)) {
  offsets_.reserve(row_lengths.size() + 1);
  for (const std::size_t len : row_lengths) {
    offsets_.push_back(offsets_.back() + len);
    square_ = square_ && len == row_lengths.size();
  }
  if (offsets_.back() != data_.size()) {
    fatal("matrix data holds " + std::to_string(data_.size()) + " values but its rows need " +
          std::to_string(offsets_.back()));
  }
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
