// Termination, Cooling and IterationsPerTemp: the stop criteria and annealing schedules.
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/pickling.hpp"
#include "lib/wrappers.hpp"
#include "termination/termination_state.hpp"

namespace kestrum::py {
namespace {

using Criteria = ListOf<Instance<DynTermination>>;

// The children of a new combination. Nesting is capped where saved states are: deeper
// criteria could be neither saved nor restored, and the operations that walk them by
// recursion would need a stack in proportion.
std::vector<TerminationFunction> children_of(const std::vector<Held<DynTermination>>& held) {
  std::vector<TerminationFunction> out;
  out.reserve(held.size());
  for (const auto& h : held) {
    if (criterion_depth(h->value) + 1 > kMaxCriterionDepth) {
      PyErr_Format(PyExc_ValueError, "criteria nest deeper than %zu", kMaxCriterionDepth);
      throw_error_set();
    }
    out.push_back(h->value);
  }
  return out;
}

constexpr Signature kMaxSec{"Termination", "max_sec", {"max_sec"}, 1};
PyObject* max_sec(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seconds] = bind<U64>(kMaxSec, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::max_sec(seconds));
  });
}

constexpr Signature kAlwaysTrue{"Termination", "always_true", {}, 0};
PyObject* always_true(PyObject*, PyObject*) noexcept {
  return guarded([&] { return new_instance<DynTermination>(TerminationFunction::always_true()); });
}

constexpr Signature kMaxIterations{"Termination", "max_iterations", {"max_iterations"}, 1};
PyObject* max_iterations(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [limit] = bind<U32>(kMaxIterations, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::max_iterations(limit));
  });
}

constexpr Signature kMinTemp{"Termination", "min_temp", {"min_temp"}, 1};
PyObject* min_temp(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [bound] = bind<I32>(kMinTemp, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::min_temp(bound));
  });
}

constexpr Signature kMultiCritAnd{"Termination", "multi_crit_and", {"vec"}, 1};
PyObject* multi_crit_and(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [vec] = bind<Criteria>(kMultiCritAnd, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::multi_crit_and(children_of(vec)));
  });
}

constexpr Signature kMultiCritOr{"Termination", "multi_crit_or", {"vec"}, 1};
PyObject* multi_crit_or(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [vec] = bind<Criteria>(kMultiCritOr, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::multi_crit_or(children_of(vec)));
  });
}

constexpr Signature kMustImprove{"Termination", "must_improve", {}, 0};
PyObject* must_improve(PyObject*, PyObject*) noexcept {
  return guarded([&] { return new_instance<DynTermination>(TerminationFunction::must_improve()); });
}

constexpr Signature kNoImprove{"Termination", "no_improve", {"iter_without_imp"}, 1};
PyObject* no_improve(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [tolerance] = bind<U32>(kNoImprove, a, n, kw);
    return new_instance<DynTermination>(TerminationFunction::no_improve(tolerance));
  });
}

constexpr Signature kTimeLimit{"Termination", "time_limit", {"seconds"}, 1};
PyObject* time_limit(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seconds] = bind<F64>(kTimeLimit, a, n, kw);
    // Written as positive tests so that a NaN is refused too; -0.0 counts as 0.
    if (!(seconds >= 0.0)) {
      PyRef shown = PyRef::steal(PyFloat_FromDouble(seconds));
      PyErr_Format(PyExc_ValueError, "seconds must be a number of seconds >= 0, not %R", shown.get());
      throw_error_set();
    }
    return new_instance<DynTermination>(TerminationFunction::time_limit(seconds));
  });
}

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
  static PyMethodDef table[] = {
      method(max_sec, kMaxSec),
      method(always_true, kAlwaysTrue),
      method(max_iterations, kMaxIterations),
      method(min_temp, kMinTemp),
      method(multi_crit_and, kMultiCritAnd),
      method(multi_crit_or, kMultiCritOr),
      method(must_improve, kMustImprove),
      method(no_improve, kNoImprove),
      method(time_limit, kTimeLimit),
      from_state_method<DynTermination>(),
      reduce_method<DynTermination>(),
      kMethodsEnd,
  };
  return table;
}

PyMethodDef* DynCooling::methods() {
  static PyMethodDef table[] = {method(geometric_cooling, kGeometricCooling), from_state_method<DynCooling>(),
                                reduce_method<DynCooling>(), kMethodsEnd};
  return table;
}

PyMethodDef* DynIterTemp::methods() {
  static PyMethodDef table[] = {method(cnst_iter_temp, kCnstIterTemp), from_state_method<DynIterTemp>(),
                                reduce_method<DynIterTemp>(), kMethodsEnd};
  return table;
}

}  // namespace kestrum::py
