"""The instances of the comparisons: random Euclidean tours, TSPLIB tours and QAPLIB
assignments from the collection in $KESTRUM_DATA (else ../shared/data beside the repository).

Optima, optimal tours and QAPLIB solutions are read by kestrum_tools.instances; what is read
here is only what the peers need as numpy matrices."""
from __future__ import annotations

import os
from pathlib import Path

import numpy as np
from kestrum_tools.instances import read_optima, read_qaplib_solution, read_tour, tsplib_coordinates

ROOT = Path(__file__).resolve().parent.parent.parent
DATA = Path(os.environ.get("KESTRUM_DATA") or ROOT.parent / "shared" / "data")

TSPLIB_INSTANCES = ("berlin52", "kroA100", "ch150", "a280", "pr1002")
QAP_INSTANCES = ("nug30", "sko42", "tai50a", "sko100a")


def have_data() -> bool:
    return (DATA / "tsplib" / "optima.tsv").is_file() and (DATA / "qaplib" / "optima.tsv").is_file()


def random_euclidean(n: int, seed: int) -> tuple[np.ndarray, np.ndarray]:
    """Points uniform in a 1000 x 1000 square and their (unrounded) distance matrix."""
    rng = np.random.default_rng(seed)
    xy = rng.random((n, 2)) * 1000.0
    diff = xy[:, None, :] - xy[None, :, :]
    return xy, np.sqrt((diff ** 2).sum(-1))


def tsplib_euc2d(name: str) -> np.ndarray:
    """The TSPLIB distance matrix of an EUC_2D instance: nint of the Euclidean distance."""
    xy = np.array(tsplib_coordinates(DATA / "tsplib" / f"{name}.tsp"))
    diff = xy[:, None, :] - xy[None, :, :]
    return np.floor(np.sqrt((diff ** 2).sum(-1)) + 0.5)


def tsplib_optimum(name: str) -> float:
    return float(read_optima(DATA / "tsplib" / "optima.tsv")[name]["optimum"])


def qaplib(name: str) -> tuple[np.ndarray, np.ndarray, float | None]:
    """The two matrices of a QAPLIB .dat file and the published value (None if not listed)."""
    tok = (DATA / "qaplib" / f"{name}.dat").read_text().split()
    n = int(tok[0])
    v = np.array(tok[1:1 + 2 * n * n], dtype=float)
    listed = read_optima(DATA / "qaplib" / "optima.tsv").get(name)
    value = float(listed["value"]) if listed else None
    return v[:n * n].reshape(n, n), v[n * n:].reshape(n, n), value


def tour_length(d: np.ndarray, tour) -> float:
    t = np.asarray(tour)
    return float(d[t, np.roll(t, -1)].sum())


def check_instances() -> None:
    """The matrices above must reproduce the published values: every TSPLIB optimal tour of
    the instances used scores its optimum, every QAPLIB solution its cost. A reader error
    would otherwise show up as a wrong gap for every solver alike."""
    for name in TSPLIB_INSTANCES:
        path = DATA / "tsplib" / f"{name}.opt.tour"
        if not path.is_file():
            continue
        length = tour_length(tsplib_euc2d(name), read_tour(path))
        if length != tsplib_optimum(name):
            raise SystemExit(f"{name}: the optimal tour scores {length}, not {tsplib_optimum(name)}")
    for name in QAP_INSTANCES:
        a, b, _ = qaplib(name)
        cost, solution = read_qaplib_solution(DATA / "qaplib" / f"{name}.sln")
        p = np.array(solution)
        if float((a * b[np.ix_(p, p)]).sum()) != cost:
            raise SystemExit(f"{name}: the published solution does not score {cost}")
