#!/usr/bin/env bash
# make sanitize: the C++ tests and the Python tests against a build with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any report ends the run with a non-zero status.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_cxx20
ensure_native_deps
venv="$(primary_venv)"
use_venv_tools "$venv"
version="$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"

# Every report is fatal: ASan stops at its first error, UBSan is built without recovery and
# told to halt as well. Leak checking stays on for the C++ tests.
export ASAN_OPTIONS="abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# GCC's flow analysis sees through the sanitizers' instrumentation badly and reports
# uninitialised and overlapping copies inside std::variant and std::string that the normal
# build does not; the sanitizers check those at run time instead.
quiet="-Wno-maybe-uninitialized -Wno-restrict"

log "sanitized native tests"
cmake -S "$ROOT" -B "$ROOT/build/sanitize" -G Ninja \
  -DKESTRUM_PYTHON=OFF -DKESTRUM_TESTS=ON -DKESTRUM_SANITIZE=ON -DCMAKE_CXX_FLAGS="$quiet" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build/sanitize" -j "$JOBS"
# The sanitized tests run several times slower than the release ones: a longer limit per test.
ctest --test-dir "$ROOT/build/sanitize" --output-on-failure -j "$JOBS" --timeout 900 | tail -n 5

log "sanitized extension for Python $version"
cmake -S "$ROOT" -B "$ROOT/build/sanitize-py" -G Ninja \
  -DKESTRUM_PYTHON=ON -DKESTRUM_TESTS=OFF -DKESTRUM_SANITIZE=ON -DCMAKE_CXX_FLAGS="$quiet" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$ROOT/build/sanitize-py" -j "$JOBS"

# The interpreter is not built with the sanitizers, so their runtime is preloaded, together
# with the C++ runtime (ASan intercepts exception throwing and must find it at start-up).
# CPython keeps objects alive at exit on purpose, so leak checking is off for the interpreter
# (tests/python/test_leaks.py and make valgrind look for leaks instead); PYTHONMALLOC=malloc
# sends every Python object through the checked allocator, so a reference-count slip that
# frees an object early is caught as a use after free.
log "pytest with Python $version against the sanitized extension"
(
  cd "$ROOT"
  export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
  export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
  export PYTHONMALLOC=malloc
  export PYTHONPATH="$ROOT/build/sanitize-py:$ROOT/python"
  # The type checker does not read PYTHONPATH: the stub tests find the stubs and kestrum_tools
  # in the source tree through MYPYPATH, with nothing installed in the environment.
  export MYPYPATH="$ROOT/python"
  where="$("$venv/bin/python" -c 'import kestrum; print(kestrum.__file__)')"
  case "$where" in
    "$ROOT/build/sanitize-py/"*) ;;
    *) echo "the sanitized extension was not the one imported: $where" >&2; exit 1 ;;
  esac
  "$venv/bin/python" -m pytest -q tests/python -p no:cacheprovider -o timeout=1200
)
