#!/usr/bin/env bash
# make demo: set up, build, and run the demo on the primary interpreter.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

mapfile -t PYTHONS < <(find_pythons)
if [ "${#PYTHONS[@]}" = 0 ]; then
  echo "kestrum needs CPython 3.12 or later; none was found on PATH, in pyenv or /usr/bin." >&2
  exit 1
fi
read -r version python <<<"${PYTHONS[0]}"
venv="$(venv_for "$version" "$python" 1)"
PATH="$venv/bin:$PATH" install_kestrum "$venv"
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
