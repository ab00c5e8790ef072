"""Bin packing with the three bin-packing measures.

Usage: python examples/bin_packing.py [--items N] [--capacity K] [--seed S]

The solution is the order in which items are packed: each item goes into the current bin, and
a new bin is started when it does not fit. The three measures score the same packing:

- empty_bins: how many times a new bin was started (bins used - 1);
- empty_space: the free capacity of every bin, the last one included (bins x K - total weight);
- empty_space_exp: the same with each bin's free capacity squared.

Each is minimised by tabu search and by simulated annealing over the exchange neighbourhood.
The bin-count and free-space measures are flat (most exchanges leave them unchanged): tabu
search stalls on such plateaus, while annealing accepts the sideways moves and keeps walking.
"""

import argparse
import math
import random
import time

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def bins_of(order, weights, capacity):
    """The packing of `order` as the measures see it: a list of bins, each a list of weights.
    (An item heavier than the capacity closes the bin before it even when that bin is empty.)"""
    bins, fill = [[]], 0.0
    for item in order:
        w = weights[item]
        if fill + w > capacity:
            bins.append([])
            fill = 0.0
        bins[-1].append(w)
        fill += w
    return bins


def searches(evaluation, seed):
    """(name, problem, search): tabu search and simulated annealing, each on its own problem."""
    problem = P.array_problem(M.swap(seed), evaluation)
    stop = T.multi_crit_and([T.max_iterations(1000), T.no_improve(200)])
    yield "tabu search", problem, LS.tabu_search(True, problem, stop, 40)
    problem = P.array_problem(M.swap(seed), evaluation)
    # Integer temperatures: with alpha 0.9 the temperature comes to rest at 5.
    annealing = LS.simulated_annealing(
        20, True, problem, T.max_iterations(500_000),
        kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(20_000),
    )
    annealing.set_acceptance_seed(seed)
    yield "simulated annealing", problem, annealing


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--items", type=int, default=120)
    parser.add_argument("--capacity", type=float, default=100.0)
    parser.add_argument("--seed", type=int, default=3)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    weights = [float(rng.randint(10, 60)) for _ in range(args.items)]
    lower_bound = math.ceil(sum(weights) / args.capacity)
    start = list(range(args.items))
    print(f"{args.items} items, weights 10..60, capacity {args.capacity:g}: "
          f"at least {lower_bound} bins; packing in item order uses {len(bins_of(start, weights, args.capacity))}\n")

    print(f"{'measure':<18}{'search':<22}{'score':>10}{'bins':>6}{'iterations':>12}{'time':>9}")
    fewest = None
    for name, build in [("empty_bins", E.empty_bins), ("empty_space", E.empty_space),
                        ("empty_space_exp", E.empty_space_exp)]:
        for search_name, problem, search in searches(build(weights, args.capacity), args.seed):
            t0 = time.perf_counter()
            _, best, _, iterations = search.run()[-1]
            wall = time.perf_counter() - t0
            used = bins_of(problem.best_solution(), weights, args.capacity)
            print(f"{name:<18}{search_name:<22}{best:>10.0f}{len(used):>6}{iterations:>12}{wall:>8.2f}s")
            if fewest is None or len(used) < len(fewest[2]):
                fewest = name, search_name, used

    name, search_name, used = fewest
    fullest = sorted(used, key=sum, reverse=True)
    print(f"\nthe {len(used)} bins found by {search_name} on {name}, fullest first:")
    for content in fullest[:5]:
        print(f"  {sum(content):5.0f}  {' + '.join(f'{w:.0f}' for w in content)}")
    if len(fullest) > 5:
        print(f"  ... {len(fullest) - 5} more")


if __name__ == "__main__":
    main()
