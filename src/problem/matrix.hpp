// Matrix: rows of 64-bit floats, rectangular or ragged, in one shared buffer with bounds-checked reads.
#pragma once

#include <cstddef>
#include <memory>
#include <source_location>
#include <span>
#include <vector>

#include "support/fatal.hpp"

namespace kestrum {

// The rows live in one flat buffer. A rectangular matrix (every row as long; what a buffer
// gives) is just its shape, rows x columns, so that it can be read as data[a * columns + b]
// by the specialised scans and costs nothing beyond its entries, whatever its shape. Only
// ragged rows (the data is taken as given) keep an offset per row.
//
// A matrix never changes after construction, so copies share one buffer (reference
// counted) instead of duplicating it: an evaluation copied into two problems and a search
// holds one matrix, however large. Sharing is invisible to callers, since nothing can write
// through any copy.
class Matrix {
 public:
  Matrix();
  explicit Matrix(const std::vector<std::vector<double>>& rows);
  // `data` holds `rows` rows of `columns` entries, one after another.
  Matrix(std::vector<double> data, std::size_t rows, std::size_t columns);
  // `data` holds the rows one after another; their lengths must add up to data.size().
  // Rows of equal length are kept as a rectangular matrix.
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
  // Every row has the same length (the empty matrix included).
  [[nodiscard]] bool is_rectangular() const noexcept { return offsets_ == nullptr; }
  // Every row is exactly rows() long (the empty matrix is square).
  [[nodiscard]] bool is_square() const noexcept {
    return is_rectangular() && (rows_ == 0 || columns_ == rows_);
  }
  // The first n rows each hold at least n entries: the n x n block is there to read.
  [[nodiscard]] bool covers(std::size_t n) const noexcept;

  // Reads [a][b] as a nested list would: a against the number of rows, then b against the
  // length of row a, each failure with the index message.
  [[nodiscard]] double at(std::size_t a, std::size_t b,
                          std::source_location where = std::source_location::current()) const {
    if (a >= rows_) fatal_index(rows_, a, where);
    if (is_rectangular()) {
      if (b >= columns_) fatal_index(columns_, b, where);
      return data_[a * columns_ + b];
    }
    const std::size_t start = offsets_[a];
    const std::size_t len = offsets_[a + 1] - start;
    if (b >= len) fatal_index(len, b, where);
    return data_[start + b];
  }

  // Unchecked; only for a rectangular matrix and indices already known to be in range.
  [[nodiscard]] double fast(std::size_t a, std::size_t b) const noexcept {
    return data_[a * columns_ + b];
  }
  // Unchecked pointer to the first entry of row a (a < rows()).
  [[nodiscard]] const double* row(std::size_t a) const noexcept {
    return data_ + (is_rectangular() ? a * columns_ : offsets_[a]);
  }
  [[nodiscard]] std::span<const double> row_span(std::size_t a) const noexcept {
    if (is_rectangular()) return {data_ + a * columns_, columns_};
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
    // Ragged rows only: rows + 1 entries, row r is [offsets[r], offsets[r+1]).
    std::vector<std::size_t> offsets;
  };
  Matrix(std::shared_ptr<const Storage> storage, std::size_t rows, std::size_t columns) noexcept;
  // Keeps the offsets of `lengths` unless they are all equal.
  static Matrix from_lengths(std::vector<double> data, std::span<const std::size_t> lengths);

  std::shared_ptr<const Storage> storage_;
  // Views into *storage_, kept beside the pointer so that a read costs no more than it did
  // when the matrix owned its vectors. They stay valid for as long as storage_ holds it.
  const double* data_;
  const std::size_t* offsets_;  // null for a rectangular matrix
  std::size_t rows_;
  std::size_t columns_;  // of a rectangular matrix
};

}  // namespace kestrum
