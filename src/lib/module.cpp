// PyInit_kestrum: the module, created once per process, its classes and __all__.
#include <atomic>

#include "lib/benchmark_function.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "kestrum", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* cached_module = nullptr;

// Appends `name` to __all__ (created when missing), then sets the attribute.
int add_export(PyObject* module, const char* name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr) return -1;
    if (PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_DECREF(all);
      return -1;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  int rc = text == nullptr ? -1 : PyList_Append(all, text);
  Py_XDECREF(text);
  Py_DECREF(all);
  if (rc < 0) return -1;
  return PyObject_SetAttrString(module, name, value);
}

template <class T>
int add_class(PyObject* module) {
  PyTypeObject* type = type_object_or_null<T>();
  if (type == nullptr) return -1;
  return add_export(module, T::kName, reinterpret_cast<PyObject*>(type));
}

int init_module(PyObject* m) {
  if (add_class<DynLocalSearch>(m) < 0 || add_class<DynProblem>(m) < 0 ||
      add_class<DynTermination>(m) < 0 || add_class<DynIterTemp>(m) < 0 ||
      add_class<DynCooling>(m) < 0 || add_class<DynEvaluation>(m) < 0 ||
      add_class<DynMoveType>(m) < 0) {
    return -1;
  }
  PyObject* name = PyModule_GetNameObject(m);
  if (name == nullptr) return -1;
  PyObject* function = PyCMethod_New(benchmark_method(), m, name, nullptr);
  Py_DECREF(name);
  if (function == nullptr) return -1;
  int rc = add_export(m, "benchmark", function);
  Py_DECREF(function);
  return rc;
}

PyObject* init() {
  PyInterpreterState* interp = PyInterpreterState_Get();
  std::int64_t id = PyInterpreterState_GetID(interp);
  if (id == -1) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "kestrum does not support sub-interpreters: it can only be imported by the "
                    "interpreter that imported it first");
    return nullptr;
  }
  if (cached_module != nullptr) {
    Py_INCREF(cached_module);
    return cached_module;
  }
  PyObject* m = PyModule_Create2(&module_def, 1013);
  if (m == nullptr) return nullptr;
  if (init_module(m) < 0) {
    Py_DECREF(m);
    return nullptr;
  }
  Py_INCREF(m);
  cached_module = m;
  return m;
}

}  // namespace
}  // namespace kestrum::py

PyMODINIT_FUNC PyInit_kestrum() {
  return kestrum::py::init();
}
