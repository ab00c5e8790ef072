"""Linear ordering: order n items so that the weights running forwards are as large as possible.

W[u][v] is what is gained when item u comes before item v; a permutation s scores the sum of
W[s_a][s_b] over all positions a < b, to be maximised (the triangulation of an input-output
table is the classical use).

This objective comes with a delta, so no move is ever applied to score it:
- exchanging positions i < j changes only the pairs that involve s_i or s_j:
      W[s_j][s_i] - W[s_i][s_j] + sum over i < k < j of
      (W[s_j][s_k] - W[s_i][s_k]) + (W[s_k][s_i] - W[s_k][s_j]),
  O(j - i) instead of O(n^2);
- reversing positions i..j turns every pair inside the run around:
      sum over i <= a < b <= j of W[s_b][s_a] - W[s_a][s_b].

The objective is given as plain Python functions and as numba cfuncs, run under all seven
searches (maximising) and compared in a table; every run's final score is checked against a
full evaluation.

Usage: python examples/linear_ordering.py [--size N --seed S]
"""

import argparse
import time

import numpy as np

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
SWAP, REVERSE = kestrum.MOVE_SWAP, kestrum.MOVE_REVERSE


def random_weights(n, seed):
    """An n x n matrix of integer weights 0..99 with a zero diagonal."""
    w = np.random.default_rng(seed).integers(0, 100, size=(n, n)).astype(np.float64)
    np.fill_diagonal(w, 0.0)
    return w


def python_objective(w):
    """(evaluate, delta) in plain Python over the read-only uint32 view of the solution."""
    rows = w.tolist()

    def evaluate(solution):
        s = list(solution)
        return float(sum(rows[s[a]][s[b]] for a in range(len(s)) for b in range(a + 1, len(s))))

    def delta(solution, kind, i, j):
        if kind == SWAP:
            u, v = solution[i], solution[j]
            total = rows[v][u] - rows[u][v]
            for k in range(i + 1, j):
                x = solution[k]
                total += (rows[v][x] - rows[u][x]) + (rows[x][u] - rows[x][v])
            return total
        if kind == REVERSE:
            run = solution[i : j + 1].tolist()
            return float(sum(rows[run[b]][run[a]] - rows[run[a]][run[b]] for a in range(len(run)) for b in range(a + 1, len(run))))
        raise ValueError(f"unknown move kind {kind}")

    return evaluate, delta


def numba_objective(w):
    """The same pair as numba cfuncs, or None when numba is not installed."""
    try:
        from numba import carray, cfunc, types
    except ImportError:
        return None
    weights = np.ascontiguousarray(w)

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.voidptr))
    def evaluate(solution, n, user_data):
        s = carray(solution, (n,))
        total = 0.0
        for a in range(n):
            for b in range(a + 1, n):
                total += weights[s[a], s[b]]
        return total

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.intc, types.intp, types.intp, types.voidptr))
    def delta(solution, n, kind, i, j, user_data):
        s = carray(solution, (n,))
        total = 0.0
        if kind == 1:  # kestrum.MOVE_SWAP
            u, v = s[i], s[j]
            total = weights[v, u] - weights[u, v]
            for k in range(i + 1, j):
                x = s[k]
                total += (weights[v, x] - weights[u, x]) + (weights[x, u] - weights[x, v])
        else:  # kestrum.MOVE_REVERSE
            for a in range(i, j + 1):
                for b in range(a + 1, j + 1):
                    total += weights[s[b], s[a]] - weights[s[a], s[b]]
        return total

    return evaluate, delta


def searches(evaluation, seed=1):
    """(name, search, problem), each search maximising on a problem of its own."""
    p = P.array_problem(M.swap(seed), evaluation)
    yield "steepest descent", LS.steepest_descent(False, p, T.must_improve()), p
    p = P.array_problem(M.swap(seed), evaluation)
    annealing = LS.simulated_annealing(
        50, False, p, T.max_iterations(20_000),
        kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(1_000),
    )
    annealing.set_acceptance_seed(seed)
    yield "simulated annealing", annealing, p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "tabu search", LS.tabu_search(False, p, T.max_iterations(50), 15), p
    p = P.array_problem(M.multi_neighbor([M.swap(seed), M.reverse(seed)]), evaluation)
    yield "variable neighbourhood", LS.vns(False, p, T.must_improve()), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "iterated local search", LS.iterated_local_search(False, p, T.max_iterations(5), seed=seed), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "robust tabu search", LS.robust_tabu_search(False, p, T.max_iterations(50), seed=seed), p
    p = P.array_problem(M.swap(seed), evaluation)
    yield "annealing", LS.annealing(False, p, T.max_iterations(20_000), seed=seed), p


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=30)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    w = random_weights(args.size, args.seed)
    print(f"linear ordering: {args.size} items, weights 0..99 (seed {args.seed}), maximised")

    objectives = [("python", python_objective(w))]
    compiled = numba_objective(w)
    if compiled is None:
        print("(numba is not installed: only the Python callables are run)")
    else:
        objectives.append(("numba cfunc", compiled))
    print(f"\n{'search':<24}{'objective':<13}{'score':>9}{'iterations':>12}{'time':>9}")
    for label, (evaluate, delta) in objectives:
        evaluation = E.custom(args.size, evaluate, delta)
        for name, search, problem in searches(evaluation):
            t0 = time.perf_counter()
            log = search.run()
            wall = time.perf_counter() - t0
            _, best, current, iterations = log[-1]
            # The running score is the start plus every delta taken: it must agree with a full
            # evaluation of where the search ended (a descent's last row shows its best instead).
            ended = best if name in ("steepest descent", "variable neighbourhood") else current
            assert ended == problem.eval(), (name, ended, problem.eval())
            print(f"{name:<24}{label:<13}{best:>9.0f}{iterations:>12}{wall:>8.2f}s")


if __name__ == "__main__":
    main()
