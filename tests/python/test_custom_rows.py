"""Row functions of custom evaluations (`delta_row`): full scans score a row of moves per call
and give the logs of the per-move delta and of Evaluation.tsp; failures stop the run; the
function travels through pickles."""

import ctypes
import json
import pickle
import random
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import kestrum
from test_custom import (DELTA_MOVES, MOVES, TOUR, TOUR_ALIKE, random_matrix, run_of, search_of, tour_delta, tour_length,
                         tour_of_module_matrix)

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

DELTA_ROW_C = ctypes.CFUNCTYPE(
    None,
    ctypes.POINTER(ctypes.c_uint32),
    ctypes.c_ssize_t,
    ctypes.c_int,
    ctypes.c_ssize_t,
    ctypes.c_ssize_t,
    ctypes.c_ssize_t,
    ctypes.POINTER(ctypes.c_double),
    ctypes.c_void_p,
)


def row_of(d, symmetric, calls=None, as_array=False):
    def delta_row(s, kind, i, j_begin, j_end):
        if calls is not None:
            calls.append((kind, i, j_begin, j_end))
        out = [tour_delta(d, symmetric, s, kind, i, j) for j in range(j_begin, j_end)]
        return np.array(out) if as_array else out

    return delta_row


def module_row(s, kind, i, j_begin, j_end):
    return [tour_delta(TOUR, True, s, kind, i, j) for j in range(j_begin, j_end)]


class TestConstruction:
    def test_keyword_only_and_refusals(self):
        with pytest.raises(TypeError, match=r"^Evaluation.custom\(\) takes from 2 to 3 positional arguments but 4 were given$"):
            E.custom(3, len, None, len)
        with pytest.raises(TypeError, match="^argument 'delta_row': 'int' object is not callable$"):
            E.custom(3, len, delta_row=5)
        delta_c = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_uint32), ctypes.c_ssize_t, ctypes.c_int, ctypes.c_ssize_t, ctypes.c_ssize_t, ctypes.c_void_p)
        per_move = delta_c(lambda *a: 0.0)
        with pytest.raises(TypeError) as info:
            E.custom(3, len, delta_row=per_move)
        assert str(info.value) == (
            "argument 'delta_row': a native function must have the signature void (const uint32_t *solution, "
            "intptr_t n, int kind, intptr_t i, intptr_t j_begin, intptr_t j_end, double *out, void *user_data), "
            "not 'double (unsigned int *, long, int, long, long, void *)'"
        )
        # A row function where a per-move delta belongs is refused the same way.
        row = DELTA_ROW_C(lambda *a: None)
        with pytest.raises(TypeError, match=r"^argument 'delta': .*, not 'void \(unsigned int \*, long, int, long, long, long, double \*, void \*\)'$"):
            E.custom(3, len, row)


class TestTourEquivalence:
    @pytest.mark.parametrize("search, move", TOUR_ALIKE, ids=[f"{s}-{m}" for s, m in TOUR_ALIKE])
    @pytest.mark.parametrize("with_delta", [True, False], ids=["with-delta", "row-only"])
    def test_python_rows(self, search, move, with_delta):
        d = random_matrix(random.Random(5), 9, False)
        delta = (lambda s, kind, i, j: tour_delta(d, False, s, kind, i, j)) if with_delta else None
        evaluation = E.custom(9, lambda s: tour_length(d, s), delta, delta_row=row_of(d, False, as_array=not with_delta))
        for minimize in (True, False):
            expected, p_tsp = run_of(E.tsp(d), search, move, minimize)
            got, p_custom = run_of(evaluation, search, move, minimize)
            assert got == expected
            assert p_custom.best_solution() == p_tsp.best_solution()

    def test_scans_call_the_row_function_once_per_row(self):
        d = random_matrix(random.Random(9), 7, True)
        rows, deltas = [], []

        def delta(s, kind, i, j):
            deltas.append((i, j))
            return tour_delta(d, True, s, kind, i, j)

        evaluation = E.custom(7, lambda s: tour_length(d, s), delta, delta_row=row_of(d, True, rows))
        p = P.array_problem(M.swap_tsp(7), evaluation)
        LS.steepest_descent(True, p, T.max_iterations(1)).run()
        # swap_tsp keeps position 0: rows i = 1..5, each of j = i+1..6; the delta is not called.
        assert rows == [(kestrum.MOVE_SWAP, i, i + 1, 7) for i in range(1, 6)]
        assert deltas == []
        # Moves scored one at a time (annealing proposals) use the delta, or without one a
        # row of one move.
        annealing = search_of("simulated_annealing", p, True, T.max_iterations(30))
        annealing.run()
        assert len(deltas) == 30 and len(rows) == 5
        p.set_eval_type(E.custom(7, lambda s: tour_length(d, s), delta_row=row_of(d, True, rows)))
        rows.clear()
        annealing.run()
        assert len(rows) == 30 and all(b + 1 == e for _, _, b, e in rows)

    def test_native_rows(self):
        d = random_matrix(random.Random(3), 8, True)

        @DELTA_ROW_C
        def delta_row(p, n, kind, i, j_begin, j_end, out, _):
            for j in range(j_begin, j_end):
                out[j - j_begin] = tour_delta(d, True, p[:n], kind, i, j)

        evaluation = E.custom(8, lambda s: tour_length(d, s), delta_row=delta_row)
        for search in ("steepest_descent", "tabu_search", "simulated_annealing"):
            for move in ("swap", "reverse"):
                assert run_of(evaluation, search, move, True)[0] == run_of(E.tsp(d), search, move, True)[0]


class TestFailures:
    @pytest.mark.parametrize(
        "result, exc, message",
        [
            ([1.0, 2.0], ValueError, r"^delta_row must return 3 numbers \(one per j in range\(j_begin, j_end\)\), not 2$"),
            (np.zeros(4), ValueError, "not 4$"),
            ([1.0, "x", 2.0], TypeError, "^delta_row must return a number, not 'str'$"),
            (7.0, TypeError, "^delta_row must return a sequence of numbers, not 'float'$"),
        ],
        ids=["short", "long-array", "not-a-number", "not-a-sequence"],
    )
    def test_bad_rows_stop_the_run(self, result, exc, message):
        p = P.array_problem(M.swap(4), E.custom(4, lambda s: float(s[0]), delta_row=lambda *a: result))
        with pytest.raises(exc, match=message):
            LS.steepest_descent(True, p, T.max_iterations(2)).run()
        assert sorted(p.solution()) == [0, 1, 2, 3]

    def test_rows_of_other_numbers_are_read(self):
        for result in ([1, 2, 3], (1.0, 2, np.float32(3)), np.arange(3, dtype=np.int64), np.arange(6.0)[::2]):
            p = P.array_problem(M.swap(4), E.custom(4, lambda s: 0.0, delta_row=lambda s, k, i, b, e, r=result: r[: e - b]))
            assert LS.steepest_descent(False, p, T.max_iterations(1)).run()[-1][1] in (0.0, 1.0, 2.0, 3.0, 4.0)

    @pytest.mark.parametrize("search, move", DELTA_MOVES, ids=[f"{s}-{m}" for s, m in DELTA_MOVES])
    def test_an_exception_stops_the_run_and_nothing_is_poisoned(self, search, move):
        d = random_matrix(random.Random(17), 8, True)
        calls = []

        def delta_row(s, kind, i, j_begin, j_end):
            calls.append(1)
            if len(calls) == 12:
                raise KeyError("row failed")
            return [tour_delta(d, True, s, kind, i, j) for j in range(j_begin, j_end)]

        p = P.array_problem(MOVES[move](), E.custom(8, lambda s: tour_length(d, s), delta_row=delta_row))
        s = search_of(search, p, True, T.always_true())
        with pytest.raises(KeyError) as info:
            s.run()
        assert len(calls) == 12  # nothing called after the failure
        assert info.value.log[-1][1] == pytest.approx(tour_length(d, p.best_solution()))
        assert sorted(p.solution()) == list(range(8))
        p.set_eval_type(E.custom(8, lambda v: tour_length(d, v), delta_row=row_of(d, True)))
        s.set_termination(T.max_iterations(3))
        s.run()
        assert p.eval() == pytest.approx(tour_length(d, p.solution()))


    def test_a_row_changed_while_it_is_read_is_read_as_returned(self):
        # Each number's __float__ empties or grows the list it sits in: the row is read as it
        # was returned. In a child process: a read of the emptied list would crash.
        code = textwrap.dedent(
            """
            import json
            from kestrum import Evaluation as E, LocalSearch as LS, MoveType as M, Problem as P, Termination as T

            class Meddling:
                def __init__(self, row, value, how):
                    self.row, self.value, self.how = row, value, how
                def __float__(self):
                    self.row.clear() if self.how == "clear" else self.row.append(self)
                    return self.value

            def rows(how):
                def delta_row(s, kind, i, j_begin, j_end):
                    row = []
                    row.extend(Meddling(row, float((i + 1) * j - s[j]), how) for j in range(j_begin, j_end))
                    return row
                return delta_row

            def plain_row(s, kind, i, j_begin, j_end):
                return [float((i + 1) * j - s[j]) for j in range(j_begin, j_end)]

            logs = []
            for row in (plain_row, rows("clear"), rows("append")):
                p = P.array_problem(M.swap(1), E.custom(7, lambda s: 0.0, delta_row=row))
                logs.append([r[1:] for r in LS.steepest_descent(True, p, T.max_iterations(3)).run()])
            print(json.dumps(logs))
            """
        )
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr[-2000:]
        plain, cleared, appended = json.loads(done.stdout)
        assert cleared == plain and appended == plain and len(plain) > 1

    def test_a_native_row_written_past_its_end_stops_the_run(self):
        # One number too many, through a scan's rows and through single moves (annealing).
        code = textwrap.dedent(
            """
            import ctypes
            from kestrum import Cooling, Evaluation as E, IterationsPerTemp, LocalSearch as LS, MoveType as M, Problem as P, Termination as T
            c = ctypes
            DELTA_ROW_C = c.CFUNCTYPE(None, c.POINTER(c.c_uint32), c.c_ssize_t, c.c_int, c.c_ssize_t, c.c_ssize_t, c.c_ssize_t, c.POINTER(c.c_double), c.c_void_p)

            @DELTA_ROW_C
            def overrun(p, n, kind, i, j_begin, j_end, out, _):
                for k in range(j_end - j_begin + 1):
                    out[k] = 1.0

            for build in (
                lambda p: LS.steepest_descent(True, p, T.max_iterations(2)),
                lambda p: LS.simulated_annealing(10, True, p, T.max_iterations(20), Cooling.geometric_cooling(0.9), IterationsPerTemp.cnst_iter_temp(5)),
            ):
                p = P.array_problem(M.swap(1), E.custom(6, lambda s: 0.0, delta_row=overrun))
                try:
                    build(p).run()
                except BaseException as e:
                    print(type(e).__name__, e)
                else:
                    print("no error")
            """
        )
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr[-2000:]
        message = "PanicException delta_row wrote past the end of its row: out holds j_end - j_begin numbers"
        assert done.stdout.splitlines() == [message, message]


class TestPickling:
    def test_the_row_function_travels_with_the_state(self):
        ev = E.custom(len(TOUR), tour_of_module_matrix, delta_row=module_row)
        _, (cls, state, callables) = ev.__reduce__()
        assert [tuple(c and c.callable for c in entry) for entry in callables] == [(tour_of_module_matrix, None, module_row)]
        p = P.array_problem(M.reverse(2), ev)
        s = LS.steepest_descent(True, p, T.max_iterations(4))
        s2 = pickle.loads(pickle.dumps(s))
        assert [r[1:] for r in s2.run()] == [r[1:] for r in s.run()] == [r[1:] for r in LS.steepest_descent(True, P.array_problem(M.reverse(2), E.tsp(TOUR)), T.max_iterations(4)).run()]
        # Without a row function the callables stay pairs; _from_state takes either.
        assert len(E.custom(3, tour_of_module_matrix).__reduce__()[1][2][0]) == 2
        rebuilt = E._from_state(state, callables=[(tour_of_module_matrix, None, module_row)])
        assert P.array_problem(M.swap(1), rebuilt).eval() == tour_length(TOUR, list(range(len(TOUR))))
        with pytest.raises(TypeError, match="argument 'delta_row'|must have the signature void"):
            E._from_state(state, callables=[(tour_of_module_matrix, None, ctypes.CFUNCTYPE(ctypes.c_double)(lambda: 0.0))])
        with pytest.raises(TypeError, match="triples"):
            E._from_state(state, callables=[(tour_of_module_matrix, None, None, None)])

