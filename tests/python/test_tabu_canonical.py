"""Tabu search with canonical_tours: a tabu list of tours, not arrays.

With reversals on a tour, the neighbours of a 2-opt local optimum include rotations and
mirror images of the same tour (reversing a whole prefix and then the rest). A list of arrays
lets the search walk among those forever, so it never beats steepest descent; a list of
tours makes them tabu together and the search moves on.
"""

import os
from pathlib import Path

import numpy as np
import pytest

import kestrum

E, M, P, L, T = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.LocalSearch, kestrum.Termination
DATA = Path(os.environ.get("KESTRUM_DATA") or Path(__file__).resolve().parents[3] / "shared" / "data")


def best_scores(evaluation, seed, iterations):
    n = len(P.array_problem(M.reverse(0), evaluation).solution())
    start = list(np.random.default_rng(seed).permutation(n))
    p = P.array_problem(M.reverse(1), evaluation)
    p.set_solution(start)
    descent = L.steepest_descent(True, p, T.always_true()).run()[-1][1]
    out = {"descent": descent}
    for canonical in (False, True):
        p = P.array_problem(M.reverse(1), evaluation)
        p.set_solution(start)
        log = L.tabu_search(True, p, T.max_iterations(iterations), None, canonical_tours=canonical).run()
        out[canonical] = log[-1][1]
        assert p.eval() == pytest.approx(log[-1][2])  # every delta the run used was exact
    return out


def test_twelve_points_canonical_tours_escape_the_cycle():
    xy = np.random.default_rng(0).random((12, 2))
    scores = best_scores(E.tsp_from_points(xy), 0, 100)
    assert scores[False] == scores["descent"]
    assert scores[True] < scores["descent"]


@pytest.mark.skipif(not (DATA / "tsplib" / "berlin52.tsp").is_file(), reason="berlin52 not present")
@pytest.mark.parametrize("dense", [True, False], ids=["matrix", "points"])
@pytest.mark.parametrize("seed", range(3))
def test_berlin52_beats_steepest_descent(seed, dense):
    evaluation = E.tsp_from_tsplib(str(DATA / "tsplib" / "berlin52.tsp"), dense=dense)
    scores = best_scores(evaluation, seed, 300)
    assert scores[False] == scores["descent"]
    assert scores[True] < scores["descent"]


@pytest.mark.parametrize(
    "evaluation",
    [
        E.qap([[0, 1, 2], [1, 0, 4], [2, 4, 0]], [[0, 3, 1], [3, 0, 2], [1, 2, 0]]),
        E.empty_space([3, 4, 5, 2, 6, 1], 7),
    ],
    ids=["qap", "bins"],
)
@pytest.mark.parametrize("kind", [M.swap, M.reverse])
def test_other_evaluations_ignore_the_flag(evaluation, kind):
    logs = []
    for canonical in (False, True):
        p = P.array_problem(kind(4), evaluation)
        log = L.tabu_search(False, p, T.max_iterations(25), 2, canonical_tours=canonical).run()
        logs.append(([r[1:] for r in log], p.solution(), p.best_solution()))
    assert logs[0] == logs[1]


def test_three_cities_every_array_is_one_tour():
    # All six arrays of three cities are one tour: with canonical tours the only neighbours
    # are that tour, so the first step (to a rotation or mirror image) leaves nothing admissible.
    p = P.array_problem(M.swap(1), E.tsp_from_points([[0, 0], [1, 0], [0, 1]]))
    plain = L.tabu_search(True, p, T.max_iterations(10), 5).run()
    p.reset()
    canonical = L.tabu_search(True, p, T.max_iterations(10), 5, canonical_tours=True).run()
    assert canonical[-1][3] == 1
    assert plain[-1][3] > 1
