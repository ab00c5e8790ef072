"""kestrum demo: one travelling-salesman instance solved by all four searches.

Usage: python examples/demo.py [COORDINATE_FILE] [--plot PNG]

Without a file, a seeded random Euclidean instance of 300 cities is built in memory. A
coordinate file holds "x y" per line (lines with '#' are skipped).
"""

import argparse
import math
import random
import time

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def random_instance(n, seed=2024):
    rng = random.Random(seed)
    pts = [(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)]
    matrix = [[math.hypot(xa - xb, ya - yb) for (xb, yb) in pts] for (xa, ya) in pts]
    return E.tsp(matrix), n


def file_instance(path):
    with open(path) as f:
        count = sum(len(line.split()) for line in f if "#" not in line) // 2
    return E.tsp_from_coord2d(path), count


def searches(evaluation, n):
    """(name, search, moves evaluated per iteration or None for one per iteration)."""
    two_opt = n * (n - 1) // 2
    yield "steepest descent", LS.steepest_descent(True, P.array_problem(M.reverse(1), evaluation), T.always_true()), two_opt
    sa_stop = T.multi_crit_and([T.max_iterations(3_000_000), T.min_temp(1)])
    yield (
        "simulated annealing",
        LS.simulated_annealing(
            200, True, P.array_problem(M.reverse(1), evaluation), sa_stop,
            kestrum.Cooling.geometric_cooling(0.95), kestrum.IterationsPerTemp.cnst_iter_temp(30_000),
        ),
        1,
    )
    yield "tabu search", LS.tabu_search(True, P.array_problem(M.reverse(1), evaluation), T.max_iterations(600), 50), two_opt
    vns_moves = M.multi_neighbor([M.swap(1), M.reverse(1)])
    yield "variable neighbourhood", LS.vns(True, P.array_problem(vns_moves, evaluation), T.always_true()), two_opt


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", nargs="?", help="coordinate file (x y per line)")
    parser.add_argument("--cities", type=int, default=300, help="size of the generated instance")
    args = parser.parse_args()

    evaluation, n = file_instance(args.file) if args.file else random_instance(args.cities)
    start = P.array_problem(M.swap(0), evaluation).eval()
    source = args.file or f"random Euclidean instance, {n} cities, seed 2024"
    print(f"kestrum demo: {source}; starting tour length {start:.1f}\n")
    print(f"{'search':<24}{'best':>12}{'gap to SD':>11}{'iterations':>12}{'time':>10}{'moves/s':>12}")
    reference = None
    for name, search, per_iteration in searches(evaluation, n):
        t0 = time.perf_counter()
        log = search.run()
        wall = time.perf_counter() - t0
        elapsed_ns, best, _current, iterations = log[-1]
        if reference is None:
            reference = best
        moves = per_iteration * max(iterations, 1)
        rate = moves / max(elapsed_ns, 1) * 1e9
        gap = (best - reference) / reference * 100
        print(f"{name:<24}{best:>12.1f}{gap:>10.1f}%{iterations:>12}{wall:>9.3f}s{rate:>12.3g}")


if __name__ == "__main__":
    main()
