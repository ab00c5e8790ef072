"""Run logs (lists of (elapsed_ns, best, current, iteration) rows) as numpy arrays."""

from collections.abc import Sequence
from typing import TYPE_CHECKING

from kestrum_tools._optional import require

if TYPE_CHECKING:
    import numpy

Row = tuple[int, float, float, int]


def log_to_arrays(log: Sequence[Row]) -> dict[str, "numpy.ndarray"]:
    """The columns of one run log as numpy arrays.

    Keys: "elapsed_ns" (int64), "seconds" (float64, elapsed_ns / 1e9), "best" and "current"
    (float64), "iteration" (int64). Each array has one entry per row, in log order.
    """
    np = require("numpy", "log_to_arrays")
    for k, row in enumerate(log):
        if len(row) != 4:
            raise ValueError(f"row {k} of the log has {len(row)} fields, not 4")
    elapsed = np.array([row[0] for row in log], dtype=np.int64)
    return {
        "elapsed_ns": elapsed,
        "seconds": elapsed.astype(np.float64) / 1e9,
        "best": np.array([row[1] for row in log], dtype=np.float64),
        "current": np.array([row[2] for row in log], dtype=np.float64),
        "iteration": np.array([row[3] for row in log], dtype=np.int64),
    }
