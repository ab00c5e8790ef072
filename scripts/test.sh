#!/usr/bin/env bash
# make test: native tests (ctest), then pytest against every supported interpreter found.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_native_deps
require_pythons

primary=1
for entry in "${PYTHONS[@]}"; do
  read -r version python <<<"$entry"
  venv="$(venv_for "$version" "$python" "$primary")"
  if [ "$primary" = 1 ]; then
    log "native tests"
    cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
      -DKESTRUM_PYTHON=OFF -DKESTRUM_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    PATH="$venv/bin:$PATH" cmake --build "$ROOT/build/native"
    ctest --test-dir "$ROOT/build/native" --output-on-failure -j2 | tail -n 5
  fi
  PATH="$venv/bin:$PATH" install_kestrum "$venv"
  log "pytest with Python $version"
  (cd "$ROOT" && "$venv/bin/python" -m pytest -q tests/python -p no:cacheprovider)
  primary=0
done
