"""Speed-up of kestrum_tools.grid over sequential kestrum.benchmark, and its cost per task.

Two measurements:

1. A grid of --runs tabu-search runs of about --seconds each on a random 400-city tour:
   wall time of sequential benchmark, of grid on its default process pool (pool start-up
   included, as a caller sees it), and of grid on a local Dask cluster (2 worker processes,
   1 thread each, on loopback; cluster start-up and the workers' first import of kestrum
   excluded), given its executor and given the client itself. The logs are checked equal.
2. A grid of --tiny runs that stop at once: the wall time per task, which is almost all
   overhead (copying the search and problem state, shipping the task, returning the log).

Each mode is timed --rounds times, the modes taking turns so that other load on the machine
spreads over all of them; best and median are shown.

Run: python bench/grid_bench.py [--runs 40] [--seconds 1.0] [--tiny 400] [--rounds 3]
"""

import argparse
import math
import os
import random
import statistics
import time
from concurrent.futures import ProcessPoolExecutor

import kestrum
from kestrum import Evaluation, LocalSearch, MoveType, Problem, Termination
from kestrum_tools import grid


def tour_problem(n, seed):
    rng = random.Random(seed)
    xy = [(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)]
    d = [[math.dist(a, b) for b in xy] for a in xy]
    return Problem.array_problem(MoveType.swap(seed), Evaluation.tsp(d))


def timed(f):
    start = time.perf_counter()
    result = f()
    return time.perf_counter() - start, result


def rows(result):
    return [[[[row[1:] for row in log] for log in p] for p in a] for a in result]


def calibrate(problem, seconds):
    """Iterations of tabu search that take about `seconds` on this machine."""
    probe = 50
    while True:
        problem.reset()
        search = LocalSearch.tabu_search(True, problem, Termination.max_iterations(probe))
        elapsed, _ = timed(search.run)
        if elapsed >= 0.25 or elapsed >= seconds:
            problem.reset()
            return max(1, round(probe * seconds / elapsed))
        probe *= 2


def dask_cluster():
    from distributed import Client, LocalCluster

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None)
    return cluster, Client(cluster)


def report(name, times, unit_scale=1.0, unit="s", baseline=None):
    best, median = min(times), statistics.median(times)
    line = f"  {name:26} best {best * unit_scale:8.3f} {unit}  median {median * unit_scale:8.3f} {unit}"
    if baseline is not None:
        line += f"   speed-up {min(baseline) / best:4.2f}x (medians {statistics.median(baseline) / median:4.2f}x)"
    print(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--tiny", type=int, default=400)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    problem = tour_problem(400, 1)
    iterations = calibrate(problem, args.seconds)
    crit = Termination.max_iterations(iterations)
    algorithms = [LocalSearch.tabu_search(True, problem, crit)]
    seeds = list(range(args.runs))
    print(
        f"cores: {os.cpu_count()}; grid of {args.runs} tabu-search runs of {iterations} iterations "
        f"(~{args.seconds:g} s each); {args.rounds} rounds, the modes taking turns"
    )

    cluster, client = dask_cluster()
    small = tour_problem(10, 2)
    instant = [LocalSearch.steepest_descent(True, small, Termination.max_iterations(0))]
    tiny_seeds = list(range(args.tiny))
    # grid leaves the objects as they are, so every mode starts from the same state.
    modes = {
        "sequential benchmark": (lambda: kestrum.benchmark(algorithms, [problem], crit, seeds=seeds),
                                 lambda: kestrum.benchmark(instant, [small], seeds=tiny_seeds)),
        "grid, process pool": (lambda: grid(algorithms, [problem], seeds, crit, progress=False), None),
        "grid, Dask executor": (lambda: grid(algorithms, [problem], seeds, crit, executor=client.get_executor(), progress=False),
                                lambda: grid(instant, [small], tiny_seeds, executor=client.get_executor(), progress=False)),
        "grid, Dask client": (lambda: grid(algorithms, [problem], seeds, crit, executor=client, progress=False),
                              lambda: grid(instant, [small], tiny_seeds, executor=client, progress=False)),
    }
    times = {name: [] for name in modes}
    tiny_times = {name: [] for name in modes}
    try:
        grid(instant, [small], [0, 1, 2, 3], executor=client.get_executor(), progress=False)  # workers warm
        with ProcessPoolExecutor(max_workers=os.cpu_count()) as pool:
            grid(instant, [small], [0, 1], executor=pool, progress=False)  # workers up and warm
            tiny_modes = dict(modes)
            tiny_modes["grid, process pool"] = (None, lambda: grid(instant, [small], tiny_seeds, executor=pool, progress=False))
            reference = None
            for r in range(args.rounds):
                names = list(modes)
                names = names[r % len(names):] + names[: r % len(names)]  # a different mode goes first each round
                for name in names:
                    elapsed, result = timed(modes[name][0])
                    times[name].append(elapsed)
                    reference = reference or rows(result)
                    assert rows(result) == reference, f"{name} disagrees with the others"
                    tiny_elapsed, _ = timed(tiny_modes[name][1])
                    tiny_times[name].append(tiny_elapsed / args.tiny)
    finally:
        client.close()
        cluster.close()

    seq = times["sequential benchmark"]
    for name in modes:
        report(name, times[name], baseline=None if name == "sequential benchmark" else seq)
    print("  (the process pool's times include starting it; the Dask cluster was started and warm)")
    print(f"\n{args.tiny} runs that stop at once: wall time per task")
    for name in modes:
        report(name, tiny_times[name], unit_scale=1e3, unit="ms")


if __name__ == "__main__":
    main()
