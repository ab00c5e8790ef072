// kestrum.benchmark: the module's one function.
#include <cstdio>
#include <new>
#include <stdexcept>

#include "aidfunc/benchmark.hpp"
#include "lib/benchmark_function.hpp"
#include "lib/custom_callables.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/run_host.hpp"
#include "lib/run_log.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {
namespace {

constexpr Signature kBenchmark = Signature{nullptr,
                                          "benchmark",
                                          {"algorithms", "problems", "termination_function", "runs", "seeds",
                                           "random_starts"},
                                          2,
                                          Receiver::Module}
                                      .keyword_only_from(5)
                                      .with_default(5, "False");

PyRef nested_to_list(const BenchmarkResult& result) {
  PyRef outer = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(result.size())));
  for (std::size_t a = 0; a < result.size(); ++a) {
    PyRef per_search = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(result[a].size())));
    for (std::size_t p = 0; p < result[a].size(); ++p) {
      const auto& logs = result[a][p];
      PyRef per_problem = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(logs.size())));
      for (std::size_t s = 0; s < logs.size(); ++s) {
        PyList_SET_ITEM(per_problem.get(), static_cast<Py_ssize_t>(s), run_log_to_list(logs[s]).release());
      }
      PyList_SET_ITEM(per_search.get(), static_cast<Py_ssize_t>(p), per_problem.release());
    }
    PyList_SET_ITEM(outer.get(), static_cast<Py_ssize_t>(a), per_search.release());
  }
  return outer;
}

PyObject* benchmark_entry(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [algorithms, problems, termination, runs, seeds, random_starts] =
        bind<ListOf<Instance<DynLocalSearch>>, ListOf<Instance<DynProblem>>,
             Optional<Instance<DynTermination>>, Optional<U64>, Optional<ListOf<U64>>, Optional<Bool>>(
            kBenchmark, a, n, kw);
    // Written by the native stream, so redirecting sys.stdout does not capture it.
    std::fputs("hii\n", stdout);
    std::fflush(stdout);

    std::vector<Shared<LocalSearch>> searches;
    searches.reserve(algorithms.size());
    for (const auto& held : algorithms) searches.push_back(held->handle);
    std::vector<Shared<Problem>> handles;
    handles.reserve(problems.size());
    for (const auto& held : problems) handles.push_back(held->handle);
    std::optional<TerminationFunction> criterion;
    if (termination) criterion = (*termination)->value;

    CallbackFailures failures;  // a custom evaluation's callback that failed outside the run control
    PyRunHost host;
    BenchmarkResult result;
    bool out_of_memory = false;
    {
      RunControl control(&host);  // signal checks between and within runs
      WithoutGil released;
      // An allocation that failed ends the call as a stop does, the runs so far and the
      // stopped run's rows going with the MemoryError; no object is poisoned by it.
      try {
        benchmark(searches, handles, criterion, runs, seeds, random_starts.value_or(false), result);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      } catch (const std::length_error&) {
        out_of_memory = true;
      }
      if (out_of_memory && !result.empty() && !result.back().empty()) {
        RunLog partial = control.take_partial();
        if (!partial.empty()) result.back().back().push_back(std::move(partial));
      }
    }
    if (out_of_memory) host.keep_memory_error();
    PyRef nested = nested_to_list(result);
    if (host.has_error()) host.raise_with_log(std::move(nested));
    failures.raise_if_any();
    return nested;
  });
}

}  // namespace

PyMethodDef* benchmark_method() {
  static PyMethodDef def = method(benchmark_entry, kBenchmark);
  return &def;
}

}  // namespace kestrum::py
