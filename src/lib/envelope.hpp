// The envelope every entry point runs in: native failures become Python exceptions.
#pragma once

#include "lib/py_ref.hpp"

#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "support/fatal.hpp"
#include "support/interrupt.hpp"
#include "support/shared.hpp"

namespace kestrum::py {

// The process-wide PanicException class (BaseException subclass), created on first use.
PyObject* panic_exception_type();

// Writes the stderr diagnostic of a fatal stop and sets PanicException(message).
void raise_panic(const FatalStop& stop);

// The core's interrupt hook: runs the Python signal handlers (taking the interpreter lock if
// the calling thread released it) and reports whether one raised; its exception stays set.
bool check_python_signals() noexcept;

// Runs `body`, which returns a PyObject* (new reference) or a PyRef. A Python error that is
// already set gives NULL, and so does Interrupted (a signal handler's exception is set); a
// fatal stop gives PanicException; an allocation failure MemoryError.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    if constexpr (std::is_same_v<std::invoke_result_t<Body>, PyRef>) {
      return body().release();
    } else {
      return body();
    }
  } catch (const ErrorSet&) {
    return nullptr;
  } catch (const Interrupted&) {  // a signal handler raised; its exception is pending
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  } catch (const FatalStop& stop) {
    t_fatal_unwinding = false;
    raise_panic(stop);
    return nullptr;
  } catch (const InUse&) {  // a lock this thread holds: from a callback inside its own run
    t_unwinding_consistent = false;
    PyErr_SetString(PyExc_RuntimeError, kInUseMessage);
    return nullptr;
  } catch (const std::bad_alloc&) {  // the locks it went through are left unpoisoned
    PyErr_NoMemory();
    return nullptr;
  } catch (const std::length_error&) {  // a container asked for more than it can ever hold
    PyErr_NoMemory();
    return nullptr;
  } catch (...) {
    raise_panic(FatalStop{"unexpected native exception", std::source_location::current()});
    return nullptr;
  }
}

}  // namespace kestrum::py
