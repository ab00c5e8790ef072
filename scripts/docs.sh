#!/usr/bin/env bash
# make docs: the documentation site in build/site, built with warnings as errors. The API
# reference is read from the stub file and the kestrum_tools sources, so no compiler is needed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

venv="$(primary_venv)"
stamp="$venv/.kestrum-docs-deps"
want="$(sha256sum "$ROOT/requirements-docs.txt" | cut -d' ' -f1)"
if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
  log "installing the documentation tools into $venv"
  if ! "$venv/bin/python" -m pip install --progress-bar off -r "$ROOT/requirements-docs.txt" 2>&1 |
      { grep --line-buffered -E '^(Collecting|Installing|Successfully|ERROR)' || true; } >&2; then
    echo "installing the documentation tools into $venv failed" >&2
    exit 1
  fi
  echo "$want" >"$stamp"
fi
# The API reference reads the module's stub file as a stub package (kestrum-stubs), the form
# the documentation tools look for when a module has no Python source.
mkdir -p "$ROOT/build/docs-stubs/kestrum-stubs"
cp "$ROOT/python/kestrum.pyi" "$ROOT/build/docs-stubs/kestrum-stubs/__init__.pyi"
log "building the documentation site"
NO_MKDOCS_2_WARNING=1 "$venv/bin/python" -m mkdocs build --strict --clean --config-file "$ROOT/mkdocs.yml"
# Every page links relatively but the 404 page, which is written for a server root ("/assets/",
# "base": "/"). It sits at the root of the site, so "./" names the same files opened from disk.
sed -i -E -e 's#(href|src)="/#\1="./#g' -e 's#"base": *"/"#"base": "."#' "$ROOT/build/site/404.html"
if grep -qE '(href|src)="/' "$ROOT/build/site/404.html"; then
  echo "build/site/404.html still links from the server root" >&2
  exit 1
fi
log "the site is in build/site (open build/site/index.html)"
