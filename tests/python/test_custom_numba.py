"""Custom evaluations from numba cfuncs: the tour objective reproduces Evaluation.tsp's logs, and
numba's own objects are taken as they come (the cfunc, its ctypes view, a LowLevelCallable)."""

import random

import numpy as np
import pytest

import kestrum
from test_custom import TOUR_ALIKE, random_matrix, run_of

numba = pytest.importorskip("numba")
from numba import carray, cfunc, njit, types  # noqa: E402

E, M, P = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem

EVALUATE = types.float64(types.CPointer(types.uint32), types.intp, types.voidptr)
DELTA = types.float64(types.CPointer(types.uint32), types.intp, types.intc, types.intp, types.intp, types.voidptr)
DELTA_ROW = types.void(types.CPointer(types.uint32), types.intp, types.intc, types.intp, types.intp, types.intp, types.CPointer(types.float64), types.voidptr)


def tour_cfuncs(d):
    """Tour length and the symmetric tour delta, with the built-in sums in the built-in order:
    measure the changed edges, then the same edges on the moved array."""

    @cfunc(EVALUATE)
    def evaluate(solution, n, user_data):
        s = carray(solution, (n,))
        total = 0.0
        for k in range(n - 1):
            total = total + d[s[k], s[k + 1]]
        return total + d[s[n - 1], s[0]]

    @njit
    def move_delta(s, n, kind, i, j):
        t = s.copy()
        before = 0.0
        after = 0.0
        for rep in range(2):
            a = d[t[i - 1] if i > 0 else t[n - 1], t[i]]
            e = d[t[j], t[(j + 1) % n]]
            if kind == 1:
                total = (a + 0.0) + d[t[i], t[i + 1]]
                if j - 1 != i:
                    total = total + d[t[j - 1], t[j]]
                total = total + e
            else:
                total = (a + 0.0) + e
            if rep == 0:
                before = total
                if kind == 1:
                    t[i], t[j] = t[j], t[i]
                else:
                    t[i : j + 1] = t[i : j + 1][::-1].copy()
            else:
                after = total
        return after - before

    @cfunc(DELTA)
    def delta(solution, n, kind, i, j, user_data):
        return move_delta(carray(solution, (n,)), n, kind, i, j)

    @cfunc(DELTA_ROW)
    def delta_row(solution, n, kind, i, j_begin, j_end, out, user_data):
        s = carray(solution, (n,))
        o = carray(out, (j_end - j_begin,))
        for j in range(j_begin, j_end):
            o[j - j_begin] = move_delta(s, n, kind, i, j)

    tour_cfuncs.delta_row = delta_row
    return evaluate, delta


@pytest.fixture(scope="module")
def tour():
    d = np.array(random_matrix(random.Random(21), 9, True))
    return d, tour_cfuncs(d)


@pytest.mark.parametrize("search, move", TOUR_ALIKE, ids=[f"{s}-{m}" for s, m in TOUR_ALIKE])
def test_cfunc_tour_logs_are_the_builtin_logs(tour, search, move):
    d, (evaluate, delta) = tour
    for minimize in (True, False):
        expected, p_tsp = run_of(E.tsp(d), search, move, minimize)
        got, p_custom = run_of(E.custom(9, evaluate, delta), search, move, minimize)
        assert got == expected
        assert p_custom.best_solution() == p_tsp.best_solution()
        rows, _ = run_of(E.custom(9, evaluate, delta_row=tour_cfuncs.delta_row), search, move, minimize)
        assert rows == expected


def test_every_form_of_a_row_cfunc_is_accepted(tour):
    from scipy import LowLevelCallable

    d, (evaluate, delta) = tour
    row = tour_cfuncs.delta_row
    expected = run_of(E.tsp(d), "steepest_descent", "reverse", True)[0]
    for form in (row, row.ctypes, LowLevelCallable(row.ctypes)):
        assert run_of(E.custom(9, evaluate, delta, delta_row=form), "steepest_descent", "reverse", True)[0] == expected
    with pytest.raises(TypeError, match=r"^argument 'delta_row': .*double \*out, void \*user_data\), not 'double \(unsigned int \*, long, int, long, long, void \*\)'$"):
        E.custom(9, evaluate, delta_row=delta)


def test_every_form_of_a_cfunc_is_accepted(tour):
    from scipy import LowLevelCallable

    d, (evaluate, delta) = tour
    expected = P.array_problem(M.swap(1), E.tsp(d)).eval()
    for ev, de in ((evaluate, delta), (evaluate.ctypes, delta.ctypes), (LowLevelCallable(evaluate.ctypes), LowLevelCallable(delta.ctypes))):
        assert P.array_problem(M.swap(1), E.custom(9, ev, de)).eval() == expected


def test_a_cfunc_with_the_wrong_signature_is_refused(tour):
    _, (evaluate, delta) = tour
    with pytest.raises(TypeError, match=r"^argument 'evaluate': .*, not 'double \(unsigned int \*, long, int, long, long, void \*\)'$"):
        E.custom(9, delta)
    with pytest.raises(TypeError, match=r"^argument 'delta': .*, not 'double \(unsigned int \*, long, void \*\)'$"):
        E.custom(9, evaluate, evaluate)
