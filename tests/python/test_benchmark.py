"""kestrum.benchmark: conversion, the "hii" line, nesting, seeding and the state left behind."""

import json
import subprocess
import sys
import textwrap

import pytest

import kestrum
import reference as ref
from conftest import POISONED, raises_panic

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def tour(seed=1, n=8):
    ev, _ = ref.random_evaluation(ref.rng_for(seed), n, "tsp-sym")
    return P.array_problem(M.swap(seed), ev)


def sd(p=None):
    return LS.steepest_descent(True, p or tour(), T.always_true())


def cold_sa(p=None):
    # At temperature 0 every worsening move is rejected: deterministic for a seeded problem.
    return LS.simulated_annealing(0, True, p or tour(), T.max_iterations(300), kestrum.Cooling.geometric_cooling(0.9),
                                  kestrum.IterationsPerTemp.cnst_iter_temp(50))


class TestShapes:
    def test_empty(self, capfd):
        assert kestrum.benchmark([], []) == []
        assert capfd.readouterr().out == "hii\n"

    @pytest.mark.parametrize(
        "kwargs, shape",
        [
            ({}, [[10]]),
            ({"runs": 0}, [[0]]),
            ({"runs": 2}, [[2]]),
            ({"seeds": []}, [[0]]),
            ({"seeds": [5], "runs": 3}, [[1]]),
            ({"termination_function": None, "runs": None, "seeds": None}, [[10]]),
        ],
        ids=["default", "runs-0", "runs-2", "no-seeds", "seeds-win", "all-none"],
    )
    def test_one_by_one(self, kwargs, shape):
        result = kestrum.benchmark([sd()], [tour()], **kwargs)
        assert [[len(logs) for logs in per_search] for per_search in result] == shape

    def test_two_by_two(self):
        result = kestrum.benchmark([sd(), cold_sa()], [tour(1), tour(2)], seeds=[5])
        assert [[len(logs) for logs in per] for per in result] == [[1, 1], [1, 1]]
        log = result[1][0][0]
        assert all(type(row) is tuple and [type(x) for x in row] == [int, float, float, int] for row in log)

    def test_no_problems(self):
        assert kestrum.benchmark([sd()], []) == [[]]

    def test_module_function(self):
        assert kestrum.__all__[-1] == "benchmark"
        assert kestrum.benchmark.__text_signature__ == (
            "(algorithms, problems, termination_function=None, runs=None, seeds=None, *, random_starts=False)")
        assert kestrum.benchmark.__module__ == "kestrum"


class TestRuns:
    def test_each_run_is_reseeded_and_reset(self):
        p = tour(3)
        start = p.eval()
        (logs,) = kestrum.benchmark([sd()], [p], runs=3)[0]
        assert all(log[0][1] == start for log in logs)
        assert len({tuple(ref.scores(log)) for log in logs}) == 1

    def test_equal_seeds_equal_logs(self):
        (logs,) = kestrum.benchmark([cold_sa()], [tour(4)], seeds=[7, 7, 8])[0]
        assert ref.scores(logs[0]) == ref.scores(logs[1])

    def test_seed_reaches_the_problem(self):
        p = tour(4)
        kestrum.benchmark([cold_sa()], [p], seeds=[11])
        q = tour(4)
        q.set_seed(11)
        alone = cold_sa(q).run()
        (logs,) = kestrum.benchmark([cold_sa()], [tour(4)], seeds=[11])[0]
        assert ref.scores(logs[0]) == ref.scores(alone)


class TestRandomStarts:
    def test_each_run_starts_from_its_seeds_shuffle(self):
        p = tour(3, n=12)
        (logs,) = kestrum.benchmark([sd()], [p], seeds=[4, 5, 4], random_starts=True)[0]
        for seed, log in zip([4, 5, 4], logs):
            q = tour(3, n=12)
            q.shuffle(seed)
            assert log[0][1] == q.eval()
        assert ref.scores(logs[0]) == ref.scores(logs[2]) != ref.scores(logs[1])

    def test_deterministic_search_gives_different_results_per_seed(self):
        (logs,) = kestrum.benchmark([sd()], [tour(5, n=14)], runs=6, random_starts=True)[0]
        assert len({log[0][1] for log in logs}) > 1
        (same,) = kestrum.benchmark([sd()], [tour(5, n=14)], runs=6)[0]
        assert len({log[0][1] for log in same}) == 1

    def test_every_search_starts_each_run_where_its_seed_says(self, search_kind):
        # The start is prepared under the lock of the run, by each search: one that took its
        # problem another way would run from wherever the last run left it.
        search = search_kind(True, tour(2, n=10), T.max_iterations(5))
        for random_starts in (True, False):
            (logs,) = kestrum.benchmark([search], [tour(2, n=10)], seeds=[6, 7], random_starts=random_starts)[0]
            for seed, log in zip([6, 7], logs):
                q = tour(2, n=10)
                if random_starts:
                    q.shuffle(seed)
                assert log[0][1] == q.eval(), (random_starts, seed)

    @pytest.mark.parametrize("value", [False, None])
    def test_false_or_none_is_the_identity(self, value):
        (logs,) = kestrum.benchmark([sd()], [tour(3)], runs=1, random_starts=value)[0]
        assert logs[0][0][1] == tour(3).eval()

    @pytest.mark.parametrize(
        "kwargs, message",
        [
            ({"random_starts": 1}, "argument 'random_starts': 'int' object cannot be converted to 'PyBool'"),
            ({"random_start": True}, "benchmark() got an unexpected keyword argument 'random_start'"),
        ],
    )
    def test_argument_errors(self, capfd, kwargs, message):
        with pytest.raises(TypeError) as err:
            kestrum.benchmark([sd()], [tour()], **kwargs)
        assert str(err.value) == message
        assert capfd.readouterr().out == ""



class TestStateLeftBehind:
    def test_search_keeps_criterion_and_last_problem(self):
        s = sd()
        p1, p2 = tour(1, 12), tour(2, 12)
        kestrum.benchmark([s], [p1, p2], termination_function=T.max_iterations(1), runs=1)
        p2.reset()
        log = s.run()
        assert log[0][1] == p2.eval() or log[-1][3] == 1
        assert log[-1][3] <= 1

    def test_problem_keeps_final_solution(self):
        p = tour(5, 10)
        start = p.eval()
        result = kestrum.benchmark([sd()], [p], runs=1)
        assert p.eval() == result[0][0][0][-1][1] < start

    def test_without_criterion_searches_keep_theirs(self):
        s = LS.steepest_descent(True, tour(), T.max_iterations(2))
        (logs,) = kestrum.benchmark([s], [tour(6, 12)], runs=1)[0]
        assert logs[0][-1][3] <= 2


class TestFailures:
    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: kestrum.benchmark("ab", [tour()]), TypeError, "argument 'algorithms': Can't extract `str` to `Vec`"),
            (lambda: kestrum.benchmark([sd()], [tour()], runs=-1), OverflowError, None),
            (lambda: kestrum.benchmark([sd()], [tour()], termination_function=5), TypeError,
             "argument 'termination_function': 'int' object cannot be converted to 'Termination'"),
            (lambda: kestrum.benchmark([tour()], []), TypeError, "argument 'algorithms': 'Problem' object cannot be converted to 'LocalSearch'"),
            (lambda: kestrum.benchmark([], [], seeds=[1, -1]), OverflowError, None),
            (lambda: kestrum.benchmark([], [], seeds=[1.5]), TypeError, None),
            (lambda: kestrum.benchmark([]), TypeError, "benchmark() missing 1 required positional argument: 'problems'"),
            (lambda: kestrum.benchmark([], [], None, None, None, None), TypeError,
             "benchmark() takes from 2 to 5 positional arguments but 6 were given"),
        ],
        ids=lambda v: None,
    )
    def test_argument_errors_print_nothing(self, capfd, call, exc, message):
        with pytest.raises(exc) as err:
            call()
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message
        assert capfd.readouterr().out == ""

    @pytest.mark.parametrize("runs, seeds", [(268435456, None), (268435456, [1]), (2**64 - 1, None)])
    def test_capacity_overflow(self, capfd, runs, seeds):
        s, p = sd(), tour()
        with raises_panic("capacity overflow"):
            kestrum.benchmark([s], [p], T.max_iterations(1), runs=runs, seeds=seeds)
        assert capfd.readouterr().out == "hii\n"
        assert s.run()[-1][3] >= 0  # nothing was touched or poisoned

    def test_multi_neighbour_ends_the_call_after_earlier_runs(self):
        s = sd()
        good = tour(7, 10)
        start = good.eval()
        multi = P.array_problem(M.multi_neighbor([M.swap(0)]), E.tsp([[0, 1], [1, 0]]))
        with raises_panic("Can't use multiNeighbor in Steepest Descent"):
            kestrum.benchmark([s], [good, multi], runs=1)
        assert good.eval() < start  # the first run's changes stay
        with raises_panic(POISONED):
            s.run()
        with raises_panic(POISONED):
            multi.eval()

    def test_same_objects_repeated(self):
        s, p = sd(), tour()
        result = kestrum.benchmark([s, s], [p, p], runs=2)
        assert [[len(x) for x in per] for per in result] == [[2, 2], [2, 2]]


class TestConcurrentUse:
    # Another thread using the same search (set_problem, or a benchmark of its own) or the same
    # problem (set_solution) while a benchmark runs: every run is still filed under its own
    # problem and starts from that problem's reset. Run in a child: a deadlock fails the test.
    CHILD = textwrap.dedent(
        """
        import json, random, threading
        import kestrum
        from kestrum import Evaluation, LocalSearch, MoveType, Problem, Termination

        def tour(n, seed):
            rnd = random.Random(seed)
            pts = [(rnd.random(), rnd.random()) for _ in range(n)]
            return Problem.array_problem(MoveType.swap(seed), Evaluation.tsp_from_points(pts))

        big, small = tour(120, 1), tour(5, 2)
        start = {"big": big.eval(), "small": small.eval()}  # both stand on the identity
        s = LocalSearch.steepest_descent(True, big, Termination.max_iterations(1))
        done = threading.Event()
        theirs = []

        def meddle():
            rnd = random.Random(3)
            while not done.is_set():
                s.set_problem(small)
                big.set_solution(rnd.sample(range(120), 120))
                theirs.extend(kestrum.benchmark([s], [small], runs=2)[0][0])

        other = threading.Thread(target=meddle)
        other.start()
        ours = kestrum.benchmark([s], [big], runs=300)[0][0]
        done.set()
        other.join()
        print(json.dumps({
            "ours": len(ours), "misfiled": sum(log[0][1] != start["big"] for log in ours),
            "theirs": len(theirs), "theirs_misfiled": sum(log[0][1] != start["small"] for log in theirs),
        }))
        """
    )

    def test_runs_are_filed_under_their_problem_and_start(self):
        done = subprocess.run([sys.executable, "-c", self.CHILD], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        result = json.loads(done.stdout.strip().splitlines()[-1])
        assert result["ours"] == 300 and result["theirs"] >= 2
        assert result["misfiled"] == 0 and result["theirs_misfiled"] == 0, result
