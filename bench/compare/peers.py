"""The peers, installed from the `bench` extra of pyproject.toml one at a time, so that one
that cannot be installed only removes its own rows."""
from __future__ import annotations

import importlib
import re
import subprocess
import sys
import tomllib

from .instances import ROOT

PEER_MODULES = {"networkx": "networkx", "scipy": "scipy", "python-tsp": "python_tsp",
                "ortools": "ortools", "elkai": "elkai"}


def bench_requirements() -> list[str]:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]["optional-dependencies"]["bench"]


def ensure_peers(install: bool) -> dict[str, str]:
    """Imports every peer, installing missing ones; returns {name: why} for the unusable."""
    missing: dict[str, str] = {}
    for req in bench_requirements():
        name = re.split(r"[<>=!~\[; ]", req, maxsplit=1)[0]
        module = PEER_MODULES.get(name.lower(), name.replace("-", "_"))
        try:
            importlib.import_module(module)
            continue
        except Exception as exc:  # noqa: BLE001 - any import failure means "not usable"
            why = f"import failed ({type(exc).__name__})"
        if install:
            print(f"==> installing {req}", flush=True)
            res = subprocess.run([sys.executable, "-m", "pip", "install", "-q", req],
                                 capture_output=True, text=True)
            if res.returncode == 0:
                importlib.invalidate_caches()
                try:
                    importlib.import_module(module)
                    continue
                except Exception as exc:  # noqa: BLE001
                    why = f"import failed after install ({type(exc).__name__})"
            else:
                why = "pip install failed"
        missing[name] = why
    return missing
