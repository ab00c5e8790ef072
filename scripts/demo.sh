#!/usr/bin/env bash
# make demo: set up, build, and run the demo on the primary interpreter.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

venv="$(primary_venv)"
PATH="$venv/bin:$PATH" install_kestrum "$venv"
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
