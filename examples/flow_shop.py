"""Permutation flow shop: order n jobs through m machines to finish the last one soonest.

Every job visits machines 0..m-1 in that order, each machine works on one job at a time, and
all machines take the jobs in the same order (the permutation). The score is the makespan,
the time the last job leaves the last machine:

    C[k][r] = max(C[k-1][r], C[k][r-1]) + p[r][job at position k],   makespan = C[n-1][m-1]

The objective is given to kestrum twice: as a plain Python function and as a numba cfunc
(native speed, no C++ written). Neither has a delta: each move is scored by applying it to a
private copy of the solution, evaluating and undoing it. Both run under all seven searches and
the results are compared in a table.

The instance comes from Taillard's generator (20 jobs, 5 machines, time seed 873654221, his
first instance, whose optimal makespan 1278 is known).

Usage: python examples/flow_shop.py [--jobs N --machines M --seed S]
"""

import argparse
import time

import numpy as np

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

TA001 = (20, 5, 873654221, 1278)  # jobs, machines, time seed, optimal makespan


def taillard_times(jobs, machines, seed):
    """Processing times p[machine][job] by Taillard's generator (uniform 1..99)."""
    p = np.zeros((machines, jobs), dtype=np.float64)
    for r in range(machines):
        for j in range(jobs):
            k = seed // 127773
            seed = 16807 * (seed % 127773) - k * 2836
            if seed < 0:
                seed += 2147483647
            p[r, j] = 1 + int(seed / 2147483647 * 99)
    return p


def python_makespan(p):
    """evaluate(solution) in plain Python: the solution is a read-only memoryview of uint32."""
    times = p.T.tolist()  # times[job][machine], lists are faster than numpy for scalar loops
    machines = p.shape[0]

    def evaluate(solution):
        done = [0.0] * machines  # completion time of the latest job on each machine
        for job in solution:
            row, t = times[job], 0.0
            for r in range(machines):
                t = max(t, done[r]) + row[r]
                done[r] = t
        return done[-1]

    return evaluate


def numba_makespan(p):
    """The same evaluate as a numba cfunc, or None when numba is not installed."""
    try:
        from numba import carray, cfunc, types
    except ImportError:
        return None
    times = np.ascontiguousarray(p.T)  # a global of the compiled function: frozen in
    machines = p.shape[0]

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.voidptr))
    def evaluate(solution, n, user_data):
        s = carray(solution, (n,))
        done = np.zeros(machines)
        for k in range(n):
            t = 0.0
            for r in range(machines):
                t = max(t, done[r]) + times[s[k], r]
                done[r] = t
        return done[machines - 1]

    return evaluate


def searches(evaluation, seed=1):
    """(name, search, problem), each search on a problem of its own."""
    p = P.array_problem(M.swap(seed), evaluation)
    yield "steepest descent", LS.steepest_descent(True, p, T.always_true()), p
    p = P.array_problem(M.swap(seed), evaluation)
    annealing = LS.simulated_annealing(
        20, True, p, T.max_iterations(10_000),
        kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(1_000),
    )
    annealing.set_acceptance_seed(seed)
    yield "simulated annealing", annealing, p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "tabu search", LS.tabu_search(True, p, T.max_iterations(100), 10), p
    p = P.array_problem(M.multi_neighbor([M.swap(seed), M.reverse(seed)]), evaluation)
    yield "variable neighbourhood", LS.vns(True, p, T.always_true()), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "iterated local search", LS.iterated_local_search(True, p, T.max_iterations(5), seed=seed), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "robust tabu search", LS.robust_tabu_search(True, p, T.max_iterations(100), seed=seed), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "annealing", LS.annealing(True, p, T.max_iterations(10_000), seed=seed), p


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--jobs", type=int, default=TA001[0])
    parser.add_argument("--machines", type=int, default=TA001[1])
    parser.add_argument("--seed", type=int, default=TA001[2])
    args = parser.parse_args()
    p = taillard_times(args.jobs, args.machines, args.seed)
    known = TA001[3] if (args.jobs, args.machines, args.seed) == TA001[:3] else None
    print(f"flow shop: {args.jobs} jobs, {args.machines} machines" + (f", optimum {known}" if known else ""))

    objectives = [("python", python_makespan(p))]
    cf = numba_makespan(p)
    if cf is None:
        print("(numba is not installed: only the Python callable is run)")
    else:
        objectives.append(("numba cfunc", cf))
    print(f"\n{'search':<24}{'objective':<13}{'makespan':>9}{'iterations':>12}{'time':>9}")
    for label, objective in objectives:
        evaluation = E.custom(args.jobs, objective)
        for name, search, problem in searches(evaluation):
            t0 = time.perf_counter()
            log = search.run()
            wall = time.perf_counter() - t0
            _, best, _, iterations = log[-1]
            print(f"{name:<24}{label:<13}{best:>9.0f}{iterations:>12}{wall:>8.2f}s")


if __name__ == "__main__":
    main()
