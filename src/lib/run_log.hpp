// Run logs as Python sees them: lists of (int, float, float, int) tuples.
#pragma once

#include "lib/py_ref.hpp"

#include "local_search/local_search.hpp"

namespace kestrum::py {

// An elapsed time in nanoseconds as a Python int.
PyRef u128_to_int(unsigned __int128 v);

// A new list at the log's final length, filled in one pass.
PyRef run_log_to_list(const RunLog& log);

}  // namespace kestrum::py
