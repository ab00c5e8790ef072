// Matrix: rows of 64-bit floats, possibly ragged, stored contiguously with bounds-checked reads.
#pragma once

#include <cstddef>
#include <source_location>
#include <span>
#include <vector>

#include "support/fatal.hpp"

namespace kestrum {

// Rows may differ in length (the data is taken as given), but they live in one flat buffer
// so that a square matrix can be read as data[a * n + b] by the specialised scans.
class Matrix {
 public:
  Matrix() = default;
  explicit Matrix(const std::vector<std::vector<double>>& rows);
  // `data` holds the rows one after another; their lengths must add up to data.size().
  Matrix(std::vector<double> data, std::span<const std::size_t> row_lengths);

  [[nodiscard]] std::size_t rows() const noexcept { return offsets_.size() - 1; }
  // Checked against the number of rows.
  [[nodiscard]] std::size_t row_len(std::size_t r,
                                    std::source_location where = std::source_location::current()) const;
  // Every row is exactly rows() long (the empty matrix is square).
  [[nodiscard]] bool is_square() const noexcept { return square_; }

  // Reads [a][b] as a nested list would: a against the number of rows, then b against the
  // length of row a, each failure with the index message.
  [[nodiscard]] double at(std::size_t a, std::size_t b,
                          std::source_location where = std::source_location::current()) const {
    const std::size_t n = rows();
    if (a >= n) fatal_index(n, a, where);
    if (square_) {
      if (b >= n) fatal_index(n, b, where);
      return data_[a * n + b];
    }
    const std::size_t start = offsets_[a];
    const std::size_t len = offsets_[a + 1] - start;
    if (b >= len) fatal_index(len, b, where);
    return data_[start + b];
  }

  // Unchecked; only for a square matrix and indices already known to be below rows().
  [[nodiscard]] double fast(std::size_t a, std::size_t b) const noexcept {
    return data_[a * rows() + b];
  }
  // Unchecked pointer to the first entry of row a (a < rows()).
  [[nodiscard]] const double* row(std::size_t a) const noexcept { return data_.data() + offsets_[a]; }
  [[nodiscard]] std::span<const double> row_span(std::size_t a) const noexcept {
    return {data_.data() + offsets_[a], offsets_[a + 1] - offsets_[a]};
  }
  [[nodiscard]] std::span<const double> data() const noexcept { return data_; }
  [[nodiscard]] std::vector<std::vector<double>> to_rows() const;

 private:
  std::vector<double> data_;
  std::vector<std::size_t> offsets_{0};  // rows() + 1 entries: row r is [offsets_[r], offsets_[r+1])
  bool square_ = true;
};

}  // namespace kestrum
