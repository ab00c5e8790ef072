"""Iterated local search: arguments, logs, optima on small instances, both forms, reproducibility."""

import copy
import itertools
import os
import pickle
import random
import subprocess
import sys
from pathlib import Path

import numpy as np
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

    def test_lists_longer_than_the_tour_are_cut_to_every_other_city(self):
        d = euclidean(9, 3)
        logs = []
        for k in (8, 9, 1000):
            p = P.array_problem(M.reverse(0), E.tsp(d))
            logs.append(ref.scores(ils(p, T.max_iterations(40), neighbours=k, seed=2).run()))
        assert logs[0] == logs[1] == logs[2]

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

    def test_first_iteration_ends_on_a_two_opt_and_or_opt_optimum(self):
        # With every other city in the lists, the first optimum has no improving 2-opt move
        # (reversal of a run) and no improving move of a run of 1 to 3 cities, though a single
        # pass with don't-look bits may leave some.
        n = 45
        d = euclidean(n, 21)
        score = ref.tsp(d)[1]
        for seed in range(3):
            p = P.array_problem(M.reverse(0), E.tsp(d))
            p.set_solution(random.Random(seed).sample(range(n), n))
            ils(p, T.max_iterations(1), neighbours=n - 1, seed=seed).run()
            s = p.solution()
            here = score(s)
            for i in range(n):
                for j in range(i + 1, n):
                    assert score(s[:i] + s[i:j + 1][::-1] + s[j + 1:]) >= here
                for length in (1, 2, 3):
                    run, rest = s[i:i + length], s[:i] + s[i + length:]
                    for k in range(len(rest) + 1):
                        for piece in (run, run[::-1]):
                            assert score(rest[:k] + piece + rest[k:]) >= here

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


    def test_criterion_asked_before_each_iteration_and_told_each_optimum(self):
        # must_improve stops at the first local optimum that is not strictly better: every
        # iteration before it improved, and wrote its row.
        p = P.array_problem(M.reverse(0), E.tsp(euclidean(80, 12)))
        p.set_solution(random.Random(2).sample(range(80), 80))
        log = ils(p, T.must_improve(), seed=8).run()
        check_log(log, p)
        assert len(log) >= 3
        assert [row[3] for row in log[1:-1]] == list(range(len(log) - 2))
        assert log[-1][3] == len(log) - 1
        for limit in (1, 2, 17):
            p = P.array_problem(M.reverse(0), E.tsp(euclidean(30, limit)))
            assert ils(p, T.max_iterations(limit), seed=1).run()[-1][3] == limit


def twin_matrix(xy, metric):
    """The distances of tsp_from_points(xy, metric), computed here as TSPLIB defines them."""
    dx = xy[:, None, 0] - xy[None, :, 0]
    dy = xy[:, None, 1] - xy[None, :, 1]
    plain = np.sqrt(dx * dx + dy * dy)
    if metric == "euclidean":
        return plain
    if metric == "euc_2d":
        return np.floor(plain + 0.5)
    if metric == "ceil_2d":
        return np.ceil(plain)
    r = np.sqrt((dx * dx + dy * dy) / 10.0)  # att
    t = np.floor(r + 0.5)
    return np.where(t < r, t + 1.0, t)


class TestPoints:
    @pytest.mark.parametrize("metric", ["euclidean", "euc_2d", "ceil_2d", "att"])
    def test_points_and_their_matrix_give_the_same_run(self, metric):
        # Integer coordinates on a small square: rounded distances tie often, so the
        # neighbour lists must break ties the same way from the points as from the rows.
        rng = np.random.default_rng(5)
        xy = rng.integers(0, 60, (150, 2)).astype(float)
        runs = []
        for ev in (E.tsp_from_points(xy, metric), E.tsp(twin_matrix(xy, metric))):
            p = P.array_problem(M.reverse(0), ev)
            p.set_solution(random.Random(4).sample(range(150), 150))
            runs.append((ref.scores(ils(p, T.max_iterations(300), neighbours=6, seed=3).run()), p.solution()))
        assert runs[0] == runs[1]

    def test_geo_file_searched_alike_as_points_and_as_matrix(self, tmp_path):
        # GEO distances lie on a sphere: their lists come by rows in both forms.
        rng = np.random.default_rng(6)
        xy = np.round(rng.uniform(-60, 60, (60, 2)), 2)
        lines = ["TYPE: TSP", "DIMENSION: 60", "EDGE_WEIGHT_TYPE: GEO", "NODE_COORD_SECTION"]
        lines += [f"{k + 1} {x!r} {y!r}" for k, (x, y) in enumerate(xy.tolist())]
        path = tmp_path / "geo.tsp"
        path.write_text("\n".join(lines + ["EOF", ""]))
        runs = []
        for dense in (False, True):
            p = P.array_problem(M.reverse(0), E.tsp_from_tsplib(path, dense=dense))
            runs.append(ref.scores(ils(p, T.max_iterations(100), seed=3).run()))
        assert runs[0] == runs[1]

    def test_a_large_tour_from_points_stays_a_tour(self):
        # Past the size where the tour is kept as linked segments.
        n = 12000
        rng = random.Random(9)
        p = P.array_problem(M.reverse(0), E.tsp_from_points([(rng.random(), rng.random()) for _ in range(n)]))
        start = p.eval()
        log = ils(p, T.max_iterations(200), seed=1).run()
        check_log(log, p)
        assert log[-1][1] < 0.2 * start


class TestSavedState:
    @pytest.mark.parametrize("save", [lambda s: pickle.loads(pickle.dumps(s)), copy.deepcopy], ids=["pickle", "deepcopy"])
    @pytest.mark.parametrize("kw", [{"neighbours": 4, "seed": 2 ** 64 - 1}, {"neighbours": 7, "seed": 0}],
                             ids=["large-seed", "zero-seed"])
    def test_round_trip_keeps_neighbours_seed_and_problem(self, save, kw):
        p = P.array_problem(M.reverse(0), E.tsp(euclidean(40, 13)))
        p.set_solution(random.Random(1).sample(range(40), 40))
        search = ils(p, T.max_iterations(60), **kw)
        twin = save(search)
        assert ref.scores(twin.run()) == ref.scores(search.run())

    def test_an_unseeded_search_stays_unseeded(self):
        search = ils(P.array_problem(M.reverse(0), E.tsp(euclidean(12, 1))), T.max_iterations(3))
        twin = pickle.loads(pickle.dumps(search))
        assert pickle.dumps(twin) == pickle.dumps(search)
        assert twin.run()[-1][3] == 3


class TestStops:
    """A stop over a Python objective, and descents that would never end on their own."""

    @staticmethod
    def weighted(s):
        # One best arrangement (the reverse), independent of the engine's own scores.
        n = len(s)
        return float(sum(abs(v - (n - 1 - k)) * (k + 1) for k, v in enumerate(s)))

    @pytest.mark.parametrize("stop_at", [3, 60, 700])
    @pytest.mark.parametrize("how", ["evaluate", "progress"])
    def test_the_final_row_holds_the_tracked_best(self, how, stop_at):
        calls = []

        def evaluate(s):
            calls.append(1)
            if how == "evaluate" and len(calls) >= stop_at:
                raise RuntimeError("stop")
            return self.weighted(list(s))

        p = P.array_problem(M.swap(1), E.custom(7, evaluate))
        search = ils(p, T.always_true(), seed=3)
        if how == "progress":
            def progress(*row):
                if len(calls) >= stop_at:
                    raise RuntimeError("stop")
            search.set_progress(progress, every_seconds=0.0)
        with pytest.raises(RuntimeError) as err:
            search.run()
        log = err.value.log
        best = log[-1][1]
        assert best == best, log[-3:]  # not NaN
        assert best == min(row[1] for row in log)
        # The problem holds a solution of that score, scored here independently.
        assert self.weighted(p.best_solution()) == self.weighted(p.solution()) == best

    @pytest.mark.parametrize("lie", ["-1.0", "float('-inf')", "-1e-300"])
    def test_a_delta_that_always_improves_does_not_hold_the_run(self, lie):
        # max_iterations counts kicks: a descent that believed these deltas would never end.
        script = f"""
import kestrum
from kestrum import Evaluation, LocalSearch, MoveType, Problem, Termination
ev = Evaluation.custom(12, lambda s: 5.0, delta=lambda s, k, i, j: {lie})
p = Problem.array_problem(MoveType.swap(1), ev)
log = LocalSearch.iterated_local_search(True, p, Termination.max_iterations(3), seed=1).run()
print(log[-1][1], log[-1][3])
"""
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert done.stdout.split() == ["5.0", "3"]
