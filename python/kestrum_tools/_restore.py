"""The reconstructor that pickle calls to rebuild kestrum objects.

The kestrum classes report their module as "builtins", so pickle cannot find them by name;
each object's ``__reduce__`` names this function instead, with the class name and the
object's saved state. The state is plain bytes (a custom evaluation's callables, which are
not, follow it as objects), so pickles travel between processes and
machines (same kestrum version: the state carries a format byte and is refused otherwise).
"""

import kestrum

_CLASSES = frozenset(("LocalSearch", "Problem", "Termination", "IterationsPerTemp", "Cooling", "Evaluation", "MoveType"))


def restore(kind: str, state: bytes, callables: tuple = ()) -> object:
    """A new object of the kestrum class named `kind` from its saved `state`.

    `callables` are the (evaluate, delta) pairs, or (evaluate, delta, delta_row) triples, of
    the custom evaluations the state refers to, each callable wrapped in a
    ``kestrum_tools._custom.SharedCallable``.
    """
    if kind not in _CLASSES:
        raise ValueError(f"{kind!r} is not a kestrum class")
    if not callables:
        return getattr(kestrum, kind)._from_state(state)
    entries = [tuple(None if c is None else c.callable for c in entry) for entry in callables]
    return getattr(kestrum, kind)._from_state(state, callables=entries)
