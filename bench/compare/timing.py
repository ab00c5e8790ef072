"""CPU timing, and kestrum's descent as the speed comparisons run it."""
from __future__ import annotations

import statistics
import time

import kestrum as k


def cpu(fn):
    t0 = time.process_time()
    out = fn()
    return time.process_time() - t0, out


def kestrum_descent(problem, start: list[int]) -> tuple[float, list]:
    """One steepest descent from `start` to a local optimum: (CPU seconds, run log)."""
    problem.set_solution(start)
    sd = k.LocalSearch.steepest_descent(True, problem, k.Termination.always_true())
    return cpu(sd.run)


def descent_moves(log, n: int) -> int:
    """Moves scored by a descent that ended at a local optimum: one scan per applied move,
    and the last scan that found no improvement."""
    return (log[-1][3] + 1) * n * (n - 1) // 2


def timed_rounds(fn, min_seconds: float = 0.05) -> float:
    """Median CPU time of one call of fn, repeating short calls so each sample is measurable."""
    reps = 1
    while True:
        t, _ = cpu(lambda: [fn() for _ in range(reps)])
        if t >= min_seconds or reps >= 1 << 16:
            break
        reps *= 4
    samples = [t / reps] + [cpu(lambda: [fn() for _ in range(reps)])[0] / reps for _ in range(4)]
    return statistics.median(samples)
