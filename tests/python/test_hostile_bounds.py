"""Integers at every conversion bound, huge sizes and counts, forged lengths: each ends in a result
or the exception the interface names, before anything is allocated or run (tests/README.md
keeps the table of these cases)."""

import pytest

import kestrum
from conftest import POISONED, raises_panic
from hostile import (
    E, M, P, T, LS, Cooling, PerTemp, numpy, UNDER_ASAN, NAN, INF, OUT_OF_RANGE, check_log,
    tsp_matrix, small_problem, Index,
)


# ---------------------------------------------------------------- integers at their bounds

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


U64_SITES = {
    "MoveType.swap(seed)": (lambda v: M.swap(v), "seed"),
    "MoveType.reverse(seed)": (lambda v: M.reverse(seed=v), "seed"),
    "MoveType.swap_tsp(seed)": (lambda v: M.swap_tsp(v), "seed"),
    "Problem.set_seed(seed)": (lambda v: small_problem().set_seed(v), "seed"),
    "Problem.shuffle(seed)": (lambda v: small_problem().shuffle(v), "seed"),
    "Termination.max_sec(max_sec)": (lambda v: T.max_sec(v), "max_sec"),
    "benchmark(seeds)": (lambda v: kestrum.benchmark([], [], seeds=[1, v]), "seeds"),
}


U32_SITES = {
    "Termination.max_iterations": (lambda v: T.max_iterations(v), "max_iterations"),
    "Termination.no_improve": (lambda v: T.no_improve(v), "iter_without_imp"),
    "IterationsPerTemp.cnst_iter_temp": (lambda v: PerTemp.cnst_iter_temp(v), "iterations"),
    "LocalSearch.simulated_annealing(start_temp)": (
        lambda v: LS.simulated_annealing(v, True, small_problem(), T.always_true(), Cooling.geometric_cooling(0.5),
                                         PerTemp.cnst_iter_temp(1)), "start_temp"),
    "LocalSearch.tabu_search(tabu_list_size)": (
        lambda v: LS.tabu_search(True, small_problem(), T.always_true(), v), "tabu_list_size"),
}


class TestIntegerBounds:
    @pytest.mark.parametrize("site", U64_SITES)
    @pytest.mark.parametrize("value, expected", U64_BOUND, ids=[f"u64-{k}" for k in range(len(U64_BOUND))])
    def test_unsigned_64_bit_bounds(self, site, value, expected):
        call, param = U64_SITES[site]
        _outcome(lambda: call(value), expected, param)

    @pytest.mark.parametrize("site", U32_SITES)
    @pytest.mark.parametrize("value, expected", U32_BOUND, ids=[f"u32-{k}" for k in range(len(U32_BOUND))])
    def test_unsigned_word_bounds(self, site, value, expected):
        call, param = U32_SITES[site]
        is_own_bound = expected is OverflowError and isinstance(value, (int, Index)) and not isinstance(value, bool) \
            and int(value.value if isinstance(value, Index) else value) >= 2**32 \
            and int(value.value if isinstance(value, Index) else value) < 2**64
        _outcome(lambda: call(value), expected, param, exact_overflow=is_own_bound)

    @pytest.mark.parametrize("value, expected", I32_BOUND, ids=[f"i32-{k}" for k in range(len(I32_BOUND))])
    def test_signed_word_bounds(self, value, expected):
        _outcome(lambda: T.min_temp(value), expected, "min_temp")

    def test_extreme_values_run(self):
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
    def test_huge_run_counts_stop_before_anything_runs(self, call, message):
        with raises_panic(message):
            call()

    def test_huge_tabu_list_stops_the_run_and_poisons(self):
        p = small_problem()
        s = LS.tabu_search(True, p, T.max_iterations(3), 2**32 - 1)
        with raises_panic("capacity overflow"):
            s.run()
        with raises_panic(POISONED):
            p.eval()

    @pytest.mark.skipif(numpy is None, reason="numpy is not installed")
    @pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer aborts on allocations beyond its limit")
    @pytest.mark.parametrize("rows", [2**45, 2**60 - 1])
    def test_allocation_failure_is_memory_error(self, rows):
        # A numpy array of `rows` empty rows costs nothing, and neither does an evaluation of it;
        # a problem of that many positions cannot be held (or numbered by 32-bit words): it must
        # come back as MemoryError, with the process intact.
        empty_rows = numpy.zeros((rows, 0))
        with pytest.raises(MemoryError):
            P.array_problem(M.swap(1), E.qap(empty_rows, empty_rows))
        assert P.array_problem(M.swap(1), E.tsp(numpy.zeros((3, 3)))).eval() == 0.0

    def test_forged_state_lengths_are_refused_without_allocating(self):
        good = E.tsp(tsp_matrix(3)).__reduce__()[1][1]
        forged = bytearray(good)
        forged[3:11] = (2**63).to_bytes(8, "little")  # the row count
        with pytest.raises(ValueError, match="does not fit"):
            E._from_state(bytes(forged))
        with pytest.raises(ValueError):
            P._from_state(b"\x01\x01" + b"\xff" * 64)

    def test_size_lies_in_library_files(self, tmp_path):
        tsplib = tmp_path / "big.tsp"
        tsplib.write_text("TYPE: TSP\nDIMENSION: 4294967295\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
                          "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1\n1 0\nEOF\n")
        with pytest.raises(ValueError):
            E.tsp_from_tsplib(str(tsplib))
        qaplib = tmp_path / "big.dat"
        qaplib.write_text("4294967295\n0 1\n1 0\n")
        with pytest.raises(ValueError):
            E.qap_from_qaplib(str(qaplib))
