"""Iterated local search: arguments, logs, optima on small instances, both forms, reproducibility."""

import itertools
import os
import random
from pathlib import Path

import pytest

import kestrum
import reference as ref

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
DATA = Path(os.environ.get("KESTRUM_DATA") or Path(__file__).resolve().parents[3] / "shared" / "data")


def ils(problem, termination, minimize=True, **kw):
    return LS.iterated_local_search(minimize, problem, termination, **kw)


def euclidean(n, seed):
    rng = random.Random(seed)
    pts = [(rng.randint(0, 1000), rng.randint(0, 1000)) for _ in range(n)]
    return [[round(((ax - bx) ** 2 + (ay - by) ** 2) ** 0.5) for (bx, by) in pts] for (ax, ay) in pts]


def optimum(score, n, minimize=True, fixed_first=False):
    """Brute force over all permutations (first city fixed for tours)."""
    pick = min if minimize else max
    if fixed_first:
        return pick(score([0, *rest]) for rest in itertools.permutations(range(1, n)))
    return pick(score(list(s)) for s in itertools.permutations(range(n)))


def check_log(log, problem, minimize=True):
    """Start row, then strictly improving bests, final row = the problem's best, held as current."""
    assert log[0][1] == log[0][2]
    bests = [row[1] for row in log[:-1]]
    for before, after in zip(bests, bests[1:]):
        assert (after < before) if minimize else (after > before)
    final = log[-1]
    assert final[1] == final[2] == pytest.approx(problem.eval())
    assert problem.solution() == problem.best_solution()
    assert sorted(problem.solution()) == list(range(len(problem.solution())))


class TestArguments:
    def test_text_signature_shows_the_defaults(self):
        assert LS.iterated_local_search.__text_signature__ == (
            "(minimize, problem, termination_function, neighbours=10, seed=None)")

    @pytest.mark.parametrize(
        "kw, error, message",
        [({"neighbours": 0}, ValueError, "neighbours must be at least 1"),
         ({"neighbours": -1}, OverflowError, "can't convert negative int to unsigned"),
         ({"seed": 2 ** 64}, OverflowError, "int too big to convert"),
         ({"neighbors": 3}, TypeError,
          "LocalSearch.iterated_local_search() got an unexpected keyword argument 'neighbors'")],
        ids=["zero", "negative", "huge-seed", "misspelt"])
    def test_bad_arguments(self, kw, error, message):
        p = P.array_problem(M.reverse(0), E.tsp(euclidean(9, 1)))
        with pytest.raises(error) as info:
            ils(p, T.max_iterations(1), **kw)
        assert str(info.value) == message

    def test_none_means_the_default_neighbour_count(self):
        d = euclidean(12, 2)
        logs = []
        for kw in ({}, {"neighbours": None}, {"neighbours": 10}):
            p = P.array_problem(M.reverse(0), E.tsp(d))
            logs.append(ref.scores(ils(p, T.max_iterations(30), seed=4, **kw).run()))
        assert logs[0] == logs[1] == logs[2]


class TestTours:
    @pytest.mark.parametrize("n, seed, k", [(8, 1, 10), (9, 2, 3), (10, 3, 1)])
    def test_reaches_the_optimum_of_small_tours(self, n, seed, k):
        d = euclidean(n, seed)
        p = P.array_problem(M.swap(0), E.tsp(d))
        log = ils(p, T.max_iterations(400), neighbours=k, seed=seed).run()
        check_log(log, p)
        if k > 1:  # one neighbour is too few to promise the optimum
            assert log[-1][1] == optimum(ref.tsp(d)[1], n, fixed_first=True)
        assert p.solution()[0] == 0  # read from the city it started with

    def test_first_iteration_is_a_plain_descent_and_kicks_only_help(self):
        d = euclidean(60, 5)
        p = P.array_problem(M.reverse(0), E.tsp(d))
        start = list(range(60))
        random.Random(1).shuffle(start)
        p.set_solution(start)
        first = ils(p, T.max_iterations(1), seed=1).run()
        assert first[-1][3] == 1 and first[-1][1] < first[0][1]
        p.set_solution(start)
        more = ils(p, T.max_iterations(300), seed=1).run()
        check_log(more, p)
        assert more[1][1:] == first[1][1:]  # the same first optimum, then better or equal
        assert more[-1][1] <= first[-1][1]
        assert more[-1][3] == 300

    def test_same_seed_same_run(self):
        d = euclidean(40, 6)
        runs = []
        for _ in range(2):
            p = P.array_problem(M.reverse(0), E.tsp(d))
            runs.append((ref.scores(ils(p, T.max_iterations(200), seed=11).run()), p.solution()))
        assert runs[0] == runs[1]

    def test_stopped_before_the_first_iteration_changes_nothing(self):
        p = P.array_problem(M.reverse(0), E.tsp(euclidean(20, 7)))
        start = p.eval()
        log = ils(p, T.max_iterations(0), seed=1).run()
        assert ref.scores(log) == [(start, start, 0), (start, start, 0)]
        assert p.solution() == list(range(20))

    @pytest.mark.skipif(not (DATA / "tsplib" / "berlin52.tsp").is_file(), reason="instances not present")
    def test_berlin52_optimum_from_a_random_start(self):
        p = P.array_problem(M.reverse(0), E.tsp_from_tsplib(str(DATA / "tsplib" / "berlin52.tsp")))
        start = list(range(52))
        random.Random(3).shuffle(start)
        p.set_solution(start)
        log = ils(p, T.max_iterations(20000), seed=3).run()
        check_log(log, p)
        assert log[-1][1] == 7542


class TestOtherProblems:
    """Best improvement over the problem's own move type, kicked by random moves of it."""

    @pytest.mark.parametrize("kind, move, minimize", [
        ("tsp-asym", "swap_tsp", True), ("qap-asym", "swap", True), ("qap-sym", "reverse", False),
        ("space", "swap", True), ("bins", "reverse", False), ("tsp-sym", "swap", False)],
        ids=["asym-tour", "qap", "qap-max", "space", "bins-max", "tour-max"])
    def test_reaches_the_optimum_on_small_instances(self, kind, move, minimize):
        rng = ref.rng_for(8)
        ev, score = ref.random_evaluation(rng, 6, kind)
        p = P.array_problem(ref.move_type(move), ev)
        log = ils(p, T.max_iterations(150), minimize=minimize, seed=2).run()
        check_log(log, p, minimize)
        assert log[-1][1] == optimum(score, 6, minimize, fixed_first=move == "swap_tsp")

    def test_multi_neighbour_searches_all_members_together(self):
        # Swaps alone and reversals alone each have local optima; together they reach the
        # optimum from every start tried.
        ev, score = ref.random_evaluation(ref.rng_for(4), 6, "qap-asym")
        best = optimum(score, 6)
        for seed in range(3):
            p = P.array_problem(M.multi_neighbor([M.swap(0), M.reverse(0)]), ev)
            log = ils(p, T.max_iterations(100), seed=seed).run()
            check_log(log, p)
            assert log[-1][1] == best

    def test_a_symmetric_tour_ignores_its_move_type(self):
        d = euclidean(12, 9)
        logs = []
        for move in (M.multi_neighbor([M.swap(0), M.reverse(0)]), M.swap(0), M.reverse(1)):
            p = P.array_problem(move, E.tsp(d))
            logs.append(ref.scores(ils(p, T.max_iterations(50), seed=5).run()))
        assert logs[0] == logs[1] == logs[2]
