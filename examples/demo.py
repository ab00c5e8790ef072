"""kestrum demo: one travelling-salesman instance solved by all seven searches.

Usage: python examples/demo.py [COORDINATE_FILE] [--plot PNG]

Without a file, a seeded random Euclidean instance of 300 cities is built in memory. A
coordinate file holds "x y" per line (lines with '#' are skipped). Afterwards simulated
annealing runs once per seed through kestrum.benchmark, and its convergence curves are drawn
in PNG (default: build/demo_convergence.png in the repository, or the current directory).
"""

import argparse
import importlib.util
import math
import random
import time
from pathlib import Path

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
    # canonical_tours: the tabu list holds tours, so a tour's mirror images and rotations are one.
    tabu = LS.tabu_search(True, P.array_problem(M.reverse(1), evaluation), T.max_iterations(600), 50, canonical_tours=True)
    yield "tabu search", tabu, two_opt
    vns_moves = M.multi_neighbor([M.swap(1), M.reverse(1)])
    yield "variable neighbourhood", LS.vns(True, P.array_problem(vns_moves, evaluation), T.always_true()), two_opt
    # Iterations here are kicks plus their repair over neighbour lists: no move count to quote.
    ils = LS.iterated_local_search(True, P.array_problem(M.reverse(1), evaluation), T.max_iterations(20_000), seed=1)
    yield "iterated local search", ils, None
    # Robust tabu search is made for assignments: it scans every exchange of two cities per step,
    # a weak neighbourhood for tours next to the reversals of 2-opt.
    rts = LS.robust_tabu_search(True, P.array_problem(M.swap(1), evaluation), T.max_iterations(5000), seed=1)
    yield "robust tabu search", rts, n * (n - 1) // 2
    # Annealing calibrates its real temperature and cools it over the proposals it is given.
    annealing = LS.annealing(True, P.array_problem(M.reverse(1), evaluation), T.max_iterations(3_000_000), seed=1)
    annealing.set_log("improvements")
    yield "annealing", annealing, 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", nargs="?", help="coordinate file (x y per line)")
    parser.add_argument("--cities", type=int, default=300, help="size of the generated instance")
    parser.add_argument("--plot", metavar="PNG", default=None, help="convergence plot file")
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
        moves = (per_iteration or 0) * max(iterations, 1)
        rate = f"{moves / max(elapsed_ns, 1) * 1e9:>12.3g}" if per_iteration else f"{'-':>12}"
        gap = (best - reference) / reference * 100
        print(f"{name:<24}{best:>12.1f}{gap:>10.1f}%{iterations:>12}{wall:>9.3f}s{rate}")

    convergence_plot(evaluation, args.plot or default_plot_path())


def default_plot_path():
    build = Path(__file__).resolve().parent.parent / "build"
    return str((build if build.is_dir() else Path.cwd()) / "demo_convergence.png")


def convergence_plot(evaluation, path, seeds=(0, 1, 2)):
    """Annealing once per seed through kestrum.benchmark, best score over time per run."""
    if importlib.util.find_spec("matplotlib") is None:
        print("\nno convergence plot: matplotlib is not installed")
        return
    from kestrum_tools import plot_convergence

    problem = P.array_problem(M.reverse(), evaluation)
    annealing = LS.simulated_annealing(
        200, True, problem, T.max_iterations(1_000_000),
        kestrum.Cooling.geometric_cooling(0.95), kestrum.IterationsPerTemp.cnst_iter_temp(10_000),
    )
    annealing.set_acceptance_seed(1)
    print()
    logs = kestrum.benchmark([annealing], [problem], seeds=list(seeds))[0][0]
    ax = plot_convergence(logs, labels=[f"simulated annealing, seed {s}" for s in seeds])
    ax.set_yscale("log")
    ax.set_title("best tour length over time")
    label_final_values(ax)
    ax.figure.savefig(path, dpi=120)
    finals = ", ".join(f"{log[-1][1]:.1f}" for log in logs)
    print(f"annealing with seeds {', '.join(map(str, seeds))}: best {finals}; curves in {path}")


def label_final_values(ax):
    """Writes each curve's final value at its end, in the curve's colour, nudged apart
    upwards so that close values stay readable."""
    ends = sorted(((line.get_ydata()[-1], line.get_xdata()[-1], line.get_color()) for line in ax.get_lines()),
                  key=lambda end: end[0])
    for k, (y, x, colour) in enumerate(ends):
        ax.annotate(f"{y:,.1f}", xy=(x, y), xytext=(4, 6 + 11 * k), textcoords="offset points",
                    color=colour, fontsize=8, va="center", ha="left", annotation_clip=False)
    ax.margins(x=0.12)


if __name__ == "__main__":
    main()
