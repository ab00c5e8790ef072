"""A TSPLIB instance solved by all seven searches, with the gap to its published optimum and a
plot of the best tour.

Usage: python examples/tsplib_all_searches.py [INSTANCE] [--data DIR] [--plot PNG]

INSTANCE is a name from tsplib/optima.tsv (default berlin52). The distances are TSPLIB's own
rounded integers, so a tour's score is directly comparable with the published optimum. Every
search starts from the same random tour (some files list their cities in the order of the
optimal tour, which would leave nothing to search).
"""

import argparse
import time

import kestrum
from _instances import add_data_argument, library
from kestrum_tools import plot_tour, read_optima, tsplib_coordinates

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def problem(moves, evaluation):
    p = P.array_problem(moves, evaluation)
    p.shuffle(1)  # the same random start for every search
    return p


def searches(evaluation):
    """(name, search, problem): each search on a problem of its own, since a problem is shared
    by every search given it."""
    p = problem(M.reverse(1), evaluation)
    yield "steepest descent", LS.steepest_descent(True, p, T.always_true()), p
    p = problem(M.reverse(1), evaluation)
    annealing = LS.simulated_annealing(
        100, True, p, T.max_iterations(2_000_000),
        kestrum.Cooling.geometric_cooling(0.97), kestrum.IterationsPerTemp.cnst_iter_temp(10_000),
    )
    annealing.set_acceptance_seed(1)  # repeatable acceptance draws
    yield "simulated annealing", annealing, p
    # With reversals every tour has equally long variants (the whole array reversed, or the
    # complement of a run reversed instead of the run): canonical_tours makes the tabu list
    # hold tours, so those variants count as one and cannot use up its steps.
    p = problem(M.reverse(1), evaluation)
    yield "tabu search", LS.tabu_search(True, p, T.max_iterations(500), 30, canonical_tours=True), p
    p = problem(M.multi_neighbor([M.swap(1), M.reverse(1)]), evaluation)
    yield "variable neighbourhood", LS.vns(True, p, T.always_true()), p
    p = problem(M.reverse(1), evaluation)
    yield "iterated local search", LS.iterated_local_search(True, p, T.time_limit(1.0), seed=1), p
    # Robust tabu search exchanges cities; its step scans every pair.
    p = problem(M.swap(1), evaluation)
    yield "robust tabu search", LS.robust_tabu_search(True, p, T.time_limit(1.0), seed=1), p
    p = problem(M.reverse(1), evaluation)
    yield "annealing", LS.annealing(True, p, T.time_limit(1.0), seed=1), p


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("instance", nargs="?", default="berlin52")
    parser.add_argument("--plot", default=None, help="tour plot file (default: INSTANCE_tour.png)")
    add_data_argument(parser)
    args = parser.parse_args()

    folder = library(args.data, "tsplib", [args.instance])
    row = read_optima(folder / "optima.tsv")[args.instance]
    suffix = ".atsp" if row["type"] == "ATSP" else ".tsp"
    evaluation = E.tsp_from_tsplib(str(folder / (args.instance + suffix)))
    optimum = float(row["optimum"])
    print(f"{args.instance}: {row['n']} cities, {row['edge_weight_type']} distances, optimum {optimum:.0f}\n")
    print(f"{'search':<24}{'best':>10}{'gap':>8}{'iterations':>12}{'time':>9}")

    best_tour, best_score, best_name = None, float("inf"), ""
    for name, search, problem in searches(evaluation):
        t0 = time.perf_counter()
        log = search.run()
        wall = time.perf_counter() - t0
        _, best, _, iterations = log[-1]
        print(f"{name:<24}{best:>10.0f}{(best - optimum) / optimum:>8.2%}{iterations:>12}{wall:>8.2f}s")
        if best < best_score:
            best_tour, best_score, best_name = problem.best_solution(), best, name

    if row["edge_weight_type"] == "EXPLICIT":
        print("\n(no coordinates in this instance: no tour plot)")
        return
    coords = tsplib_coordinates(folder / (args.instance + suffix))
    if row["edge_weight_type"] == "GEO":
        coords = [(lon, lat) for lat, lon in coords]  # longitude across, latitude up
    path = args.plot or f"{args.instance}_tour.png"
    plot_tour(coords, best_tour, path=path, title=f"{args.instance}: {best_name}, length {best_score:.0f}")
    print(f"\nbest tour drawn in {path}")


if __name__ == "__main__":
    main()
