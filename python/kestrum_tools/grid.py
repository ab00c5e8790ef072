"""Every (search, problem, seed) run of a benchmark as an independent task on an executor.

``grid`` prepares each run exactly as ``kestrum.benchmark`` does (criterion copied in,
problem set, reseeded, reset or shuffled), but on its own copies of the search and the problem, so the
runs can go to other processes or machines: a process pool over all cores by default, or any
``concurrent.futures.Executor``, such as the one a ``dask.distributed`` client hands out, or
threads of this process (``executor="threads"``), since runs give up the interpreter lock.
"""

from __future__ import annotations

import copy
import multiprocessing
import operator
import os
import pickle
import traceback
from collections.abc import Callable, Sequence
from concurrent.futures import CancelledError, Executor, Future, ProcessPoolExecutor, ThreadPoolExecutor, as_completed
from dataclasses import dataclass
from typing import Any, Literal, Protocol, SupportsIndex

import kestrum
from kestrum_tools._optional import require

__all__ = ["GridError", "RunFailure", "grid"]

Log = list[tuple[int, float, float, int]]

_SEED_LIMIT = 2**64


class RemoteError(Exception):
    """Stands in for a run's exception that could not travel back from its worker (a
    ``PanicException`` cannot: its class is not reachable by name). Holds the original type's
    name and message, and the worker's traceback as a note."""


@dataclass(frozen=True)
class RunFailure:
    """One failed run: indices into ``algorithms`` and ``problems``, the seed, and the error."""

    algorithm: int
    problem: int
    seed: int
    error: BaseException


class GridError(Exception):
    """A run of ``grid`` failed. Raised once every run has ended, from the first failure in
    grid order (its exception is the ``__cause__``).

    ``algorithm``, ``problem``, ``seed``: where that run came from (indices into the given
    lists, and the seed itself); ``failures``: every failed run, in grid order; ``results``:
    the nested logs as ``grid`` returns them, with ``None`` in place of each failed run.
    """

    def __init__(self, failures: list[RunFailure], results: list[list[list[Log | None]]]):
        first = failures[0]
        more = f" ({len(failures) - 1} more runs failed)" if len(failures) > 1 else ""
        super().__init__(
            f"run of search {first.algorithm} on problem {first.problem} with seed {first.seed} failed: "
            f"{_describe(first.error)}{more}"
        )
        self.algorithm, self.problem, self.seed = first.algorithm, first.problem, first.seed
        self.failures = failures
        self.results = results

    def __reduce__(self) -> tuple[type[GridError], tuple[list[RunFailure], list[list[list[Log | None]]]]]:
        return (GridError, (self.failures, self.results))


def _describe(error: BaseException) -> str:
    if isinstance(error, RemoteError):
        return str(error)
    return f"{type(error).__name__}: {error}"


def _start(problem: kestrum.Problem, seed: int, random_starts: bool) -> None:
    """benchmark's preparation of the problem for a run with this seed."""
    problem.set_seed(seed)
    if random_starts:
        problem.shuffle(seed)
    else:
        problem.reset()


def _run(
    search_state: bytes,
    problem_state: bytes,
    termination_state: bytes | None,
    seed: int,
    where: tuple[int, int, int],
    random_starts: bool = False,
) -> Log:
    """One run in a worker: benchmark's preparation on fresh copies, then the search.

    ``where`` only makes every task distinct, so that an executor that caches tasks by their
    arguments (Dask does) still runs repeated seeds separately.
    """
    del where
    try:
        search = pickle.loads(search_state)
        problem = pickle.loads(problem_state)
        if termination_state is not None:
            search.set_termination(pickle.loads(termination_state))
        search.set_problem(problem)
        _start(problem, seed, random_starts)
        log: Log = search.run()
        return log
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as e:  # noqa: BLE001 - a PanicException is a BaseException
        try:
            pickle.dumps(e)
        except Exception:  # noqa: BLE001 - whatever stops it from travelling back
            stand_in = RemoteError(f"{type(e).__name__}: {e}")
            stand_in.add_note("".join(traceback.format_exception(e)).rstrip())
        else:
            raise
    # Raised outside the handler, so that it has no __context__: serialisers that carry the
    # context along (Dask's does) would otherwise try to send the original after all.
    raise stand_in


# The states of one grid, handed to each worker of grid's own pool as it starts, so that
# the pool's tasks carry indices instead of whole problems.
_preloaded: tuple[list[bytes], list[bytes]] = ([], [])


def _preload(search_states: list[bytes], problem_states: list[bytes]) -> None:
    global _preloaded
    _preloaded = (search_states, problem_states)


def _run_preloaded(
    a: int, p: int, termination_state: bytes | None, seed: int, where: tuple[int, int, int], random_starts: bool = False
) -> Log:
    return _run(_preloaded[0][a], _preloaded[1][p], termination_state, seed, where, random_starts)


def _run_copies(
    search: kestrum.LocalSearch,
    problem: kestrum.Problem,
    termination: kestrum.Termination | None,
    seed: int,
    where: tuple[int, int, int],
    random_starts: bool = False,
) -> Log:
    """One run on a thread of this process: benchmark's preparation on copies of the objects.
    Deep copies keep the search's settings (log mode, progress interval), not its callback."""
    del where
    search = copy.deepcopy(search)
    problem = copy.deepcopy(problem)
    if termination is not None:
        search.set_termination(termination)
    search.set_problem(problem)
    _start(problem, seed, random_starts)
    log: Log = search.run()
    return log


def _seed(value: SupportsIndex) -> int:
    seed = operator.index(value)
    if not 0 <= seed < _SEED_LIMIT:
        raise OverflowError(f"seed {seed} is out of range: seeds are 0 to 2**64 - 1")
    return seed


def _checked(items: Sequence[Any], cls: type, what: str) -> list[Any]:
    if isinstance(items, str):
        raise TypeError(f"{what} must be a sequence of {cls.__name__}, not str")
    items = list(items)
    for k, item in enumerate(items):
        if not isinstance(item, cls):
            raise TypeError(f"{what}[{k}] is a {type(item).__name__}, not a {cls.__name__}")
    return items


class _DaskClient(Protocol):
    """What grid uses of a ``dask.distributed.Client``."""

    def scatter(self, data: list[bytes], *, broadcast: bool = False, hash: bool = True) -> list[Any]: ...
    def get_executor(self) -> Executor: ...


def _is_dask_client(executor: object) -> bool:
    return not isinstance(executor, Executor) and hasattr(executor, "scatter") and hasattr(executor, "get_executor")


def _search_state(search: kestrum.LocalSearch) -> bytes:
    # Every run replaces the search's problem, so the search is saved over an empty stand-in:
    # its own problem's state (a whole matrix) would only make every task larger.
    twin = pickle.loads(pickle.dumps(search))
    twin.set_problem(kestrum.Problem.array_problem(kestrum.MoveType.swap(0), kestrum.Evaluation.empty_bins([], 0.0)))
    return pickle.dumps(twin)


def _usable_cores() -> int:
    # The cores this process may run on, which a container or taskset can make fewer than
    # the machine's.
    if hasattr(os, "sched_getaffinity"):
        return max(1, len(os.sched_getaffinity(0)))
    return os.cpu_count() or 1


def _default_executor(search_states: list[bytes], problem_states: list[bytes]) -> ProcessPoolExecutor:
    # forkserver: workers start from a clean process, not a fork of this one, which may run
    # threads (tqdm's monitor, a Dask client) that fork would copy in an unknown state.
    methods = multiprocessing.get_all_start_methods()
    context = multiprocessing.get_context("forkserver" if "forkserver" in methods else None)
    return ProcessPoolExecutor(
        max_workers=_usable_cores(),
        mp_context=context,
        initializer=_preload,
        initargs=(search_states, problem_states),
    )


def grid(
    algorithms: Sequence[kestrum.LocalSearch],
    problems: Sequence[kestrum.Problem],
    seeds: Sequence[int],
    termination_function: kestrum.Termination | None = None,
    executor: Executor | _DaskClient | Literal["threads"] | None = None,
    progress: bool = True,
    random_starts: bool = False,
) -> list[list[list[Log]]]:
    """Run every search on every problem once per seed, each run an independent task.

    Each run gets its own copy of the search and of the problem, taken when ``grid`` is
    called, and is prepared as ``kestrum.benchmark`` prepares it: the search is given a copy
    of ``termination_function`` (when given) and the problem, the problem is reseeded with
    the run's seed and reset (with ``random_starts=True``, shuffled instead: each run starts
    from ``Problem.shuffle(seed)``, as ``benchmark(..., random_starts=True)`` does), then the
    search runs. The given objects are not changed.
    Returns the logs as ``benchmark`` does: ``result[a][p][s]`` is the log of search ``a`` on
    problem ``p`` with the ``s``-th seed.

    Unlike ``benchmark``, no run sees what an earlier run left in the search: a variable
    neighbourhood search starts every run in the neighbourhood it stood in when ``grid`` was
    called, where ``benchmark`` goes on from where its previous run ended.

    ``executor``: any ``concurrent.futures.Executor``; by default a process pool with one
    worker per core, started (from a fresh interpreter, so a script that calls ``grid``
    needs the usual ``if __name__ == "__main__":`` guard) and shut down here. For a Dask
    cluster, pass ``client.get_executor()``, or the ``dask.distributed.Client`` itself: then
    each search's and each problem's state is sent to the cluster once rather than with
    every run, which matters for large problems (a problem's state holds its matrices). The
    workers need kestrum installed. A given executor or client is left running. With
    ``"threads"``, a thread pool of this process (one thread per core) runs the runs on deep
    copies of the objects, with nothing pickled: runs give up the interpreter lock, so the
    threads run in parallel. A raising signal handler (Ctrl-C) reaches only runs on the main
    thread, so in this mode it takes effect when the runs under way end.

    ``progress``: show a progress bar (tqdm, on standard error) of the runs done, with the
    time left. False needs no tqdm.

    A failed run does not stop the others. When all have ended, ``GridError`` is raised with
    the (search, problem, seed) of the first failure, every failure, and all the logs that
    were obtained.
    """
    if isinstance(executor, str) and executor != "threads":
        raise ValueError(f"executor must be an Executor, a Dask client, 'threads' or None, not {executor!r}")
    algorithms = _checked(algorithms, kestrum.LocalSearch, "algorithms")
    problems = _checked(problems, kestrum.Problem, "problems")
    if isinstance(seeds, str):
        raise TypeError("seeds must be a sequence of int, not str")
    seeds = [_seed(s) for s in seeds]
    if termination_function is not None and not isinstance(termination_function, kestrum.Termination):
        raise TypeError(f"termination_function is a {type(termination_function).__name__}, not a Termination")
    if not isinstance(random_starts, bool):
        raise TypeError(f"random_starts must be True or False, not {type(random_starts).__name__}")
    bar_class = require("tqdm", "the progress bar of grid (progress=False runs without it)").tqdm if progress else None

    threads = executor == "threads"
    if threads:
        # Copies taken now, so later changes to the given objects do not reach the runs; each
        # run copies them again, as a worker process would decode its own.
        search_states: list[Any] = [copy.deepcopy(a) for a in algorithms]
        problem_states: list[Any] = [copy.deepcopy(p) for p in problems]
        termination_state: Any = None if termination_function is None else copy.deepcopy(termination_function)
    else:
        # Saved once here, so every run starts from the same state and the native state is
        # not encoded again for each task.
        search_states = [_search_state(a) for a in algorithms]
        problem_states = [pickle.dumps(p) for p in problems]
        termination_state = None if termination_function is None else pickle.dumps(termination_function)

    results: list[list[list[Log | None]]] = [[[None] * len(seeds) for _ in problems] for _ in algorithms]
    total = len(algorithms) * len(problems) * len(seeds)
    if total == 0:
        return results  # type: ignore[return-value]

    owned = executor is None or threads
    task: Callable[..., Log] = _run
    if threads:
        pool: Executor = ThreadPoolExecutor(max_workers=_usable_cores(), thread_name_prefix="grid")
        task = _run_copies
    elif executor is None:
        pool = _default_executor(search_states, problem_states)
        task = _run_preloaded
        search_states = list(range(len(algorithms)))
        problem_states = list(range(len(problems)))
    elif _is_dask_client(executor):
        client: _DaskClient = executor  # type: ignore[assignment]
        # Futures of data already on the cluster: Dask hands each task the bytes themselves.
        # To every worker: data held by one worker draws the scheduler to run every task
        # there. Not keyed by content: two grids with equal states must not share (and
        # release) one another's data.
        search_states = client.scatter(search_states, broadcast=True, hash=False)
        problem_states = client.scatter(problem_states, broadcast=True, hash=False)
        pool = client.get_executor()
    else:
        pool = executor  # type: ignore[assignment]
    bar = bar_class(total=total, unit="run", desc="grid") if bar_class is not None else None
    futures: dict[Future[Log], tuple[int, int, int]] = {}
    failures: list[tuple[tuple[int, int, int], BaseException]] = []
    try:
        for a in range(len(algorithms)):
            for p in range(len(problems)):
                for s, seed in enumerate(seeds):
                    where = (a, p, s)
                    future = pool.submit(
                        task, search_states[a], problem_states[p], termination_state, seed, where, random_starts
                    )
                    futures[future] = where
        for future in as_completed(futures):
            a, p, s = futures[future]
            error = CancelledError(f"the run was cancelled by {type(pool).__name__}") if future.cancelled() else future.exception()
            if error is None:
                results[a][p][s] = future.result()
            else:
                failures.append(((a, p, s), error))
            if bar is not None:
                bar.update(1)
    except BaseException:
        for future in futures:
            future.cancel()
        if owned:
            pool.shutdown(wait=False, cancel_futures=True)
            owned = False
        raise
    finally:
        if bar is not None:
            bar.close()
        if owned:
            pool.shutdown(wait=True)
        # Lets a Dask cluster drop the scattered states now, even while a GridError (whose
        # traceback holds this frame) is kept.
        search_states = problem_states = []
        futures.clear()

    if failures:
        failures.sort(key=lambda f: f[0])
        raise GridError(
            [RunFailure(a, p, seeds[s], error) for (a, p, s), error in failures], results
        ) from failures[0][1]
    return results  # type: ignore[return-value]
