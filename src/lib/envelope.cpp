// PanicException and the diagnostic written for every fatal stop.
#include "lib/envelope.hpp"

#include <cstdio>

namespace kestrum::py {

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "kestrum.PanicException",
        "Raised when native code called from Python fails irrecoverably.\n\n"
        "It derives from BaseException, not Exception, so ordinary `except Exception` "
        "handlers let it pass and it will typically propagate all the way up and end the "
        "interpreter. The object whose operation failed is left unusable (its lock is "
        "poisoned).",
        PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_panic(const FatalStop& stop) {
  std::fprintf(stderr, "kestrum: fatal stop at %s:%u: %s\n", source_path(stop.where),
               static_cast<unsigned>(stop.where.line()), stop.message.c_str());
  std::fflush(stderr);
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the error of creating the class is set instead
  PyRef text = PyRef::steal_or_null(PyUnicode_FromStringAndSize(
      stop.message.data(), static_cast<Py_ssize_t>(stop.message.size())));
  if (text) PyErr_SetObject(type, text.get());
}

bool check_python_signals() noexcept {
  // PyGILState_Ensure is a no-op when the lock is already held by this thread.
  const PyGILState_STATE state = PyGILState_Ensure();
  const bool raised = PyErr_CheckSignals() != 0;
  PyGILState_Release(state);
  return raised;
}

}  // namespace kestrum::py
