"""OR-Tools routing with guided local search for a fixed time (a quality reference)."""
from __future__ import annotations

import numpy as np

PACKAGE = "ortools"
SOLVER = "OR-Tools routing GLS"


def solve(d: np.ndarray, seconds: int) -> tuple[str, float]:
    """(solver label, tour length) when its time limit ends the search."""
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2

    n = len(d)
    dist = d.astype(np.int64).tolist()
    manager = pywrapcp.RoutingIndexManager(n, 1, 0)
    routing = pywrapcp.RoutingModel(manager)
    if hasattr(routing, "RegisterTransitMatrix"):
        transit = routing.RegisterTransitMatrix(dist)
    else:
        transit = routing.RegisterTransitCallback(
            lambda i, j: dist[manager.IndexToNode(i)][manager.IndexToNode(j)])
    routing.SetArcCostEvaluatorOfAllVehicles(transit)
    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC
    params.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    params.time_limit.seconds = seconds
    solution = routing.SolveWithParameters(params)
    return SOLVER, float(solution.ObjectiveValue())
