"""Imports of the optional dependencies, with an error that says what to install."""

import importlib
from types import ModuleType


def require(module: str, purpose: str) -> ModuleType:
    try:
        return importlib.import_module(module)
    except ImportError as e:
        package = module.split(".")[0]
        raise ImportError(f"{purpose} needs {package}: pip install {package}") from e
