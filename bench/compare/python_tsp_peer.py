"""python-tsp's local search for a fixed time (a quality reference)."""
from __future__ import annotations

import numpy as np

PACKAGE = "python-tsp"
SOLVER = "python-tsp local search (2-opt)"


def solve(d: np.ndarray, seconds: int) -> tuple[str, float]:
    """(solver label, tour length) after `seconds` of its local search."""
    from python_tsp.heuristics import solve_tsp_local_search

    _, obj = solve_tsp_local_search(d, max_processing_time=seconds)
    return SOLVER, float(obj)
