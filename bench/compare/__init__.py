"""kestrum against other libraries on the same instances and budgets (`python -m compare`
from bench/, as `make bench` runs it).

Runs, in one process where the peer is a Python library:
  - networkx simulated_annealing_tsp (swap of two cities, first city fixed) against kestrum
    simulated annealing with the same move, schedule and number of proposals;
  - scipy quadratic_assignment, methods 2opt and faq, on QAPLIB instances, against kestrum
    steepest descent with swap moves from the same start;
  - R's TSP::solve_TSP(method = "two_opt") through Rscript against kestrum steepest descent
    with reversal moves from the same random tour;
  - python-tsp local search, OR-Tools routing with guided local search and elkai on TSPLIB
    instances for a fixed time, as quality references (gap to the published optimum).
Speed comparisons alternate rounds between the peer and kestrum and keep medians. Times are
CPU times of the solving call (the machine is shared; wall time would also count other
processes), except for the fixed-time quality runs, which are given wall-clock budgets.

Prints one table and writes it, with the native engine/baseline figures when --native names
the JSON output of kestrum_bench, to bench/results/<date>-<host>.md.

One module per peer (networkx_peer, scipy_peer, r_peer, python_tsp_peer, ortools_peer,
elkai_peer); instances, timing, peers (installing them), native (kestrum_bench's figures) and
report (the table and the file it goes to, shared with large_tours.py) serve them all.
"""
import os

# Every solver here runs on one thread; keep numpy's BLAS from spreading over the cores.
for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")
