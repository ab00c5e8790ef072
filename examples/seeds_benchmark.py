"""kestrum.benchmark over several seeds and instances, with convergence plots.

Usage: python examples/seeds_benchmark.py [--seeds N] [--data DIR] [--plot PNG]

Simulated annealing and tabu search run on three TSPLIB instances (eil51, berlin52, st70) once
per seed. Before each run the benchmark reseeds the problem's move generator and resets its
solution to the identity, so only searches that draw random moves differ from seed to seed:
annealing's curves spread out, while tabu search, which scans the whole neighbourhood from the
same start, gives the same curve for every seed. Without the instance data, random Euclidean
instances of the same sizes are used instead.
"""

import argparse
import math
import random
import statistics
from pathlib import Path

import kestrum
from matplotlib.figure import Figure

from _instances import add_data_argument
from kestrum_tools import plot_convergence, read_optima

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

NAMES = ["eil51", "berlin52", "st70"]


def instances(data):
    """(name, evaluation, optimum or None) for each instance."""
    folder = Path(data) / "tsplib"
    if (folder / "optima.tsv").is_file():
        optima = read_optima(folder / "optima.tsv")
        for name in NAMES:
            yield name, E.tsp_from_tsplib(str(folder / f"{name}.tsp")), float(optima[name]["optimum"])
        return
    print(f"(no TSPLIB data at {folder}: random instances instead)")
    for k, n in enumerate([51, 52, 70]):
        rng = random.Random(k)
        pts = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
        yield f"random{n}", E.tsp([[math.dist(a, b) for b in pts] for a in pts]), None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeds", type=int, default=5, help="number of seeds (0, 1, ...)")
    parser.add_argument("--plot", default="seeds_benchmark.png", help="convergence plot file")
    add_data_argument(parser)
    args = parser.parse_args()

    chosen = list(instances(args.data))
    problems = [P.array_problem(M.reverse(), evaluation) for _, evaluation, _ in chosen]
    # Temperatures are integers: with alpha 0.8 they fall from 50 and come to rest at 2.
    annealing = LS.simulated_annealing(
        50, True, problems[0], T.max_iterations(300_000),
        kestrum.Cooling.geometric_cooling(0.8), kestrum.IterationsPerTemp.cnst_iter_temp(10_000),
    )
    annealing.set_acceptance_seed(7)  # the whole benchmark is then repeatable
    tabu = LS.tabu_search(True, problems[0], T.max_iterations(150), 30)
    algorithms = [("simulated annealing", annealing), ("tabu search", tabu)]
    seeds = list(range(args.seeds))

    # result[a][p][s]: the log of algorithm a on problem p with seed s.
    result = kestrum.benchmark([s for _, s in algorithms], problems, seeds=seeds)

    print(f"\n{'instance':<10}{'search':<22}{'best':>10}{'mean':>10}{'worst':>10}{'best gap':>10}")
    figure = Figure(figsize=(5 * len(algorithms), 3.2 * len(chosen)), layout="constrained")
    axes = figure.subplots(len(chosen), len(algorithms), squeeze=False)
    for p, (name, _, optimum) in enumerate(chosen):
        for a, (search_name, _) in enumerate(algorithms):
            logs = result[a][p]
            finals = [log[-1][1] for log in logs]
            gap = f"{(min(finals) - optimum) / optimum:.2%}" if optimum else "-"
            print(f"{name:<10}{search_name:<22}{min(finals):>10.0f}{statistics.mean(finals):>10.1f}"
                  f"{max(finals):>10.0f}{gap:>10}")
            ax = axes[p][a]
            # Tabu runs take well under a millisecond, where the clock mostly shows scheduling
            # noise: their steps tell more.
            against = "iteration" if search_name == "tabu search" else "time"
            plot_convergence(logs, labels=[f"seed {s}" for s in seeds], ax=ax, against=against)
            if optimum:
                ax.axhline(optimum, color="black", linewidth=0.8, linestyle="--")
            ax.set_title(f"{name}: {search_name}")
            ax.set_yscale("log")
    figure.savefig(args.plot, dpi=100)
    print(f"\nconvergence curves in {args.plot}")


if __name__ == "__main__":
    main()
