#!/usr/bin/env bash
# make bench: the native engine/baseline benchmarks, then kestrum against other libraries
# (bench/compare/). Extra arguments go to it, e.g. make bench ARGS="--rounds 5".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# R and its TSP package for the two_opt comparison. Without them the comparison marks that
# comparison as skipped, so a failure here is not fatal.
ensure_r_tsp() {
  if command -v Rscript >/dev/null 2>&1 && Rscript -e 'suppressMessages(library(TSP))' >/dev/null 2>&1; then
    return 0
  fi
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    log "installing r-cran-tsp from Debian"
    { apt-get update -q >/dev/null &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends r-cran-tsp >/dev/null; } ||
      log "r-cran-tsp could not be installed; the comparison with R is skipped"
  else
    log "R's TSP package is missing (sudo apt-get install r-cran-tsp); the comparison with R is skipped"
  fi
}

require_cxx20
ensure_bench_deps
venv="$(primary_venv)"
use_venv_tools "$venv"

log "native benchmarks (build/bench)"
cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja \
  -DKESTRUM_PYTHON=OFF -DKESTRUM_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$ROOT/build/bench" -j "$JOBS"
"$ROOT/build/bench/kestrum_bench" --benchmark_out="$ROOT/build/bench/native.json" \
  --benchmark_out_format=json

ensure_r_tsp
log "installing kestrum and the libraries it is compared with (the bench extra)"
if ! "$venv/bin/python" -m pip install -q --no-build-isolation "$ROOT[bench]" >&2; then
  # One peer that cannot be installed must not stop the others: bench/compare installs them
  # one at a time and marks the missing ones as skipped.
  install_kestrum "$venv"
fi
log "runs in threads and the cost of watching a run (bench/threads_bench.py)"
"$venv/bin/python" "$ROOT/bench/threads_bench.py" --native "$ROOT/build/bench/native.json"
log "custom evaluations: callback overheads and simanneal side by side"
"$venv/bin/python" "$ROOT/bench/custom_bench.py" || log "the custom evaluation benchmark failed"
log "kestrum against other libraries"
PYTHONPATH="$ROOT/bench${PYTHONPATH:+:$PYTHONPATH}" "$venv/bin/python" -m compare --native "$ROOT/build/bench/native.json" "$@"
log "the one-call path: solve's defaults, fractional time limits, the call's own cost (bench/solve_bench.py)"
"$venv/bin/python" "$ROOT/bench/solve_bench.py" || log "the solve benchmark failed"
log "first-fit bin packing against first fit decreasing and CP-SAT (bench/bin_packing.py)"
PYTHONPATH="$ROOT/bench${PYTHONPATH:+:$PYTHONPATH}" "$venv/bin/python" "$ROOT/bench/bin_packing.py" ||
  log "the bin-packing benchmark failed"
log "iterated local search on large tours (bench/large_tours.py)"
"$venv/bin/python" "$ROOT/bench/large_tours.py"
log "quadratic assignment at a fixed time, against scipy's FAQ (bench/qap_quality.py)"
"$venv/bin/python" "$ROOT/bench/qap_quality.py"
log "annealing against a 2-opt descent on points in the unit square (bench/annealing_bench.py)"
"$venv/bin/python" "$ROOT/bench/annealing_bench.py"
