"""Termination, Cooling and IterationsPerTemp: constructors, converters and their messages."""

import pytest

import kestrum

T = kestrum.Termination


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class TestConstructors:
    def test_method_order_and_signatures(self):
        names = [n for n in vars(T) if not n.startswith("_")]
        assert names == [
            "max_sec",
            "always_true",
            "max_iterations",
            "min_temp",
            "multi_crit_and",
            "multi_crit_or",
            "must_improve",
            "no_improve",
        ]
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
        ],
    )
    def test_accepts(self, build):
        assert type(build()) is T

    def test_same_object_twice_in_a_combination(self):
        t = T.max_iterations(3)
        assert type(T.multi_crit_and([t, t])) is T

    def test_schedules(self):
        assert type(kestrum.Cooling.geometric_cooling(1)) is kestrum.Cooling
        for alpha in (0.0, -1.0, 2.0, float("nan"), float("inf")):
            assert type(kestrum.Cooling.geometric_cooling(alpha)) is kestrum.Cooling
        assert type(kestrum.IterationsPerTemp.cnst_iter_temp(0)) is kestrum.IterationsPerTemp


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
        ],
        ids=lambda v: None,
    )
    def test_refuses(self, call, exc, message):
        with pytest.raises(exc) as err:
            call()
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message
