"""Hostile input on purpose: non-finite and ragged data, tiny and huge sizes, integers at every
conversion bound, objects that raise or lie in their protocols, sequences that change while they
are read, sharing across searches and threads, and repeated objects. Every case must end in a
result or in the exception the interface names: never a crash, a hang or a stray exception type.
tests/README.md keeps the table of these cases."""

import math
import os
import sys
import threading

import pytest

import kestrum
from conftest import POISONED, PanicException, raises_panic

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
    termination = termination or T.max_iterations(30)
    if name == "sd":
        return LS.steepest_descent(minimize, problem, termination)
    if name == "sa":
        return LS.simulated_annealing(20, minimize, problem, termination, Cooling.geometric_cooling(0.9),
                                      PerTemp.cnst_iter_temp(4))
    if name == "tabu":
        return LS.tabu_search(minimize, problem, termination)
    return LS.vns(minimize, problem, termination)


SEARCHES = ["sd", "sa", "tabu", "vns"]


def move_for(search, kind, seed=1):
    """VNS works through the members of a multi-neighbour move type; the others take one kind."""
    simple = {"swap": M.swap, "reverse": M.reverse, "swap_tsp": M.swap_tsp}[kind](seed)
    return M.multi_neighbor([simple, M.reverse(seed + 1)]) if search == "vns" else simple


def check_log(log, start=None):
    assert type(log) is list and len(log) >= 2
    for row in log:
        assert [type(x) for x in row] == [int, float, float, int]
    assert [r[3] for r in log] == sorted(r[3] for r in log)
    if start is not None:
        assert log[0][1:] == (start, start, 0) or (math.isnan(start) and math.isnan(log[0][1]))


def tsp_matrix(n, value=lambda i, j: float(abs(i - j))):
    return [[0.0 if i == j else value(i, j) for j in range(n)] for i in range(n)]


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


@pytest.mark.parametrize("search", SEARCHES)
@pytest.mark.parametrize("data", NON_FINITE, ids=list(NON_FINITE))
@pytest.mark.parametrize("minimize", [True, False], ids=["min", "max"])
def test_non_finite_data_runs_to_a_log(search, data, minimize):
    p = P.array_problem(move_for(search, "swap"), NON_FINITE[data]())
    start = p.eval()
    log = build(search, p, T.max_iterations(25), minimize).run()
    check_log(log, start)
    assert sorted(p.solution()) == list(range(5))
    assert sorted(p.best_solution()) == list(range(5))


def test_nan_breaks_symmetry_and_the_asymmetric_route_is_taken():
    # Mirror entries that are NaN never compare equal, so the reversal must be scored the long
    # way; a reversal of the whole inner run then costs what the two tours say.
    rows = tsp_matrix(4, lambda i, j: 1.0)
    rows[1][2] = rows[2][1] = NAN
    p = P.array_problem(M.reverse(3), E.tsp(rows))
    assert math.isnan(p.eval())
    check_log(LS.steepest_descent(True, p, T.max_iterations(5)).run())


RAGGED = {
    # (evaluation builder, whether building it already stops)
    "tsp-short-lower-row": (lambda: E.tsp([[0, 1, 2], [1, 0, 3], [2]]), INDEX + "1 but the index is 1"),
    "tsp-short-upper-row": (lambda: E.tsp([[0], [1, 0]]), INDEX + "1 but the index is 1"),
    "tsp-empty-rows": (lambda: E.tsp([[], []]), INDEX + "0 but the index is 0"),
}


@pytest.mark.parametrize("case", RAGGED, ids=list(RAGGED))
def test_ragged_tour_matrices_stop_at_construction(case):
    builder, message = RAGGED[case]
    with raises_panic(message):
        builder()


# Data that builds but does not cover the solution: every search stops with the index message
# and poisons its problem; nothing else may come out.
UNCOVERED = {
    "tsp-fewer-rows": lambda: E.tsp(tsp_matrix(3)),
    "tsp-empty": lambda: E.tsp([]),
    "qap-flow-too-small": lambda: E.qap(tsp_matrix(4), [[0, 1], [1, 0]]),
    "qap-ragged-distance": lambda: E.qap([[0, 1, 2, 3], [1], [2, 0, 0, 0], [3, 0, 0]], tsp_matrix(4)),
}


@pytest.mark.parametrize("search", SEARCHES)
@pytest.mark.parametrize("data", UNCOVERED, ids=list(UNCOVERED))
def test_uncovered_data_stops_with_the_index_message(search, data):
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


def test_bins_with_fewer_weights_than_positions_stop():
    p = P.array_problem(M.swap(1), E.empty_bins([1.0] * 6, 3.0))
    p.set_eval_type(E.empty_bins([1.0, 2.0], 3.0))
    with raises_panic(prefix=INDEX):
        LS.tabu_search(True, p, T.max_iterations(3)).run()


def test_qap_of_different_shapes_is_accepted_until_used():
    ev = E.qap([[0]], [[1, 2, 3]])
    p = P.array_problem(M.swap(1), ev)
    assert p.eval() == 0.0  # one location, no pairs
    check_log(LS.steepest_descent(True, p, T.always_true()).run())


# ---------------------------------------------------------------- sizes 0 to 3

MOVES = ["swap", "reverse", "swap_tsp", "multi"]


def sized_move(kind):
    if kind == "multi":
        return M.multi_neighbor([M.swap(1), M.reverse(2), M.swap_tsp(3)])
    return {"swap": M.swap, "reverse": M.reverse, "swap_tsp": M.swap_tsp}[kind](7)


MULTI_STOPS = {
    "sd": "MultiNeighbor doesn't support get_all_mov",
    "tabu": "MultiNeighbor doesn't support get_all_mov",
    "sa": "MultiNeighbor doesn't support get_move",
}


@pytest.mark.parametrize("n", [0, 1, 2, 3])
@pytest.mark.parametrize("move", MOVES)
@pytest.mark.parametrize("search", SEARCHES)
def test_tiny_problems(n, move, search):
    weights = [float(k + 1) for k in range(n)]
    p = P.array_problem(sized_move(move), E.empty_space(weights, 3.0))
    start = p.eval()
    s = build(search, p, T.max_iterations(20))
    if move == "multi" and search != "vns":
        with raises_panic(MULTI_STOPS[search]):
            s.run()
        return
    # Annealing draws a random move: a problem too small to draw one from stops it.
    if search == "sa" and n < (3 if move == "swap_tsp" else 2):
        with raises_panic("cannot sample empty range"):
            s.run()
        return
    log = s.run()
    check_log(log, start)
    assert sorted(p.solution()) == list(range(n))
    if n < 2 or (n == 2 and move == "swap_tsp"):
        # No move exists (swap_tsp never moves position 0): nothing changes. (The final row's
        # current score is the candidate of an empty scan, which the searches define apart.)
        assert p.solution() == list(range(n))
        assert log[-1][1] == start


def test_vns_whose_neighbourhood_index_outlives_its_problem():
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
def test_tiny_benchmark(n):
    p = P.array_problem(M.swap(1), E.empty_bins([1.0] * n, 2.0))
    result = kestrum.benchmark([build("sd", p), build("tabu", p)], [p], seeds=[3, 3])
    assert [[len(x) for x in per_search] for per_search in result] == [[2], [2]]


# ---------------------------------------------------------------- integers at their bounds

class Index:
    """An integer-like object: only __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


U64_BOUND = [
    (0, None), (2**64 - 1, None), (True, None), (Index(2**64 - 1), None),
    (2**64, OverflowError), (-1, OverflowError), (-(2**70), OverflowError), (Index(-1), OverflowError),
    (Index(2**64), OverflowError), (1.0, TypeError), ("1", TypeError), (Index(1.5), TypeError),
]
U32_BOUND = [
    (0, None), (2**32 - 1, None), (Index(2**32 - 1), None), (False, None),
    (2**32, OverflowError), (2**64, OverflowError), (-1, OverflowError), (Index(2**32), OverflowError),
    (1.0, TypeError),
]
I32_BOUND = [
    (-(2**31), None), (2**31 - 1, None), (Index(-(2**31)), None), (True, None),
    (2**31, OverflowError), (-(2**31) - 1, OverflowError), (2**63, OverflowError), (2**100, OverflowError),
    (1.0, TypeError),
]


def _outcome(call, expected, param=None, exact_overflow=False):
    if expected is None:
        call()
        return
    with pytest.raises(expected) as info:
        call()
    assert type(info.value) is expected
    if expected is TypeError and param is not None:
        assert str(info.value).startswith(f"argument '{param}': ")
    if exact_overflow:
        assert str(info.value) == OUT_OF_RANGE


def _prob():
    return P.array_problem(M.swap(1), E.tsp(tsp_matrix(3)))


U64_SITES = {
    "MoveType.swap(seed)": (lambda v: M.swap(v), "seed"),
    "MoveType.reverse(seed)": (lambda v: M.reverse(seed=v), "seed"),
    "MoveType.swap_tsp(seed)": (lambda v: M.swap_tsp(v), "seed"),
    "Problem.set_seed(seed)": (lambda v: _prob().set_seed(v), "seed"),
    "Termination.max_sec(max_sec)": (lambda v: T.max_sec(v), "max_sec"),
    "benchmark(seeds)": (lambda v: kestrum.benchmark([], [], seeds=[1, v]), "seeds"),
}
U32_SITES = {
    "Termination.max_iterations": (lambda v: T.max_iterations(v), "max_iterations"),
    "Termination.no_improve": (lambda v: T.no_improve(v), "iter_without_imp"),
    "IterationsPerTemp.cnst_iter_temp": (lambda v: PerTemp.cnst_iter_temp(v), "iterations"),
    "LocalSearch.simulated_annealing(start_temp)": (
        lambda v: LS.simulated_annealing(v, True, _prob(), T.always_true(), Cooling.geometric_cooling(0.5),
                                         PerTemp.cnst_iter_temp(1)), "start_temp"),
    "LocalSearch.tabu_search(tabu_list_size)": (
        lambda v: LS.tabu_search(True, _prob(), T.always_true(), v), "tabu_list_size"),
}


@pytest.mark.parametrize("site", U64_SITES)
@pytest.mark.parametrize("value, expected", U64_BOUND, ids=[f"u64-{k}" for k in range(len(U64_BOUND))])
def test_unsigned_64_bit_bounds(site, value, expected):
    call, param = U64_SITES[site]
    _outcome(lambda: call(value), expected, param)


@pytest.mark.parametrize("site", U32_SITES)
@pytest.mark.parametrize("value, expected", U32_BOUND, ids=[f"u32-{k}" for k in range(len(U32_BOUND))])
def test_unsigned_word_bounds(site, value, expected):
    call, param = U32_SITES[site]
    is_own_bound = expected is OverflowError and isinstance(value, (int, Index)) and not isinstance(value, bool) \
        and int(value.value if isinstance(value, Index) else value) >= 2**32 \
        and int(value.value if isinstance(value, Index) else value) < 2**64
    _outcome(lambda: call(value), expected, param, exact_overflow=is_own_bound)


@pytest.mark.parametrize("value, expected", I32_BOUND, ids=[f"i32-{k}" for k in range(len(I32_BOUND))])
def test_signed_word_bounds(value, expected):
    _outcome(lambda: T.min_temp(value), expected, "min_temp")


def test_extreme_values_run():
    """Every bound that converts is also usable: the searches and criteria take them as given."""
    p = P.array_problem(M.swap(2**64 - 1), E.tsp(tsp_matrix(6)))
    p.set_seed(2**64 - 1)
    bounded = lambda: T.max_iterations(8)  # noqa: E731
    runs = [
        LS.simulated_annealing(2**32 - 1, True, p, T.multi_crit_and([T.max_sec(2**64 - 1), bounded()]),
                               Cooling.geometric_cooling(2.0), PerTemp.cnst_iter_temp(2**32 - 1)),
        LS.simulated_annealing(2**32 - 1, False, p, T.multi_crit_and([T.min_temp(-(2**31)), bounded()]),
                               Cooling.geometric_cooling(NAN), PerTemp.cnst_iter_temp(1)),
        LS.simulated_annealing(0, True, p, T.multi_crit_and([T.min_temp(2**31 - 1), bounded()]),
                               Cooling.geometric_cooling(-INF), PerTemp.cnst_iter_temp(1)),
        LS.tabu_search(True, p, T.multi_crit_and([T.no_improve(2**32 - 1), bounded()]), 0),
        LS.tabu_search(True, p, bounded(), 268435455),
        LS.steepest_descent(False, p, T.multi_crit_and([T.max_iterations(2**32 - 1), T.must_improve()])),
    ]
    for s in runs:
        check_log(s.run())
    assert kestrum.benchmark([], [p], runs=2**64 - 1 >> 36) == []  # 268435455 runs of no search


@pytest.mark.parametrize("call, message", [
    (lambda: kestrum.benchmark([], [], runs=2**64 - 1), "capacity overflow"),
    (lambda: kestrum.benchmark([], [], runs=268435456), "capacity overflow"),
], ids=["runs-max", "runs-above-limit"])
def test_huge_run_counts_stop_before_anything_runs(call, message):
    with raises_panic(message):
        call()


def test_huge_tabu_list_stops_the_run_and_poisons():
    p = _prob()
    s = LS.tabu_search(True, p, T.max_iterations(3), 2**32 - 1)
    with raises_panic("capacity overflow"):
        s.run()
    with raises_panic(POISONED):
        p.eval()


@pytest.mark.skipif(numpy is None, reason="numpy is not installed")
@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer aborts on allocations beyond its limit")
@pytest.mark.parametrize("rows", [2**45, 2**60 - 1])
def test_allocation_failure_is_memory_error(rows):
    # A numpy array of `rows` empty rows costs nothing, and neither does an evaluation of it;
    # a problem of that many positions cannot be held (or numbered by 32-bit words): it must
    # come back as MemoryError, with the process intact.
    empty_rows = numpy.zeros((rows, 0))
    with pytest.raises(MemoryError):
        P.array_problem(M.swap(1), E.qap(empty_rows, empty_rows))
    assert P.array_problem(M.swap(1), E.tsp(numpy.zeros((3, 3)))).eval() == 0.0


def test_forged_state_lengths_are_refused_without_allocating():
    good = E.tsp(tsp_matrix(3)).__reduce__()[1][1]
    forged = bytearray(good)
    forged[3:11] = (2**63).to_bytes(8, "little")  # the row count
    with pytest.raises(ValueError, match="does not fit"):
        E._from_state(bytes(forged))
    with pytest.raises(ValueError):
        P._from_state(b"\x01\x01" + b"\xff" * 64)


def test_size_lies_in_library_files(tmp_path):
    tsplib = tmp_path / "big.tsp"
    tsplib.write_text("TYPE: TSP\nDIMENSION: 4294967295\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
                      "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1\n1 0\nEOF\n")
    with pytest.raises(ValueError):
        E.tsp_from_tsplib(str(tsplib))
    qaplib = tmp_path / "big.dat"
    qaplib.write_text("4294967295\n0 1\n1 0\n")
    with pytest.raises(ValueError):
        E.qap_from_qaplib(str(qaplib))


# ---------------------------------------------------------------- protocols that raise or lie

class Boom(Exception):
    pass


class FloatRaises:
    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc


class FloatReturns:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexRaises:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class Seq:
    """A sequence whose __len__ and __iter__ can be told to raise or to lie."""

    def __init__(self, items, length=None, len_raises=None, iter_raises=None, fail_after=None):
        self.items, self.length = list(items), length
        self.len_raises, self.iter_raises, self.fail_after = len_raises, iter_raises, fail_after

    def __len__(self):
        if self.len_raises:
            raise self.len_raises
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, k):
        return self.items[k]

    def __iter__(self):
        if self.iter_raises:
            raise self.iter_raises
        for k, x in enumerate(self.items):
            if self.fail_after is not None and k == self.fail_after:
                raise Boom("iteration failed")
            yield x


class GetItemOnly:
    """The old sequence protocol: indexing until IndexError."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, k):
        return self.items[k]


def weights_of(evaluation):
    """The number of weights an evaluation holds, as the size of a problem built on it."""
    return len(P.array_problem(M.swap(1), evaluation).solution())


PROTOCOL_CASES = {
    # name: (call, expected): expected is an exception type or the number of weights read
    "float-raises-value-error": (lambda: E.empty_bins([1.0, FloatRaises(ValueError("no"))], 2), ValueError),
    "float-raises-type-error": (lambda: E.empty_bins([FloatRaises(TypeError("no"))], 2), "argument 'weights': no"),
    "float-raises-base-exception": (lambda: E.empty_bins([FloatRaises(KeyboardInterrupt())], 2), KeyboardInterrupt),
    "float-returns-str": (lambda: E.empty_bins([FloatReturns("1")], 2), "argument 'weights': "),
    "max-fill-raises": (lambda: E.empty_space([1.0], FloatRaises(Boom())), Boom),
    "matrix-entry-raises": (lambda: E.tsp([[0, 1], [FloatRaises(Boom()), 0]]), Boom),
    "index-raises-overflow": (lambda: M.swap(IndexRaises(OverflowError("big"))), OverflowError),
    "index-raises-type-error": (lambda: M.swap(IndexRaises(TypeError("nope"))), "argument 'seed': nope"),
    "index-raises-boom": (lambda: T.min_temp(IndexRaises(Boom())), Boom),
    "index-returns-float": (lambda: T.max_iterations(Index(1.0)), "argument 'max_iterations': "),
    "len-raises": (lambda: E.empty_bins(Seq([1.0, 2.0], len_raises=Boom()), 2), 2),
    "len-lies-huge": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], length=sys.maxsize), 2), 3),
    "len-lies-small": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], length=0), 2), 3),
    "len-negative": (lambda: E.empty_bins(Seq([1.0], length=-5), 2), 1),
    "iter-raises": (lambda: E.empty_bins(Seq([1.0], iter_raises=Boom()), 2), Boom),
    "iter-raises-type-error": (lambda: E.empty_bins(Seq([1.0], iter_raises=TypeError("t")), 2),
                               "argument 'weights': t"),
    "iteration-fails-midway": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], fail_after=2), 2), Boom),
    "row-iteration-fails": (lambda: E.tsp([[0.0, 1.0], Seq([1.0, 0.0], fail_after=1)]), Boom),
    "getitem-only-sequence": (lambda: E.empty_bins(GetItemOnly([1.0, 2.0, 3.0, 4.0]), 2), 4),
    "set-is-not-a-sequence": (lambda: E.empty_bins({1.0, 2.0}, 2), "argument 'weights': 'set' object cannot be converted to 'Sequence'"),
    "generator-is-not-a-sequence": (lambda: E.empty_bins((x for x in [1.0]), 2),
                                    "argument 'weights': 'generator' object cannot be converted to 'Sequence'"),
    "dict-is-not-a-sequence": (lambda: E.empty_bins({0: 1.0}, 2), "argument 'weights': 'dict' object cannot be converted to 'Sequence'"),
    "str-row": (lambda: E.tsp([[0.0], "0"]), "argument 'distance_matrix': Can't extract `str` to `Vec`"),
    "bytes-weights": (lambda: E.empty_bins(b"\x01\x02\x03", 2), 3),
    "range-weights": (lambda: E.empty_bins(range(5), 2), 5),
    "nested-too-deep": (lambda: E.tsp([[[0.0]]]), "argument 'distance_matrix': must be real number, not list"),
    "termination-list-lies": (lambda: T.multi_crit_or(Seq([T.always_true()] * 3, length=10**9)), None),
    "lone-surrogate-path": (lambda: E.tsp_from_dist_matrix("\udc80"), UnicodeEncodeError),
    "nul-in-path": (lambda: E.tsp_from_dist_matrix("a\0b"), OSError),
}


@pytest.mark.parametrize("case", PROTOCOL_CASES, ids=list(PROTOCOL_CASES))
def test_protocols_that_raise_or_lie(case):
    call, expected = PROTOCOL_CASES[case]
    if expected is None:
        call()
    elif isinstance(expected, int):
        assert weights_of(call()) == expected
    elif isinstance(expected, str):
        with pytest.raises(TypeError) as info:
            call()
        assert type(info.value) is TypeError and str(info.value).startswith(expected), str(info.value)
    else:
        with pytest.raises(expected):
            call()


# ---------------------------------------------------------------- sequences changed while read

class Mutator:
    """A float whose conversion runs `action` once (changing the list being read)."""

    def __init__(self, action, value=1.0):
        self.action, self.value, self.done = action, value, False

    def __float__(self):
        if not self.done:
            self.done = True
            self.action()
        return self.value


def test_list_cleared_by_its_own_element_stops_the_read():
    weights = [1.0]
    weights[0:0] = [Mutator(lambda: weights.clear())]
    weights += [2.0, 3.0]
    assert weights_of(E.empty_bins(weights, 5)) == 1  # read as the list iterator would


def test_list_grown_by_its_own_element_is_read_to_its_new_end():
    weights = [1.0, 2.0]
    weights.insert(0, Mutator(lambda: weights.extend([4.0] * 5)))
    assert weights_of(E.empty_bins(weights, 5)) == 8


def test_matrix_whose_rows_change_while_read():
    rows = [[0.0, 1.0], [1.0, 0.0], [2.0, 2.0]]
    rows[0][1] = Mutator(lambda: rows.pop())  # drops the third row before it is reached
    ev = E.tsp(rows)
    assert weights_of(ev) == 2
    rows = [[0.0, 1.0], [1.0, 0.0]]
    rows[1][0] = Mutator(lambda: rows[0].clear())  # the first row is already read
    assert weights_of(E.tsp(rows)) == 2


def test_element_dropped_while_converted_stays_alive():
    # The list's only reference to the element goes while the element is being converted.
    weights = [0.0]
    weights[0] = Mutator(lambda: weights.clear(), value=7.0)
    assert P.array_problem(M.swap(1), E.empty_space(weights, 10)).eval() == 3.0


def test_criteria_list_changed_while_read():
    crits = [T.max_iterations(1)]

    class Sneaky(Seq):
        def __iter__(self):
            yield crits[0]
            crits.clear()  # the list it came from changes; what was yielded is kept
            yield T.always_true()

    t = T.multi_crit_and(Sneaky([]))
    check_log(LS.steepest_descent(True, _prob(), t).run())


# ---------------------------------------------------------------- re-entrant conversions

def test_conversion_may_call_back_into_the_same_objects():
    """Arguments are converted before any lock is taken, so a conversion that uses the very
    objects of the call neither deadlocks nor poisons anything."""
    p = _prob()
    s = LS.steepest_descent(True, p, T.max_iterations(3))

    class Runs(Index):
        def __index__(self):
            s.run()
            p.eval()
            p.reset()
            return 5

    p.set_seed(Runs(0))
    result = kestrum.benchmark([s], [p], seeds=[Runs(0), 1])
    assert len(result[0][0]) == 2
    weights = [Mutator(lambda: s.run()), 1.0]
    p.set_eval_type(E.empty_bins(weights + [1.0], 2))
    assert p.eval() == 1.0


# ---------------------------------------------------------------- sharing and threads

def test_one_problem_many_searches_many_threads():
    p = P.array_problem(M.swap(5), E.tsp(tsp_matrix(9, lambda i, j: float((i * 7 + j * 3) % 11 + 1))))
    searches = [build(name, p, T.max_iterations(15)) for name in ("sd", "sa", "tabu")]
    vns = build("vns", P.array_problem(move_for("vns", "swap"), E.tsp(tsp_matrix(9))))
    errors = []

    def worker(k):
        try:
            for r in range(30):
                s = searches[(k + r) % 3]
                check_log(s.run())
                if r % 7 == 0:
                    p.set_seed(k * 100 + r)
                    p.reset()
                if r % 10 == 0:
                    kestrum.benchmark([s, vns], [p], T.max_iterations(5), seeds=[r])
                p.eval()
                LS.tabu_search(True, p, T.max_iterations(2)).run()
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads), "a thread is stuck"
    assert errors == []
    assert sorted(p.solution()) == list(range(9))


def test_poisoning_in_one_thread_is_seen_by_all():
    p = P.array_problem(M.multi_neighbor([M.swap(1)]), E.tsp(tsp_matrix(4)))
    outcomes = []

    def worker():
        try:
            LS.steepest_descent(True, p, T.max_iterations(3)).run()
            outcomes.append("ran")
        except PanicException as e:
            outcomes.append(e.args[0])

    threads = [threading.Thread(target=worker) for _ in range(5)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert sorted(outcomes) == sorted(["MultiNeighbor doesn't support get_all_mov"] + [POISONED] * 4)


def test_same_objects_repeated_in_benchmark_lists():
    p = P.array_problem(M.reverse(2), E.tsp(tsp_matrix(7, lambda i, j: float((i * j) % 5 + 1))))
    sd = LS.steepest_descent(True, p, T.max_iterations(50))
    result = kestrum.benchmark([sd, sd], [p, p, p], None, None, [4, 4])
    assert [[len(x) for x in a] for a in result] == [[2, 2, 2], [2, 2, 2]]
    scores = {tuple(row[1:] for row in log) for a in result for per in a for log in per}
    assert len(scores) == 1  # every run started from the same reset and seed


def test_same_criterion_repeated_in_a_combination():
    t = T.max_iterations(2)
    both = T.multi_crit_and([t, t, t])
    log = LS.steepest_descent(True, P.array_problem(M.swap(1), E.tsp(tsp_matrix(8, lambda i, j: float(i ^ j)))),
                              both).run()
    assert log[-1][3] <= 2


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


@pytest.mark.parametrize("case", NP_CASES, ids=list(NP_CASES))
def test_buffers_read_as_the_equivalent_list(case):
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
    (lambda np: LS.steepest_descent(np.int64(1), _prob(), T.always_true()), "argument 'minimize': "),
], ids=["3-d", "1-d-matrix", "0-d", "structured", "object-str", "float-seed", "int-minimize"])
def test_buffers_of_the_wrong_shape_or_type(make, message):
    with pytest.raises(TypeError) as info:
        make(numpy)
    assert type(info.value) is TypeError and str(info.value).startswith(message), str(info.value)


@pytest.mark.skipif(numpy is None, reason="numpy is not installed")
def test_numpy_scalars_at_the_bounds():
    assert check_log(LS.steepest_descent(numpy.bool_(False), _prob(), T.max_iterations(2)).run()) is None
    M.swap(numpy.uint64(2**64 - 1))
    with pytest.raises(OverflowError):
        M.swap(numpy.int64(-1))
    with pytest.raises(OverflowError):
        T.max_iterations(numpy.uint64(2**32))
