"""Carrying the callables of evaluations built with ``Evaluation.custom`` through pickles and copies.

A saved state refers to each custom evaluation's score function by an index; ``__reduce__``
puts the callables after the state, as (evaluate, delta) pairs, or (evaluate, delta, delta_row)
triples when there is a row function, each callable wrapped in ``SharedCallable``.
Pickling pickles the callables (a module-level function pickles by name; a lambda, a ctypes
pointer, a ``scipy.LowLevelCallable`` or a numba ``cfunc`` does not, and the pickler's error
is raised). ``copy.deepcopy`` shares them, as it shares functions: the copy is a new
evaluation over the same callables.
"""


class SharedCallable:
    """A callable carried through a pickle or a deep copy; copies share it."""

    __slots__ = ("callable",)

    def __init__(self, callable: object) -> None:
        self.callable = callable

    def __deepcopy__(self, memo: dict) -> "SharedCallable":
        return self

    def __reduce__(self) -> tuple:
        return (SharedCallable, (self.callable,))
