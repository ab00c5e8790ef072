"""The one-call path, as ratios measured side by side in one run.

1. What `solve` gives with its defaults on uniform random points in the unit square, against a
   2-opt steepest descent from the same random start: tour length ratio (lower is better).
2. What a fractional `time_limit` costs against the whole-second `max_sec` it stands beside:
   iterations per second of the same annealing, both for one second.
3. What `solve` adds around a run: wall time of a short bounded call against the same
   objects built and run by hand.

Usage:
    python bench/solve_bench.py [--cities 300] [--seconds 3] [--seeds 3]
"""

import argparse
import random
import statistics
import time

import kestrum
from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination
from kestrum_tools import solve


def points(n, seed):
    rng = random.Random(seed)
    return [(rng.random(), rng.random()) for _ in range(n)]


def descent_from_random(evaluation, seed):
    p = Problem.array_problem(MoveType.reverse(seed), evaluation)
    p.shuffle(seed)
    return LocalSearch.steepest_descent(True, p, Termination.always_true()).run()[-1][1]


def quality(n, seconds, seeds):
    ratios = []
    for seed in range(1, seeds + 1):
        evaluation = Evaluation.tsp_from_points(points(n, seed))
        result = solve(evaluation, time_limit=seconds, seed=seed)
        two_opt = descent_from_random(evaluation, seed)
        ratios.append(result.fun / two_opt)
        print(f"  seed {seed}: solve ({result.method}) {result.fun:.4f}, 2-opt descent {two_opt:.4f}, ratio {ratios[-1]:.3f}")
    return statistics.median(ratios)


def annealing(problem, criterion):
    search = LocalSearch.simulated_annealing(
        1, True, problem, criterion, Cooling.geometric_cooling(0.99), IterationsPerTemp.cnst_iter_temp(10_000)
    )
    search.set_acceptance_seed(1)
    search.set_log("final")
    return search


def clock_cost(n, rounds):
    ratios = []
    for r in range(rounds):
        rates = {}
        for name, criterion in (("max_sec", Termination.max_sec(1)), ("time_limit", Termination.time_limit(1.0))):
            p = Problem.array_problem(MoveType.reverse(r), Evaluation.tsp_from_points(points(n, r)))
            last = annealing(p, criterion).run()[-1]
            rates[name] = last[3] / (last[0] / 1e9)
        ratios.append(rates["time_limit"] / rates["max_sec"])
        print(f"  round {r}: {rates['max_sec'] / 1e6:.2f} M proposals/s with max_sec, "
              f"{rates['time_limit'] / 1e6:.2f} M with time_limit")
    return statistics.median(ratios)


def call_cost(n, rounds, iterations=2_000):
    evaluation = Evaluation.tsp_from_points(points(n, 7))
    ratios = []
    for r in range(rounds):
        t0 = time.perf_counter()
        solve(evaluation, method="tabu_search", max_iterations=iterations, seed=r)
        t1 = time.perf_counter()
        p = Problem.array_problem(MoveType.reverse(r), evaluation)
        p.shuffle(r)
        search = LocalSearch.tabu_search(True, p, Termination.max_iterations(iterations), canonical_tours=True)
        search.set_log("improvements")
        search.run()
        p.best_solution()
        t2 = time.perf_counter()
        ratios.append((t1 - t0) / (t2 - t1))
    return statistics.median(ratios)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cities", type=int, default=300)
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--seeds", type=int, default=3)
    args = parser.parse_args()
    print(f"kestrum {kestrum.__version__}")
    print(f"1. solve({args.cities} uniform points, time_limit={args.seconds:g}) / 2-opt descent, same random start:")
    print(f"   median ratio {quality(args.cities, args.seconds, args.seeds):.3f}")
    print("2. time_limit / max_sec, annealing proposals per second over one second:")
    print(f"   median ratio {clock_cost(args.cities, 3):.3f}")
    print("3. solve / the same objects by hand, wall time of 2,000 tabu steps:")
    print(f"   median ratio {call_cost(args.cities, 5):.3f}")


if __name__ == "__main__":
    main()
