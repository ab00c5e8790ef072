"""Memory and reference counts over many calls: every class built, used and dropped, every search
run, every error path taken, thousands of times. Python-side memory (tracemalloc) and the process's
resident size must level off after a warm-up, and the objects passed in must end with the
reference counts they started with."""

import gc
import os
import pickle
import sys
import tracemalloc

import pytest

import kestrum
import kinds
from conftest import PanicException

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
Cooling, PerTemp = kestrum.Cooling, kestrum.IterationsPerTemp

try:
    import numpy
except ImportError:  # pragma: no cover - numpy is in the development requirements
    numpy = None

# AddressSanitizer keeps freed blocks in quarantine, so the resident size grows by design.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
PAGE = os.sysconf("SC_PAGE_SIZE")

# Large enough that a lost native copy of the data shows in the resident size: a 48 x 48 matrix
# is 18 KiB, so leaking one per call over 1000 calls costs 18 MiB against a 4 MiB tolerance.
# Rounds that level off leave well under 1 KiB of Python memory behind; one float lost per
# round over 1000 rounds is 24 KiB, above the 16 KiB tolerance.
N = 48
TRACED_TOLERANCE = 16 * 1024
if UNDER_ASAN:
    # The interpreter's type attribute cache keeps a reference to the name string of each
    # lookup, in a slot chosen by the string's address. pickle looks names up with fresh
    # strings; with pymalloc they reuse one address and one slot, but under ASan's quarantine
    # every one lands elsewhere, until all 4096 slots hold a stray string of about 50 bytes.
    TRACED_TOLERANCE += 4096 * 64
RSS_TOLERANCE = 4 * 1024 * 1024


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def swallow(call, *expected):
    """Calls `call` and returns the type of the exception it raised (which must be expected)."""
    try:
        call()
    except expected as e:
        return type(e)
    raise AssertionError(f"{call} raised nothing")


class Data:
    """The arguments every scenario passes in. None of them is immortal (no small ints, no
    literals), so their reference counts are meaningful."""

    def __init__(self, tmp):
        self.rows = [[float(abs(i - j) + (i > j)) for j in range(N)] for i in range(N)]
        self.sym = [[float(abs(i - j)) for j in range(N)] for i in range(N)]
        self.row_tuple = tuple(tuple(r) for r in self.sym)
        self.ragged = [[float("0.5")], [float("1.5"), float("0.5")]]
        self.weights = [float(k % 7 + 1) for k in range(N)]
        self.max_fill = float("10.5")
        self.seed = 10**12 + 7
        self.big = 2**64 + 1
        self.bad_text = "not" + " a number"
        self.perm = list(range(N))[::-1]
        self.bad_perm = [0] * N
        self.unit_weights = [float("1.25"), float("2.5")]
        self.swap = M.swap(self.seed)
        self.reverse = M.reverse(self.seed)
        self.swap_tsp = M.swap_tsp(self.seed)
        self.multi = M.multi_neighbor([self.swap, self.reverse], self.unit_weights)
        self.tsp = E.tsp(self.rows)
        self.qap = E.qap(self.sym, self.rows)
        self.bins = E.empty_space(self.weights, self.max_fill)
        self.iterations = T.max_iterations(4)
        self.no_improve = T.no_improve(3)
        self.criteria = [self.iterations, self.no_improve, T.must_improve()]
        # Annealing never stops on an improvement criterion alone.
        self.either = T.multi_crit_and([self.no_improve, T.max_iterations(12)])
        self.cooling = Cooling.geometric_cooling(float("0.9"))
        self.per_temp = PerTemp.cnst_iter_temp(3)
        self.alpha = float("0.75")
        self.temp = 10**6 + 1
        self.shared = P.array_problem(self.swap, self.tsp)
        self.searches = [
            LS.steepest_descent(True, self.shared, self.iterations),
            LS.simulated_annealing(self.temp, False, self.shared, self.iterations, self.cooling, self.per_temp),
            LS.tabu_search(True, self.shared, self.iterations, self.temp),
            LS.vns(True, P.array_problem(self.multi, self.qap), self.iterations),
            LS.annealing(False, self.shared, self.iterations, alpha=self.alpha, seed=self.temp),
        ]
        # Every other search as the kinds table builds it, over these arguments.
        self.searches += [kind(True, P.array_problem(self.multi, self.qap) if kind.multi else self.shared, self.iterations)
                          for name, kind in kinds.SEARCH_KINDS.items() if name not in HAND_BUILT]
        self.files = {}
        dist = "\n".join(" ".join(str(x) for x in r) for r in self.sym)
        for name, text in [
            ("dist", dist),
            ("coord", "0 0\n3 4\n6 0\n1.5 2\n"),
            ("dms", "51 30 0 N 0 7 0 W\n48 51 0 N 2 21 0 E\n40 42 51 N 74 0 21 W\n"),
            ("tsplib", "TYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 3 4\n3 6 0\nEOF\n"),
            ("qaplib", "2\n0 1\n1 0\n0 2\n2 0\n"),
            ("not_square", "0 1 2\n"),
            ("bad_number", "0 x\nx 0\n"),
            ("malformed_tsplib", "TYPE: TSP\nDIMENSION: two\n"),
        ]:
            path = tmp / f"{name}.txt"
            path.write_text(text)
            self.files[name] = str(path)
        self.missing = str(tmp / "missing.txt")
        self.directory = str(tmp)

    def watched(self):
        """Every object whose reference count must come back to where it was."""
        out = {}
        for name, value in vars(self).items():
            if name == "files":
                out.update({f"files[{k}]": v for k, v in value.items()})
            elif isinstance(value, list):
                out[name] = value
                out.update({f"{name}[{k}]": v for k, v in enumerate(value) if not isinstance(v, int)})
            else:
                out[name] = value
        return out


# The searches Data and run_searches build by hand, with arguments of their own; the others
# are walked from the kinds table.
HAND_BUILT = {"steepest_descent", "simulated_annealing", "tabu_search", "vns", "annealing"}


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    return Data(tmp_path_factory.mktemp("leaks"))


# ---- scenarios: each is one round of calls; run a few hundred to a few thousand times.

def build_values(d):
    E.tsp(d.rows)
    E.tsp(d.row_tuple)
    E.qap(d.sym, d.rows)
    E.empty_bins(d.weights, d.max_fill)
    E.empty_space(d.weights, d.max_fill)
    E.empty_space_exp(d.weights, d.max_fill)
    M.swap(d.seed), M.reverse(d.seed), M.swap_tsp(None)
    M.multi_neighbor([d.swap, d.reverse, d.swap_tsp], d.unit_weights)
    M.multi_neighbor((d.swap,))
    T.max_sec(d.seed), T.always_true(), T.max_iterations(d.temp), T.min_temp(-d.temp)
    T.multi_crit_and(d.criteria), T.multi_crit_or([T.multi_crit_and(d.criteria)] * 3)
    T.must_improve(), T.no_improve(d.temp), T.time_limit(d.alpha)
    Cooling.geometric_cooling(d.alpha), PerTemp.cnst_iter_temp(d.temp)


def build_every_kind(d):
    for name in kinds.MOVE_KINDS:
        kinds.move_type(name, d.seed)
    for name in kinds.BUILT_EVALUATIONS:
        kinds.evaluation(name, 6)
    for build in kinds.CRITERIA.values():
        build()


def read_files(d):
    E.tsp_from_dist_matrix(d.files["dist"])
    E.tsp_from_coord2d(d.files["coord"])
    E.tsp_from_dms(d.files["dms"])
    E.tsp_from_tsplib(d.files["tsplib"])
    E.qap_from_qaplib(d.files["qaplib"])


def problem_methods(d):
    p = P.array_problem(d.reverse, d.tsp)
    p.eval()
    p.set_seed(d.seed)
    p.set_move_type(d.swap_tsp)
    p.set_eval_type(d.qap)
    p.set_solution(d.perm)
    p.solution(), p.best_solution()
    p.reset()
    p.eval()


def run_searches(d):
    p = P.array_problem(d.swap, d.tsp)
    searches = [
        LS.steepest_descent(True, p, d.iterations),
        LS.simulated_annealing(d.temp, True, p, d.iterations, d.cooling, d.per_temp),
        LS.tabu_search(False, p, d.either, d.temp),
        LS.tabu_search(True, p, d.iterations),
        LS.annealing(True, p, d.iterations, start_temperature=d.alpha, iterations_per_temperature=d.temp),
        LS.vns(True, P.array_problem(d.multi, d.bins), d.iterations),
    ]
    for s in searches:
        s.run()
        s.reset()
        s.set_termination(d.either)
        s.set_problem(P.array_problem(d.multi if s is searches[-1] else d.reverse, d.tsp))
        s.run()
    for name, kind in kinds.SEARCH_KINDS.items():
        if name in HAND_BUILT:
            continue
        s = kind(True, P.array_problem(d.multi if kind.multi else d.swap, d.tsp), d.iterations)
        s.run()
        s.reset()
        s.set_termination(d.either)
        s.set_problem(P.array_problem(d.multi if kind.multi else d.swap_tsp, d.bins))
        s.run()


def run_benchmark(d):
    kestrum.benchmark(d.searches[:3], [d.shared, d.shared], d.iterations, seeds=[d.seed, d.temp])
    kestrum.benchmark(d.searches, [], None, d.temp)


def pickle_everything(d):
    for obj in [d.tsp, d.qap, d.multi, d.iterations, d.cooling, d.per_temp, d.shared, *d.searches]:
        pickle.loads(pickle.dumps(obj))


def argument_errors(d):
    swallow(lambda: E.tsp(d.bad_text), TypeError)
    swallow(lambda: E.tsp([d.rows[0], d.bad_text]), TypeError)
    swallow(lambda: E.tsp([d.rows[0], [d.max_fill, d.bad_text]]), TypeError)
    swallow(lambda: E.empty_bins(d.weights, d.bad_text), TypeError)
    swallow(lambda: M.swap(d.big), OverflowError)
    swallow(lambda: M.swap(-d.seed), OverflowError)
    swallow(lambda: M.swap(d.max_fill), TypeError)
    swallow(lambda: M.multi_neighbor([d.swap, d.multi]), ValueError)
    swallow(lambda: M.multi_neighbor([d.swap, d.tsp]), TypeError)
    swallow(lambda: T.max_iterations(d.big), OverflowError)
    swallow(lambda: T.multi_crit_or([d.iterations, d.swap]), TypeError)
    swallow(lambda: P.array_problem(d.tsp, d.swap), TypeError)
    swallow(lambda: P.array_problem(move_type=d.swap), TypeError)
    swallow(lambda: P.array_problem(d.swap, d.tsp, evaluation=d.tsp), TypeError)
    swallow(lambda: d.shared.set_seed(None), TypeError)
    swallow(lambda: d.shared.set_solution(d.bad_perm), ValueError)
    swallow(lambda: LS.steepest_descent(d.seed, d.shared, d.iterations), TypeError)
    swallow(lambda: LS.tabu_search(True, d.shared, d.iterations, d.big), OverflowError)
    swallow(lambda: kestrum.benchmark(d.searches, [d.shared, d.swap]), TypeError)
    swallow(lambda: kestrum.benchmark(d.searches, [d.shared], seeds=[d.seed, -d.seed]), OverflowError)
    swallow(lambda: E._from_state(d.bad_text.encode()), ValueError)


def reader_errors(d):
    swallow(lambda: E.tsp_from_dist_matrix(d.missing), FileNotFoundError)
    swallow(lambda: E.tsp_from_dist_matrix(d.files["not_square"]), OSError)
    swallow(lambda: E.tsp_from_tsplib(d.files["malformed_tsplib"]), ValueError)
    swallow(lambda: E.tsp_from_coord2d(d.directory), PanicException)
    swallow(lambda: E.tsp_from_dist_matrix(d.files["bad_number"]), PanicException)


def fatal_stops(d):
    swallow(lambda: E.tsp(d.ragged), PanicException)
    # A steepest descent over a multi-neighbour problem stops in its first step and poisons
    # both locks; both objects are then dropped.
    p = P.array_problem(d.multi, d.tsp)
    s = LS.steepest_descent(True, p, d.iterations)
    swallow(s.run, PanicException)
    swallow(p.eval, PanicException)
    swallow(s.reset, PanicException)
    swallow(lambda: kestrum.benchmark([s], [p]), PanicException)
    swallow(lambda: LS.steepest_descent(True, d.shared, d.iterations).set_problem(p), PanicException)


def poisoned(d):
    swallow(d.poisoned_problem.eval, PanicException)
    swallow(lambda: d.poisoned_problem.set_eval_type(d.tsp), PanicException)
    swallow(d.poisoned_search.run, PanicException)
    swallow(lambda: d.poisoned_search.set_termination(d.iterations), PanicException)
    swallow(lambda: pickle.dumps(d.poisoned_problem), PanicException)


def numpy_buffers(d):
    E.tsp(d.np_rows)
    E.tsp(list(d.np_rows))
    E.qap(d.np_rows, d.np_rows.T)  # the transpose is not contiguous: read element by element
    E.empty_bins(d.np_weights, d.max_fill)
    E.empty_bins(d.np_weights[::2], d.max_fill)


SCENARIOS = [
    (build_values, 2000),
    (build_every_kind, 400),
    (read_files, 400),
    (problem_methods, 2000),
    (run_searches, 100),
    (run_benchmark, 150),
    (pickle_everything, 150),
    (argument_errors, 1000),
    (reader_errors, 1000),
    (fatal_stops, 1000),
    (poisoned, 2000),
    (numpy_buffers, 300),
]


@pytest.mark.parametrize("scenario, loops", SCENARIOS, ids=[s.__name__ for s, _ in SCENARIOS])
def test_memory_and_reference_counts_level_off(data, scenario, loops, capfd):
    if scenario is numpy_buffers:
        if numpy is None:
            pytest.skip("numpy is not installed")
        data.np_rows = numpy.array(data.rows)
        data.np_weights = numpy.array(data.weights)
    if scenario is poisoned:
        data.poisoned_problem = P.array_problem(data.multi, data.tsp)
        data.poisoned_search = LS.tabu_search(True, data.poisoned_problem, data.iterations)
        swallow(data.poisoned_search.run, PanicException)

    watched = data.watched()
    warm_up = max(loops // 10, 20)
    for _ in range(warm_up):
        scenario(data)
    gc.collect()
    counts = {name: sys.getrefcount(obj) for name, obj in watched.items()}

    tracemalloc.start()
    try:
        traced_before = tracemalloc.get_traced_memory()[0]
        rss_before = rss()
        for _ in range(loops):
            scenario(data)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
        rss_growth = rss() - rss_before
    finally:
        tracemalloc.stop()
    capfd.readouterr()  # the diagnostics of thousands of fatal stops

    changed = {name: (counts[name], sys.getrefcount(obj)) for name, obj in watched.items()
               if sys.getrefcount(obj) != counts[name]}
    assert not changed, f"reference counts changed (before, after): {changed}"
    assert traced_growth < TRACED_TOLERANCE, f"Python memory grew by {traced_growth} bytes over {loops} rounds"
    if not UNDER_ASAN:
        assert rss_growth < RSS_TOLERANCE, f"resident size grew by {rss_growth} bytes over {loops} rounds"


def test_dropping_the_last_handle_frees_the_problem(data):
    """A problem reachable only through a search lives as long as the search; dropping the
    search then frees it. Each round strands a 360 x 360 matrix (1 MiB) behind a search."""
    big = [[float(i + j) for j in range(360)] for i in range(360)]
    ev = E.tsp(big)

    def round_():
        s = LS.steepest_descent(True, P.array_problem(data.swap, ev), data.iterations)
        s.run()
        s.set_problem(P.array_problem(data.reverse, ev))  # strands the first problem
        s.run()

    for _ in range(5):
        round_()
    before = rss()
    for _ in range(60):
        round_()
    if not UNDER_ASAN:
        assert rss() - before < 8 * 1024 * 1024
