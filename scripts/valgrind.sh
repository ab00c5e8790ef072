#!/usr/bin/env bash
# make valgrind: memcheck over tests/valgrind_smoke.py with the release extension installed in
# .venv. Fails on any memory error (invalid or uninitialised access, bad free) and on any block
# definitely lost that kestrum allocated. CPython leaves its interned strings and some
# start-up allocations unfreed at exit on purpose; those are reported but not counted.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_cxx20
need_debian_package valgrind /usr/bin/valgrind
venv="$(primary_venv)"
use_venv_tools "$venv"
version="$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
install_kestrum "$venv"

out="$ROOT/build/valgrind"
mkdir -p "$out"
log "memcheck over tests/valgrind_smoke.py with Python $version"
# PYTHONMALLOC=malloc: every Python object goes through malloc, where memcheck can see it.
status=0
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=none --error-exitcode=99 --num-callers=40 --track-origins=yes \
  --xml=yes --xml-file="$out/memcheck.xml" --log-file="$out/memcheck.log" \
  "$venv/bin/python" "$ROOT/tests/valgrind_smoke.py" >"$out/smoke.out" 2>"$out/smoke.err" || status=$?
grep -q '^valgrind smoke: done$' "$out/smoke.out" || {
  cat "$out/smoke.out" "$out/smoke.err" >&2
  echo "the smoke script did not finish (status $status)" >&2
  exit 1
}

"$venv/bin/python" - "$out/memcheck.xml" <<'PY'
"""Sorts memcheck's findings: memory errors always count; a definite leak counts when kestrum
made the allocation, that is when a kestrum frame is among the first frames above the
allocator (a Python object kestrum created and never released shows the same way)."""
import sys
import xml.etree.ElementTree as ET

ALLOCATORS = ("malloc", "calloc", "realloc", "memalign", "posix_memalign", "aligned_alloc",
              "operator new", "operator new[]", "_PyObject_Malloc", "_PyMem_RawMalloc",
              "PyObject_Malloc", "PyMem_Malloc", "PyMem_RawMalloc", "_PyObject_Calloc")
NEAR = 8


def frames(error):
    stack = error.find("stack")
    return [] if stack is None else stack.findall("frame")


def is_ours(frame):
    return "kestrum" in (frame.findtext("obj") or "")


def describe(error, limit=12):
    lines = [error.findtext("kind"), (error.findtext("what") or error.findtext("xwhat/text") or "")]
    for f in frames(error)[:limit]:
        lines.append(f"    {f.findtext('fn') or '?'} ({(f.findtext('obj') or '?').rsplit('/', 1)[-1]})")
    return "\n".join(lines)


root = ET.parse(sys.argv[1]).getroot()
errors, ours, python_leaks = [], [], 0
for error in root.findall("error"):
    kind = error.findtext("kind") or ""
    if not kind.startswith("Leak_"):
        errors.append(error)
        continue
    if kind != "Leak_DefinitelyLost":
        continue
    fs = frames(error)
    k = 0
    while k < len(fs) and (fs[k].findtext("fn") or "").startswith(ALLOCATORS):
        k += 1
    if any(is_ours(f) for f in fs[k:k + NEAR]):
        ours.append(error)
    else:
        python_leaks += 1

for error in errors + ours:
    print(describe(error), file=sys.stderr)
print(f"memcheck: {len(errors)} memory errors, {len(ours)} definite leaks from kestrum "
      f"({python_leaks} definite leak records of the interpreter itself not counted)")
sys.exit(1 if errors or ours else 0)
PY
if [ "$status" != 0 ] && [ "$status" != 99 ]; then
  echo "python under valgrind exited with status $status" >&2
  exit 1
fi
