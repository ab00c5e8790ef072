"""elkai (a quality reference): its run count is its only budget, so it takes its own time."""
from __future__ import annotations

import numpy as np

from .instances import tour_length

PACKAGE = "elkai"
SOLVER = "elkai"


def solve(d: np.ndarray, seconds: int) -> tuple[str, float]:  # noqa: ARG001 - no time limit of its own
    """(solver label with its run count, tour length)."""
    import elkai

    # One run on the largest instance already takes longer than the others' time limit.
    runs = 10 if len(d) <= 300 else 1
    tour = elkai.DistanceMatrix(d.astype(np.int64).tolist()).solve_tsp(runs=runs)
    tour = tour[:-1] if len(tour) == len(d) + 1 else tour
    return f"elkai ({runs} run{'s' if runs > 1 else ''}, own time)", tour_length(d, tour)
