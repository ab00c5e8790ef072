"""A tour through 100,000 random points, solved from the points alone, and drawn.

Usage: python examples/large_tour.py [--cities N] [--seconds S] [--seed K] [--plot PNG]

The evaluation holds the coordinates only (distances are computed when read), so memory grows
with n, not n squared. Iterated local search starts from the points' own order, which for
random points is a random tour, and runs for --seconds; the result is compared with
0.7124 * sqrt(n * area), the usual estimate of an optimal tour through n uniform points.
"""

import argparse
import importlib.util
import math
import random
import sys
import time
from pathlib import Path

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cities", type=int, default=100_000)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--plot", metavar="PNG", default=None, help="tour drawing (default: build/large_tour.png)")
    args = parser.parse_args()
    if not hasattr(E, "tsp_from_points"):
        print("this build of kestrum has no Evaluation.tsp_from_points; nothing to do")
        return 0

    rng = random.Random(args.seed)
    points = [(rng.random(), rng.random()) for _ in range(args.cities)]
    problem = P.array_problem(M.reverse(0), E.tsp_from_points(points))
    search = LS.iterated_local_search(True, problem, T.max_sec(args.seconds), seed=args.seed)
    t0 = time.perf_counter()
    log = search.run()
    wall = time.perf_counter() - t0
    estimate = 0.7124 * math.sqrt(args.cities * 1.0)
    start, first, final = log[0][1], log[1][1] if len(log) > 2 else log[-1][1], log[-1][1]
    print(f"{args.cities:,} random points in the unit square, {args.seconds} s of iterated local search")
    print(f"  random start      {start:12.2f}")
    print(f"  first optimum     {first:12.2f}  ({100 * (first / estimate - 1):+.2f} % against the estimate)")
    print(f"  after {final_iterations(log):>8} its {final:12.2f}  ({100 * (final / estimate - 1):+.2f} %), {wall:.1f} s")

    if importlib.util.find_spec("matplotlib") is None:
        print("no drawing: matplotlib is not installed")
        return 0
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    tour = problem.best_solution()
    xs = [points[c][0] for c in tour] + [points[tour[0]][0]]
    ys = [points[c][1] for c in tour] + [points[tour[0]][1]]
    fig, ax = plt.subplots(figsize=(10, 10))
    ax.plot(xs, ys, linewidth=0.15, color="black")
    ax.set_aspect("equal")
    ax.set_axis_off()
    ax.set_title(f"{args.cities:,} points, length {final:.1f}")
    path = args.plot or default_plot_path()
    fig.savefig(path, dpi=200, bbox_inches="tight")
    print(f"tour drawn in {path}")
    return 0


def final_iterations(log):
    return log[-1][3]


def default_plot_path():
    build = Path(__file__).resolve().parent.parent / "build"
    return str((build if build.is_dir() else Path.cwd()) / "large_tour.png")


if __name__ == "__main__":
    sys.exit(main())
