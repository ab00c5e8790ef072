#!/usr/bin/env bash
# make test: native tests (ctest), then pytest against every supported interpreter found.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_cxx20
ensure_native_deps
require_pythons

primary=1
for entry in "${PYTHONS[@]}"; do
  read -r version python <<<"$entry"
  venv="$(venv_for "$version" "$python" "$primary")"
  (
    use_venv_tools "$venv"
    if [ "$primary" = 1 ]; then
      log "native tests"
      cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja -DKESTRUM_PYTHON=OFF -DKESTRUM_TESTS=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build "$ROOT/build/native" -j "$JOBS"
      ctest --test-dir "$ROOT/build/native" --output-on-failure -j "$JOBS" --timeout 300 | tail -n 5
    fi
    install_kestrum "$venv"
    log "pytest with Python $version"
    cd "$ROOT" && "$venv/bin/python" -m pytest -q tests/python -p no:cacheprovider
  )
  primary=0
done
