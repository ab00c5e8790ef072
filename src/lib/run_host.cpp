// The host of runs from Python: signal checks, progress reports and the kept exception.
#include "lib/run_host.hpp"

#include <atomic>
#include <cerrno>

#include <pthread.h>

#include "lib/run_log.hpp"
#include "support/interrupt.hpp"
#include "support/shared.hpp"

namespace kestrum::py {
namespace {

// The calling thread's state while it holds the interpreter lock, NULL once it gave it up.
// (PyGILState_Check is no use here: it answers yes for everyone once the process has made
// a sub-interpreter.)
PyThreadState* attached_state() {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked();
#else
  return _PyThreadState_UncheckedGet();
#endif
}

// A thread that waits for a lock another thread holds gives up the interpreter lock for the
// wait, so a holder that needs it (a callback, a signal check) can finish.
void* wait_begins() { return attached_state() != nullptr ? static_cast<void*>(PyEval_SaveThread()) : nullptr; }
void wait_ends(void* token) {
  if (token != nullptr) PyEval_RestoreThread(static_cast<PyThreadState*>(token));
}
BlockingHooks g_hooks{&wait_begins, &wait_ends};

// The main thread's ident, read once from threading; 0 until then.
std::atomic<unsigned long> main_ident{0};

// A child of fork has one thread, the one that forked, and the interpreter makes it the main
// thread: the child reads the ident again rather than keep the parent's.
void forget_main_thread() { main_ident.store(0); }

// Signal handlers run only on the main thread, so only a run there takes the interpreter
// lock back for them.
bool on_main_thread() {
  unsigned long ident = main_ident.load();
  if (ident == 0) {
    PyRef threading = PyRef::steal_or_null(PyImport_ImportModule("threading"));
    PyRef main = threading ? PyRef::steal_or_null(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                           : PyRef();
    PyRef id = main ? PyRef::steal_or_null(PyObject_GetAttrString(main.get(), "ident")) : PyRef();
    if (id) ident = PyLong_AsUnsignedLong(id.get());
    if (PyErr_Occurred() || ident == 0) {
      PyErr_Clear();
      return true;  // unknown: look for signals anyway (harmless elsewhere)
    }
    main_ident.store(ident);
  }
  return PyThread_get_thread_ident() == ident;
}

}  // namespace

PyProgress::~PyProgress() {
  PyGILState_STATE gil = PyGILState_Ensure();
  callable_ = PyRef();
  PyGILState_Release(gil);
}

void install_host_hooks() {
  g_blocking_hooks.store(&g_hooks, std::memory_order_release);
  static const int at_fork = pthread_atfork(nullptr, nullptr, &forget_main_thread);
  if (at_fork != 0) {
    errno = at_fork;
    PyErr_SetFromErrno(PyExc_OSError);
    throw_error_set();
  }
}

PyRunHost::PyRunHost() : main_thread_(on_main_thread()) {}

bool PyRunHost::service(const ProgressRecord& row, ProgressCallback* progress, bool signals) {
  // After the first exception nothing more is called: the run is stopping with it.
  if (has_error()) return false;
  if (progress == nullptr && !(signals && main_thread_)) return true;
  PyGILState_STATE gil = PyGILState_Ensure();
  bool keep = true;
  // The module's interrupt hook runs the handlers; a raising one leaves its exception set.
  if (signals && main_thread_ && interrupt_requested()) {
    keep_error();
    keep = false;
  }
  if (keep && progress != nullptr) {
    auto* callback = static_cast<PyProgress*>(progress);
    try {
      PyRef elapsed = u128_to_int(row.elapsed_ns);
      PyRef best = PyRef::steal(PyFloat_FromDouble(row.best_score));
      PyRef current = PyRef::steal(PyFloat_FromDouble(row.current_score));
      PyRef iteration = PyRef::steal(PyLong_FromUnsignedLongLong(row.iteration));
      PyObject* args[] = {elapsed.get(), best.get(), current.get(), iteration.get()};
      PyRef result = PyRef::steal(PyObject_Vectorcall(callback->callable(), args, 4, nullptr));
    } catch (const ErrorSet&) {
      keep_error();
      keep = false;
    }
  }
  if (has_error()) keep = false;
  PyGILState_Release(gil);
  return keep;
}

void PyRunHost::keep_error() {
  PyObject* raised = PyErr_GetRaisedException();
  if (!error_) {
    error_ = PyRef::steal_or_null(raised);
  } else {
    Py_XDECREF(raised);
  }
}

void PyRunHost::keep_memory_error() {
  PyErr_NoMemory();
  keep_error();
}

void PyRunHost::raise_with_log(PyRef log) {
  PyRef error = std::move(error_);
  // The log rides on the exception; should the attribute be refused, the exception still goes.
  if (PyObject_SetAttrString(error.get(), "log", log.get()) < 0) PyErr_Clear();
  PyErr_SetRaisedException(error.release());
  throw_error_set();
}

bool stop_run_with_error() {
  RunControl* control = RunControl::current();
  auto* host = control != nullptr ? dynamic_cast<PyRunHost*>(control->host()) : nullptr;
  if (host == nullptr) return false;
  host->keep_error();
  control->request_stop();
  return true;
}

}  // namespace kestrum::py
