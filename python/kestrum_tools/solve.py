"""One call from an objective to an answer: problem, search, criterion and run, with a result."""

from __future__ import annotations

import inspect
import operator
import secrets
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Literal

import kestrum
from kestrum_tools.run import run

__all__ = ["DEFAULT_TIME_LIMIT", "SolveResult", "auto_method", "methods", "solve"]

Log = list[tuple[int, float, float, int]]

# The budget of a call given neither time_limit nor max_iterations, in seconds.
DEFAULT_TIME_LIMIT = 1.0

# What method="auto" runs on each family of evaluation. A symmetric tour gets the dedicated
# 2-opt and Or-opt local search of iterated local search; an asymmetric one is an "other".
_AUTO: dict[str, str] = {
    "tour": "iterated_local_search",
    "packing": "iterated_local_search",
    "assignment": "robust_tabu_search",
    "other": "annealing",
}

_PACKING = ("bin_packing", "empty_bins", "empty_space", "empty_space_exp")

# The move type each family gets when `moves` is None (iterated local search on a symmetric
# tour uses its own moves and ignores it).
_DEFAULT_MOVES: dict[str, str] = {"tour": "reverse", "packing": "swap", "assignment": "swap", "other": "swap"}

# The simple move types, by their factories' names (every public factory of MoveType but the
# combination of them), so that a move type added to the library is accepted here at once.
_MOVE_TYPES = tuple(
    name for name, f in vars(kestrum.MoveType).items()
    if isinstance(f, staticmethod) and not name.startswith("_") and name != "multi_neighbor"
)

# Why a search stops when its criterion did not stop it.
_OWN_END: dict[str, str] = {
    "steepest_descent": "local optimum reached: no move improves",
    "tabu_search": "every neighbour is tabu",
    "vns": "no neighbourhood improves any more",
}

# simulated_annealing's settings, by the names solve takes for them, and their defaults.
_ANNEALING_DEFAULTS: dict[str, Any] = {"start_temp": 100, "alpha": 0.95, "iterations_temperature": 1000}


def _family(evaluation: kestrum.Evaluation) -> str:
    kind = evaluation.kind
    if kind in ("tsp", "tsp_points"):
        return "tour" if evaluation.symmetric else "other"
    if kind in _PACKING:
        return "packing"
    if kind == "qap":
        return "assignment"
    return "other"


def auto_method(evaluation: kestrum.Evaluation) -> str:
    """The search ``solve(evaluation)`` runs with ``method="auto"``.

    Iterated local search for symmetric tours (2-opt plus Or-opt over near neighbours,
    kicked by double bridges) and for bin packing (on ``Evaluation.bin_packing`` it moves
    and exchanges items between bins to empty the least-filled one); robust tabu search for
    assignments (its step costs O(n^2) on integer data); annealing, whose real-valued
    temperature calibrates itself and cools over the budget, otherwise (asymmetric tours,
    your own objectives).
    """
    return _AUTO[_family(evaluation)]


def _is_factory(name: str) -> bool:
    # Every search's factory but annealing's starts with these three parameters.
    if name == "simulated_annealing":
        return True
    if name.startswith("_"):
        return False
    signature = getattr(getattr(kestrum.LocalSearch, name, None), "__text_signature__", None) or ""
    return signature.startswith("(minimize, problem, termination_function")


def methods() -> list[str]:
    """The names ``solve`` accepts as ``method`` besides ``"auto"``: every search of
    ``kestrum.LocalSearch``."""
    return sorted(name for name in vars(kestrum.LocalSearch) if _is_factory(name))


def _settings_of(method: str) -> list[str]:
    """The options a search takes: its factory's parameters after the criterion."""
    if method == "simulated_annealing":
        return list(_ANNEALING_DEFAULTS)
    parameters = list(inspect.signature(getattr(kestrum.LocalSearch, method)).parameters)
    return parameters[3:]


@dataclass(frozen=True, repr=False)
class SolveResult:
    """What ``solve`` found.

    Attributes:
        x: the best permutation found (a list of ints).
        fun: its score.
        nit: the iterations the search ran (what one is depends on the search: see
            ``Termination.max_iterations``).
        time: the run's seconds.
        log: the run's log, rows of (elapsed_ns, best, current, iteration); by default only
            the start row, the rows where the best improved and the final row.
        method: the search that ran.
        message: why it stopped.
        seed: the seed the run used (drawn from the OS when none was given): pass it back as
            ``seed`` to repeat the run.
    """

    x: list[int]
    fun: float
    nit: int
    time: float
    log: Log
    method: str
    message: str
    seed: int

    def __repr__(self) -> str:
        x = repr(self.x) if len(self.x) <= 12 else f"[{', '.join(map(str, self.x[:10]))}, ...] ({len(self.x)} entries)"
        fields = {
            "message": self.message,
            "method": self.method,
            "fun": repr(self.fun),
            "x": x,
            "nit": repr(self.nit),
            "time": f"{self.time:.3f}",
            "log": f"<{len(self.log)} rows of (elapsed_ns, best, current, iteration)>",
            "seed": repr(self.seed),
        }
        return "\n".join(f"{name:>8}: {value}" for name, value in fields.items())


def _budget(time_limit: float | None, max_iterations: int | None) -> tuple[kestrum.Termination, float | None]:
    """The criterion, and the time limit in force."""
    if time_limit is None and max_iterations is None:
        time_limit = DEFAULT_TIME_LIMIT
    criteria = []
    if time_limit is not None:
        if isinstance(time_limit, bool) or not isinstance(time_limit, (int, float)):
            raise TypeError(f"time_limit must be a number of seconds, not {type(time_limit).__name__}")
        if not time_limit >= 0:
            raise ValueError(f"time_limit must be a number of seconds >= 0, not {time_limit!r}")
        criteria.append(kestrum.Termination.time_limit(time_limit))
    if max_iterations is not None:
        if isinstance(max_iterations, bool):
            raise TypeError("max_iterations must be an int, not bool")
        count = operator.index(max_iterations)
        if not 0 <= count < 2**32:
            raise ValueError(f"max_iterations must be 0 to 2**32 - 1, not {count}")
        criteria.append(kestrum.Termination.max_iterations(count))
    criterion = criteria[0] if len(criteria) == 1 else kestrum.Termination.multi_crit_and(criteria)
    return criterion, time_limit


def _seed(seed: int | None) -> int:
    if seed is None:
        return secrets.randbits(64)
    if isinstance(seed, bool):
        raise TypeError("seed must be an int, not bool")
    value = operator.index(seed)
    if not 0 <= value < 2**64:
        raise ValueError(f"seed must be 0 to 2**64 - 1, not {value}")
    return value


def _move_type(moves: Any, family: str, method: str, seed: int) -> kestrum.MoveType:
    if moves is None:
        if method == "vns":
            return kestrum.MoveType.multi_neighbor([kestrum.MoveType.swap(seed), kestrum.MoveType.reverse(seed)])
        if method == "robust_tabu_search":
            # It searches exchanges only.
            return kestrum.MoveType.swap(seed)
        moves = _DEFAULT_MOVES[family]
    if isinstance(moves, kestrum.MoveType):
        return moves
    if isinstance(moves, str):
        if moves not in _MOVE_TYPES:
            raise ValueError(f"unknown moves {moves!r}: expected a MoveType or one of {', '.join(map(repr, _MOVE_TYPES))}")
        built: kestrum.MoveType = getattr(kestrum.MoveType, moves)(seed)
        return built
    if isinstance(moves, Sequence):
        return kestrum.MoveType.multi_neighbor([_move_type(m, family, method, seed) for m in moves])
    raise TypeError(f"moves must be a MoveType, a move name or a list of them, not {type(moves).__name__}")


def _search(
    method: str, minimize: bool, problem: kestrum.Problem, criterion: kestrum.Termination, family: str, seed: int,
    options: dict[str, Any],
) -> kestrum.LocalSearch:
    settings = _settings_of(method)
    unknown = sorted(set(options) - set(settings))
    if unknown:
        takes = f"its options are {', '.join(settings)}" if settings else "it takes no options"
        raise TypeError(f"solve() got an unexpected option {unknown[0]!r} for method {method!r}: {takes}")
    if method == "simulated_annealing":
        s = {**_ANNEALING_DEFAULTS, **options}
        search = kestrum.LocalSearch.simulated_annealing(
            s["start_temp"], minimize, problem, criterion, kestrum.Cooling.geometric_cooling(s["alpha"]),
            kestrum.IterationsPerTemp.cnst_iter_temp(s["iterations_temperature"]),
        )
        search.set_acceptance_seed(seed)
        return search
    given = dict(options)
    if "seed" in settings:
        given.setdefault("seed", seed)
    if "canonical_tours" in settings and family == "tour":
        # Rotations and mirror images of one tour are one solution to the tabu list.
        given.setdefault("canonical_tours", True)
    built: kestrum.LocalSearch = getattr(kestrum.LocalSearch, method)(minimize, problem, criterion, **given)
    return built


def _message(log: Log, method: str, time_limit: float | None, max_iterations: int | None) -> str:
    elapsed, iterations = log[-1][0] / 1e9, log[-1][3]
    if max_iterations is not None and iterations >= max_iterations:
        return f"iteration limit reached ({max_iterations})"
    if time_limit is not None and elapsed >= time_limit:
        return f"time limit reached ({time_limit:g} s)"
    return _OWN_END.get(method, "the search ended by its own rule")


def solve(
    evaluation: kestrum.Evaluation,
    *,
    method: str = "auto",
    moves: kestrum.MoveType | str | Sequence[kestrum.MoveType | str] | None = None,
    minimize: bool = True,
    time_limit: float | None = None,
    max_iterations: int | None = None,
    x0: Sequence[int] | Literal["identity"] | None = None,
    seed: int | None = None,
    progress: bool = False,
    log: Literal["all", "improvements", "final"] = "improvements",
    **options: Any,
) -> SolveResult:
    """Search a permutation for the best score of ``evaluation`` and return what was found.

    ``solve`` builds the problem, the stop criterion and the search that ``method`` names,
    runs it once and returns a ``SolveResult``: ``x`` (the best permutation), ``fun`` (its
    score), ``nit``, ``time``, ``log``, ``method``, ``message`` and ``seed``. For finer
    control (several runs, your own criteria, benchmarks) build those objects yourself:
    this is what solve does.

    Args:
        evaluation: the objective, a ``kestrum.Evaluation`` (a tour, an assignment, bin
            packing, or your own through ``Evaluation.custom``).
        method: ``"auto"`` picks the strongest search for the evaluation (``auto_method``):
            iterated local search for symmetric tours and bin packing, tabu search for
            assignments, iterated local search over the move type otherwise. Any name of
            ``methods()`` runs that search of ``kestrum.LocalSearch``.
        moves: the neighbourhood: a ``MoveType`` (reseeded from ``seed`` when one is given,
            else kept as it is), one of ``"swap"``, ``"reverse"``, ``"swap_tsp"``,
            ``"or_opt"`` (seeded from ``seed``), or a list of them (a ``multi_neighbor``,
            for ``"vns"``). None: ``"reverse"`` (2-opt) for symmetric
            tours, ``"swap"`` otherwise, and swap then reverse for ``"vns"``. Iterated local
            search on a symmetric tour uses its own moves.
        minimize: False to maximise the score.
        time_limit: seconds (a float) the search may run.
        max_iterations: iterations the search may run (what one is depends on the search:
            see ``Termination.max_iterations``). With both, the first reached stops it. With
            neither, the search runs for ``DEFAULT_TIME_LIMIT`` (1.0) seconds; a descent
            (``"steepest_descent"``, ``"vns"``) may end earlier at its local optimum.
        x0: the start: None for a random permutation drawn from ``seed``
            (``Problem.shuffle``), ``"identity"``, or a permutation of 0..n-1.
        seed: makes the whole call repeat exactly (start, moves, and the search's own
            random draws), as far as the budget is iterations rather than time. None draws
            one from the OS; the result's ``seed`` says which.
        progress: show a progress bar (needs tqdm) with the best score, the total and the
            time left.
        log: which rows the result's log keeps (``LocalSearch.set_log``): the default
            ``"improvements"`` keeps a long run's log small; ``"all"`` keeps every step.
        **options: the settings of the chosen search, by the names of its factory in
            ``kestrum.LocalSearch`` (``tabu_list_size=20``, ``neighbours=8``). Tabu search
            on a symmetric tour defaults to ``canonical_tours=True``. For
            ``"simulated_annealing"``: ``start_temp`` (100), ``alpha`` (0.95) and
            ``iterations_temperature`` (1000).

    Returns:
        SolveResult: ``result.x`` scores ``result.fun``.

    Raises:
        TypeError: an evaluation that is not one, or an option the search does not take.
        ValueError: an unknown method or move name, a budget out of range, or an ``x0``
            that is not a permutation of the evaluation's size.

    Example:
        >>> from kestrum import Evaluation
        >>> from kestrum_tools import solve
        >>> result = solve(Evaluation.tsp_from_points([(0, 0), (0, 1), (1, 0), (1, 1)]), seed=1, max_iterations=10)
        >>> result.fun
        4.0
    """
    if not isinstance(evaluation, kestrum.Evaluation):
        raise TypeError(
            f"evaluation must be a kestrum.Evaluation (Evaluation.tsp, .qap, .custom, ...), not {type(evaluation).__name__}"
        )
    if not isinstance(method, str):
        raise TypeError(f"method must be a str, not {type(method).__name__}")
    family = _family(evaluation)
    chosen = auto_method(evaluation) if method == "auto" else method
    if chosen not in methods():
        raise ValueError(f"unknown method {method!r}: expected 'auto' or one of {', '.join(map(repr, methods()))}")
    criterion, limit = _budget(time_limit, max_iterations)
    run_seed = _seed(seed)

    problem = kestrum.Problem.array_problem(_move_type(moves, family, chosen, run_seed), evaluation)
    if seed is not None or not isinstance(moves, kestrum.MoveType):
        # A move type given without a seed for the call keeps its own generator.
        problem.set_seed(run_seed)
    if x0 is None:
        problem.shuffle(run_seed)
    elif isinstance(x0, str):
        if x0 != "identity":
            raise ValueError(f"x0 must be None, 'identity' or a permutation, not {x0!r}")
    else:
        problem.set_solution(x0)
    search = _search(chosen, minimize, problem, criterion, family, run_seed, options)
    search.set_log(log)
    rows = run(search, progress=progress)
    # The log's best is carried by deltas and may differ from the best solution's own score in
    # the last bits: score the solution returned.
    best = problem.best_solution()
    problem.set_solution(best)
    return SolveResult(
        x=best,
        fun=problem.eval(),
        nit=rows[-1][3],
        time=rows[-1][0] / 1e9,
        log=rows,
        method=chosen,
        message=_message(rows, chosen, limit, max_iterations),
        seed=run_seed,
    )

