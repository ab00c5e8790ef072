"""Hostile data on purpose: non-finite and ragged matrices, data that does not cover the solution,
sizes 0 to 3, and buffers of every shape and type. Every case ends in a result or in the
exception the interface names (tests/README.md keeps the table of these cases)."""

import math
import sys

import pytest

import kestrum
import kinds
from conftest import POISONED, raises_panic
from hostile import (
    E, M, P, T, LS, numpy, NAN, INF, INDEX, build, SEARCHES, move_for, check_log, tsp_matrix,
    small_problem,
)


# ---------------------------------------------------------------- non-finite and ragged data

NON_FINITE = {
    "tsp-nan": lambda: E.tsp(tsp_matrix(5, lambda i, j: NAN if (i + j) % 3 == 0 else float(i * j))),
    "tsp-inf": lambda: E.tsp(tsp_matrix(5, lambda i, j: INF if i == 2 else 1.0)),
    "tsp-minus-inf": lambda: E.tsp(tsp_matrix(5, lambda i, j: -INF if j == 1 else 2.0)),
    "tsp-huge": lambda: E.tsp(tsp_matrix(5, lambda i, j: sys.float_info.max)),
    "qap-nan": lambda: E.qap(tsp_matrix(5, lambda i, j: NAN), tsp_matrix(5)),
    "qap-inf-times-zero": lambda: E.qap(tsp_matrix(5, lambda i, j: INF), [[0.0] * 5] * 5),
    "bins-nan-weight": lambda: E.empty_bins([1.0, NAN, 2.0, 3.0, 1.0], 4.0),
    "space-inf-weight": lambda: E.empty_space([1.0, INF, 2.0, 3.0, 1.0], 4.0),
    "space-exp-nan-fill": lambda: E.empty_space_exp([1.0, 2.0, 2.0, 3.0, 1.0], NAN),
    "space-inf-fill": lambda: E.empty_space([1.0, 2.0, 2.0, 3.0, 1.0], INF),
    "bins-negative": lambda: E.empty_bins([-1.0, 2.0, -3.0, 3.0, 1.0], -2.0),
}


RAGGED = {
    # (evaluation builder, whether building it already stops)
    "tsp-short-lower-row": (lambda: E.tsp([[0, 1, 2], [1, 0, 3], [2]]), INDEX + "1 but the index is 1"),
    "tsp-short-upper-row": (lambda: E.tsp([[0], [1, 0]]), INDEX + "1 but the index is 1"),
    "tsp-empty-rows": (lambda: E.tsp([[], []]), INDEX + "0 but the index is 0"),
}


# Data that builds but does not cover the solution: every search stops with the index message
# and poisons its problem; nothing else may come out.
UNCOVERED = {
    "tsp-fewer-rows": lambda: E.tsp(tsp_matrix(3)),
    "tsp-empty": lambda: E.tsp([]),
    "qap-flow-too-small": lambda: E.qap(tsp_matrix(4), [[0, 1], [1, 0]]),
    "qap-ragged-distance": lambda: E.qap([[0, 1, 2, 3], [1], [2, 0, 0, 0], [3, 0, 0]], tsp_matrix(4)),
}


class TestNonFiniteAndRaggedData:
    @pytest.mark.parametrize("search", SEARCHES)
    @pytest.mark.parametrize("data", NON_FINITE, ids=list(NON_FINITE))
    @pytest.mark.parametrize("minimize", [True, False], ids=["min", "max"])
    def test_non_finite_data_runs_to_a_log(self, search, data, minimize):
        p = P.array_problem(move_for(search, "swap"), NON_FINITE[data]())
        start = p.eval()
        log = build(search, p, T.max_iterations(25), minimize).run()
        check_log(log, start)
        assert sorted(p.solution()) == list(range(5))
        assert sorted(p.best_solution()) == list(range(5))

    def test_nan_breaks_symmetry_and_the_asymmetric_route_is_taken(self):
        # Mirror entries that are NaN never compare equal, so the reversal must be scored the long
        # way; a reversal of the whole inner run then costs what the two tours say.
        rows = tsp_matrix(4, lambda i, j: 1.0)
        rows[1][2] = rows[2][1] = NAN
        p = P.array_problem(M.reverse(3), E.tsp(rows))
        assert math.isnan(p.eval())
        check_log(LS.steepest_descent(True, p, T.max_iterations(5)).run())

    @pytest.mark.parametrize("case", RAGGED, ids=list(RAGGED))
    def test_ragged_tour_matrices_stop_at_construction(self, case):
        builder, message = RAGGED[case]
        with raises_panic(message):
            builder()

    @pytest.mark.parametrize("search", SEARCHES)
    @pytest.mark.parametrize("data", UNCOVERED, ids=list(UNCOVERED))
    def test_uncovered_data_stops_with_the_index_message(self, search, data):
        ev = UNCOVERED[data]()
        p = P.array_problem(move_for(search, "swap"), E.tsp(tsp_matrix(4)))
        p.set_eval_type(ev)  # the problem keeps its 4 positions
        s = build(search, p)
        with raises_panic(prefix=INDEX):
            s.run()
        with raises_panic(POISONED):
            p.eval()
        with raises_panic(POISONED):
            s.run()

    def test_bins_with_fewer_weights_than_positions_stop(self):
        p = P.array_problem(M.swap(1), E.empty_bins([1.0] * 6, 3.0))
        p.set_eval_type(E.empty_bins([1.0, 2.0], 3.0))
        with raises_panic(prefix=INDEX):
            LS.tabu_search(True, p, T.max_iterations(3)).run()

    def test_qap_of_different_shapes_is_accepted_until_used(self):
        ev = E.qap([[0]], [[1, 2, 3]])
        p = P.array_problem(M.swap(1), ev)
        assert p.eval() == 0.0  # one location, no pairs
        check_log(LS.steepest_descent(True, p, T.always_true()).run())


# ---------------------------------------------------------------- sizes 0 to 3

MOVES = list(kinds.SIMPLE_MOVES) + ["multi"]


def sized_move(kind):
    return kinds.move_type("multi_neighbor", 1) if kind == "multi" else kinds.move_type(kind, 7)


# How a search that takes one move kind stops on a multi-neighbourhood (None: it runs on it);
# every search but VNS and robust tabu search (which refuses one when built) needs its line.
MULTI_STOPS = {
    "iterated_local_search": None,
    "steepest_descent": "MultiNeighbor doesn't support get_all_mov",
    "tabu_search": "MultiNeighbor doesn't support get_all_mov",
    "simulated_annealing": "MultiNeighbor doesn't support get_move",
    "annealing": "MultiNeighbor doesn't support get_move",
}


class TestTinySizes:
    @pytest.mark.parametrize("n", [0, 1, 2, 3])
    @pytest.mark.parametrize("move", MOVES)
    @pytest.mark.parametrize("search", SEARCHES)
    def test_tiny_problems(self, n, move, search):
        weights = [float(k + 1) for k in range(n)]
        p = P.array_problem(sized_move(move), E.empty_space(weights, 3.0))
        start = p.eval()
        if move != "multi" and move not in kinds.SEARCH_KINDS[search].moves or (
                search == "robust_tabu_search" and move == "multi"):  # refused when built
            with pytest.raises(ValueError, match="needs a move type that exchanges positions"):
                build(search, p, T.max_iterations(20))
            return
        s = build(search, p, T.max_iterations(20))
        if move == "multi" and not kinds.SEARCH_KINDS[search].multi and MULTI_STOPS[search] is not None:
            with raises_panic(MULTI_STOPS[search]):
                s.run()
            return
        # Annealing draws a random move: a problem too small to draw one from stops it.
        if search == "simulated_annealing" and n < (3 if move == "swap_tsp" else 2):
            with raises_panic("cannot sample empty range"):
                s.run()
            return
        log = s.run()
        check_log(log, start)
        assert sorted(p.solution()) == list(range(n))
        if search == "annealing" and n < (3 if move == "swap_tsp" else 2):
            assert log[-1][3] == 0  # nothing to propose: the run ends at once
        if n < 2 or (n == 2 and move == "swap_tsp"):
            # No move exists (swap_tsp never moves position 0): nothing changes. (The final row's
            # current score is the candidate of an empty scan, which the searches define apart.)
            assert p.solution() == list(range(n))
            assert log[-1][1] == start

    def test_vns_whose_neighbourhood_index_outlives_its_problem(self):
        rows = tsp_matrix(6, lambda i, j: float((i * 5 + j * 3) % 7 + 1))
        three = P.array_problem(M.multi_neighbor([M.swap(1), M.reverse(2), M.swap_tsp(3)]), E.tsp(rows))
        s = LS.vns(True, three, T.always_true())
        check_log(s.run())  # ends in the last of the three neighbourhoods
        two = P.array_problem(M.multi_neighbor([M.swap(1), M.reverse(2)]), E.tsp(rows))
        s.set_problem(two)
        with raises_panic("index out of bounds: the len is 2 but the index is 2"):
            s.run()
        with raises_panic(POISONED):
            two.eval()
        assert three.eval() <= P.array_problem(M.swap(1), E.tsp(rows)).eval()

    @pytest.mark.parametrize("n", [0, 1, 2, 3])
    def test_tiny_benchmark(self, n):
        p = P.array_problem(M.swap(1), E.empty_bins([1.0] * n, 2.0))
        result = kestrum.benchmark([build("steepest_descent", p), build("tabu_search", p)], [p], seeds=[3, 3])
        assert [[len(x) for x in per_search] for per_search in result] == [[2], [2]]


# ---------------------------------------------------------------- buffers of every shape and type

def _np_cases():
    if numpy is None:
        return {}
    np = numpy
    m = np.array([[0.0, 1.5], [2.0, 0.0]])
    return {
        "big-endian": ("tsp", m.astype(">f8")),
        "float32": ("tsp", m.astype(np.float32)),
        "float16": ("tsp", m.astype(np.float16)),
        "fortran-order": ("tsp", np.asfortranarray(m)),
        "transposed": ("tsp", m.T),
        "broadcast-rows": ("tsp", np.broadcast_to(m[0], (2, 2))),
        "read-only": ("tsp", np.frombuffer(m.tobytes(), dtype="f8").reshape(2, 2)),
        "rows-as-arrays": ("tsp", [m[0], m[1]]),
        "non-finite": ("tsp", np.array([[np.nan, np.inf], [-np.inf, 0.0]])),
        "uint64-extremes": ("space", np.array([2**64 - 1, 0, 1], dtype=np.uint64)),
        "int64-extremes": ("space", np.array([-(2**63), 2**63 - 1, 1], dtype=np.int64)),
        "int8": ("space", np.array([-3, 1, 2], dtype=np.int8)),
        "bool": ("space", np.array([True, False, True])),
        "long-double": ("space", np.array([1.5, 0.25], dtype=np.longdouble)),
        "strided": ("space", np.arange(10.0)[::3]),
        "object": ("space", np.array([1.5, 2], dtype=object)),
        "memoryview": ("space", memoryview(np.array([1.5, 2.5]))),
        "bytearray": ("space", bytearray(b"\x01\x05")),
    }


NP_CASES = _np_cases()


class TestBuffers:
    @pytest.mark.parametrize("case", NP_CASES, ids=list(NP_CASES))
    def test_buffers_read_as_the_equivalent_list(self, case):
        """Arrays take the fast copy or the element-by-element route; either way the score equals
        the score of the same numbers given as a plain list."""
        kind, array = NP_CASES[case]
        as_list = array.tolist() if hasattr(array, "tolist") else list(array)
        as_list = [[float(x) for x in r] for r in as_list] if kind == "tsp" else [float(x) for x in as_list]

        def score(data):
            ev = E.tsp(data) if kind == "tsp" else E.empty_space(data, 2.0)
            return P.array_problem(M.swap(1), ev).eval()

        got, want = score(array), score(as_list)
        assert got == want or (math.isnan(got) and math.isnan(want))

    @pytest.mark.skipif(numpy is None, reason="numpy is not installed")
    @pytest.mark.parametrize("make, message", [
        (lambda np: E.tsp(np.zeros((2, 2, 2))), "argument 'distance_matrix': "),
        (lambda np: E.tsp(np.zeros(3)), "argument 'distance_matrix': 'float64' object cannot be converted to 'Sequence'"),
        (lambda np: E.empty_space(np.array(5.0), 1.0), "argument 'weights': "),
        (lambda np: E.empty_space(np.zeros(2, dtype=[("a", "f8"), ("b", "i4")]), 1.0), "argument 'weights': "),
        (lambda np: E.empty_space(np.array([1.5, "x"], dtype=object), 1.0), "argument 'weights': "),
        (lambda np: M.swap(np.float64(1.0)), "argument 'seed': "),
        (lambda np: LS.steepest_descent(np.int64(1), small_problem(), T.always_true()), "argument 'minimize': "),
    ], ids=["3-d", "1-d-matrix", "0-d", "structured", "object-str", "float-seed", "int-minimize"])
    def test_buffers_of_the_wrong_shape_or_type(self, make, message):
        with pytest.raises(TypeError) as info:
            make(numpy)
        assert type(info.value) is TypeError and str(info.value).startswith(message), str(info.value)

    @pytest.mark.skipif(numpy is None, reason="numpy is not installed")
    def test_numpy_scalars_at_the_bounds(self):
        assert check_log(LS.steepest_descent(numpy.bool_(False), small_problem(), T.max_iterations(2)).run()) is None
        M.swap(numpy.uint64(2**64 - 1))
        with pytest.raises(OverflowError):
            M.swap(numpy.int64(-1))
        with pytest.raises(OverflowError):
            T.max_iterations(numpy.uint64(2**32))
