// Fast path for numeric buffers (numpy arrays, array.array, memoryview): read without a
// Python object per element. Anything it does not handle goes through the sequence path.
#pragma once

#include "lib/py_ref.hpp"

#include <cstddef>
#include <vector>

namespace kestrum::py {

// If `o` exports a C-contiguous buffer of `ndim` dimensions in a numeric format we read
// (float64, float32, the integer formats, bool), appends its values to `out` as doubles
// (converted as float() would), stores the shape in `shape` and returns true. Otherwise
// returns false with no error set and nothing appended.
bool read_numeric_buffer(PyObject* o, int ndim, std::vector<double>& out, std::vector<std::size_t>& shape);

}  // namespace kestrum::py
