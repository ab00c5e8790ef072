"""Classic instances with their published optima: a few shipped with kestrum_tools, and any
collection you point it at.

    >>> from kestrum_tools import data
    >>> evaluation = data.evaluation("berlin52")      # TSPLIB's rounded distances
    >>> data.optimum("berlin52"), len(data.solution("berlin52"))
    (7542.0, 52)

Shipped: TSP berlin52, kroA100, ch150, a280 (each with an optimal tour); QAP nug12, had12,
tai20a (each with an optimal assignment). The files and their sources are described in
README.md beside them.

A larger collection is a folder holding tsplib/ and qaplib/, each with its instance files and
an optima.tsv table, as the examples read it: give it as `root=` to any function here, or set
$KESTRUM_DATA to it. An instance is looked for there first (NAME.tsp or NAME.atsp in tsplib/,
NAME.dat in qaplib/), then among the shipped ones.

`optimum` is the value in kestrum's own score: for QAP instances that is the table's
score_upper_pairs column (half the QAPLIB objective for symmetric ones, since kestrum counts
each pair of positions once).
"""

from __future__ import annotations

import os
from importlib import resources
from pathlib import Path

import kestrum
from kestrum_tools.instances import read_optima, read_qaplib_solution, read_tour

__all__ = ["INSTANCES", "evaluation", "folder", "optimum", "path", "root", "solution"]

Root = str | os.PathLike[str] | None

INSTANCES: dict[str, str] = {
    "berlin52": "tsplib",
    "kroA100": "tsplib",
    "ch150": "tsplib",
    "a280": "tsplib",
    "nug12": "qaplib",
    "had12": "qaplib",
    "tai20a": "qaplib",
}


def _collection(given: Root) -> Path | None:
    if given is not None:
        return Path(given)
    env = os.environ.get("KESTRUM_DATA")
    return Path(env) if env else None


def root(root: Root = None) -> Path | None:
    """The collection folder in use: `root` when given, else $KESTRUM_DATA when set, else None
    (only the shipped instances)."""
    return _collection(root)


def _shipped(library: str) -> Path:
    # The package is installed as plain files (wheel or source tree), so this is a real path.
    return Path(str(resources.files(__name__).joinpath(library)))


def folder(library: str, root: Root = None) -> Path:
    """The "tsplib" or "qaplib" folder: the collection's (see `root`) when it holds that
    library's optima.tsv, else the shipped one. Both are laid out alike, instance files and an
    optima.tsv table, so code written for one reads the other."""
    if library not in ("tsplib", "qaplib"):
        raise ValueError(f"library must be 'tsplib' or 'qaplib', not {library!r}")
    collection = _collection(root)
    if collection is not None and (collection / library / "optima.tsv").is_file():
        return collection / library
    return _shipped(library)


def _find(name: str, root: Root) -> tuple[str, Path]:
    """(library, instance file) of an instance: in the collection first, then shipped."""
    if not isinstance(name, str):
        raise TypeError(f"an instance name is a str, not {type(name).__name__}")
    for library, suffixes in (("tsplib", (".tsp", ".atsp")), ("qaplib", (".dat",))):
        for where in (folder(library, root), _shipped(library)):
            for suffix in suffixes:
                candidate = where / (name + suffix)
                if candidate.is_file():
                    return library, candidate
    collection = _collection(root)
    known = ", ".join(INSTANCES)
    if collection is None:
        raise ValueError(f"no shipped instance {name!r}; the shipped ones are {known} "
                         "(for others, give a collection folder as root= or in $KESTRUM_DATA)")
    raise ValueError(f"no instance {name!r} in {collection} nor among the shipped ones ({known})")


def path(name: str, root: Root = None) -> Path:
    """The instance file: NAME.tsp (or .atsp) for TSPLIB, NAME.dat for QAPLIB."""
    return _find(name, root)[1]


def evaluation(name: str, root: Root = None) -> kestrum.Evaluation:
    """The instance read by kestrum's own reader (TSPLIB or QAPLIB)."""
    library, file = _find(name, root)
    if library == "tsplib":
        return kestrum.Evaluation.tsp_from_tsplib(str(file))
    return kestrum.Evaluation.qap_from_qaplib(str(file))


def _row(name: str, root: Root) -> tuple[str, Path, dict[str, str]]:
    library, file = _find(name, root)
    table = file.parent / "optima.tsv"
    rows = read_optima(table)
    if name not in rows:
        raise ValueError(f"{table} has no row for {name!r}")
    return library, file.parent, rows[name]


def optimum(name: str, root: Root = None) -> float:
    """The published optimum (or best known value), in kestrum's score of the instance."""
    library, where, row = _row(name, root)
    text = row["optimum"] if library == "tsplib" else row["score_upper_pairs"]
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"{where / 'optima.tsv'} gives no value in kestrum's score for {name!r} ({text!r})") from None


def solution(name: str, root: Root = None) -> list[int]:
    """A published optimal tour or assignment, as a kestrum solution (values from 0); it scores
    `optimum(name)`."""
    library, where, row = _row(name, root)
    if library == "tsplib":
        tour = where / f"{name}.opt.tour"
        if not tour.is_file():
            raise ValueError(f"no published optimal tour for {name!r} in {where}")
        return read_tour(tour)
    sln = where / f"{name}.sln"
    if not sln.is_file():
        raise ValueError(f"no published solution for {name!r} in {where}")
    return read_qaplib_solution(sln, inverse=row["sln_orientation"] == "inverse")[1]
