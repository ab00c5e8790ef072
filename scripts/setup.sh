#!/usr/bin/env bash
# Sets up everything kestrum needs on a fresh machine and builds it. Sourced by the Makefile
# targets through scripts/run.sh; safe to run again (each step is skipped when already done).
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
    "$dir/bin/python" -m pip install -q -r "$ROOT/requirements-dev.txt" >&2
    echo "$want" > "$stamp"
  fi
  printf '%s\n' "$dir"
}

# Builds and installs the extension into the venv (incremental: the build tree is kept).
install_kestrum() {
  local dir="$1"
  log "building kestrum for $("$dir/bin/python" -c 'import sys; print(sys.version.split()[0])')"
  "$dir/bin/python" -m pip install -q --no-build-isolation --no-deps "$ROOT" >&2
}
