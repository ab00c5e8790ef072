"""Simulated annealing: networkx's simulated_annealing_tsp against kestrum with the same move,
schedule and number of proposals."""
from __future__ import annotations

import statistics

import numpy as np

import kestrum as k

from .instances import random_euclidean, tour_length
from .report import Report, Row
from .timing import cpu, timed_rounds

SOLVER = "networkx simulated_annealing_tsp"


def in_place_note(nxt) -> str:
    """networkx's swap move may change the cycle it is given: then a rejected proposal stays
    applied, and its tour lengths are not comparable."""
    import random

    cycle = [0, 1, 2, 3, 4, 0]
    nxt.swap_two_nodes(cycle, random.Random(0))
    if cycle == [0, 1, 2, 3, 4, 0]:
        return ""
    return "; its move edits the current cycle in place, so rejected proposals stay applied"


def compare_annealing(report: Report, missing: dict[str, str], rounds: int) -> None:
    test = "SA, swap, same proposals"
    for n in (50, 100):
        inst = f"random-{n}"
        if "networkx" in missing:
            report.skip(test, inst, SOLVER, missing["networkx"])
            continue
        import networkx as nx
        from networkx.algorithms.approximation import traveling_salesman as nxt

        _, d = random_euclidean(n, 100 + n)
        start = [int(v) for v in np.random.default_rng(200 + n).permutation(n)]
        graph = nx.from_numpy_array(d)
        # networkx: temperature 100 lowered by 10% after every 1000 proposals; it stops after
        # 11 temperatures in a row without a new best. kestrum gets the same schedule
        # (integer temperature, factor 0.9 every 1000 proposals) and exactly as many proposals.
        nx_times, k_times, nx_best, k_best, proposals = [], [], [], [], 0
        for r in range(rounds):
            count = [0]

            def move(cycle, seed, count=count):
                count[0] += 1
                return nxt.swap_two_nodes(cycle, seed)

            t, cycle = cpu(lambda: nxt.simulated_annealing_tsp(
                graph, start + [start[0]], weight="weight", temp=100, move=move,
                max_iterations=10, N_inner=1000, alpha=0.1, seed=r))
            nx_times.append(t / count[0])
            nx_best.append(tour_length(d, cycle[:-1]))
            proposals = count[0]

            problem = k.Problem.array_problem(k.MoveType.swap_tsp(r), k.Evaluation.tsp(d.tolist()))

            def anneal():
                problem.set_solution(start)
                sa = k.LocalSearch.simulated_annealing(
                    100, True, problem, k.Termination.max_iterations(proposals),
                    k.Cooling.geometric_cooling(0.9), k.IterationsPerTemp.cnst_iter_temp(1000))
                return sa.run()

            k_times.append(timed_rounds(anneal) / proposals)
            k_best.append(anneal()[-1][1])
        nx_t, k_t = statistics.median(nx_times), statistics.median(k_times)
        report.add(Row(test, inst, SOLVER, nx_t * proposals, 1 / nx_t,
                       statistics.median(nx_best), ratio=nx_t / k_t,
                       note=f"{proposals} proposals" + in_place_note(nxt)))
        report.add(Row(test, inst, "kestrum simulated_annealing (swap_tsp)", k_t * proposals, 1 / k_t,
                       statistics.median(k_best), ratio=1.0, note=f"{proposals} proposals"))
