"""kestrum_tools.grid on a process pool and on a Dask cluster, against sequential benchmark."""

import multiprocessing
import pickle
import sys
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import kestrum
import reference as ref
from kestrum_tools import GridError, grid

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

SEEDS = [0, 3, 7]


def rows(log):
    return [row[1:] for row in log]


def nested_rows(result):
    return [[[rows(log) for log in per_problem] for per_problem in per_search] for per_search in result]


def problems():
    tour, _ = ref.random_evaluation(ref.rng_for(5), 10, "tsp-sym")
    qap, _ = ref.random_evaluation(ref.rng_for(6), 8, "qap-sym")
    return [P.array_problem(M.reverse(), tour), P.array_problem(M.swap(), qap)]


def searches(problem):
    annealing = LS.simulated_annealing(
        30, True, problem, T.always_true(), kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(10)
    )
    annealing.set_acceptance_seed(99)
    return [
        LS.steepest_descent(True, problem, T.always_true()),
        LS.tabu_search(True, problem, T.always_true(), 4),
        LS.vns(False, problem, T.always_true()),
        annealing,
    ]


@pytest.fixture(scope="module")
def process_pool():
    # forkserver, as grid's own pool: by now the test process runs threads (earlier tests'
    # pools), which a fork would copy in an unknown state.
    with ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context("forkserver")) as pool:
        yield pool


@pytest.fixture(scope="module")
def threads():
    with ThreadPoolExecutor(max_workers=1) as pool:
        yield pool


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    )
    client = distributed.Client(cluster)
    try:
        yield client
    finally:
        client.close()
        cluster.close()


@pytest.fixture
def dask_executor(dask_client):
    return dask_client.get_executor()


# A Dask client itself is accepted too: the states then reach the cluster once, by scatter.
EXECUTORS = ["process_pool", "dask_executor", "dask_client"]


class TestSameAsBenchmark:
    @pytest.mark.parametrize("executor", EXECUTORS)
    def test_every_run_matches_sequential_benchmark(self, request, executor):
        ps = problems()
        algs = searches(ps[0])
        crit = T.max_iterations(25)
        got = grid(algs, ps, SEEDS, crit, executor=request.getfixturevalue(executor), progress=False)
        # grid worked on copies, so benchmark starts from the very same objects.
        expected = kestrum.benchmark(algs, ps, crit, seeds=SEEDS)
        assert nested_rows(got) == nested_rows(expected)
        # Runs did move: every search improved on the start somewhere.
        assert all(any(log[-1][1] != log[0][1] for per_p in per_a for log in per_p) for per_a in got)

    def test_default_process_pool_and_own_criteria(self):
        ps = problems()[:1]
        algs = [LS.tabu_search(True, ps[0], T.max_iterations(12)), LS.steepest_descent(True, ps[0], T.max_iterations(3))]
        got = grid(algs, ps, [1, 1, 2], progress=False)
        expected = kestrum.benchmark(algs, ps, seeds=[1, 1, 2])
        assert nested_rows(got) == nested_rows(expected)
        assert [len(log) for log in got[1][0]] == [5, 5, 5]  # start row, 3 steps, final row

    @pytest.mark.parametrize("executor", ["process_pool", "threads"])
    def test_random_starts_match_benchmark(self, request, executor):
        ps = problems()
        algs = searches(ps[0])[:2]
        crit = T.max_iterations(25)
        where = "threads" if executor == "threads" else request.getfixturevalue(executor)
        got = grid(algs, ps, SEEDS, crit, executor=where, progress=False, random_starts=True)
        expected = kestrum.benchmark(algs, ps, crit, seeds=SEEDS, random_starts=True)
        assert nested_rows(got) == nested_rows(expected)
        # A deterministic descent now starts differently for each seed.
        assert len({log[0][1] for log in got[0][0]}) == len(SEEDS)

    def test_given_objects_are_left_alone(self, threads):
        ps = problems()
        algs = searches(ps[1])
        ps[0].set_solution(list(reversed(range(10))))
        before = [pickle.dumps(o) for o in (*ps, *algs)]
        grid(algs, ps, [4], T.max_iterations(5), executor=threads, progress=False)
        assert [pickle.dumps(o) for o in (*ps, *algs)] == before


class TestShapes:
    @pytest.mark.parametrize(
        "n_algs, n_problems, seeds, expected",
        [(0, 1, [1], []), (1, 0, [1], [[]]), (1, 1, [], [[[]]]), (2, 1, [], [[[]], [[]]])],
    )
    def test_empty_levels_like_benchmark(self, n_algs, n_problems, seeds, expected):
        p = problems()[0]
        algs = [LS.steepest_descent(True, p, T.always_true())] * n_algs
        assert grid(algs, [p] * n_problems, seeds, progress=False) == expected

    @pytest.mark.parametrize(
        "kwargs, exc, message",
        [
            (dict(seeds=[2**64]), OverflowError, "seed 18446744073709551616 is out of range: seeds are 0 to 2**64 - 1"),
            (dict(seeds=[-1]), OverflowError, "seed -1 is out of range: seeds are 0 to 2**64 - 1"),
            (dict(seeds=[1.0]), TypeError, "'float' object cannot be interpreted as an integer"),
            (dict(seeds="12"), TypeError, "seeds must be a sequence of int, not str"),
            (dict(random_starts=1), TypeError, "random_starts must be True or False, not int"),
            (dict(algorithms="ab"), TypeError, "algorithms must be a sequence of LocalSearch, not str"),
            (dict(problems=[5]), TypeError, "problems[0] is a int, not a Problem"),
            (dict(termination_function=5), TypeError, "termination_function is a int, not a Termination"),
        ],
    )
    def test_argument_errors_come_before_any_run(self, threads, kwargs, exc, message):
        p = problems()[0]
        args = dict(algorithms=[LS.steepest_descent(True, p, T.always_true())], problems=[p], seeds=[1]) | kwargs
        with pytest.raises(exc) as err:
            grid(**args, executor=threads, progress=False)
        assert str(err.value) == message


class TestFailures:
    @pytest.mark.parametrize("executor", EXECUTORS)
    def test_failed_runs_raise_with_their_place_and_keep_the_rest(self, request, executor):
        good = problems()[0]
        multi = P.array_problem(M.multi_neighbor([M.swap(1)]), E.tsp([[0, 1, 2], [1, 0, 1], [2, 1, 0]]))
        algs = [LS.vns(True, good, T.always_true()), LS.tabu_search(True, good, T.max_iterations(4))]
        with pytest.raises(GridError) as err:
            grid(algs, [good, multi], [5, 6], executor=request.getfixturevalue(executor), progress=False)
        e = err.value
        # VNS accepts the multi-neighbour problem; tabu search refuses it in both seeds.
        assert (e.algorithm, e.problem, e.seed) == (1, 1, 5)
        assert [(f.algorithm, f.problem, f.seed) for f in e.failures] == [(1, 1, 5), (1, 1, 6)]
        assert str(e) == (
            "run of search 1 on problem 1 with seed 5 failed: "
            "PanicException: Can't use multiNeighbor in Tabu Search (1 more runs failed)"
        )
        assert e.__cause__ is e.failures[0].error
        # The worker's traceback travels along.
        assert "set_problem" in e.__cause__.__notes__[0]
        assert e.results[1][1] == [None, None]
        again = pickle.loads(pickle.dumps(e))
        assert (str(again), again.seed, len(again.failures)) == (str(e), 5, 2)
        expected = kestrum.benchmark(algs[:1], [good, multi], seeds=[5, 6])
        assert nested_rows(e.results[:1]) == nested_rows(expected)
        assert nested_rows([e.results[1][:1]]) == nested_rows(kestrum.benchmark(algs[1:], [good], seeds=[5, 6]))


class TestProgress:
    def test_bar_counts_runs(self, capfd, threads):
        p = problems()[0]
        grid([LS.steepest_descent(True, p, T.always_true())], [p], [1, 2, 3], executor=threads)
        err = capfd.readouterr().err
        assert "grid: 100%" in err and "3/3" in err

    def test_off_switch_needs_no_tqdm(self, capfd, monkeypatch, threads):
        monkeypatch.setitem(sys.modules, "tqdm", None)  # import tqdm now fails
        p = problems()[0]
        algs = [LS.steepest_descent(True, p, T.always_true())]
        got = grid(algs, [p], [1, 2], executor=threads, progress=False)
        assert len(got[0][0]) == 2
        assert capfd.readouterr().err == ""
        with pytest.raises(ImportError, match=r"^the progress bar of grid \(progress=False runs without it\) needs tqdm: pip install tqdm$"):
            grid(algs, [p], [1], executor=threads)
