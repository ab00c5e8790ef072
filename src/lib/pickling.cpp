// Pickle support: __reduce__ saves a class's native state as bytes, _from_state rebuilds it.
#include "lib/pickling.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lib/custom_callables.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/saved_state.hpp"
#include "lib/wrappers.hpp"
#include "problem/custom_state.hpp"

namespace kestrum::py {
namespace {

// The state argument of _from_state: bytes, or anything else exposing a byte buffer
// (bytearray, memoryview), copied out.
struct StateArg {
  using type = StateBytes;
  static StateBytes convert(PyObject* o) {
    Py_buffer view;
    if (PyObject_GetBuffer(o, &view, PyBUF_SIMPLE) < 0) {
      PyErr_Clear();
      raise_cannot_convert(o, "PyBytes");
    }
    const auto* start = static_cast<const std::uint8_t*>(view.buf);
    StateBytes bytes(start, start + view.len);
    PyBuffer_Release(&view);
    return bytes;
  }
};

// Runs `f`; malformed state (or a criterion too deep to save) becomes ValueError. Only
// called where no lock is held, so the error poisons nothing.
template <class F>
decltype(auto) state_errors_as_value_error(const char* cls, F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const MalformedState& m) {
    t_unwinding_consistent = false;  // a refusal under a lock left it unpoisoned
    const std::string text = std::string("invalid ") + cls + " state: " + m.reason;
    PyErr_SetString(PyExc_ValueError, text.c_str());
    throw_error_set();
  }
}

// (kestrum_tools._restore.restore, (class name, state)), and when the state holds custom
// evaluations, their callables after the state: (class name, state, callables).
PyRef reduce_value(const char* cls, const StateBytes& state, const ScoreFunctionTable& table) {
  PyRef module = PyRef::steal(PyImport_ImportModule("kestrum_tools._restore"));
  PyRef restore = PyRef::steal(PyObject_GetAttrString(module.get(), "restore"));
  const auto* bytes = reinterpret_cast<const char*>(state.data());
  const auto size = static_cast<Py_ssize_t>(state.size());
  if (table.entries().empty()) return PyRef::steal(Py_BuildValue("(O(sy#))", restore.get(), cls, bytes, size));
  PyRef callables = score_function_callables(table);
  return PyRef::steal(Py_BuildValue("(O(sy#O))", restore.get(), cls, bytes, size, callables.get()));
}

// ---- per class: the saved bytes of `self`, and a new instance from saved bytes.

template <class T>
StateBytes save(PyObject* self);
template <class T>
PyRef load(std::span<const std::uint8_t> state);

template <>
StateBytes save<DynEvaluation>(PyObject* self) {
  return save_evaluation(self_of<DynEvaluation>(self).value);
}
template <>
PyRef load<DynEvaluation>(std::span<const std::uint8_t> state) {
  return new_instance<DynEvaluation>(load_evaluation(state));
}

template <>
StateBytes save<DynMoveType>(PyObject* self) {
  return save_move_type(self_of<DynMoveType>(self).value);
}
template <>
PyRef load<DynMoveType>(std::span<const std::uint8_t> state) {
  return new_instance<DynMoveType>(load_move_type(state));
}

template <>
StateBytes save<DynTermination>(PyObject* self) {
  return save_termination(self_of<DynTermination>(self).value);
}
template <>
PyRef load<DynTermination>(std::span<const std::uint8_t> state) {
  return new_instance<DynTermination>(load_termination(state));
}

template <>
StateBytes save<DynCooling>(PyObject* self) {
  return save_cooling(self_of<DynCooling>(self).alpha);
}
template <>
PyRef load<DynCooling>(std::span<const std::uint8_t> state) {
  return new_instance<DynCooling>(load_cooling(state));
}

template <>
StateBytes save<DynIterTemp>(PyObject* self) {
  return save_iterations_per_temp(self_of<DynIterTemp>(self).iterations);
}
template <>
PyRef load<DynIterTemp>(std::span<const std::uint8_t> state) {
  return new_instance<DynIterTemp>(load_iterations_per_temp(state));
}

template <>
StateBytes save<DynProblem>(PyObject* self) {
  return with_locked<DynProblem>(self, [](Problem& p) { return save_problem(p); });
}
template <>
PyRef load<DynProblem>(std::span<const std::uint8_t> state) {
  return new_instance<DynProblem>(load_problem(state));
}

template <>
StateBytes save<DynLocalSearch>(PyObject* self) {
  // The search's snapshot is taken under its lock, which is released before the problem's
  // lock is taken: a poisoned problem then refuses the save without poisoning the search,
  // and a criterion too deep to save is refused with neither lock held.
  SearchSnapshot snapshot =
      with_locked<DynLocalSearch>(self, [](LocalSearch& s) { return s.snapshot(); });
  check_saveable(snapshot);
  auto problem = snapshot.problem.lock();
  return save_search(snapshot, *problem);
}
template <>
PyRef load<DynLocalSearch>(std::span<const std::uint8_t> state) {
  return new_instance<DynLocalSearch>(load_search(state));
}

template <class T>
PyObject* reduce(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    ScoreFunctionTable table;  // the score functions of the custom evaluations saved
    StateBytes state = state_errors_as_value_error(T::kName, [&] {
      const ScoreFunctionScope scope(table);
      return save<T>(self);
    });
    return reduce_value(T::kName, state, table);
  });
}

template <class T>
constexpr Signature kReduce{T::kName, "__reduce__", {}, 0, Receiver::Self};

// `callables`: the (evaluate, delta) pairs of the custom evaluations in the state, in the
// order of the indices the state holds.
template <class T>
constexpr Signature kFromState =
    Signature{T::kName, "_from_state", {"state", "callables"}, 1}.keyword_only_from(1);

template <class T>
PyObject* from_state(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [state, callables] = bind<StateArg, Optional<ScoreFunctionsArg>>(kFromState<T>, a, n, kw);
    ScoreFunctionTable table(callables ? std::move(*callables) : ScoreFunctions{});
    return state_errors_as_value_error(T::kName, [&] {
      const ScoreFunctionScope scope(table);
      return load<T>(state);
    });
  });
}

}  // namespace

template <class T>
PyMethodDef reduce_method() {
  return method(reduce<T>, kReduce<T>);
}

template <class T>
PyMethodDef from_state_method() {
  return method(from_state<T>, kFromState<T>);
}

template PyMethodDef reduce_method<DynLocalSearch>();
template PyMethodDef reduce_method<DynProblem>();
template PyMethodDef reduce_method<DynTermination>();
template PyMethodDef reduce_method<DynIterTemp>();
template PyMethodDef reduce_method<DynCooling>();
template PyMethodDef reduce_method<DynEvaluation>();
template PyMethodDef reduce_method<DynMoveType>();
template PyMethodDef from_state_method<DynLocalSearch>();
template PyMethodDef from_state_method<DynProblem>();
template PyMethodDef from_state_method<DynTermination>();
template PyMethodDef from_state_method<DynIterTemp>();
template PyMethodDef from_state_method<DynCooling>();
template PyMethodDef from_state_method<DynEvaluation>();
template PyMethodDef from_state_method<DynMoveType>();

}  // namespace kestrum::py
