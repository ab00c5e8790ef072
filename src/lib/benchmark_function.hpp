// The method record of kestrum.benchmark, added to the module by its initialiser.
#pragma once

#include "lib/py_ref.hpp"

namespace kestrum::py {

PyMethodDef* benchmark_method();

}  // namespace kestrum::py
