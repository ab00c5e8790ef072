// PyRef: the one owner of a Python reference in the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kestrum::py {

// Thrown when a Python exception is already set; the envelope turns it into a NULL return.
struct ErrorSet {};

[[noreturn]] inline void throw_error_set() { throw ErrorSet{}; }

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference; a NULL means the call that produced it raised.
  static PyRef steal(PyObject* o) {
    if (o == nullptr) throw_error_set();
    return PyRef(o);
  }
  // Takes over a new reference that may be NULL without an error meaning failure.
  static PyRef steal_or_null(PyObject* o) { return PyRef(o); }
  static PyRef borrow(PyObject* o) {
    Py_XINCREF(o);
    return PyRef(o);
  }
  PyRef(const PyRef& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  [[nodiscard]] PyObject* get() const { return obj_; }
  [[nodiscard]] PyObject* release() { return std::exchange(obj_, nullptr); }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  explicit PyRef(PyObject* o) : obj_(o) {}
  PyObject* obj_ = nullptr;
};

}  // namespace kestrum::py
