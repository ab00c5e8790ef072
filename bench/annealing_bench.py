"""Annealing against a 2-opt descent on random points in the unit square, side by side.

For each seed: n uniform points, a random start tour drawn from the seed, then from that same
start a steepest descent over reversals (2-opt) run to its local optimum and an annealing run
of the same move type for --seconds under max_sec, every setting left to its default (the
start temperature calibrated, the cooling spread over the time budget). Reports each tour
length, the annealing's proposals per second, and the median over the seeds of annealed /
descended length. Goal: a median ratio of at most 0.97 (3% shorter) on 300 points in 3 s.
Usage:
    python bench/annealing_bench.py [--n 300] [--seconds 3] [--seeds 5] [--matrix]
"""

import argparse
import random
import statistics
import time

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
GOAL = 0.97


def problem(n, seed, matrix):
    rnd = random.Random(seed)
    points = [(rnd.random(), rnd.random()) for _ in range(n)]
    if matrix:
        evaluation = E.tsp([[((ax - bx) ** 2 + (ay - by) ** 2) ** 0.5 for bx, by in points] for ax, ay in points])
    else:
        evaluation = E.tsp_from_points(points)
    p = P.array_problem(M.reverse(seed), evaluation)
    start = list(range(n))
    rnd.shuffle(start)
    p.set_solution(start)
    return p


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=300)
    parser.add_argument("--seconds", type=int, default=3)
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--matrix", action="store_true", help="a distance matrix instead of points")
    args = parser.parse_args()

    print(f"{args.n} uniform points, {'matrix' if args.matrix else 'points'}, annealing {args.seconds} s per seed")
    print(f"{'seed':>4} {'start':>9} {'2-opt':>9} {'2-opt s':>8} {'annealed':>9} {'Mprop/s':>8} {'ratio':>7}")
    ratios = []
    for seed in range(args.seeds):
        p = problem(args.n, seed, args.matrix)
        start = p.eval()
        t0 = time.perf_counter()
        descended = LS.steepest_descent(True, p, T.always_true()).run()[-1][1]
        descent_s = time.perf_counter() - t0

        q = problem(args.n, seed, args.matrix)
        search = LS.annealing(True, q, T.max_sec(args.seconds), seed=seed)
        search.set_log("final")
        final = search.run()[-1]
        annealed, proposals = final[1], final[3]
        rate = proposals / final[0] * 1e3  # per ns -> millions per second
        ratios.append(annealed / descended)
        print(f"{seed:>4} {start:>9.3f} {descended:>9.4f} {descent_s:>8.3f} {annealed:>9.4f} {rate:>8.1f} "
              f"{ratios[-1]:>7.4f}")
    median = statistics.median(ratios)
    verdict = "met" if median <= GOAL else "NOT met"
    print(f"median annealed / 2-opt: {median:.4f} ({(1 - median) * 100:.1f}% shorter; goal <= {GOAL}: {verdict})")


if __name__ == "__main__":
    main()
