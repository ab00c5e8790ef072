// Runs without the interpreter lock: the host that takes it back for signal checks and
// progress reports, and the entry point for code that fails inside a run.
#pragma once

#include "lib/py_ref.hpp"

#include "local_search/run_control.hpp"

namespace kestrum::py {

// Once, at module initialisation: from then on a thread that waits for an object's lock gives
// up the interpreter lock for the wait (whether or not a run ever happens), and a child of
// fork finds its own main thread for signal checks.
void install_host_hooks();

// A progress callback: a Python callable, called as callback(elapsed_ns, best, current,
// iteration). Its reference is dropped with the interpreter lock, from whatever thread.
class PyProgress final : public ProgressCallback {
 public:
  explicit PyProgress(PyRef callable) : callable_(std::move(callable)) {}
  ~PyProgress() override;
  [[nodiscard]] PyObject* callable() const { return callable_.get(); }

 private:
  PyRef callable_;
};

// The host of one call from Python (LocalSearch.run, benchmark). Built and destroyed with
// the interpreter lock held; service() runs on the running thread without it.
class PyRunHost final : public RunHost {
 public:
  PyRunHost();
  bool service(const ProgressRecord& row, ProgressCallback* progress, bool signals) override;

  // With the interpreter lock held and an exception set: keeps the run's first exception
  // (a later one is dropped) and clears it.
  void keep_error();
  // With the interpreter lock held: keeps a MemoryError, unless an exception is kept already.
  void keep_memory_error();
  [[nodiscard]] bool has_error() const { return static_cast<bool>(error_); }
  // Raises the kept exception with `log` as its attribute `log`; throws ErrorSet.
  [[noreturn]] void raise_with_log(PyRef log);

 private:
  PyRef error_;
  bool main_thread_;
};

// Gives up the interpreter lock for its lifetime (the calling thread must hold it).
class WithoutGil {
 public:
  WithoutGil() : state_(PyEval_SaveThread()) {}
  ~WithoutGil() { PyEval_RestoreThread(state_); }
  WithoutGil(const WithoutGil&) = delete;
  WithoutGil& operator=(const WithoutGil&) = delete;

 private:
  PyThreadState* state_;
};

// For code running inside a run, on the running thread, with the interpreter lock held and
// a Python exception set (a user evaluation that raised, say): keeps the exception for the
// run's caller and asks the run to stop, exactly as a raising signal handler does; the
// caller then sees the exception with the partial log. Returns false, leaving the exception
// set, when no run from Python is going on on this thread.
bool stop_run_with_error();

}  // namespace kestrum::py
