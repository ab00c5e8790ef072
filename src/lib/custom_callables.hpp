// Score functions from Python: callables called back with a solution view, or native entry points.
#pragma once

#include "lib/py_ref.hpp"

#include <memory>

#include "problem/custom_evaluation.hpp"
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

// The score function over the two callables (`delta` may be absent: owner null).
[[nodiscard]] std::shared_ptr<const ScoreFunction> make_score_function(ScoreCallable evaluate,
                                                                       ScoreCallable delta);

// The objects a custom evaluation was built from, for pickling: (evaluate, delta or None).
// Null when the score function was not built here.
[[nodiscard]] PyRef score_function_objects(const ScoreFunction& score);

// Pickling of a custom evaluation, and of a Problem or LocalSearch whose problem holds one.
// Callables are not bytes: the problem is saved with a stand-in evaluation and rebuilt by
// kestrum_tools._custom, which puts the evaluation back over the pickled callables
// (Problem.set_eval_type, LocalSearch.set_problem). Each returns the __reduce__ tuple, or a
// null PyRef when the object holds no custom evaluation (the saved-state bytes then serve).
[[nodiscard]] PyRef reduce_custom_evaluation(const Evaluation& evaluation);
[[nodiscard]] PyRef reduce_custom_problem(PyObject* problem);
[[nodiscard]] PyRef reduce_custom_search(PyObject* search);

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
