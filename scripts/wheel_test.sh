#!/usr/bin/env bash
# make wheel-test: installs each wheel in dist/ (make wheel) into a fresh environment of its
# interpreter and runs a smoke test and the Python tests against it, with neither a compiler
# nor CMake on PATH, so that nothing can be built on the way.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_pythons
shopt -s nullglob
wheels=("$ROOT"/dist/kestrum-*-manylinux*.whl)
[ "${#wheels[@]}" -gt 0 ] || { echo "no wheel in $ROOT/dist: run make wheel first" >&2; exit 1; }

# What the tests use besides kestrum; binary packages only, so nothing is compiled here either.
test_deps=(pytest pytest-timeout hypothesis numpy matplotlib tqdm mypy "dask[distributed]")

tested=0
for entry in "${PYTHONS[@]}"; do
  read -r version python <<<"$entry"
  tag="cp${version/./}"
  whl=""
  for w in "${wheels[@]}"; do
    case "$(basename "$w")" in kestrum-*-"$tag"-"$tag"-*) whl="$w" ;; esac
  done
  if [ -z "$whl" ]; then
    log "no wheel for Python $version in dist/; skipped"
    continue
  fi
  env_dir="$ROOT/build/wheel-test/$version"
  rm -rf "$env_dir"
  log "fresh environment for Python $version: $(basename "$whl")"
  "$python" -m venv "$env_dir"
  "$env_dir/bin/python" -m pip install -q --progress-bar off --only-binary=:all: "$whl" "${test_deps[@]}" 2>&1 |
    grep -v "^WARNING: Location" >&2 || true
  "$env_dir/bin/python" -c 'import kestrum' 2>/dev/null || { echo "the wheel did not install into $env_dir" >&2; exit 1; }

  # PATH holds the environment's own bin/ and nothing else: no compiler, no CMake.
  (
    export PATH="$env_dir/bin"
    unset CXX CC
    for tool in c++ g++ gcc cc clang++ cmake ninja; do
      if command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is still on PATH ($(command -v "$tool")); the wheel test needs a PATH without it" >&2
        exit 1
      fi
    done
    cd "$env_dir"
    log "smoke test with Python $version"
    python - "$env_dir" <<'PY'
import sys
from pathlib import Path

import kestrum
from kestrum_tools import data

where = Path(kestrum.__file__).resolve()
assert where.is_relative_to(Path(sys.argv[1]).resolve()), f"kestrum imported from {where}"
e, m, p, t, ls = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
problem = p.array_problem(m.reverse(1), data.evaluation("berlin52"))
start = problem.eval()
log = ls.steepest_descent(True, problem, t.always_true()).run()
assert log[-1][1] < start and problem.eval() == log[-1][1], (start, log[-1])
print(f"kestrum {kestrum.__version__} from {where.parent}: berlin52 {start:.0f} -> {log[-1][1]:.0f} "
      f"(optimum {data.optimum('berlin52'):.0f})")
PY
    log "pytest with Python $version against the wheel"
    cd "$ROOT"
    python -m pytest -q tests/python -p no:cacheprovider
  )
  tested=$((tested + 1))
done
[ "$tested" -gt 0 ] || { echo "no wheel in dist/ matches an interpreter found" >&2; exit 1; }
