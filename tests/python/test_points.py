"""Evaluation.tsp_from_points: argument handling, the same runs as a dense matrix of the same
distances, TSPLIB files kept as points, and pickling."""

import math
import os
import pickle
from pathlib import Path

import numpy as np
import pytest

import kestrum

E, M, P, L, T = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.LocalSearch, kestrum.Termination
DATA = Path(os.environ.get("KESTRUM_DATA") or Path(__file__).resolve().parents[3] / "shared" / "data")
RULES = {"euc_2d": "EUC_2D", "ceil_2d": "CEIL_2D", "att": "ATT", "geo": "GEO"}


def tsplib_text(xy, rule):
    lines = [f"TYPE: TSP", f"DIMENSION: {len(xy)}", f"EDGE_WEIGHT_TYPE: {rule}", "NODE_COORD_SECTION"]
    lines += [f"{k + 1} {x!r} {y!r}" for k, (x, y) in enumerate(xy)]
    return "\n".join(lines + ["EOF", ""])


def random_points(n, seed, metric):
    rng = np.random.default_rng(seed)
    if metric == "geo":  # DDD.MM latitudes and longitudes
        return np.round(rng.uniform(-80, 80, (n, 2)), 2)
    return np.round(rng.uniform(0, 1000, (n, 2)), 1)


def dense_twin(xy, metric, tmp_path):
    """The same distances as a matrix, by another route: numpy for the plain metric, the
    TSPLIB reader's matrix for the file rules."""
    if metric == "euclidean":
        dx = xy[:, None, 0] - xy[None, :, 0]
        dy = xy[:, None, 1] - xy[None, :, 1]
        return E.tsp(np.sqrt(dx * dx + dy * dy))
    path = tmp_path / "twin.tsp"
    path.write_text(tsplib_text(xy.tolist(), RULES[metric]))
    return E.tsp_from_tsplib(str(path))


class TestArguments:
    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: E.tsp_from_points([[0, 0], [1]]), ValueError, "point 1 has 1 coordinates, expected 2"),
            (lambda: E.tsp_from_points([(0, 0, 0)]), ValueError, "point 0 has 3 coordinates, expected 2"),
            (lambda: E.tsp_from_points([]), ValueError, "points must hold at least one point"),
            (lambda: E.tsp_from_points(np.zeros((0, 2))), ValueError, "points must hold at least one point"),
            (lambda: E.tsp_from_points(np.zeros((3, 3))), ValueError, "points must have shape (n, 2), got (3, 3)"),
            (lambda: E.tsp_from_points(np.zeros(6)), ValueError, "points must have shape (n, 2), got (6,)"),
            (lambda: E.tsp_from_points(np.zeros((2, 1, 2))), ValueError, "points must have shape (n, 2), got (2, 1, 2)"),
            (
                lambda: E.tsp_from_points([[0, 0], [1, 1], [2, float("nan")]]),
                ValueError,
                "point 2 has a non-finite coordinate (2, nan)",
            ),
            (
                lambda: E.tsp_from_points(np.array([[0.0, -np.inf]])),
                ValueError,
                "point 0 has a non-finite coordinate (0, -inf)",
            ),
            (
                lambda: E.tsp_from_points([[-1.7e308, 0], [1.7e308, 0]]),
                ValueError,
                "points too far apart: distances or tour lengths under 'euclidean' would not be finite",
            ),
            (
                lambda: E.tsp_from_points(np.array([[1.7e308, 1.0], [-1.7e308, 2.0]]), "geo"),
                ValueError,
                "points too far apart: distances or tour lengths under 'geo' would not be finite",
            ),
            (
                lambda: E.tsp_from_points([[0, 0]], "manhattan"),
                ValueError,
                "unknown metric 'manhattan': expected 'euclidean', 'euc_2d', 'ceil_2d', 'att' or 'geo'",
            ),
            (lambda: E.tsp_from_points("ab"), TypeError, "argument 'points': Can't extract `str` to `Vec`"),
            (
                lambda: E.tsp_from_points([1, 2]),
                TypeError,
                "argument 'points': 'int' object cannot be converted to 'Sequence'",
            ),
            (
                lambda: E.tsp_from_points([[0, 0]], metric=3),
                TypeError,
                "argument 'metric': 'int' object cannot be converted to 'PyString'",
            ),
            (
                lambda: E.tsp_from_points([[0, 0]], "euclidean", 1),
                TypeError,
                "Evaluation.tsp_from_points() takes from 1 to 2 positional arguments but 3 were given",
            ),
            (
                lambda: E.tsp_from_tsplib("x.tsp", False),
                TypeError,
                "Evaluation.tsp_from_tsplib() takes 1 positional arguments but 2 were given",
            ),
            (
                lambda: E.tsp_from_tsplib("x.tsp", dense=1),
                TypeError,
                "argument 'dense': 'int' object cannot be converted to 'PyBool'",
            ),
            (
                lambda: L.tabu_search(True, P.array_problem(M.swap(1), E.tsp([[0]])), T.always_true(), 3, True),
                TypeError,
                "LocalSearch.tabu_search() takes from 3 to 4 positional arguments but 5 were given",
            ),
        ],
        ids=lambda v: "" if callable(v) or isinstance(v, type) else v[:40],
    )
    def test_refused(self, call, exc, message):
        with pytest.raises(exc) as info:
            call()
        assert type(info.value) is exc
        assert str(info.value) == message

    def test_text_signatures(self):
        assert E.tsp_from_points.__text_signature__ == "(points, metric='euclidean')"
        assert E.tsp_from_tsplib.__text_signature__ == "(file, *, dense=True)"
        assert L.tabu_search.__text_signature__ == (
            "(minimize, problem, termination_function, tabu_list_size=None, *, canonical_tours=False)"
        )

    @pytest.mark.parametrize(
        "points",
        [
            [[0, 0], [3, 4], [6, 8]],
            ((0.0, 0.0), (3.0, 4.0), (6.0, 8.0)),
            np.array([[0, 0], [3, 4], [6, 8]], dtype=np.int32),
            np.array([[0, 0], [3, 4], [6, 8]], dtype=np.float32),
            np.asfortranarray(np.array([[0.0, 0.0], [3.0, 4.0], [6.0, 8.0]])),
            np.array([[9, 9, 0, 0], [9, 9, 3, 4], [9, 9, 6, 8]], dtype=float)[:, 2:],
            [np.array([0.0, 0.0]), np.array([3.0, 4.0]), [6, 8]],
        ],
        ids=["lists", "tuples", "int32", "float32", "fortran", "strided", "mixed-rows"],
    )
    def test_accepted_forms(self, points):
        p = P.array_problem(M.swap(1), E.tsp_from_points(points))
        assert p.eval() == 5.0 + 5.0 + 10.0

    def test_each_metric_by_hand(self):
        pts = [[0, 0], [1, 1]]
        assert P.array_problem(M.swap(1), E.tsp_from_points(pts)).eval() == 2 * math.sqrt(2)
        assert P.array_problem(M.swap(1), E.tsp_from_points(pts, "euc_2d")).eval() == 2.0
        assert P.array_problem(M.swap(1), E.tsp_from_points(pts, metric="ceil_2d")).eval() == 4.0
        # sqrt((100 + 0) / 10) = 3.16, rounded to 3 < 3.16, so 4 each way.
        assert P.array_problem(M.swap(1), E.tsp_from_points([[0, 0], [10, 0]], "att")).eval() == 8.0
        # A quarter of the equator under TSPLIB's pi is 10020 (floor of 10019.1 + 1).
        assert P.array_problem(M.swap(1), E.tsp_from_points([[0, 0], [0, 90]], "geo")).eval() == 20040.0

    def test_one_city(self):
        # (No city at all is refused when built: see test_refused.)
        assert P.array_problem(M.swap(1), E.tsp_from_points([[5, 5]], "geo")).eval() == 0.0


def run_all(evaluation, seed):
    """Every search and move type over one evaluation: logs without elapsed, and solutions."""
    out = []
    kinds = [M.swap, M.reverse, M.swap_tsp]
    for k, kind in enumerate(kinds):
        searches = [
            lambda p: L.steepest_descent(True, p, T.max_iterations(30)),
            lambda p: L.tabu_search(True, p, T.max_iterations(15), 5),
            lambda p: L.tabu_search(False, p, T.max_iterations(5), None, canonical_tours=True),
            lambda p: L.simulated_annealing(500, True, p, T.max_iterations(400), kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(20)),
            lambda p: L.vns(True, p, T.max_iterations(20)),
        ]
        for build in searches:
            p = P.array_problem(kind(seed + k), evaluation)
            p.set_solution(list(np.random.default_rng(seed).permutation(len(p.solution()))))
            s = build(p)
            if hasattr(s, "set_acceptance_seed"):
                try:
                    s.set_acceptance_seed(seed)
                except BaseException:  # noqa: BLE001 - only annealing has an acceptance generator
                    pass
            log = s.run()
            out.append(([row[1:] for row in log], p.solution(), p.best_solution()))
    multi = P.array_problem(M.multi_neighbor([M.swap(seed), M.reverse(seed + 1), M.swap_tsp(seed + 2)]), evaluation)
    log = L.vns(False, multi, T.max_iterations(10)).run()
    out.append(([row[1:] for row in log], multi.solution(), multi.best_solution()))
    return out


class TestSameAsDense:
    @pytest.mark.parametrize("metric", ["euclidean", "euc_2d", "ceil_2d", "att", "geo"])
    def test_every_search_and_move_type_logs_the_same(self, metric, tmp_path):
        xy = random_points(23, 7, metric)
        points = E.tsp_from_points(xy, metric)
        dense = dense_twin(xy, metric, tmp_path)
        assert run_all(points, 3) == run_all(dense, 3)

    @pytest.mark.parametrize("metric", ["euc_2d", "geo"])
    def test_tsplib_file_kept_as_points(self, metric, tmp_path):
        xy = random_points(17, 2, metric)
        path = tmp_path / "p.tsp"
        path.write_text(tsplib_text(xy.tolist(), RULES[metric]))
        as_points = E.tsp_from_tsplib(str(path), dense=False)
        assert run_all(as_points, 5) == run_all(E.tsp_from_tsplib(str(path)), 5)
        assert run_all(as_points, 5) == run_all(E.tsp_from_points(xy, metric), 5)

    def test_explicit_file_stays_dense(self, tmp_path):
        path = tmp_path / "e.tsp"
        path.write_text(
            "TYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n"
            "EDGE_WEIGHT_SECTION\n0 1 2\n1 0 3\n2 3 0\nEOF\n"
        )
        assert P.array_problem(M.swap(1), E.tsp_from_tsplib(str(path), dense=False)).eval() == 6.0

    def test_reader_errors_are_the_same(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            E.tsp_from_tsplib(str(tmp_path / "missing.tsp"), dense=False)
        path = tmp_path / "bad.tsp"
        path.write_text("TYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n1 1 1\nEOF\n")
        with pytest.raises(ValueError) as dense_error:
            E.tsp_from_tsplib(str(path))
        with pytest.raises(ValueError) as points_error:
            E.tsp_from_tsplib(str(path), dense=False)
        assert str(points_error.value) == str(dense_error.value)

    @pytest.mark.skipif(not (DATA / "tsplib").is_dir(), reason="benchmark instances not present")
    @pytest.mark.parametrize("name", ["berlin52", "att48", "ulysses22", "gr96"])
    def test_published_optimal_tours_score_the_optimum(self, name):
        from kestrum_tools import read_optima, read_tour

        row = read_optima(DATA / "tsplib" / "optima.tsv")[name]
        p = P.array_problem(M.reverse(0), E.tsp_from_tsplib(str(DATA / "tsplib" / f"{name}.tsp"), dense=False))
        p.set_solution(read_tour(DATA / "tsplib" / row["opt_tour"]))
        assert p.eval() == float(row["optimum"])


class TestPickling:
    @pytest.mark.parametrize("metric", ["euclidean", "geo"])
    def test_round_trip(self, metric):
        xy = random_points(12, 4, metric)
        e = E.tsp_from_points(xy, metric)
        back = pickle.loads(pickle.dumps(e))
        assert pickle.dumps(back) == pickle.dumps(e)
        assert run_all(back, 1) == run_all(e, 1)

    def test_search_with_canonical_tours_round_trip(self):
        p = P.array_problem(M.reverse(3), E.tsp_from_points(random_points(15, 9, "euclidean")))
        s = L.tabu_search(True, p, T.max_iterations(20), 4, canonical_tours=True)
        plain = L.tabu_search(True, p, T.max_iterations(20), 4)
        back = pickle.loads(pickle.dumps(s))
        assert pickle.dumps(back) == pickle.dumps(s)
        assert pickle.dumps(back) != pickle.dumps(plain)
        twin = pickle.loads(pickle.dumps(s))
        assert [r[1:] for r in back.run()] == [r[1:] for r in twin.run()]

    def test_forged_metric_refused(self):
        state = bytearray(E.tsp_from_points([[0, 0]], "att").__reduce__()[1][1])
        assert state[2:4] == bytes([5, 3])  # after the format and class bytes: the kind, the metric
        state[3] = 9
        with pytest.raises(ValueError, match="unknown point metric 9"):
            E._from_state(bytes(state))
