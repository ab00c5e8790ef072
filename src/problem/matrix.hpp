// Matrix: rows of 64-bit floats, possibly ragged, stored contiguously with bounds-checked reads.
#pragma once

#include <cstddef>
#include <memory>
#include <source_location>
#include <span>
#include <vector>

#include "support/fatal.hpp"

namespace kestrum {

// Rows may differ in length (the data is taken as given), but they live in one flat buffer
// so that a square matrix can be read as data[a * n + b] by the specialised scans.
//
// A matrix never changes after construction, so copies share one buffer (reference
// counted) instead of duplicating it: an evaluation copied into two problems and a search
// holds one matrix, however large. Sharing is invisible to callers, since nothing can write
// through any copy.
class Matrix {
 public:
  Matrix();
  explicit Matrix(const std::vector<std::vector<double>>& rows);
  // `data` holds the rows one after another; their lengths must add up to data.size().
  Matrix(std::vector<double> data, std::span<const std::size_t> row_lengths);
  // Copying shares the buffer. There is no move: a moved-from matrix would have to be
  // rebuilt as an empty one, and a copy costs one reference count.
  Matrix(const Matrix&) noexcept = default;
  Matrix& operator=(const Matrix&) noexcept = default;
  ~Matrix() = default;

  [[nodiscard]] std::size_t rows() const noexcept { return rows_; }
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
  [[nodiscard]] const double* row(std::size_t a) const noexcept { return data_ + offsets_[a]; }
  [[nodiscard]] std::span<const double> row_span(std::size_t a) const noexcept {
    return {data_ + offsets_[a], offsets_[a + 1] - offsets_[a]};
  }
  [[nodiscard]] std::span<const double> data() const noexcept { return storage_->data; }
  [[nodiscard]] std::vector<std::vector<double>> to_rows() const;
  // Whether both read the same buffer (copies of one matrix do).
  [[nodiscard]] bool shares_storage_with(const Matrix& other) const noexcept {
    return storage_ == other.storage_;
  }

 private:
  struct Storage {
    std::vector<double> data;
    std::vector<std::size_t> offsets{0};  // rows + 1 entries: row r is [offsets[r], offsets[r+1])
  };
  explicit Matrix(std::shared_ptr<const Storage> storage, bool square) noexcept;

  std::shared_ptr<const Storage> storage_;
  // Views into *storage_, kept beside the pointer so that a read costs no more than it did
  // when the matrix owned its vectors. They stay valid for as long as storage_ holds it.
  const double* data_;
  const std::size_t* offsets_;
  std::size_t rows_;
  bool square_;
};

}  // namespace kestrum
