// Readers that turn text files of numbers into a value list or a square distance matrix.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace kestrum {

// n x n entries in one row-major buffer: [i][j] is data[i * n + j]. The readers build it in
// place, and the binding takes the buffer over without copying it.
struct SquareMatrix {
  std::size_t n = 0;
  std::vector<double> data;

  [[nodiscard]] std::size_t size() const noexcept { return n; }
  [[nodiscard]] bool empty() const noexcept { return n == 0; }
  // Row i (i < n), unchecked.
  [[nodiscard]] std::span<const double> operator[](std::size_t i) const noexcept {
    return {data.data() + i * n, n};
  }
  [[nodiscard]] std::vector<std::vector<double>> rows() const;
};

// A growing list of doubles kept in fixed-size blocks. Appending never moves what is stored,
// so reading m numbers needs m doubles and one block at most, where a doubling vector needs up
// to 3m while it moves; taking the values out frees the blocks as they are emptied.
class ValueStore {
 public:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  void push_back(double value) {
    if (size_ % kBlock == 0) add_block();
    blocks_.back().push_back(value);
    ++size_;
  }
  // Drops every value from index `size` on.
  void truncate(std::size_t size);
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] double operator[](std::size_t i) const noexcept {
    return blocks_[i / kBlock][i % kBlock];
  }
  // Values [first, first + count) as one vector. Takes go forward through the store: a block
  // is freed once a take has passed its end, and must not be read again.
  [[nodiscard]] std::vector<double> take(std::size_t first, std::size_t count);

 private:
  void add_block();

  std::vector<std::vector<double>> blocks_;
  std::size_t size_ = 0;
};

// Every number of every non-comment line, in file order (line boundaries are not kept).
[[nodiscard]] Result<std::vector<double>> read_csv(std::string_view path);

// n*n numbers cut into n rows; the diagonal must be zero.
[[nodiscard]] Result<SquareMatrix> read_distance_matrix(std::string_view path);

// Points x0 y0 x1 y1 ... (an odd last value is ignored); Euclidean distances.
[[nodiscard]] Result<SquareMatrix> read_coord2d_to_distance_matrix(std::string_view path);

// One location per line: lat deg min sec N|S lon deg min sec E|W (further fields ignored);
// great-circle distances in kilometres.
[[nodiscard]] Result<SquareMatrix> read_dms_to_distance_matrix(std::string_view path);

}  // namespace kestrum
