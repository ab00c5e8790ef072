"""Quality in a fixed time on TSPLIB instances: kestrum's annealing against the quality
references (python-tsp, OR-Tools, elkai), as gaps to the published optimum."""
from __future__ import annotations

import math
import time

import numpy as np

import kestrum as k

from . import elkai_peer, ortools_peer, python_tsp_peer
from .instances import TSPLIB_INSTANCES, tsplib_euc2d, tsplib_optimum
from .report import Report, Row
from .timing import cpu

PEERS = (python_tsp_peer, ortools_peer, elkai_peer)


def kestrum_annealing_fixed_time(d: np.ndarray, seconds: int) -> float:
    """Simulated annealing with reversal moves for `seconds`: the best tour length.

    The matrix is scaled by 100 so that the integer temperature has a fine enough grain;
    the temperature falls from the mean nearest-neighbour distance to 2% of it over the
    time available, estimated from a short calibration run.
    """
    n = len(d)
    scale = 100.0
    nn = float(np.sort(d + np.diag(np.full(n, np.inf)), axis=1)[:, 0].mean())
    ev = k.Evaluation.tsp((d * scale).tolist())
    problem = k.Problem.array_problem(k.MoveType.reverse(7), ev)
    start = np.random.default_rng(600 + n).permutation(n).tolist()
    t0 = max(1, round(nn * scale))
    alpha = 0.95
    levels = math.ceil(math.log(0.02) / math.log(alpha))
    problem.set_solution(start)
    probe = 200_000
    t, _ = cpu(k.LocalSearch.simulated_annealing(
        t0, True, problem, k.Termination.max_iterations(probe), k.Cooling.geometric_cooling(alpha),
        k.IterationsPerTemp.cnst_iter_temp(probe // levels)).run)
    per_temp = max(1, int(probe / t * seconds * 0.9 / levels))
    problem.set_solution(start)
    sa = k.LocalSearch.simulated_annealing(
        t0, True, problem, k.Termination.max_sec(seconds), k.Cooling.geometric_cooling(alpha),
        k.IterationsPerTemp.cnst_iter_temp(per_temp))
    return sa.run()[-1][1] / scale


def compare_quality(report: Report, missing: dict[str, str], seconds: int) -> None:
    test = f"quality in {seconds} s"
    for name in TSPLIB_INSTANCES:
        d = tsplib_euc2d(name)
        opt = tsplib_optimum(name)
        rows = []
        t = time.perf_counter()
        k_obj = kestrum_annealing_fixed_time(d, seconds)
        rows.append(Row(test, name, "kestrum simulated_annealing (reverse)", time.perf_counter() - t,
                        objective=k_obj))
        for peer in PEERS:
            if peer.PACKAGE in missing:
                report.skip(test, name, peer.SOLVER, missing[peer.PACKAGE])
                continue
            t = time.perf_counter()
            solver, obj = peer.solve(d, seconds)
            rows.append(Row(test, name, solver, time.perf_counter() - t, objective=obj))
        for row in rows:
            row.gap = row.objective / opt - 1
            row.ratio = row.objective / k_obj
            row.note = "objective ratio"
            report.add(row)
