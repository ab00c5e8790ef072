#!/usr/bin/env bash
# make demo: set up, build, and run the demo on the primary interpreter.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

require_cxx20
venv="$(primary_venv)"
use_venv_tools "$venv"
install_kestrum "$venv"
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
