"""Memory of large tour evaluations: matrices shared by problems, points held in O(n).

Each measurement runs in a child process, so that what earlier tests allocated (and the
allocator kept) does not blur the figures. Resident memory is read from /proc.
"""

import json
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")

_MEASURE = textwrap.dedent(
    """
    import json, os, sys
    import numpy as np
    import kestrum

    PAGE = os.sysconf("SC_PAGE_SIZE")

    def resident():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * PAGE

    n, what = int(sys.argv[1]), sys.argv[2]
    rng = np.random.default_rng(1)
    xy = rng.random((n, 2)) * 1000
    if what == "dense":
        d = np.sqrt(((xy[:, None, :] - xy[None, :, :]) ** 2).sum(axis=2))
        e = kestrum.Evaluation.tsp(d)
        del d
    else:
        e = getattr(kestrum.Evaluation, "tsp_from_points")(xy)
    del xy
    before = resident()
    problems = [kestrum.Problem.array_problem(kestrum.MoveType.reverse(k), e) for k in range(2)]
    searches = [
        kestrum.LocalSearch.tabu_search(True, p, kestrum.Termination.max_iterations(1)) for p in problems
    ]
    grown = resident() - before
    print(json.dumps({"grown": grown, "score": problems[1].eval()}))
    """
)


def _measure(n, what):
    out = subprocess.run(
        [sys.executable, "-c", _MEASURE, str(n), what], capture_output=True, text=True, check=True, timeout=300
    )
    return json.loads(out.stdout)


def test_two_problems_share_their_evaluations_matrix():
    n = 2000  # a 32 MB matrix: a copy per problem would add 64 MB
    matrix_bytes = 8 * n * n
    result = _measure(n, "dense")
    # Two problems and two searches add a solution array and scratch each, nothing near a matrix.
    assert result["grown"] < 0.1 * matrix_bytes, result
    assert result["score"] > 0
