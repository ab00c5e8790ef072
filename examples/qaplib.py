"""A QAPLIB instance solved by steepest descent, simulated annealing and tabu search, with the
gap to its published value.

Usage: python examples/qaplib.py [INSTANCE] [--data DIR]

INSTANCE is a name from qaplib/optima.tsv (default nug20, or nug12 with only the instances
shipped with kestrum_tools). kestrum scores an assignment over
position pairs a < b only, each unordered pair once, while QAPLIB sums over all ordered pairs.
When both matrices are symmetric with zero diagonals (the table's half_rule column), kestrum's
score is exactly half the QAPLIB objective, so the published value is halved for the gap. For
the other instances the two objectives differ and no gap is shown.
"""

import argparse
import time

import kestrum
from _instances import add_data_argument, library
from kestrum_tools import read_optima, read_qaplib_solution

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def searches(evaluation, n):
    """(name, search): every search on a problem of its own, all with the exchange neighbourhood."""
    yield "steepest descent", LS.steepest_descent(True, P.array_problem(M.swap(1), evaluation), T.always_true())
    annealing = LS.simulated_annealing(
        2000, True, P.array_problem(M.swap(1), evaluation), T.max_iterations(3_000_000),
        kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(50_000),
    )
    annealing.set_acceptance_seed(1)
    yield "simulated annealing", annealing
    tabu = LS.tabu_search(True, P.array_problem(M.swap(1), evaluation), T.max_iterations(3000), n)
    yield "tabu search", tabu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("instance", nargs="?", default=None)
    add_data_argument(parser)
    args = parser.parse_args()

    folder = library(args.data, "qaplib", [args.instance or "nug12"])
    if args.instance is None:
        args.instance = "nug20" if (folder / "nug20.dat").is_file() else "nug12"
    row = read_optima(folder / "optima.tsv")[args.instance]
    n = int(row["n"])
    evaluation = E.qap_from_qaplib(str(folder / (args.instance + ".dat")))
    value = float(row["value"])
    halves = row["half_rule"] == "yes"
    target = value / 2 if halves else None
    print(f"{args.instance}: n = {n}, {row['status']} value {value:.0f} (QAPLIB, all ordered pairs)")
    if halves:
        print(f"symmetric, zero diagonals: kestrum's one-pair-once score of it is {target:.0f}")
    else:
        print("not symmetric with zero diagonals: kestrum's score is a different objective, no gap")

    sln = folder / (args.instance + ".sln")
    if sln.exists():
        published, permutation = read_qaplib_solution(sln, inverse=row["sln_orientation"] == "inverse")
        check = P.array_problem(M.swap(0), evaluation)
        check.set_solution(permutation)
        print(f"the published solution ({published}) scores {check.eval():.0f} here")

    print(f"\n{'search':<22}{'best':>14}{'gap':>9}{'iterations':>12}{'time':>9}")
    for name, search in searches(evaluation, n):
        t0 = time.perf_counter()
        _, best, _, iterations = search.run()[-1]
        wall = time.perf_counter() - t0
        gap = f"{(best - target) / target:.2%}" if target else "-"
        print(f"{name:<22}{best:>14.0f}{gap:>9}{iterations:>12}{wall:>8.2f}s")


if __name__ == "__main__":
    main()
