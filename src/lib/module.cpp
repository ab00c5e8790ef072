// PyInit_kestrum: the module, created once per process, its classes and __all__.
#include <atomic>

#include "lib/benchmark_function.hpp"
#include "lib/custom_callables.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/run_host.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "kestrum", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> owner_interpreter{-1};
// The module, once created. Deliberately a plain pointer holding one reference for the life
// of the process: a static PyRef would be released after the interpreter has finalised.
PyObject* cached_module = nullptr;

// Initialisation reports failure as the interpreter expects: NULL with the error set. The
// helpers below throw ErrorSet instead, and init() turns that back into NULL.

// Appends `name` to __all__ (created when missing), then sets the attribute.
void add_export(PyObject* module, const char* name, PyObject* value) {
  PyRef all = PyRef::steal_or_null(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error_set();
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_error_set();
  }
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (PyList_Append(all.get(), text.get()) < 0) throw_error_set();
  if (PyObject_SetAttrString(module, name, value) < 0) throw_error_set();
}

template <class T>
void add_class(PyObject* module) {
  PyTypeObject* type = type_object_or_null<T>();
  if (type == nullptr) throw_error_set();
  add_export(module, T::kName, reinterpret_cast<PyObject*>(type));
}

void init_module(PyObject* m) {
  set_interrupt_hook(&check_python_signals);
  install_host_hooks();
  add_class<DynLocalSearch>(m);
  add_class<DynProblem>(m);
  add_class<DynTermination>(m);
  add_class<DynIterTemp>(m);
  add_class<DynCooling>(m);
  add_class<DynEvaluation>(m);
  add_class<DynMoveType>(m);
  PyRef name = PyRef::steal(PyModule_GetNameObject(m));
  PyRef function = PyRef::steal(PyCMethod_New(benchmark_method(), m, name.get(), nullptr));
  add_export(m, "benchmark", function.get());
  // The package version, given by the build from the project metadata (not in __all__).
  if (PyModule_AddStringConstant(m, "__version__", KESTRUM_VERSION) < 0) throw_error_set();
  add_custom_constants(m);
}

#if PY_VERSION_HEX < 0x030D0000
// Python 3.12 calls the init function of a single-phase module in any interpreter and only
// afterwards refuses the module where the interpreter does not allow such modules (the
// isolated sub-interpreters). This is the check it makes then; exported by 3.12 itself.
extern "C" int _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);
#endif

constexpr const char* kSubInterpreters =
    "kestrum does not support sub-interpreters: it can only be imported by the main interpreter";

// Only the main interpreter may make the module. A refused import must leave nothing behind:
// no claim on the process, no type objects made in an interpreter that may go away. An
// isolated sub-interpreter gets the import system's own refusal; any other one (a legacy
// sub-interpreter admits every module) gets ours. Python 3.13 runs the init function of an
// isolated one's import in the main interpreter.
bool import_allowed_here(PyInterpreterState* interp) {
  if (interp == PyInterpreterState_Main()) return true;
#if PY_VERSION_HEX < 0x030D0000
  if (_PyImport_CheckSubinterpIncompatibleExtensionAllowed("kestrum") < 0) return false;
#endif
  PyErr_SetString(PyExc_ImportError, kSubInterpreters);
  return false;
}

PyObject* init() noexcept {
  PyInterpreterState* interp = PyInterpreterState_Get();
  if (!import_allowed_here(interp)) return nullptr;
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
  if (cached_module != nullptr) return PyRef::borrow(cached_module).release();
  return guarded([] {
    PyRef m = PyRef::steal(PyModule_Create2(&module_def, 1013));
    init_module(m.get());  // on failure the half-built module is released, nothing cached
    cached_module = PyRef(m).release();
    return m;
  });
}

}  // namespace
}  // namespace kestrum::py

PyMODINIT_FUNC PyInit_kestrum() {
  return kestrum::py::init();
}
