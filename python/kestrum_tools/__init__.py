"""Companions to the kestrum module: `solve`, one call from an objective to a result; run logs as arrays, convergence and tour plots, and readers
for the small text files that come with TSPLIB and QAPLIB instances (tours, solutions, optima).

numpy is needed for the arrays and matplotlib for the plots; both are imported only when used.
`first_fit` gives the bins of a bin-packing order. `grid` runs the runs of a benchmark as independent tasks on a process pool or a Dask cluster;
tqdm draws its progress bar, and the bar of `run`, one search run with its best score shown. `kestrum_tools.data` holds a few small classic instances with their
published optima.
"""

from kestrum_tools.grid import GridError, grid
from kestrum_tools.instances import read_optima, read_qaplib_solution, read_tour, tsplib_coordinates
from kestrum_tools.logs import log_to_arrays
from kestrum_tools.packing import first_fit
from kestrum_tools.plots import plot_convergence, plot_tour
from kestrum_tools.run import run
from kestrum_tools.solve import SolveResult, solve

__all__ = [
    "GridError",
    "SolveResult",
    "first_fit",
    "grid",
    "log_to_arrays",
    "plot_convergence",
    "plot_tour",
    "read_optima",
    "read_qaplib_solution",
    "read_tour",
    "run",
    "solve",
    "tsplib_coordinates",
]
