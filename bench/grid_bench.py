"""Speed-up of kestrum_tools.grid over sequential kestrum.benchmark, and its cost per task.

Two measurements:

1. A grid of --runs tabu-search runs of about --seconds each on a random 400-city tour:
   wall time of sequential benchmark, of grid on its default process pool (pool start-up
   included, as a caller sees it), and of grid on a local Dask cluster (2 worker processes,
   1 thread each, on loopback; cluster start-up and the workers' first import of kestrum
   excluded), given its executor and given the client itself. The logs are checked equal.
2. A grid of --tiny runs that stop at once: the wall time per task, which is almost all
   overhead (copying the search and problem state, shipping the task, returning the log).

Run: python bench/grid_bench.py [--runs 40] [--seconds 1.0] [--tiny 400]
"""

import argparse
import math
import os
import random
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--tiny", type=int, default=400)
    args = parser.parse_args()

    problem = tour_problem(400, 1)
    iterations = calibrate(problem, args.seconds)
    crit = Termination.max_iterations(iterations)
    algorithms = [LocalSearch.tabu_search(True, problem, crit)]
    seeds = list(range(args.runs))
    print(f"cores: {os.cpu_count()}; grid of {args.runs} tabu-search runs of {iterations} iterations (~{args.seconds:g} s each)")

    cluster, client = dask_cluster()
    small = tour_problem(10, 2)
    instant = [LocalSearch.steepest_descent(True, small, Termination.max_iterations(0))]
    try:
        grid(instant, [small], [0, 1, 2, 3], executor=client.get_executor(), progress=False)  # workers warm
        # grid first: it leaves the objects as they are, so benchmark sees the same state.
        t_pool, on_pool = timed(lambda: grid(algorithms, [problem], seeds, crit, progress=False))
        t_dask, on_dask = timed(lambda: grid(algorithms, [problem], seeds, crit, executor=client.get_executor(), progress=False))
        t_client, on_client = timed(lambda: grid(algorithms, [problem], seeds, crit, executor=client, progress=False))
        t_seq, sequential = timed(lambda: kestrum.benchmark(algorithms, [problem], crit, seeds=seeds))
        assert rows(on_pool) == rows(sequential) == rows(on_dask) == rows(on_client), "grid and benchmark disagree"
        print(f"  sequential benchmark     {t_seq:7.2f} s")
        print(f"  grid, process pool       {t_pool:7.2f} s   speed-up {t_seq / t_pool:4.2f}x (pool start-up included)")
        print(f"  grid, Dask executor      {t_dask:7.2f} s   speed-up {t_seq / t_dask:4.2f}x")
        print(f"  grid, Dask client        {t_client:7.2f} s   speed-up {t_seq / t_client:4.2f}x (states scattered once)")

        tiny_seeds = list(range(args.tiny))
        print(f"\n{args.tiny} runs that stop at once: wall time per task")
        with ProcessPoolExecutor(max_workers=os.cpu_count()) as pool:
            grid(instant, [small], [0, 1], executor=pool, progress=False)  # workers up and warm
            t_tiny_pool, _ = timed(lambda: grid(instant, [small], tiny_seeds, executor=pool, progress=False))
        t_tiny_dask, _ = timed(lambda: grid(instant, [small], tiny_seeds, executor=client.get_executor(), progress=False))
        t_tiny_client, _ = timed(lambda: grid(instant, [small], tiny_seeds, executor=client, progress=False))
        t_tiny_seq, _ = timed(lambda: kestrum.benchmark(instant, [small], seeds=tiny_seeds))
        for name, t in [
            ("sequential benchmark", t_tiny_seq),
            ("grid, process pool", t_tiny_pool),
            ("grid, Dask executor", t_tiny_dask),
            ("grid, Dask client", t_tiny_client),
        ]:
            print(f"  {name:24} {1e3 * t / args.tiny:8.3f} ms")
    finally:
        client.close()
        cluster.close()


if __name__ == "__main__":
    main()
