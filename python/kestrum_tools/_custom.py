"""Rebuilding evaluations built from callables (``Evaluation.custom``) after pickling or copying.

Their state is not bytes but the callables themselves: ``__reduce__`` names
``custom_evaluation`` with the size and the two callables, each wrapped in a
``SharedCallable``. A Problem or LocalSearch holding such an evaluation is saved as bytes with a
stand-in evaluation, and ``custom_problem``/``custom_search`` put the evaluation back. Pickling pickles the callables (a module-level function pickles by name; a
ctypes pointer, a ``scipy.LowLevelCallable`` or a numba ``cfunc`` does not, and the pickler's
error is raised). ``copy.deepcopy`` shares them, as it shares functions: the copy is a new
evaluation over the same callables.
"""

import kestrum


class SharedCallable:
    """A callable carried through a pickle or a deep copy; copies share it."""

    __slots__ = ("callable",)

    def __init__(self, callable: object) -> None:
        self.callable = callable

    def __deepcopy__(self, memo: dict) -> "SharedCallable":
        return self

    def __reduce__(self) -> tuple:
        return (SharedCallable, (self.callable,))


def custom_evaluation(size: int, evaluate: SharedCallable, delta: SharedCallable | None) -> kestrum.Evaluation:
    """The evaluation ``Evaluation.custom(size, evaluate, delta)`` over the carried callables."""
    return kestrum.Evaluation.custom(size, evaluate.callable, None if delta is None else delta.callable)


def custom_problem(state: bytes, size: int, evaluate: SharedCallable, delta: SharedCallable | None) -> kestrum.Problem:
    """A problem from its saved `state` (held with a stand-in evaluation) and its custom evaluation."""
    problem = kestrum.Problem._from_state(state)
    problem.set_eval_type(custom_evaluation(size, evaluate, delta))
    return problem


def custom_search(
    state: bytes, problem_state: bytes, size: int, evaluate: SharedCallable, delta: SharedCallable | None
) -> kestrum.LocalSearch:
    """A search from its saved `state`, given back its problem with the custom evaluation."""
    search = kestrum.LocalSearch._from_state(state)
    search.set_problem(custom_problem(problem_state, size, evaluate, delta))
    return search
