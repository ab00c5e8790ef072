#!/usr/bin/env bash
# Sets up everything kestrum needs on a fresh machine and builds it. Sourced by every script
# behind a Makefile target, so each target works from a fresh clone on its own; safe to run
# again (each step is skipped when already done).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

log() { printf '==> %s\n' "$*" >&2; }

# Every CPython 3.12+ we can find: PATH first, then pyenv's versions, then /usr/bin/python3.13.
# One interpreter per minor version, the first found wins.
find_pythons() {
  local candidates=() seen=" " c v
  for c in python3 python3.12 python3.13 python3.14; do
    command -v "$c" >/dev/null 2>&1 && candidates+=("$(command -v "$c")")
  done
  local root
  root="$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")"
  for c in "$root"/versions/3.1[2-9]*/bin/python3; do
    [ -x "$c" ] && candidates+=("$c")
  done
  [ -x /usr/bin/python3.13 ] && candidates+=(/usr/bin/python3.13)
  for c in "${candidates[@]}"; do
    v="$("$c" -c 'import sys; print("%d.%d" % sys.version_info[:2]) if sys.version_info >= (3, 12) and sys.implementation.name == "cpython" else None' 2>/dev/null || true)"
    [ -n "$v" ] && [ "$v" != "None" ] || continue
    # pyenv shims may point at a version without the requested minor; the check above ran it.
    case "$seen" in *" $v "*) continue ;; esac
    "$c" -c 'import venv, ensurepip' >/dev/null 2>&1 || continue
    seen="$seen$v "
    printf '%s %s\n' "$v" "$c"
  done
}

# Fills PYTHONS with the "version path" lines of find_pythons, or stops when there is none.
require_pythons() {
  mapfile -t PYTHONS < <(find_pythons)
  if [ "${#PYTHONS[@]}" = 0 ]; then
    echo "kestrum needs CPython 3.12 or later; none was found on PATH, in pyenv or /usr/bin." >&2
    exit 1
  fi
}

# Prints the path of .venv, the environment of the first interpreter found, making it first.
primary_venv() {
  require_pythons
  local version python
  read -r version python <<<"${PYTHONS[0]}"
  venv_for "$version" "$python" 1
}

need_debian_package() {
  local pkg="$1" probe="$2"
  [ -e "$probe" ] && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    log "installing $pkg from Debian"
    apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$pkg" >/dev/null
  else
    echo "kestrum needs the Debian package $pkg. Install it with:" >&2
    echo "    sudo apt-get install -y $pkg" >&2
    exit 1
  fi
}

# Stops at once, with a clear message, when no compiler takes the C++20 the sources use
# (GCC 12 or clang 15 and later do). $CXX, when set, is the compiler CMake will pick too.
require_cxx20() {
  local cxx="${CXX:-c++}" dir status=0
  if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "kestrum needs a C++20 compiler (GCC 12 or later, or clang 15 or later), and '$cxx' was not found." >&2
    echo "Install one (Debian: sudo apt-get install -y g++) or point CXX at it." >&2
    exit 1
  fi
  dir="$(mktemp -d)"
  printf '%s\n' '#include <bit>' '#include <concepts>' '#include <source_location>' '#include <span>' \
    'template <std::unsigned_integral T> int lead(T v) { return std::countl_zero(v); }' \
    'int main() { int a[2]{}; std::span<int> s(a); return lead(1u) + static_cast<int>(s.size())' \
    '  + static_cast<int>(std::source_location::current().line()); }' >"$dir/probe.cpp"
  "$cxx" -std=c++20 -c "$dir/probe.cpp" -o "$dir/probe.o" >"$dir/err" 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    echo "kestrum needs a C++20 compiler (GCC 12 or later, or clang 15 or later);" \
      "$(command -v "$cxx") ($("$cxx" --version 2>/dev/null | head -n 1)) cannot compile C++20:" >&2
    head -n 5 "$dir/err" >&2
    rm -rf "$dir"
    exit 1
  fi
  rm -rf "$dir"
}

# The build tools come from the environment's own packages (cmake, ctest and ninja are on
# PyPI), so a machine without them installed system-wide works the same.
use_venv_tools() {
  export PATH="$1/bin:$PATH"
  local tool
  for tool in cmake ctest ninja; do
    [ -x "$1/bin/$tool" ] || { echo "$1 has no $tool; remove $1 and run again" >&2; exit 1; }
  done
}

# Parallel compile jobs: one per core the process may use, unless KESTRUM_JOBS says otherwise.
JOBS="${KESTRUM_JOBS:-$(nproc 2>/dev/null || echo 2)}"

ensure_native_deps() {
  need_debian_package libgtest-dev /usr/include/gtest/gtest.h
}

ensure_bench_deps() {
  need_debian_package libbenchmark-dev /usr/include/benchmark/benchmark.h
}

# venv_for VERSION PYTHON -> prints the venv path, creating and filling it when needed.
# The first interpreter gets .venv; others get .venv-VERSION.
venv_for() {
  local version="$1" python="$2" primary="$3" dir
  if [ "$primary" = 1 ]; then dir="$ROOT/.venv"; else dir="$ROOT/.venv-$version"; fi
  if [ ! -x "$dir/bin/python" ]; then
    log "creating $dir with $python"
    "$python" -m venv "$dir"
  fi
  local stamp="$dir/.kestrum-deps" want
  want="$(cat "$ROOT/requirements-dev.txt" | sha256sum | cut -d' ' -f1)"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    log "installing Python dependencies into $dir"
    "$dir/bin/python" -m pip install -q --upgrade pip >&2
    if ! "$dir/bin/python" -m pip install --progress-bar off -r "$ROOT/requirements-dev.txt" 2>&1 |
        { grep --line-buffered -E '^(Collecting|Installing|Successfully|ERROR)' || true; } >&2; then
      echo "installing the Python dependencies into $dir failed" >&2
      exit 1
    fi
    echo "$want" > "$stamp"
  fi
  printf '%s\n' "$dir"
}

# Builds and installs the extension into the venv (incremental: the build tree is kept). pip
# hides the build's output unless verbose; the compiler's progress lines are passed on, the
# whole output goes to build/pip-install.log and is shown when the build fails.
install_kestrum() {
  local dir="$1" out="$ROOT/build/pip-install.log"
  mkdir -p "$ROOT/build"
  log "building kestrum for $("$dir/bin/python" -c 'import sys; print(sys.version.split()[0])')"
  if ! CMAKE_BUILD_PARALLEL_LEVEL="$JOBS" "$dir/bin/python" -m pip install -v --no-build-isolation --no-deps "$ROOT" 2>&1 |
      tee "$out" | { grep --line-buffered -E '^ *\[[0-9]+/[0-9]+\] ' || true; } >&2; then
    tail -n 60 "$out" >&2
    echo "building kestrum failed; the whole output is in $out" >&2
    exit 1
  fi
}
