#!/usr/bin/env python3
"""First-fit bin packing: iterated local search side by side with first fit decreasing and, when
it is installed, OR-Tools' CP-SAT at the same wall time.

Instances, all generated here from fixed seeds (instance k of a class uses
random.Random(f"{class}-{n}-{k}")):
  - Falkenauer-like "uniform": n integer weights drawn uniformly from 20..100, capacity 150,
    n = 120, 250 and 500;
  - "triplets": capacity 1000, n / 3 bins each filled exactly by three items: the first drawn
    from 380..490, the second from 250..(1000 - first) // 2, the third the rest (each item is
    then in 250..500, so no bin holds more than three, and the optimum is n / 3 bins); the
    items are shuffled; n = 60 and 120.
Each run starts from a random order (seeded per instance) and stops after --seconds of wall
time. CP-SAT gets the same time on one worker, with the assignment model (item in bin, bin
used, capacities, used bins first), as many bins as first fit decreasing uses, and that
packing as its hint.

The targets are checked and the misses listed at the end: never more bins than first fit
decreasing; the lower bound ceil(sum / capacity) on at least 90 % of the uniform 120 and 250
instances and 70 % of the 500 ones; the optimum on at least 80 % of the 60-item triplets.
Prints a table and writes it to bench/results/<date>-<host>-bin-packing.md.
"""
from __future__ import annotations

import argparse
import datetime
import math
import random
import sys
import time
from pathlib import Path

import kestrum
from compare.report import write_results  # bench/ is this script's folder, so on the path
from kestrum_tools import first_fit

ROOT = Path(__file__).resolve().parent.parent
E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

# (class, n, share of instances at the lower bound the targets ask for, or None)
CLASSES = [("uniform", 120, 0.9), ("uniform", 250, 0.9), ("uniform", 500, 0.7),
           ("triplets", 60, 0.8), ("triplets", 120, None)]


def uniform(n: int, rng: random.Random) -> tuple[list[int], int]:
    return [rng.randint(20, 100) for _ in range(n)], 150


def triplets(n: int, rng: random.Random) -> tuple[list[int], int]:
    weights = []
    for _ in range(n // 3):
        first = rng.randint(380, 490)
        second = rng.randint(250, (1000 - first) // 2)
        weights += [first, second, 1000 - first - second]
    rng.shuffle(weights)
    return weights, 1000


def instance(kind: str, n: int, k: int) -> tuple[list[int], int]:
    rng = random.Random(f"{kind}-{n}-{k}")
    return uniform(n, rng) if kind == "uniform" else triplets(n, rng)


def lower_bound(weights, capacity) -> int:
    return -(-sum(weights) // capacity)


def ffd(weights, capacity) -> int:
    return len(first_fit(weights, capacity, sorted(range(len(weights)), key=lambda v: -weights[v])))


def kestrum_ils(weights, capacity, seconds: int, seed: int) -> tuple[int, float]:
    order = list(range(len(weights)))
    random.Random(seed).shuffle(order)
    problem = P.array_problem(M.swap(seed), E.bin_packing(weights, capacity))
    problem.set_solution(order)
    search = LS.iterated_local_search(True, problem, T.max_sec(seconds), seed=seed)
    log = search.run()
    bins = len(first_fit(weights, capacity, problem.best_solution()))
    # When the final bin count was first reached: b bins score in [b - 1, b).
    reached = next(row[0] for row in log if math.floor(row[1]) + 1 == bins)
    return bins, reached / 1e9


def cp_installed() -> bool:
    try:
        from ortools.sat.python import cp_model  # noqa: F401
    except ImportError:
        return False
    return True


def cp_sat(weights, capacity, seconds: float, bins_ub: int) -> int | None:
    try:
        from ortools.sat.python import cp_model
    except ImportError:
        return None
    m = cp_model.CpModel()
    n = len(weights)
    x = [[m.new_bool_var(f"x{i}_{b}") for b in range(bins_ub)] for i in range(n)]
    y = [m.new_bool_var(f"y{b}") for b in range(bins_ub)]
    for i in range(n):
        m.add_exactly_one(x[i])
    for b in range(bins_ub):
        m.add(sum(weights[i] * x[i][b] for i in range(n)) <= capacity * y[b])
        if b + 1 < bins_ub:
            m.add(y[b] >= y[b + 1])
    m.add(sum(y) >= lower_bound(weights, capacity))
    m.minimize(sum(y))
    # Started from first fit decreasing's packing, so that it always has a solution to report.
    for b, items in enumerate(first_fit(weights, capacity, sorted(range(n), key=lambda v: -weights[v]))):
        for i in items:
            m.add_hint(x[i][b], 1)
    for b in range(bins_ub):
        m.add_hint(y[b], 1)
    solver = cp_model.CpSolver()
    solver.parameters.max_time_in_seconds = seconds
    solver.parameters.num_workers = 1
    status = solver.solve(m)
    if status in (cp_model.OPTIMAL, cp_model.FEASIBLE):
        return int(round(solver.objective_value))
    return None


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seconds", type=int, default=5, help="wall time of each run (default 5)")
    ap.add_argument("--instances", type=int, default=10, help="instances of each class (default 10)")
    ap.add_argument("--classes", default="", help="comma-separated class-n names, e.g. uniform-120,triplets-60")
    ap.add_argument("--no-cp-sat", action="store_true", help="leave CP-SAT out")
    ap.add_argument("--no-write", action="store_true", help="print only")
    args = ap.parse_args()
    wanted = {c for c in args.classes.split(",") if c}
    when = datetime.datetime.now()
    lines = [f"# First-fit bin packing, {args.seconds} s a run, {args.instances} instances a class", "",
             "Bins used, summed over the instances of a class; 'at LB': instances at the lower bound "
             "ceil(sum / capacity) (for triplets, the optimum n / 3); 'time': mean seconds until the "
             "final bin count was first reached.", "",
             "| class | n | lower bound | FFD | kestrum ILS | at LB | > FFD | time (s) | CP-SAT | CP-SAT at LB |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    misses = []
    for kind, n, target in CLASSES:
        if wanted and f"{kind}-{n}" not in wanted:
            continue
        lb_sum = ffd_sum = ils_sum = at_lb = worse = 0
        cp_sum, cp_at_lb, cp_runs = 0, 0, 0
        times = []
        for k in range(args.instances):
            weights, capacity = instance(kind, n, k)
            lb, f = lower_bound(weights, capacity), ffd(weights, capacity)
            bins, reached = kestrum_ils(weights, capacity, args.seconds, seed=k + 1)
            lb_sum, ffd_sum, ils_sum = lb_sum + lb, ffd_sum + f, ils_sum + bins
            at_lb += bins == lb
            worse += bins > f
            times.append(reached)
            if not args.no_cp_sat:
                c = cp_sat(weights, capacity, args.seconds, f)
                if c is not None:
                    cp_sum, cp_at_lb, cp_runs = cp_sum + c, cp_at_lb + (c == lb), cp_runs + 1
            print(f"{kind}-{n} #{k}: lb {lb} ffd {f} ils {bins} ({reached:.2f} s)", file=sys.stderr)
        count = args.instances
        if args.no_cp_sat or not cp_installed():
            cp = "not run"
        else:
            cp = (f"{cp_sum}" if cp_runs == count else "no solution in time" if cp_runs == 0
                  else f"{cp_sum} over the {cp_runs} with a solution")
        cp_lb = f"{cp_at_lb}/{count}" if cp_runs else "-"
        lines.append(f"| {kind} | {n} | {lb_sum} | {ffd_sum} | {ils_sum} | {at_lb}/{count} | {worse} | "
                     f"{sum(times) / count:.2f} | {cp} | {cp_lb} |")
        if worse:
            misses.append(f"{kind}-{n}: more bins than FFD on {worse} instance(s)")
        if target is not None and at_lb < target * count:
            misses.append(f"{kind}-{n}: lower bound on {at_lb}/{count}, target {target:.0%}")
    text = "\n".join(lines) + "\n"
    if misses:
        text += "\nTargets not met: " + "; ".join(misses) + "\n"
    print(text)
    if not args.no_write:
        write_results(ROOT / "bench" / "results", when, text, misses, suffix="-bin-packing")
    return 0


if __name__ == "__main__":
    sys.exit(main())
