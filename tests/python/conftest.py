"""Shared helpers for the Python tests."""

import pytest

import kestrum
import kinds


def _panic_type():
    # PanicException is not a module attribute; a ragged matrix is the cheapest way to meet it.
    try:
        kestrum.Evaluation.tsp([[0], [1, 0]])
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("expected a fatal stop")


PanicException = _panic_type()
POISONED = "called `Result::unwrap()` on an `Err` value: PoisonError { .. }"


@pytest.fixture
def panic():
    return PanicException


def raises_panic(message=None, prefix=None):
    """Context manager: expects PanicException with exactly `message` (or starting with `prefix`)."""

    class _Ctx:
        def __enter__(self):
            self._cm = pytest.raises(PanicException)
            self.info = self._cm.__enter__()
            return self.info

        def __exit__(self, *exc):
            handled = self._cm.__exit__(*exc)
            args = self.info.value.args
            assert len(args) == 1 and isinstance(args[0], str)
            if message is not None:
                assert args[0] == message
            if prefix is not None:
                assert args[0].startswith(prefix), args[0]
            return handled

    return _Ctx()


# One fixture per family of kinds, over the lists of kinds.py: a test that takes one walks
# every kind of the family, and a kind added to the library joins it with its row there.

@pytest.fixture(params=kinds.SEARCHES)
def search_kind(request):
    """Every search, as a kinds.SearchKind: call it like its factory's first three arguments."""
    return kinds.SEARCH_KINDS[request.param]


@pytest.fixture(params=list(kinds.SIMPLE_MOVES))
def move_kind(request):
    """Every simple move type's factory name."""
    return request.param


@pytest.fixture(params=kinds.BUILT_EVALUATIONS)
def evaluation_kind(request):
    """Every evaluation factory that builds from data (one per kind of evaluation)."""
    return request.param


@pytest.fixture(params=list(kinds.CRITERIA))
def criterion_kind(request):
    """Every criterion's factory name."""
    return request.param
