// Pickle support of the seven classes: __reduce__ and the hidden _from_state constructors.
#pragma once

#include "lib/py_ref.hpp"

namespace kestrum::py {

// Method-table entries, appended at the end of each class's table.
//
// `obj.__reduce__()` returns (kestrum_tools._restore.restore, ("<Class>", state_bytes)):
// the classes live in "builtins" as far as pickle can tell, so it cannot find them by name
// and the reconstructor lives in the companion package. restore() calls the class's static
// `_from_state(state)`, which rebuilds the object from the bytes and raises ValueError on
// bytes that are not a saved state of that class.
//
// A handle class saves a snapshot: the unpickled Problem or LocalSearch (with a problem of
// its own) shares nothing with the original. A poisoned object refuses to be saved with the
// poisoned-lock PanicException.
template <class T>
PyMethodDef reduce_method();
template <class T>
PyMethodDef from_state_method();

}  // namespace kestrum::py
