// Score functions from Python: callables called back with a solution view, or native entry points.
#pragma once

#include "lib/py_ref.hpp"

#include <memory>
#include <vector>

#include "problem/custom_evaluation.hpp"
#include "problem/custom_state.hpp"
#include "problem/evaluation.hpp"

namespace kestrum::py {

// One `evaluate` or `delta` argument, as given: a Python callable, or a native entry point
// (a scipy LowLevelCallable, a ctypes function pointer, a numba cfunc) whose C signature
// matched. `owner` keeps the object, and with it the native code, alive.
struct ScoreCallable {
  PyRef owner;
  void* native = nullptr;  // the C entry point, or null for a Python callable
  void* user_data = nullptr;
};

// Converters of the two parameters of Evaluation.custom. A wrong native signature is a
// TypeError naming the signature expected.
struct EvaluateArg {
  using type = ScoreCallable;
  static ScoreCallable convert(PyObject* o);
};
struct DeltaArg {
  using type = ScoreCallable;
  static ScoreCallable convert(PyObject* o);
};
struct DeltaRowArg {
  using type = ScoreCallable;
  static ScoreCallable convert(PyObject* o);
};

// The score function over the callables (`delta` and `delta_row` may be absent: owner null).
[[nodiscard]] std::shared_ptr<const ScoreFunction> make_score_function(ScoreCallable evaluate,
                                                                       ScoreCallable delta,
                                                                       ScoreCallable delta_row = {});

// The objects a custom evaluation was built from, for pickling: (evaluate, delta or None,
// delta_row or None).
// Null when the score function was not built here.
[[nodiscard]] PyRef score_function_objects(const ScoreFunction& score);

// Pickling: the callables of the score functions a saved state refers to, as a tuple of
// (evaluate, delta or None) pairs, or (evaluate, delta or None, delta_row) triples when there
// is a row function, each callable wrapped in kestrum_tools._custom's
// SharedCallable (deep copies share it; pickle pickles the callable itself, and a callable
// that does not pickle fails the pickling with the pickler's own error). TypeError for a
// score function not built here.
[[nodiscard]] PyRef score_function_callables(const ScoreFunctionTable& table);

// The `callables` argument of _from_state: those pairs or triples, unwrapped, rebuilt into score
// functions (native signatures checked again).
using ScoreFunctions = std::vector<std::shared_ptr<const ScoreFunction>>;
struct ScoreFunctionsArg {
  using type = ScoreFunctions;
  static ScoreFunctions convert(PyObject* o);
};

// A callback that failed outside a run (it raised, or returned something that is not a
// number) leaves its exception pending on this thread; until it is taken, later callbacks on
// this thread return NaN without calling Python. An entry point that may evaluate outside a
// run (Problem.eval) holds a CallbackFailures for the call and raises the pending exception
// once the native work is over and its locks are released; whatever is left when the scope
// ends (the call failed otherwise) is dropped, so it never reaches a later call.
class CallbackFailures {
 public:
  CallbackFailures() = default;
  ~CallbackFailures();
  CallbackFailures(const CallbackFailures&) = delete;
  CallbackFailures& operator=(const CallbackFailures&) = delete;
  // Throws ErrorSet with the pending exception set, if there is one.
  void raise_if_any();
};
// Sets the pending exception, if any, as the current one: true when there was one.
[[nodiscard]] bool restore_pending_callback_error();

// The move-kind constants MOVE_REVERSE and MOVE_SWAP, added to the module (not to __all__).
void add_custom_constants(PyObject* module);

}  // namespace kestrum::py
