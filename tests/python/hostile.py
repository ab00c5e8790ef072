"""What the hostile-input tests (test_hostile_*.py) share: the searches built on a problem, the
move types they take, the shape of a log, and the messages of the index and range checks."""

import math
import os

import kestrum
import kinds

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
Cooling, PerTemp = kestrum.Cooling, kestrum.IterationsPerTemp

try:
    import numpy
except ImportError:  # pragma: no cover - numpy is in the development requirements
    numpy = None

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
NAN, INF = float("nan"), float("inf")
OUT_OF_RANGE = "out of range integral type conversion attempted"
INDEX = "index out of bounds: the len is "


def build(name, problem, termination=None, minimize=True):
    return kinds.search(name, minimize, problem, termination or T.max_iterations(30))


SEARCHES = kinds.SEARCHES


def move_for(search, kind, seed=1):
    """The move type `search` runs on: VNS works through the members of a multi-neighbour move
    type, the others take one kind (robust tabu search only exchanges: it takes swap for
    reverse)."""
    return kinds.SEARCH_KINDS[search].move_type(kind, seed)


def check_log(log, start=None):
    assert type(log) is list and len(log) >= 2
    for row in log:
        assert [type(x) for x in row] == [int, float, float, int]
    assert [r[3] for r in log] == sorted(r[3] for r in log)
    if start is not None:
        assert log[0][1:] == (start, start, 0) or (math.isnan(start) and math.isnan(log[0][1]))


def tsp_matrix(n, value=lambda i, j: float(abs(i - j))):
    return [[0.0 if i == j else value(i, j) for j in range(n)] for i in range(n)]


def small_problem():
    """A three-city tour, for calls that need some problem."""
    return P.array_problem(M.swap(1), E.tsp(tsp_matrix(3)))


class Index:
    """An integer-like object: only __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value
