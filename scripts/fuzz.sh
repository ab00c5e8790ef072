#!/usr/bin/env bash
# make fuzz SECONDS=N: builds the libFuzzer targets under fuzz/ with clang, replays their seed
# corpora, then fuzzes each target for N seconds (default 60). Fails on the first crash or
# broken check; the input that caused it is left in build/fuzz/artifacts/. FUZZ_TARGETS (a
# space-separated list, e.g. "tsplib_fuzz qaplib_fuzz") limits the run to some targets.
# FUZZ_RUNS=N stops each target after N executions instead (SECONDS stays the upper bound), so a
# long run can be stated in executions: make fuzz SECONDS=7200 FUZZ_RUNS=10000000.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

seconds="${1:-60}"
# A fixed seed (second argument) makes a run repeatable as far as timing allows; CI's smoke run
# uses one, so that a failure there can be replayed. Without it every run explores anew.
seed="${2:-0}"
runs_limit="${FUZZ_RUNS:--1}"
case "$seconds$seed" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh SECONDS [SEED]" >&2; exit 2 ;; esac
case "$runs_limit" in -1) ;; ''|*[!0-9]*) echo "FUZZ_RUNS must be a number of executions" >&2; exit 2 ;; esac

# A clang that has libFuzzer and the C++20 library support the core uses (std::source_location
# needs clang 15 or later with GCC's library).
clang_works() {
  local cxx="$1" dir
  command -v "$cxx" >/dev/null 2>&1 || return 1
  dir="$(mktemp -d)"
  printf '%s\n' '#include <source_location>' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) {' \
    '  return static_cast<int>(std::source_location::current().line()) - 4; }' >"$dir/t.cpp"
  "$cxx" -std=c++20 -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local ok=$?
  rm -rf "$dir"
  return $ok
}

find_clang() {
  local c
  for c in clang++ clang++-19 clang++-18 clang++-17 clang++-16 clang++-15; do
    if clang_works "$c"; then command -v "$c"; return 0; fi
  done
  return 1
}

ensure_clang() {
  CLANGXX="$(find_clang)" && return 0
  # Debian's default clang may be too old (bookworm's is 14); take the newest versioned one.
  local v pkgs=""
  if command -v apt-cache >/dev/null 2>&1; then
    for v in 19 18 17 16 15; do
      if apt-cache show "clang-$v" >/dev/null 2>&1; then
        pkgs="clang-$v"
        apt-cache show "libclang-rt-$v-dev" >/dev/null 2>&1 && pkgs="$pkgs libclang-rt-$v-dev"
        break
      fi
    done
  fi
  [ -n "$pkgs" ] || pkgs="clang"
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    log "installing $pkgs from Debian"
    apt-get update -q >/dev/null
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $pkgs >/dev/null
  else
    echo "make fuzz needs clang 15 or later with libFuzzer. Install it with:" >&2
    echo "    sudo apt-get install -y $pkgs" >&2
    exit 1
  fi
  CLANGXX="$(find_clang)" || { echo "no usable clang after installing $pkgs" >&2; exit 1; }
}

ensure_clang
venv="$(primary_venv)"
use_venv_tools "$venv"

build="$ROOT/build/fuzz"
log "building the fuzz targets with $CLANGXX"
cmake -S "$ROOT/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$CLANGXX" >/dev/null
cmake --build "$build" -j "$JOBS"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

log "replaying the seed corpora"
ctest --test-dir "$build" --output-on-failure --timeout 300 | tail -n 3

# Longest input per target: lines_fuzz also reads through a small buffer, so its inputs need
# only hold a field past the longest number kept as text (4096 bytes); the coordinate reader's
# output grows with the square of its input.
max_len() {
  case "$1" in
    lines_fuzz) echo 8192 ;;
    distance_matrix_fuzz|dms_fuzz|tsplib_fuzz|qaplib_fuzz) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$build/artifacts"
summary=()
all_targets="number_fuzz lines_fuzz distance_matrix_fuzz coord2d_fuzz dms_fuzz tsplib_fuzz
             qaplib_fuzz delta_fuzz state_fuzz"
for target in ${FUZZ_TARGETS:-$all_targets}; do
  case " $(echo $all_targets) " in *" $target "*) ;; *) echo "no fuzz target $target" >&2; exit 2 ;; esac
  log "fuzzing $target for ${seconds}s"
  work="$build/corpus/$target"  # what the fuzzer finds; the seeds in fuzz/corpus stay as they are
  mkdir -p "$work"
  out="$build/$target.log"
  if ! "$build/$target" -max_total_time="$seconds" -runs="$runs_limit" -max_len="$(max_len "$target")" \
      -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 -seed="$seed" \
      -artifact_prefix="$build/artifacts/$target-" "$work" "$ROOT/fuzz/corpus/$target" >"$out" 2>&1; then
    tail -n 40 "$out" >&2
    echo "$target failed; the input is in $build/artifacts/ (add it to fuzz/corpus/$target)" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out")"
  took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$out")"
  summary+=("$(printf '%-22s %12s executions in %ss (%s/s)' "$target" "$runs" "${took:-$seconds}" "$rate")")
done
printf '%s\n' "${summary[@]}"
echo "fuzzing: ${#summary[@]} targets, no crash"
