"""Evaluations built from callables: construction, the solution view, failures, equivalence with
the built-in tour, every search, pickling and copies.

Native entry points are exercised through ctypes callbacks here (no compiler needed); numba's
cfuncs have their own module.
"""

import copy
import ctypes
import json
import pickle
import random
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import kestrum
import kinds

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

EVALUATE_C = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_uint32), ctypes.c_ssize_t, ctypes.c_void_p)
DELTA_C = ctypes.CFUNCTYPE(
    ctypes.c_double,
    ctypes.POINTER(ctypes.c_uint32),
    ctypes.c_ssize_t,
    ctypes.c_int,
    ctypes.c_ssize_t,
    ctypes.c_ssize_t,
    ctypes.c_void_p,
)


# ---- a tour objective written out with the same sums in the same order as Evaluation.tsp


def tour_length(d, s):
    total = 0.0
    for k in range(len(s) - 1):
        total = total + d[s[k]][s[k + 1]]
    return total + d[s[len(s) - 1]][s[0]]


def tour_delta(d, symmetric, s, kind, i, j):
    """The built-in tour delta: measure the edges a move changes, apply it, measure again."""
    s = list(s)
    n = len(s)
    if not symmetric and i == 0 and j == n - 1:  # the closing edge changes direction: whole tours
        t = list(s)
        if kind == kestrum.MOVE_SWAP:
            t[i], t[j] = t[j], t[i]
        else:
            t.reverse()
        return tour_length(d, t) - tour_length(d, s)

    def edges(t):
        a = d[t[i - 1] if i > 0 else t[n - 1]][t[i]]
        e = d[t[j]][t[(j + 1) % n]]
        if kind == kestrum.MOVE_SWAP:
            total = (a + 0.0) + d[t[i]][t[i + 1]]
            if j - 1 != i:
                total = total + d[t[j - 1]][t[j]]
            return total + e
        if symmetric:
            return (a + 0.0) + e
        inner = 0.0
        for k in range(i, j):
            inner = inner + d[t[k]][t[k + 1]]
        return (inner + a) + e

    before = edges(s)
    if kind == kestrum.MOVE_SWAP:
        s[i], s[j] = s[j], s[i]
    else:
        s[i : j + 1] = reversed(s[i : j + 1])
    return edges(s) - before


def random_matrix(rng, n, symmetric):
    d = [[0.0] * n for _ in range(n)]
    for a in range(n):
        for b in range(n):
            if a != b and (not symmetric or a < b):
                d[a][b] = round(rng.uniform(1, 100), 3)
                if symmetric:
                    d[b][a] = d[a][b]
    return d


def python_tour(d, symmetric, with_delta=True):
    def evaluate(s):
        return tour_length(d, s)

    def delta(s, kind, i, j):
        return tour_delta(d, symmetric, s, kind, i, j)

    return E.custom(len(d), evaluate, delta if with_delta else None)


def ctypes_tour(d, symmetric):
    """The same objective behind C entry points; the callbacks are returned to keep them alive."""

    @EVALUATE_C
    def evaluate(p, n, _):
        return tour_length(d, p[:n])

    @DELTA_C
    def delta(p, n, kind, i, j, _):
        return tour_delta(d, symmetric, p[:n], kind, i, j)

    return E.custom(len(d), evaluate, delta), (evaluate, delta)


# ---- searches over one problem


def simulated_annealing(minimize, problem, term):
    cool, per_temp = kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(20)
    s = LS.simulated_annealing(200, minimize, problem, term, cool, per_temp)
    s.set_acceptance_seed(11)
    return s


# Each search's settings here; a search without its line fails the tests that walk them all.
SETTINGS = {
    "steepest_descent": LS.steepest_descent,
    "simulated_annealing": simulated_annealing,
    "tabu_search": lambda minimize, problem, term: LS.tabu_search(minimize, problem, term, 7),
    "vns": LS.vns,
    "annealing": lambda minimize, problem, term: LS.annealing(minimize, problem, term, seed=11),
    "iterated_local_search": lambda minimize, problem, term: LS.iterated_local_search(minimize, problem, term, 4, seed=11),
    "robust_tabu_search": lambda minimize, problem, term: LS.robust_tabu_search(minimize, problem, term, seed=11),
}


def search_of(name, problem, minimize, term):
    return SETTINGS[name](minimize, problem, term)


MOVES = {
    "swap": lambda: M.swap(5),
    "reverse": lambda: M.reverse(5),
    "swap_tsp": lambda: M.swap_tsp(5),
    "or_opt": lambda: M.or_opt(5),
    "multi": lambda: M.multi_neighbor([M.swap(5), M.reverse(6)]),
}

# Every search with each move kind it takes; VNS on a multi-neighbourhood and on one swap.
SEARCH_MOVES = [
    (search, move)
    for search, kind in kinds.SEARCH_KINDS.items()
    for move in (["multi", "swap"] if kind.multi else [m for m in MOVES if m in kind.moves])
]


# The runs a custom tour repeats row for row: iterated local search moves a built-in tour with
# moves of its own, and a segment move on a caller's objective is scored by evaluate on a copy,
# whose rounding the built-in delta need not share.
TOUR_ALIKE = [(search, move) for search, move in SEARCH_MOVES if search != "iterated_local_search" and move != "or_opt"]

# The runs that ask a caller's delta (or row of deltas): segment moves are scored by evaluate
# on a copy, since a caller's delta takes swaps and reversals only.
DELTA_MOVES = [(search, move) for search, move in SEARCH_MOVES if move != "or_opt"]

# A failing evaluate, or a failing delta where a delta is asked.
FAILING_CALLBACKS = [(False, search, move) for search, move in SEARCH_MOVES] + [
    (True, search, move) for search, move in DELTA_MOVES]


def run_of(evaluation, search, move, minimize, iterations=40):
    problem = P.array_problem(MOVES[move](), evaluation)
    log = search_of(search, problem, minimize, T.max_iterations(iterations)).run()
    return [row[1:] for row in log], problem


class TestConstruction:
    def test_signature_and_kinds(self):
        assert E.custom.__text_signature__ == "(size, evaluate, delta=None, *, delta_row=None)"
        assert (kestrum.MOVE_REVERSE, kestrum.MOVE_SWAP) == (0, 1)
        assert "MOVE_SWAP" not in kestrum.__all__
        assert P.array_problem(M.swap(1), E.custom(4, lambda s: len(s))).solution() == [0, 1, 2, 3]

    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: E.custom(), TypeError, "Evaluation.custom() missing 2 required positional arguments: 'size' and 'evaluate'"),
            (lambda: E.custom(3, len, None, 4), TypeError, "Evaluation.custom() takes from 2 to 3 positional arguments but 4 were given"),
            (lambda: E.custom(-1, len), OverflowError, None),
            (lambda: E.custom(2**32, len), OverflowError, "out of range integral type conversion attempted"),
            (lambda: E.custom(3.0, len), TypeError, None),
            (lambda: E.custom(3, 5), TypeError, "argument 'evaluate': 'int' object is not callable"),
            (lambda: E.custom(3, len, "f"), TypeError, "argument 'delta': 'str' object is not callable"),
        ],
        ids=["missing", "too-many", "negative", "too-big", "float-size", "not-callable", "delta-not-callable"],
    )
    def test_argument_errors(self, call, exc, message):
        with pytest.raises(exc) as info:
            call()
        if message is not None:
            assert str(info.value) == message
        elif exc is TypeError:
            assert str(info.value).startswith("argument 'size': ")

    def test_native_signatures_are_checked(self):
        wrong = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_double), ctypes.c_ssize_t, ctypes.c_void_p)
        f = wrong(lambda p, n, u: 0.0)
        with pytest.raises(TypeError) as info:
            E.custom(3, f)
        assert str(info.value) == (
            "argument 'evaluate': a native function must have the signature "
            "double (const uint32_t *solution, intptr_t n, void *user_data), not 'double (double *, long, void *)'"
        )
        good = EVALUATE_C(lambda p, n, u: 0.0)
        with pytest.raises(TypeError, match=r"^argument 'delta': .* int kind, intptr_t i, intptr_t j, void \*user_data\), not 'double \(unsigned int \*, long, void \*\)'$"):
            E.custom(3, good, good)
        libc_abs = ctypes.CDLL(None).labs  # argument types never declared
        with pytest.raises(TypeError, match="argument types not declared"):
            E.custom(3, libc_abs)
        with pytest.raises(TypeError, match="null"):
            E.custom(3, EVALUATE_C())

    def test_low_level_callable(self):
        scipy = pytest.importorskip("scipy")
        f = EVALUATE_C(lambda p, n, u: float(p[0] + 10 * p[n - 1]))
        p = P.array_problem(M.swap(1), E.custom(3, scipy.LowLevelCallable(f)))
        assert p.eval() == 20.0
        with pytest.raises(TypeError, match=r"not 'double \(uint \*, long, void \*\)'$"):
            E.custom(3, len, scipy.LowLevelCallable(f))


    def test_impostors_of_native_callables_are_plain_objects(self):
        # Named like numba's cfunc and scipy's LowLevelCallable, and carrying a genuine native
        # function: only the real classes are read as native functions.
        native = EVALUATE_C(lambda p, n, u: 7.0)
        cfunc = type("CFunc", (), {"__module__": "numba.core.ccallback", "ctypes": native})
        with pytest.raises(TypeError, match=r"^argument 'evaluate': 'CFunc' object is not callable$"):
            E.custom(3, cfunc())
        callable_cfunc = type("CFunc", (), {"__module__": "numba", "ctypes": native, "__call__": lambda self, s: 1.0})
        assert P.array_problem(M.swap(1), E.custom(3, callable_cfunc())).eval() == 1.0

        new_capsule = ctypes.pythonapi.PyCapsule_New
        new_capsule.restype = ctypes.py_object
        new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
        name = ctypes.create_string_buffer(b"double (uint32_t *, intptr_t, void *)")
        capsule = new_capsule(ctypes.cast(native, ctypes.c_void_p).value, ctypes.addressof(name), None)
        low_level = type("LowLevelCallable", (tuple,), {"__module__": "scipy._lib._ccallback"})
        with pytest.raises(TypeError, match=r"^argument 'evaluate': 'LowLevelCallable' object is not callable$"):
            E.custom(3, low_level((capsule, None, None)))

    def test_set_eval_type_refuses_a_custom_evaluation_of_another_size(self):
        p = P.array_problem(M.swap(1), E.custom(4, lambda s: float(s[3])))
        for size in (6, 3):
            with pytest.raises(ValueError) as info:
                p.set_eval_type(E.custom(size, lambda s: float(s[size - 1])))
            assert str(info.value) == f"a custom evaluation of size {size} cannot score a problem of size 4"
        assert p.eval() == 3.0  # the evaluation in place is kept
        p.set_eval_type(E.custom(4, lambda s: float(s[0])))
        assert p.eval() == 0.0


class TestSolutionView:
    def test_read_only_uint32_view_of_the_solution(self):
        seen = []

        def evaluate(s):
            a = np.asarray(s)
            seen.append((a.dtype, a.flags.writeable, a.tolist(), len(s), s.readonly, s.format, s[1]))
            with pytest.raises(TypeError):
                s[0] = 5
            return 0.0

        p = P.array_problem(M.swap(1), E.custom(4, evaluate))
        p.set_solution([2, 0, 3, 1])
        p.eval()
        assert seen == [(np.uint32, False, [2, 0, 3, 1], 4, True, "I", 0)]

    def test_a_kept_memoryview_is_released(self):
        kept = []
        p = P.array_problem(M.swap(1), E.custom(3, lambda s: kept.append(s) or 1.0))
        assert p.eval() == 1.0
        with pytest.raises(ValueError, match="released"):
            kept[0][0]

    def test_a_kept_array_is_refused_and_the_problem_stays_usable(self):
        kept = []

        def evaluate(s):
            if not kept:
                kept.append(np.asarray(s))
            return 1.0

        p = P.array_problem(M.swap(1), E.custom(3, evaluate))
        with pytest.raises(BufferError, match="copy it instead"):
            p.eval()
        assert p.eval() == 1.0
        assert p.solution() == [0, 1, 2]


    def test_a_call_nested_in_another_reads_its_own_solution(self):
        # Two problems over one evaluation: the callable, called for the first, scores the
        # second from inside; each call reads its own solution, before and after the other.
        seen = []
        inner = []

        def evaluate(s):
            before = list(s)
            if inner:
                seen.append(inner.pop().eval())
            seen.append((before, list(s)))
            return float(s[0])

        ev = E.custom(4, evaluate)
        outer, nested = P.array_problem(M.swap(1), ev), P.array_problem(M.swap(1), ev)
        outer.set_solution([3, 2, 1, 0])
        nested.set_solution([1, 0, 3, 2])
        inner.append(nested)
        assert outer.eval() == 3.0
        assert seen == [([1, 0, 3, 2], [1, 0, 3, 2]), 1.0, ([3, 2, 1, 0], [3, 2, 1, 0])]
        assert outer.eval() == 3.0 and nested.eval() == 1.0  # and again, one after the other

    def test_views_kept_past_the_call_stay_readable_after_the_problem_is_gone(self):
        # Each role keeps a memoryview and an array of the solution it is given (a BufferError
        # for the call), then the problem and the search are dropped and the memory reused:
        # the views still read the solution as it was during the call. A million positions,
        # so freed memory goes back to the system and a read of it would crash.
        code = textwrap.dedent(
            """
            import gc, json
            import numpy as np
            from kestrum import Evaluation as E, LocalSearch as LS, MoveType as M, Problem as P, Termination as T

            n = 1 << 20
            start = list(range(n))[::-1]
            out = {}
            for role in ("evaluate", "delta", "delta_row"):
                kept = []

                def keep(s, *rest):
                    if not kept:
                        kept.append((memoryview(s), np.asarray(s)))
                    return 0.0 if role != "delta_row" else [0.0] * (rest[3] - rest[2])

                keep_as = {role: keep}
                ev = E.custom(n, keep_as.get("evaluate", lambda s: 0.0), keep_as.get("delta"), delta_row=keep_as.get("delta_row"))
                p = P.array_problem(M.swap(1), ev)
                p.set_solution(start)
                try:
                    p.eval() if role == "evaluate" else LS.steepest_descent(True, p, T.max_iterations(1)).run()
                except BufferError as e:
                    out[role] = [str(e)]
                p.set_solution(list(range(n)))
                del p, ev
                gc.collect()
                junk = [bytes(1 << 16) for _ in range(256)]
                view, array = kept[0]
                out[role] += [view[0], view[n - 1], int(array.sum()), array.tolist() == start]
            print(json.dumps(out))
            """
        )
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr[-2000:]
        got = json.loads(done.stdout)
        n = 1 << 20
        for role in ("evaluate", "delta", "delta_row"):
            message, first, last, total, same = got[role]
            assert "a view of the solution was kept after the call returned" in message
            assert (first, last, total, same) == (n - 1, 0, n * (n - 1) // 2, True), role


class TestFailures:
    @pytest.mark.parametrize(
        "result, exc, message",
        [
            ("3", TypeError, "evaluate must return a number, not 'str'"),
            (None, TypeError, "evaluate must return a number, not 'NoneType'"),
            (1j, TypeError, "evaluate must return a number, not 'complex'"),
            (10**400, OverflowError, None),
        ],
        ids=["str", "none", "complex", "huge-int"],
    )
    def test_results_that_are_not_numbers(self, result, exc, message):
        p = P.array_problem(M.swap(1), E.custom(3, lambda s: result))
        with pytest.raises(exc) as info:
            p.eval()
        if message:
            assert str(info.value) == message

    @pytest.mark.parametrize("result", [7, True, np.float32(7.5), np.int64(7)], ids=["int", "bool", "float32", "int64"])
    def test_numbers_are_accepted(self, result):
        assert P.array_problem(M.swap(1), E.custom(3, lambda s: result)).eval() == float(result)

    def test_an_exception_propagates_and_nothing_is_poisoned(self):
        calls = []

        def evaluate(s):
            calls.append(1)
            if len(calls) == 1:
                raise KeyError("first call")
            return 2.5

        p = P.array_problem(M.swap(1), E.custom(3, evaluate))
        with pytest.raises(KeyError, match="first call"):
            p.eval()
        assert p.eval() == 2.5
        p.set_solution([2, 1, 0])
        assert p.solution() == [2, 1, 0]


class TestTourEquivalence:
    """A custom tour with the built-in sums gives the built-in logs, row for row."""

    @pytest.mark.parametrize("search, move", TOUR_ALIKE, ids=[f"{s}-{m}" for s, m in TOUR_ALIKE])
    @pytest.mark.parametrize("symmetric", [True, False], ids=["sym", "asym"])
    def test_python_callables(self, search, move, symmetric):
        d = random_matrix(random.Random(7), 9, symmetric)
        for minimize in (True, False):
            expected, p_tsp = run_of(E.tsp(d), search, move, minimize)
            got, p_custom = run_of(python_tour(d, symmetric), search, move, minimize)
            assert got == expected
            assert p_custom.solution() == p_tsp.solution()
            assert p_custom.best_solution() == p_tsp.best_solution()

    @pytest.mark.parametrize("search", ["steepest_descent", "simulated_annealing", "tabu_search"])
    def test_native_entry_points(self, search):
        d = random_matrix(random.Random(3), 8, True)
        evaluation, keep = ctypes_tour(d, True)
        assert run_of(evaluation, search, "reverse", True)[0] == run_of(E.tsp(d), search, "reverse", True)[0]
        del keep

    def test_benchmark(self):
        d = random_matrix(random.Random(5), 8, True)

        def logs(evaluation):
            p = P.array_problem(M.swap(2), evaluation)
            algorithms = [search_of(name, p, True, T.max_iterations(30)) for name in dict(TOUR_ALIKE)]
            out = kestrum.benchmark(algorithms, [p], T.max_iterations(30), None, [1, 2])
            return [[[[row[1:] for row in log] for log in per_seed] for per_seed in per_problem] for per_problem in out]

        assert logs(python_tour(d, True)) == logs(E.tsp(d))


class TestWithoutDelta:
    @pytest.mark.parametrize("search, move", SEARCH_MOVES, ids=[f"{s}-{m}" for s, m in SEARCH_MOVES])
    def test_runs_end_on_the_score_they_report(self, search, move):
        d = random_matrix(random.Random(11), 8, False)
        for minimize in (True, False):
            rows, p = run_of(python_tour(d, False, with_delta=False), search, move, minimize, 25)
            assert sorted(p.solution()) == list(range(8))
            if search != "steepest_descent":  # a descent's final current is what its last scan found
                assert rows[-1][1] == pytest.approx(p.eval())
            assert rows[-1][0] == pytest.approx(tour_length(d, p.best_solution()))

    def test_moves_are_tried_on_a_copy(self):
        solutions = []
        p = P.array_problem(M.reverse(1), E.custom(4, lambda s: solutions.append(list(s)) or float(s[0])))
        p.set_solution([3, 2, 1, 0])
        LS.steepest_descent(True, p, T.max_iterations(1)).run()
        # eval once, then one score of the scan's start, then each reversal applied to a copy.
        assert solutions[:3] == [[3, 2, 1, 0], [3, 2, 1, 0], [2, 3, 1, 0]]
        assert solutions[-1] == [3, 2, 0, 1]
        assert p.solution() == [0, 1, 2, 3]

    def test_delta_is_told_the_move_kind(self):
        calls = set()

        def delta(s, kind, i, j):
            calls.add((kind, i < j))
            return 0.0

        for move, kind in (("swap", kestrum.MOVE_SWAP), ("swap_tsp", kestrum.MOVE_SWAP), ("reverse", kestrum.MOVE_REVERSE)):
            calls.clear()
            run_of(E.custom(5, lambda s: 0.0, delta), "steepest_descent", move, True, 2)
            assert calls == {(kind, True)}


def module_level_length(s):
    return float(sum(int(v) * k for k, v in enumerate(s)))


class TestPickling:
    def test_round_trips_rebuild_the_evaluation(self):
        ev = E.custom(5, module_level_length)
        for rebuilt in (pickle.loads(pickle.dumps(ev)), copy.deepcopy(ev), copy.copy(ev)):
            p = P.array_problem(M.swap(1), rebuilt)
            p.set_solution([4, 3, 2, 1, 0])
            assert p.eval() == 10.0

    def test_deep_copies_share_the_callables(self):
        calls = []
        ev = E.custom(3, lambda s: calls.append(1) or 0.0)
        P.array_problem(M.swap(1), copy.deepcopy(ev)).eval()
        assert calls == [1]
        with pytest.raises((pickle.PicklingError, AttributeError)):
            pickle.dumps(ev)  # a lambda does not pickle; the evaluation is unchanged
        P.array_problem(M.swap(1), ev).eval()
        assert calls == [1, 1]

    def test_native_callables_do_not_pickle_but_copy(self):
        f = EVALUATE_C(lambda p, n, u: 1.5)
        ev = E.custom(3, f)
        with pytest.raises(ValueError, match="ctypes objects containing pointers cannot be pickled"):
            pickle.dumps(ev)
        assert P.array_problem(M.swap(1), copy.deepcopy(ev)).eval() == 1.5

    @pytest.mark.parametrize("rebuild", [lambda o: pickle.loads(pickle.dumps(o)), copy.deepcopy], ids=["pickle", "deepcopy"])
    def test_problems_and_searches_are_snapshots(self, rebuild):
        # A module-level tour: picklable by name. The copy carries solutions, generator and
        # search state, so it continues exactly as the original does.
        ev = E.custom(len(TOUR), tour_of_module_matrix, delta_of_module_matrix)
        p = P.array_problem(M.swap(3), ev)
        LS.tabu_search(True, p, T.max_iterations(5), 4).run()
        p2 = rebuild(p)
        assert (p2.solution(), p2.best_solution(), p2.eval()) == (p.solution(), p.best_solution(), p.eval())
        s = LS.tabu_search(True, p, T.max_iterations(6), 4)
        s2 = rebuild(s)
        assert [r[1:] for r in s2.run()] == [r[1:] for r in s.run()]
        assert p2.solution() != p.solution()  # the rebuilt search brought its own problem

    def test_native_problems_copy_but_do_not_pickle(self):
        ev, keep = ctypes_tour(TOUR, True)
        p = P.array_problem(M.reverse(1), ev)
        s = LS.steepest_descent(True, p, T.max_iterations(3))
        for obj in (p, s):
            with pytest.raises(ValueError, match="ctypes objects containing pointers cannot be pickled"):
                pickle.dumps(obj)
        s2 = copy.deepcopy(s)
        assert [r[1:] for r in s2.run()] == [r[1:] for r in s.run()]
        del keep


TOUR = random_matrix(random.Random(13), 7, True)


def tour_of_module_matrix(s):
    return tour_length(TOUR, s)


def delta_of_module_matrix(s, kind, i, j):
    return tour_delta(TOUR, True, s, kind, i, j)


def test_grid_gives_the_benchmark_logs():
    from concurrent.futures import ThreadPoolExecutor

    from kestrum_tools import grid

    p = P.array_problem(M.swap(2), E.custom(len(TOUR), tour_of_module_matrix, delta_of_module_matrix))
    algorithms = [LS.steepest_descent(True, p, T.max_iterations(9)), LS.tabu_search(False, p, T.max_iterations(9), 3)]
    with ThreadPoolExecutor(2) as pool:
        got = grid(algorithms, [p], [1, 2], T.max_iterations(9), executor=pool, progress=False)
    expected = kestrum.benchmark(algorithms, [p], T.max_iterations(9), None, [1, 2])
    strip = lambda logs: [[[[r[1:] for r in log] for log in per_seed] for per_seed in per_problem] for per_problem in logs]  # noqa: E731
    assert strip(got) == strip(expected)


class TestFailuresInRuns:
    """A callback that fails stops the run as a criterion would: the exception propagates with
    the partial log, the problem keeps a whole solution and its best, nothing is poisoned."""

    @pytest.mark.parametrize("with_delta, search, move", FAILING_CALLBACKS,
                             ids=[f"{'delta' if w else 'evaluate'}-{s}-{m}" for w, s, m in FAILING_CALLBACKS])
    def test_the_run_stops_and_everything_stays_usable(self, search, move, with_delta):
        d = random_matrix(random.Random(17), 8, True)
        calls = []

        def evaluate(s):
            calls.append(1)
            if not with_delta and len(calls) == 40:
                raise KeyError("evaluate failed")
            return tour_length(d, s)

        def delta(s, kind, i, j):
            calls.append(1)
            if len(calls) == 40:
                return "not a number"
            return tour_delta(d, True, s, kind, i, j)

        p = P.array_problem(MOVES[move](), E.custom(8, evaluate, delta if with_delta else None))
        s = search_of(search, p, True, T.always_true())
        exc = KeyError if not with_delta else TypeError
        with pytest.raises(exc) as info:
            s.run()
        log = info.value.log
        assert len(calls) == 40  # nothing called after the failure
        best, current = log[-1][1], log[-1][2]
        assert sorted(p.solution()) == list(range(8))
        assert best == pytest.approx(tour_length(d, p.best_solution()))
        if search != "steepest_descent":
            assert current == pytest.approx(tour_length(d, p.solution()))
        # Both objects still work: the evaluation is swapped for a sound one and run again.
        p.set_eval_type(E.custom(8, lambda v: tour_length(d, v)))
        assert p.eval() == pytest.approx(tour_length(d, p.solution()))
        s.set_termination(T.max_iterations(3))
        again = s.run()
        assert again[-1][2] == pytest.approx(tour_length(d, p.solution())) or search == "steepest_descent"

    def test_a_callback_reaching_into_its_own_problem(self):
        holder = []

        def evaluate(s):
            holder.append(1)
            if len(holder) == 3:
                holder[0].eval()  # the run holds this problem: refused, not a deadlock
            return 0.0

        p = P.array_problem(M.swap(1), E.custom(4, evaluate))
        holder.insert(0, p)
        with pytest.raises(RuntimeError, match="in use by a running search"):
            LS.steepest_descent(True, p, T.max_iterations(2)).run()
        assert p.eval() == 0.0

    def test_benchmark_stops_with_the_callback_error(self):
        def evaluate(s):
            raise ZeroDivisionError("in evaluate")

        p = P.array_problem(M.swap(1), E.custom(4, evaluate))
        with pytest.raises(ZeroDivisionError):
            kestrum.benchmark([LS.tabu_search(True, p, T.always_true())], [p], None, None, [1, 2])
        p.set_eval_type(E.custom(4, lambda s: 1.0))
        assert p.eval() == 1.0


class TestSavedState:
    def test_the_state_refers_to_callables_carried_beside_it(self):
        # A custom evaluation is written as its tag (6), size and index into the callables
        # that follow the bytes; a problem and a search refer to them the same way.
        ev = E.custom(5, module_level_length)
        restore, (cls, state, callables) = ev.__reduce__()
        assert (cls, state) == ("Evaluation", bytes([1, 5, 6]) + struct.pack("<II", 5, 0))
        assert [(e.callable, d) for e, d in callables] == [(module_level_length, None)]
        p = P.array_problem(M.swap(1), E.custom(len(TOUR), tour_of_module_matrix, delta_of_module_matrix))
        for obj in (p, LS.steepest_descent(True, p, T.max_iterations(1))):
            (_, state, callables) = obj.__reduce__()[1]
            assert [(e.callable, d.callable) for e, d in callables] == [(tour_of_module_matrix, delta_of_module_matrix)]
        assert E.tsp([[0, 1], [1, 0]]).__reduce__()[1][2:] == ()  # other states are bytes alone

    def test_callables_must_match_the_state(self):
        state = bytes([1, 5, 6]) + struct.pack("<II", 5, 1)
        with pytest.raises(ValueError, match="^invalid Evaluation state: score function 1 of 0 given with the state$"):
            E._from_state(state)
        with pytest.raises(ValueError, match="score function 1 of 1 given"):
            E._from_state(state, callables=[(module_level_length, None)])
        ev = E._from_state(state, callables=[(len, None), (module_level_length, None)])
        assert P.array_problem(M.swap(1), ev).eval() == 30.0  # identity: sum of k * k
        with pytest.raises(TypeError, match="callables must be a sequence of"):
            E._from_state(state, callables=[module_level_length])
        with pytest.raises(TypeError, match="positional"):
            E._from_state(state, [(len, None)])
        wrong = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_void_p)(lambda p: 0.0)
        with pytest.raises(TypeError, match="must have the signature double"):
            E._from_state(state, callables=[(len, None), (wrong, None)])

    def test_a_forged_size_in_a_saved_problem_allocates_nothing(self):
        # A custom evaluation's size is a number in the state, not data it holds: a problem state
        # of a few bytes naming a huge size is refused (its callables would be asked to read that
        # many positions) without sizing anything to that number (measured in a fresh process:
        # its peak memory).
        import os
        import subprocess
        import sys

        code = """
import resource, struct, sys, kestrum
from test_custom import module_level_length as f
p = kestrum.Problem.array_problem(kestrum.MoveType.swap(1), kestrum.Evaluation.custom(3, f))
state = p.__reduce__()[1][1]
k = state.index(bytes([6]) + struct.pack("<II", 3, 0))
forged = state[:k] + bytes([6]) + struct.pack("<II", int(sys.argv[1]), 0) + state[k + 9:]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
try:
    kestrum.Problem._from_state(forged, callables=[(f, None)])
except ValueError as e:
    print(e)
print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
"""
        here = os.path.dirname(os.path.abspath(__file__))
        grown = subprocess.run([sys.executable, "-c", code, str(1 << 27)], capture_output=True, text=True, check=True, cwd=here)
        refusal, megabytes = grown.stdout.splitlines()
        assert refusal.endswith("the custom evaluation is of size 134217728, not the 3 positions of the solution")
        assert int(megabytes) < 64  # sizing the solutions to the forged size takes 1 GB
