// Termination, Cooling and IterationsPerTemp: the stop criteria and annealing schedules.
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {
namespace {

constexpr Signature kGeometricCooling{"Cooling", "geometric_cooling", {"alpha"}, 1};
PyObject* geometric_cooling(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [alpha] = bind<F64>(kGeometricCooling, a, n, kw);
    return new_instance<DynCooling>(alpha);
  });
}

constexpr Signature kCnstIterTemp{"IterationsPerTemp", "cnst_iter_temp", {"iterations"}, 1};
PyObject* cnst_iter_temp(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [iterations] = bind<U32>(kCnstIterTemp, a, n, kw);
    return new_instance<DynIterTemp>(iterations);
  });
}

}  // namespace

PyMethodDef* DynTermination::methods() {
  static PyMethodDef table[] = {kMethodsEnd};
  return table;
}

PyMethodDef* DynCooling::methods() {
  static PyMethodDef table[] = {method(geometric_cooling, kGeometricCooling), kMethodsEnd};
  return table;
}

PyMethodDef* DynIterTemp::methods() {
  static PyMethodDef table[] = {method(cnst_iter_temp, kCnstIterTemp), kMethodsEnd};
  return table;
}

}  // namespace kestrum::py
