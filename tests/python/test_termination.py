"""Termination, Cooling and IterationsPerTemp: constructors, converters and their messages."""

import pickle
import struct
from fractions import Fraction

import pytest

import kestrum

T = kestrum.Termination


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class TestConstructors:
    def test_signatures(self):
        assert T.always_true.__text_signature__ == "()"
        assert T.must_improve.__text_signature__ == "()"
        assert T.no_improve.__text_signature__ == "(iter_without_imp)"
        assert T.multi_crit_and.__text_signature__ == "(vec)"

    @pytest.mark.parametrize(
        "build",
        [
            lambda: T.max_sec(0),
            lambda: T.max_sec(2**64 - 1),
            lambda: T.always_true(),
            lambda: T.max_iterations(0),
            lambda: T.max_iterations(4294967295),
            lambda: T.max_iterations(True),
            lambda: T.min_temp(-(2**31)),
            lambda: T.min_temp(2**31 - 1),
            lambda: T.min_temp(Index(-5)),
            lambda: T.multi_crit_and([]),
            lambda: T.multi_crit_or([]),
            lambda: T.multi_crit_or((T.max_sec(1), T.multi_crit_and([T.must_improve()]))),
            lambda: T.must_improve(),
            lambda: T.no_improve(0),
            lambda: T.time_limit(0),
            lambda: T.time_limit(-0.0),
            lambda: T.time_limit(0.5),
            lambda: T.time_limit(float("inf")),
            lambda: T.time_limit(Fraction(1, 3)),
            lambda: T.multi_crit_or([T.time_limit(0.25), T.multi_crit_and([T.time_limit(1e300)])]),
        ],
    )
    def test_accepts(self, build):
        assert type(build()) is T

    def test_same_object_twice_in_a_combination(self):
        t = T.max_iterations(3)
        assert type(T.multi_crit_and([t, t])) is T

    def test_schedules(self):
        # Any alpha is taken as it is; the saved bytes hold it after a format and a class byte.
        for alpha in (1, 0.0, -1.0, 2.0, float("nan"), float("inf")):
            saved = kestrum.Cooling.geometric_cooling(alpha).__reduce__()[1][1]
            assert saved == bytes([1, 4]) + struct.pack("<d", alpha)
        assert kestrum.IterationsPerTemp.cnst_iter_temp(0).__reduce__()[1][1] == bytes([1, 3, 0, 0, 0, 0])


class TestRefusals:
    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: T.max_iterations(2**32), OverflowError, "out of range integral type conversion attempted"),
            (lambda: T.min_temp(2**31), OverflowError, "out of range integral type conversion attempted"),
            (lambda: T.min_temp(-(2**31) - 1), OverflowError, "out of range integral type conversion attempted"),
            (lambda: T.min_temp(1.0), TypeError, "argument 'min_temp': 'float' object cannot be interpreted as an integer"),
            (lambda: T.max_sec(-1), OverflowError, None),
            (lambda: T.max_sec(1.5), TypeError, "argument 'max_sec': 'float' object cannot be interpreted as an integer"),
            (lambda: T.no_improve(-1), OverflowError, None),
            (lambda: T.multi_crit_and("ab"), TypeError, "argument 'vec': Can't extract `str` to `Vec`"),
            (lambda: T.multi_crit_and(5), TypeError, "argument 'vec': 'int' object cannot be converted to 'Sequence'"),
            (lambda: T.multi_crit_or([T.always_true(), 1]), TypeError, "argument 'vec': 'int' object cannot be converted to 'Termination'"),
            (lambda: T.multi_crit_or([kestrum.Cooling.geometric_cooling(1)]), TypeError, "argument 'vec': 'Cooling' object cannot be converted to 'Termination'"),
            (lambda: T.always_true(1), TypeError, "Termination.always_true() takes no arguments (1 given)"),
            (lambda: T.must_improve(x=1), TypeError, "Termination.must_improve() takes no keyword arguments"),
            (lambda: T.no_improve(), TypeError, "Termination.no_improve() missing 1 required positional argument: 'iter_without_imp'"),
            (lambda: kestrum.Cooling.geometric_cooling("x"), TypeError, None),
            (lambda: kestrum.IterationsPerTemp.cnst_iter_temp(-1), OverflowError, None),
            (lambda: T.time_limit(-0.5), ValueError, "seconds must be a number of seconds >= 0, not -0.5"),
            (lambda: T.time_limit(-float("inf")), ValueError, "seconds must be a number of seconds >= 0, not -inf"),
            (lambda: T.time_limit(float("nan")), ValueError, "seconds must be a number of seconds >= 0, not nan"),
            (lambda: T.time_limit("1"), TypeError, "argument 'seconds': must be real number, not str"),
            (lambda: T.time_limit(), TypeError, "Termination.time_limit() missing 1 required positional argument: 'seconds'"),
            (lambda: T.time_limit(1, 2), TypeError, "Termination.time_limit() takes 1 positional arguments but 2 were given"),
        ],
        ids=lambda v: None,
    )
    def test_refuses(self, call, exc, message):
        with pytest.raises(exc) as err:
            call()
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message


class TestTimeLimit:
    """Fractional seconds, wherever max_sec goes; the times are generous, never asserted tight."""

    def tour_problem(self):
        points = [((k * 7919) % 101 / 101, (k * 104729) % 103 / 103) for k in range(60)]
        return kestrum.Problem.array_problem(kestrum.MoveType.reverse(1), kestrum.Evaluation.tsp_from_points(points))

    def test_text_signature(self):
        assert T.time_limit.__text_signature__ == "(seconds)"

    @pytest.mark.parametrize("combine", [lambda t: t, lambda t: T.multi_crit_and([T.always_true(), t]),
                                         lambda t: T.multi_crit_or([t, T.max_iterations(0)])],
                             ids=["alone", "and", "or"])
    def test_ends_a_search_that_runs_for_ever(self, combine):
        # Tabu search with a huge list never ends on its own here; only the clock stops it.
        p = self.tour_problem()
        log = kestrum.LocalSearch.tabu_search(True, p, combine(T.time_limit(0.2)), 10**6).run()
        assert 0.2e9 <= log[-1][0] < 30e9

    def test_zero_stops_before_the_first_step_and_each_run_rearms_it(self):
        p = self.tour_problem()
        assert kestrum.LocalSearch.tabu_search(True, p, T.time_limit(0)).run()[-1][3] == 0
        search = kestrum.LocalSearch.tabu_search(True, p, T.time_limit(0.05), 10**6)
        first, second = search.run(), search.run()
        assert first[-1][3] > 0 and second[-1][3] > 0

    def test_pickles_and_replaces_criteria_in_benchmark(self):
        crit = T.multi_crit_and([T.time_limit(0.05), T.no_improve(10**6)])
        twin = pickle.loads(pickle.dumps(crit))
        assert twin.__reduce__()[1] == crit.__reduce__()[1]
        (logs,) = kestrum.benchmark([kestrum.LocalSearch.tabu_search(True, self.tour_problem(), T.max_iterations(1), 10**6)],
                                    [self.tour_problem()], twin, runs=2)[0]
        assert all(log[-1][0] >= 0.05e9 for log in logs)
