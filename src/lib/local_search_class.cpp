// LocalSearch: the searches over a shared problem; one factory per search.
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/custom_callables.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/pickling.hpp"
#include "lib/run_host.hpp"
#include "lib/run_log.hpp"
#include "lib/wrappers.hpp"
#include "local_search/annealing/schedule.hpp"
#include "local_search/search_registry.hpp"

namespace kestrum::py {
namespace {

// A ValueError whose message shows `value` as Python's repr of the float.
[[noreturn]] void refuse_value(const char* format, double value) {
  PyRef shown = PyRef::steal(PyFloat_FromDouble(value));
  PyErr_Format(PyExc_ValueError, format, shown.get());
  throw_error_set();
}

// Each factory only parses its arguments into its search's Params; the registry builds the
// search.
PyRef new_search(const SearchParams& params, bool minimize, const Held<DynProblem>& problem,
                 const Held<DynTermination>& termination) {
  return new_instance<DynLocalSearch>(make_search(params, minimize, problem->handle, termination->value));
}

constexpr Signature kSimulatedAnnealing{
    "LocalSearch",
    SimulatedAnnealing::kName,
    {"start_temp", "minimize", "problem", "termination_function", "cooling_function",
     "iterations_temperature"},
    6};
PyObject* simulated_annealing(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [start_temp, minimize, problem, termination, cooling, iterations] =
        bind<U32, Bool, Instance<DynProblem>, Instance<DynTermination>, Instance<DynCooling>,
             Instance<DynIterTemp>>(kSimulatedAnnealing, a, n, kw);
    const SimulatedAnnealing::Params params{
        .start_temp = start_temp, .alpha = cooling->alpha, .iterations_temperature = iterations->iterations};
    return new_search(params, minimize, problem, termination);
  });
}

constexpr Signature kSteepestDescent{
    "LocalSearch", SteepestDescent::kName, {"minimize", "problem", "termination_function"}, 3};
PyObject* steepest_descent(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>>(kSteepestDescent, a, n, kw);
    return new_search(SteepestDescent::Params{}, minimize, problem, termination);
  });
}

constexpr Signature kTabuSearch =
    Signature{"LocalSearch",
              TabuSearch::kName,
              {"minimize", "problem", "termination_function", "tabu_list_size", "canonical_tours"},
              3}
        .keyword_only_from(4)
        .with_default(4, "False");
PyObject* tabu_search(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination, tabu_list_size, canonical_tours] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>, Optional<U32>, Optional<Bool>>(
            kTabuSearch, a, n, kw);
    // None stands for the default, as an absent argument does.
    TabuSearch::Params params;
    params.tabu_list_size = tabu_list_size.value_or(params.tabu_list_size);
    params.canonical_tours = canonical_tours.value_or(params.canonical_tours);
    return new_search(params, minimize, problem, termination);
  });
}

constexpr Signature kVns{"LocalSearch", VariableNeighborhood::kName, {"minimize", "problem", "termination_function"}, 3};
PyObject* vns(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>>(kVns, a, n, kw);
    return new_search(VariableNeighborhood::Params{}, minimize, problem, termination);
  });
}

constexpr Signature kIteratedLocalSearch = Signature{
    "LocalSearch",
    IteratedLocalSearch::kName,
    {"minimize", "problem", "termination_function", "neighbours", "seed"},
    3}
    .with_default(3, "10");
PyObject* iterated_local_search(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination, neighbours, seed] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>, Optional<U32>, Optional<U64>>(
            kIteratedLocalSearch, a, n, kw);
    // None stands for the default, as an absent argument does.
    IteratedLocalSearch::Params params;
    params.neighbours = neighbours.value_or(params.neighbours);
    params.seed = seed;
    if (params.neighbours == 0) {
      PyErr_SetString(PyExc_ValueError, "neighbours must be at least 1");
      throw_error_set();
    }
    return new_search(params, minimize, problem, termination);
  });
}

// A tenure: an int t, read as (t, t), or a pair (low, high) with low <= high.
struct Tenure {
  using type = std::pair<std::uint32_t, std::uint32_t>;
  static type convert(PyObject* o) {
    if (PyLong_Check(o)) {
      const std::uint32_t t = U32::convert(o);
      return {t, t};
    }
    const std::vector<std::uint32_t> pair = ListOf<U32>::convert(o);
    if (pair.size() != 2) {
      PyErr_Format(PyExc_ValueError, "tenure must be an int or a pair (low, high), not a sequence of %zu",
                   pair.size());
      throw_error_set();
    }
    if (pair[0] > pair[1]) {
      PyErr_Format(PyExc_ValueError, "tenure (low, high) must have low <= high, not (%u, %u)",
                   static_cast<unsigned>(pair[0]), static_cast<unsigned>(pair[1]));
      throw_error_set();
    }
    return {pair[0], pair[1]};
  }
};

constexpr Signature kRobustTabuSearch = Signature{"LocalSearch",
                                                  RobustTabuSearch::kName,
                                                  {"minimize", "problem", "termination_function", "tenure",
                                                   "aspiration", "seed"},
                                                  3}
                                            .keyword_only_from(3);
PyObject* robust_tabu_search(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination, tenure, aspiration, seed] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>, Optional<Tenure>, Optional<U64>,
             Optional<U64>>(kRobustTabuSearch, a, n, kw);
    // None stands for the default, as an absent argument does.
    const RobustTabuSearch::Params params{.tenure = tenure, .aspiration = aspiration, .seed = seed};
    std::optional<std::string> refused;
    {
      auto locked = problem->handle.lock();
      refused = RobustTabuSearch::refusal(locked->get_move_type());
    }
    if (refused) {
      PyErr_SetString(PyExc_ValueError, refused->c_str());
      throw_error_set();
    }
    return new_search(params, minimize, problem, termination);
  });
}

constexpr Signature kAnnealing =
    Signature{"LocalSearch",
              Annealing::kName,
              {"minimize", "problem", "termination_function", "start_temperature", "alpha",
               "iterations_per_temperature", "seed"},
              3}
        .keyword_only_from(3);
PyObject* annealing(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [minimize, problem, termination, start_temperature, alpha, per_temperature, seed] =
        bind<Bool, Instance<DynProblem>, Instance<DynTermination>, Optional<F64>, Optional<F64>, Optional<U32>,
             Optional<U64>>(kAnnealing, a, n, kw);
    // None stands for the default, as an absent argument does.
    if (start_temperature && !annealing::valid_start_temperature(*start_temperature)) {
      refuse_value("start_temperature must be a finite number >= 0, not %R", *start_temperature);
    }
    if (alpha && !annealing::valid_alpha(*alpha)) refuse_value("alpha must be a number > 0 and <= 1, not %R", *alpha);
    if (per_temperature == 0U) {
      PyErr_SetString(PyExc_ValueError, "iterations_per_temperature must be at least 1");
      throw_error_set();
    }
    const Annealing::Params params{.start_temperature = start_temperature,
                                   .alpha = alpha,
                                   .iterations_per_temperature = per_temperature,
                                   .seed = seed};
    return new_search(params, minimize, problem, termination);
  });
}

constexpr Signature kRun{"LocalSearch", "run", {}, 0, Receiver::Self};
PyObject* run(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    Shared<LocalSearch> handle = self_of<DynLocalSearch>(self).handle;
    CallbackFailures failures;  // a custom evaluation's callback that failed outside the run control
    PyRunHost host;
    RunLog log;
    bool out_of_memory = false;
    {
      // The run works without the interpreter lock; the host takes it back for signal
      // checks and progress reports. A raising handler or callback stops the run as its
      // criterion would, and the exception leaves with the log.
      RunControl control(&host);
      WithoutGil released;
      auto locked = handle.lock();
      control.begin_run(locked->run_settings());
      // An allocation that failed inside the run leaves both objects usable (only fatal
      // stops poison); the rows written so far go with the MemoryError, as with Ctrl-C.
      try {
        log = locked->run(true);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      } catch (const std::length_error&) {
        out_of_memory = true;
      }
      if (out_of_memory) log = control.take_partial();
    }
    if (out_of_memory) host.keep_memory_error();
    PyRef list = run_log_to_list(log);
    if (host.has_error()) host.raise_with_log(std::move(list));
    failures.raise_if_any();
    return list;
  });
}

constexpr Signature kReset{"LocalSearch", "reset", {}, 0, Receiver::Self};
PyObject* reset(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    with_locked<DynLocalSearch>(self, [](LocalSearch& s) { s.reset(); });
    return none();
  });
}

constexpr Signature kSetProblem{"LocalSearch", "set_problem", {"problem"}, 1, Receiver::Self};
PyObject* set_problem(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [problem] = bind<Instance<DynProblem>>(kSetProblem, a, n, kw);
    with_locked<DynLocalSearch>(self, [&](LocalSearch& s) { s.set_problem(problem->handle); });
    return none();
  });
}

constexpr Signature kSetTermination{
    "LocalSearch", "set_termination", {"termination_function"}, 1, Receiver::Self};
PyObject* set_termination(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [termination] = bind<Instance<DynTermination>>(kSetTermination, a, n, kw);
    with_locked<DynLocalSearch>(self,
                                [&](LocalSearch& s) { s.set_termination(termination->value); });
    return none();
  });
}

constexpr Signature kSetAcceptanceSeed{
    "LocalSearch", "set_acceptance_seed", {"seed"}, 0, Receiver::Self};
PyObject* set_acceptance_seed(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Optional<U64>>(kSetAcceptanceSeed, a, n, kw);
    with_locked<DynLocalSearch>(self, [&](LocalSearch& s) { s.set_acceptance_seed(seed); });
    return none();
  });
}

constexpr Signature kSetLog{"LocalSearch", "set_log", {"mode"}, 1, Receiver::Self};
PyObject* set_log(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [mode] = bind<Text>(kSetLog, a, n, kw);
    LogMode chosen;
    const std::string_view text = mode;
    if (text == "all") {
      chosen = LogMode::kAll;
    } else if (text == "improvements") {
      chosen = LogMode::kImprovements;
    } else if (text == "final") {
      chosen = LogMode::kFinal;
    } else {
      PyRef shown = PyRef::steal(PyUnicode_FromStringAndSize(mode.data(), static_cast<Py_ssize_t>(mode.size())));
      PyErr_Format(PyExc_ValueError, "log mode must be 'all', 'improvements' or 'final', not %R",
                   shown.get());
      throw_error_set();
    }
    with_locked<DynLocalSearch>(self, [&](LocalSearch& s) { s.run_settings().log_mode = chosen; });
    return none();
  });
}

// A callable, or None for no callback.
struct CallableOrNone {
  using type = PyRef;
  static PyRef convert(PyObject* o) {
    if (o != Py_None && !PyCallable_Check(o)) raise_cannot_convert(o, "Callable");
    return o == Py_None ? PyRef() : PyRef::borrow(o);
  }
};

constexpr Signature kSetProgress{
    "LocalSearch", "set_progress", {"callback", "every_seconds"}, 1, Receiver::Self};
PyObject* set_progress(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [callback, every_seconds] = bind<CallableOrNone, Optional<F64>>(kSetProgress, a, n, kw);
    const double every = every_seconds.value_or(1.0);
    if (!(every >= 0.0) || std::isinf(every)) {
      PyRef shown = PyRef::steal(PyFloat_FromDouble(every));
      PyErr_Format(PyExc_ValueError, "every_seconds must be a finite number of seconds >= 0, not %R",
                   shown.get());
      throw_error_set();
    }
    std::shared_ptr<ProgressCallback> progress;
    if (callback) progress = std::make_shared<PyProgress>(std::move(callback));
    with_locked<DynLocalSearch>(self, [&](LocalSearch& s) {
      s.run_settings().progress = std::move(progress);
      s.run_settings().progress_every_s = every;
    });
    return none();
  });
}

// (iterations, seconds), each None when the criterion sets no such bound.
PyObject* budget(PyObject* self, void*) noexcept {
  return guarded([&] {
    const Budget b = with_locked<DynLocalSearch>(self, [](LocalSearch& s) { return s.termination().budget(); });
    PyRef iterations = b.iterations ? PyRef::steal(PyLong_FromUnsignedLong(*b.iterations)) : none();
    PyRef seconds = b.seconds ? PyRef::steal(PyFloat_FromDouble(*b.seconds)) : none();
    return PyRef::steal(PyTuple_Pack(2, iterations.get(), seconds.get()));
  });
}

}  // namespace

PyGetSetDef* DynLocalSearch::properties() {
  static PyGetSetDef table[] = {
      {"budget", budget, nullptr,
       "(iterations, seconds): the most a run may take by its criterion, each None when the criterion "
       "sets no such bound.",
       nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  return table;
}

PyMethodDef* DynLocalSearch::methods() {
  static PyMethodDef table[] = {
      method(simulated_annealing, kSimulatedAnnealing),
      method(steepest_descent, kSteepestDescent),
      method(tabu_search, kTabuSearch),
      method(vns, kVns),
      method(run, kRun),
      method(reset, kReset),
      method(set_problem, kSetProblem),
      method(set_termination, kSetTermination),
      method(set_acceptance_seed, kSetAcceptanceSeed),
      method(iterated_local_search, kIteratedLocalSearch),
      method(robust_tabu_search, kRobustTabuSearch),
      method(annealing, kAnnealing),
      method(set_log, kSetLog),
      method(set_progress, kSetProgress),
      from_state_method<DynLocalSearch>(),
      reduce_method<DynLocalSearch>(),
      kMethodsEnd,
  };
  return table;
}

}  // namespace kestrum::py
