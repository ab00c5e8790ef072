"""Small classic instances shipped with kestrum_tools, with their published optima.

    >>> from kestrum_tools import data
    >>> evaluation = data.evaluation("berlin52")      # TSPLIB's rounded distances
    >>> data.optimum("berlin52"), len(data.solution("berlin52"))
    (7542.0, 52)

TSP: berlin52, kroA100, ch150, a280 (each with an optimal tour). QAP: nug12, had12, tai20a (each
with an optimal assignment). `optimum` is the value in kestrum's own score: for the QAP
instances that is half the QAPLIB objective, since kestrum counts each pair of positions once.
The files and their sources are described in README.md beside them.
"""

from __future__ import annotations

from importlib import resources
from pathlib import Path

import kestrum
from kestrum_tools.instances import read_optima, read_qaplib_solution, read_tour

__all__ = ["INSTANCES", "evaluation", "folder", "optimum", "path", "solution"]

INSTANCES: dict[str, str] = {
    "berlin52": "tsplib",
    "kroA100": "tsplib",
    "ch150": "tsplib",
    "a280": "tsplib",
    "nug12": "qaplib",
    "had12": "qaplib",
    "tai20a": "qaplib",
}


def folder(library: str) -> Path:
    """The shipped "tsplib" or "qaplib" folder: instance files and an optima.tsv table, laid out
    as in the full collection, so code written for that collection reads this one too."""
    if library not in ("tsplib", "qaplib"):
        raise ValueError(f"library must be 'tsplib' or 'qaplib', not {library!r}")
    # The package is installed as plain files (wheel or source tree), so this is a real path.
    return Path(str(resources.files(__name__).joinpath(library)))


def _library(name: str) -> str:
    try:
        return INSTANCES[name]
    except KeyError:
        known = ", ".join(INSTANCES)
        raise ValueError(f"no shipped instance {name!r}; the shipped ones are {known}") from None


def path(name: str) -> Path:
    """The instance file: NAME.tsp for TSPLIB, NAME.dat for QAPLIB."""
    library = _library(name)
    return folder(library) / (name + (".tsp" if library == "tsplib" else ".dat"))


def evaluation(name: str) -> kestrum.Evaluation:
    """The instance read by kestrum's own reader (TSPLIB or QAPLIB)."""
    if _library(name) == "tsplib":
        return kestrum.Evaluation.tsp_from_tsplib(str(path(name)))
    return kestrum.Evaluation.qap_from_qaplib(str(path(name)))


def optimum(name: str) -> float:
    """The published optimum, in kestrum's score of the instance."""
    library = _library(name)
    row = read_optima(folder(library) / "optima.tsv")[name]
    return float(row["optimum"] if library == "tsplib" else row["score_upper_pairs"])


def solution(name: str) -> list[int]:
    """A published optimal tour or assignment, as a kestrum solution (values from 0); it scores
    `optimum(name)`."""
    library = _library(name)
    if library == "tsplib":
        return read_tour(folder(library) / f"{name}.opt.tour")
    row = read_optima(folder(library) / "optima.tsv")[name]
    return read_qaplib_solution(folder(library) / f"{name}.sln", inverse=row["sln_orientation"] == "inverse")[1]
