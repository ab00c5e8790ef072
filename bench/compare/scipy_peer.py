"""Quadratic assignment: scipy's quadratic_assignment (2opt and faq) against kestrum's swap
descent from the same start, on QAPLIB instances."""
from __future__ import annotations

import statistics

import numpy as np

import kestrum as k

from .instances import QAP_INSTANCES, qaplib
from .report import Report, Row
from .timing import cpu, descent_moves, kestrum_descent, timed_rounds


def compare_qap(report: Report, missing: dict[str, str], rounds: int) -> None:
    test = "QAP swap descent"
    for name in QAP_INSTANCES:
        a, b, value = qaplib(name)
        n = len(a)
        start = np.random.default_rng(300).permutation(n)
        problem = k.Problem.array_problem(k.MoveType.swap(1), k.Evaluation.qap(a.tolist(), b.tolist()))
        k_times = [timed_rounds(lambda: kestrum_descent(problem, start.tolist()))]
        _, log = kestrum_descent(problem, start.tolist())
        # Both matrices are symmetric with a zero diagonal: kestrum counts each pair once,
        # QAPLIB (and scipy) twice.
        k_obj = 2 * log[-1][1]
        k_moves = descent_moves(log, n)
        rows = []
        if "scipy" in missing:
            report.skip(test, name, "scipy quadratic_assignment", missing["scipy"])
        else:
            from scipy.optimize import quadratic_assignment

            guess = np.column_stack([np.arange(n), start])
            two_opt = []
            slow = n > 60
            for r in range(1 if slow else rounds):
                t, res = cpu(lambda: quadratic_assignment(
                    a, b, method="2opt", options={"partial_guess": guess, "rng": r}))
                two_opt.append((t, res))
                k_times.append(timed_rounds(lambda: kestrum_descent(problem, start.tolist())))
            k_time = statistics.median(k_times)
            t2 = statistics.median(t for t, _ in two_opt)
            res = two_opt[0][1]
            rows.append(Row(test, name, "scipy 2opt (first improvement)", t2, res.nit / t2, res.fun,
                            ratio=(t2 / res.nit) / (k_time / k_moves), note=f"{res.nit} swaps scored"))
            faq = [cpu(lambda: quadratic_assignment(a, b, method="faq", options={"rng": r}))
                   for r in range(rounds)]
            tf = statistics.median(t for t, _ in faq)
            rows.append(Row(test, name, "scipy faq", tf, None, faq[0][1].fun, ratio=tf / k_time,
                            note="time ratio; continuous relaxation, no start"))
        k_time = statistics.median(k_times)
        rows.append(Row(test, name, "kestrum steepest_descent (swap)", k_time, k_moves / k_time, k_obj,
                        ratio=1.0, note=f"{log[-1][3]} steps"))
        for row in rows:
            if value and row.objective is not None:
                row.gap = row.objective / value - 1
            report.add(row)
