"""The reconstructor that pickle calls to rebuild kestrum objects.

The kestrum classes report their module as "builtins", so pickle cannot find them by name;
each object's ``__reduce__`` names this function instead, with the class name and the
object's saved state. The state is plain bytes, so pickles travel between processes and
machines (same kestrum version: the state carries a format byte and is refused otherwise).
"""

import kestrum

_CLASSES = frozenset(("LocalSearch", "Problem", "Termination", "IterationsPerTemp", "Cooling", "Evaluation", "MoveType"))


def restore(kind: str, state: bytes) -> object:
    """A new object of the kestrum class named `kind` from its saved `state`."""
    if kind not in _CLASSES:
        raise ValueError(f"{kind!r} is not a kestrum class")
    return getattr(kestrum, kind)._from_state(state)
