// Run log conversion.
#include "lib/run_log.hpp"

#include <cstdint>

namespace kestrum::py {
PyRef u128_to_int(unsigned __int128 v) {
  const auto low = static_cast<std::uint64_t>(v);
  const auto high = static_cast<std::uint64_t>(v >> 64);
  if (high == 0) return PyRef::steal(PyLong_FromUnsignedLongLong(low));
  // Beyond 2^64 ns (585 years): assemble high * 2^64 + low.
  PyRef h = PyRef::steal(PyLong_FromUnsignedLongLong(high));
  PyRef shift = PyRef::steal(PyLong_FromLong(64));
  PyRef shifted = PyRef::steal(PyNumber_Lshift(h.get(), shift.get()));
  PyRef l = PyRef::steal(PyLong_FromUnsignedLongLong(low));
  return PyRef::steal(PyNumber_Or(shifted.get(), l.get()));
}

namespace {

PyRef row_to_tuple(const ProgressRecord& row) {
  PyRef tuple = PyRef::steal(PyTuple_New(4));
  PyTuple_SET_ITEM(tuple.get(), 0, u128_to_int(row.elapsed_ns).release());
  PyTuple_SET_ITEM(tuple.get(), 1, PyRef::steal(PyFloat_FromDouble(row.best_score)).release());
  PyTuple_SET_ITEM(tuple.get(), 2, PyRef::steal(PyFloat_FromDouble(row.current_score)).release());
  PyTuple_SET_ITEM(tuple.get(), 3,
                   PyRef::steal(PyLong_FromUnsignedLongLong(row.iteration)).release());
  return tuple;
}

}  // namespace

PyRef run_log_to_list(const RunLog& log) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(log.size())));
  for (std::size_t k = 0; k < log.size(); ++k) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), row_to_tuple(log[k]).release());
  }
  return list;
}

}  // namespace kestrum::py
