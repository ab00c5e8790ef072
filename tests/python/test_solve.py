"""kestrum_tools.solve: results that hold up independently, repeatable seeds, starts, budgets and refusals."""

import doctest
import importlib
import itertools
import math

import pytest

import kestrum
import reference as ref
from kestrum_tools import SolveResult, solve

# The module, not the function the package exports under the same name.
solve_module = importlib.import_module("kestrum_tools.solve")

E, M, P, T = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination


def score(evaluation, x):
    p = P.array_problem(M.swap(0), evaluation)
    p.set_solution(x)
    return p.eval()


def tour(n=9, seed=2, kind="tsp-sym"):
    evaluation, _ = ref.random_evaluation(ref.rng_for(seed), n, kind)
    return evaluation


def brute_force(evaluation, n, better):
    return better(score(evaluation, list(p)) for p in itertools.permutations(range(n)))


class TestResult:
    @pytest.mark.parametrize("kind", ["tsp-sym", "tsp-asym", "qap-sym", "bins"])
    def test_x_is_a_permutation_that_scores_fun(self, kind):
        evaluation = tour(11, 4, kind)
        r = solve(evaluation, seed=5, max_iterations=30)
        assert sorted(r.x) == list(range(11))
        assert score(evaluation, r.x) == r.fun == r.log[-1][1]
        assert r.nit == r.log[-1][3] and r.time == r.log[-1][0] / 1e9
        assert r.seed == 5

    @pytest.mark.parametrize("minimize, better", [(True, min), (False, max)], ids=["min", "max"])
    def test_finds_the_optimum_of_a_small_tour(self, minimize, better):
        evaluation = tour(7, 3)
        r = solve(evaluation, minimize=minimize, seed=1, max_iterations=200)
        assert r.fun == brute_force(evaluation, 7, better)

    def test_own_objective(self):
        # Sorting a reversed list by its displacement: 0 only at the identity.
        n = 10
        r = solve(E.custom(n, lambda s: float(sum(abs(int(v) - k) for k, v in enumerate(s)))), seed=3, max_iterations=100)
        assert (r.x, r.fun) == (list(range(n)), 0.0)

    def test_log_keeps_improvements_by_default(self):
        r = solve(tour(30), method="tabu_search", seed=1, max_iterations=300)
        bests = [row[1] for row in r.log[:-1]]
        assert bests == sorted(set(bests), reverse=True)
        every = solve(tour(30), method="tabu_search", seed=1, max_iterations=300, log="all")
        assert len(every.log) == 302 > len(r.log)
        assert every.fun == r.fun

    def test_readable_repr(self):
        r = solve(tour(30), seed=1, max_iterations=5)
        text = repr(r)
        lines = text.splitlines()
        assert [line.split(":")[0].strip() for line in lines] == ["message", "method", "fun", "x", "nit", "time", "log", "seed"]
        assert "(30 entries)" in text and "iteration limit reached (5)" in text
        assert repr(solve(tour(4), seed=1, max_iterations=5)).count("[") == 1  # a short x is shown whole
        assert isinstance(r, SolveResult)

    def test_docstring_example_runs(self):
        failures, tried = doctest.testmod(solve_module, verbose=False)
        assert (failures, tried > 0) == (0, True)


class TestRepeatability:
    def test_a_seed_repeats_the_whole_call(self):
        def rows(r):
            return [row[1:] for row in r.log]

        for method in ("auto", "tabu_search", "simulated_annealing", "steepest_descent"):
            a, b = (solve(tour(25), method=method, seed=9, max_iterations=150) for _ in range(2))
            assert (a.x, rows(a)) == (b.x, rows(b)), method

    def test_starts_are_random_per_seed_unless_given(self):
        evaluation = tour(25)
        starts = {solve(evaluation, seed=s, max_iterations=0).log[0][2] for s in range(4)}
        assert len(starts) == 4
        identity = list(range(25))
        assert solve(evaluation, x0="identity", max_iterations=0).log[0][2] == score(evaluation, identity)
        given = identity[::-1]
        r = solve(evaluation, x0=tuple(given), max_iterations=0)
        assert r.log[0][2] == score(evaluation, given) and r.x == given

    def test_a_move_type_keeps_its_generator_unless_a_seed_is_given(self):
        def walk(**kwargs):
            r = solve(tour(25), method="simulated_annealing", start_temp=0, x0="identity", max_iterations=300, **kwargs)
            return [row[1:] for row in r.log]

        assert walk(moves=M.swap(4)) == walk(moves=M.swap(4)) != walk(moves=M.swap(5))
        assert walk(moves=M.swap(4), seed=1) == walk(moves=M.swap(5), seed=1) == walk(moves="swap", seed=1)

    def test_without_a_seed_one_is_drawn_and_reported(self):
        a = solve(tour(25), max_iterations=20)
        b = solve(tour(25), seed=a.seed, max_iterations=20)
        assert a.seed != solve(tour(25), max_iterations=0).seed
        assert (a.x, a.fun) == (b.x, b.fun)


class TestMethods:
    @pytest.mark.parametrize(
        "evaluation, method",
        [
            (tour(9), "iterated_local_search"),
            (E.tsp_from_points([(0, 0), (3, 1), (1, 2)]), "iterated_local_search"),
            (tour(9, kind="qap-sym"), "robust_tabu_search"),
            (E.empty_bins([1, 2, 3], 4), "iterated_local_search"),
            (E.bin_packing([1, 2, 3], 4), "iterated_local_search"),
            (E.custom(5, lambda s: float(s[0])), "annealing"),
        ],
        ids=["tour", "points", "assignment", "next-fit", "first-fit", "custom"],
    )
    def test_auto_choice(self, evaluation, method):
        assert solve(evaluation, seed=1, max_iterations=3).method == method

    def test_every_search_runs_through_solve(self):
        assert {"annealing", "iterated_local_search", "robust_tabu_search", "simulated_annealing", "steepest_descent",
                "tabu_search", "vns"} <= set(
            solve_module.methods()
        )
        evaluation = tour(12)
        best = brute_force(tour(8), 8, min)
        for method in solve_module.methods():
            r = solve(evaluation, method=method, seed=2, max_iterations=200)
            assert score(evaluation, r.x) == r.fun, method
            assert solve(tour(8), method=method, seed=2, max_iterations=400).fun >= best

    def test_options_reach_the_search(self):
        with pytest.raises(OverflowError):
            solve(tour(12), method="tabu_search", tabu_list_size=2**32, max_iterations=1)
        with pytest.raises(ValueError, match="neighbours must be at least 1"):
            solve(tour(12), neighbours=0, max_iterations=1)
        # solve builds exactly the search the same settings build by hand.
        evaluation = tour(12)
        for size in (1, 20):
            r = solve(evaluation, method="tabu_search", tabu_list_size=size, canonical_tours=False, x0="identity",
                      seed=7, max_iterations=60, log="all")
            p = P.array_problem(M.reverse(7), evaluation)
            by_hand = kestrum.LocalSearch.tabu_search(True, p, T.max_iterations(60), size, canonical_tours=False).run()
            assert [row[1:] for row in r.log] == [row[1:] for row in by_hand]

    @pytest.mark.parametrize(
        "moves, method",
        [("or_opt", "steepest_descent"), (M.swap_tsp(3), "steepest_descent"), (["swap", "or_opt"], "vns"), (None, "vns")],
        ids=["name", "object", "list", "vns-default"],
    )
    def test_moves(self, moves, method):
        evaluation = tour(10, 5, "tsp-asym")
        r = solve(evaluation, moves=moves, method=method, seed=4)
        assert r.message in ("local optimum reached: no move improves", "no neighbourhood improves any more")
        assert score(evaluation, r.x) == r.fun

    def test_every_simple_move_type_is_named(self):
        # A move type the module gains is reachable by its factory's name as well.
        names = [name for name in dir(kestrum.MoveType) if not name.startswith("_") and name != "multi_neighbor"]
        assert {"swap", "reverse", "swap_tsp", "or_opt"} <= set(names)
        evaluation = tour(8, 5, "tsp-asym")
        for name in names:
            r = solve(evaluation, moves=name, method="steepest_descent", seed=4)
            assert score(evaluation, r.x) == r.fun, name


class TestBudget:
    def test_default_is_the_default_time_limit(self, monkeypatch):
        monkeypatch.setattr(solve_module, "DEFAULT_TIME_LIMIT", 0.1)
        r = solve(tour(40), method="tabu_search", tabu_list_size=10**6, seed=1)
        assert r.message == "time limit reached (0.1 s)" and 0.1 <= r.time < 30

    def test_fractional_time_limit_and_the_first_limit_reached(self):
        r = solve(tour(40), method="tabu_search", tabu_list_size=10**6, seed=1, time_limit=0.05)
        assert r.message == "time limit reached (0.05 s)" and r.time >= 0.05
        r = solve(tour(40), method="tabu_search", seed=1, time_limit=60, max_iterations=10)
        assert (r.message, r.nit) == ("iteration limit reached (10)", 10)

    def test_a_descent_ends_by_itself(self):
        r = solve(tour(12), method="steepest_descent", seed=1, time_limit=60)
        assert r.message == "local optimum reached: no move improves" and r.time < 60

    def test_progress_bar(self, capsys):
        pytest.importorskip("tqdm")
        solve(tour(12), seed=1, max_iterations=40, progress=True)
        assert "/40 " in capsys.readouterr().err


class TestRefusals:
    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: solve([[0, 1], [1, 0]]), TypeError,
             "evaluation must be a kestrum.Evaluation (Evaluation.tsp, .qap, .custom, ...), not list"),
            (lambda: solve(tour(5), method="tabu"), ValueError, "unknown method 'tabu': expected 'auto' or one of "),
            (lambda: solve(tour(5), method=None), TypeError, "method must be a str, not NoneType"),
            (lambda: solve(tour(5), tabu_list_size=3), TypeError,
             "solve() got an unexpected option 'tabu_list_size' for method 'iterated_local_search': its options are neighbours, seed"),
            (lambda: solve(tour(5), method="steepest_descent", neighbours=3), TypeError,
             "solve() got an unexpected option 'neighbours' for method 'steepest_descent': it takes no options"),
            (lambda: solve(tour(5), moves="2opt"), ValueError,
             "unknown moves '2opt': expected a MoveType or one of 'swap', 'reverse', 'swap_tsp', 'or_opt'"),
            (lambda: solve(tour(5), moves=3), TypeError, "moves must be a MoveType, a move name or a list of them, not int"),
            (lambda: solve(tour(5), time_limit=-1), ValueError, "time_limit must be a number of seconds >= 0, not -1"),
            (lambda: solve(tour(5), time_limit=math.nan), ValueError, "time_limit must be a number of seconds >= 0, not nan"),
            (lambda: solve(tour(5), time_limit="1"), TypeError, "time_limit must be a number of seconds, not str"),
            (lambda: solve(tour(5), max_iterations=-1), ValueError, "max_iterations must be 0 to 2**32 - 1, not -1"),
            (lambda: solve(tour(5), max_iterations=1.5), TypeError, "'float' object cannot be interpreted as an integer"),
            (lambda: solve(tour(5), seed=2**64), ValueError, "seed must be 0 to 2**64 - 1, not 18446744073709551616"),
            (lambda: solve(tour(5), minimize=0), TypeError, "argument 'minimize': 'int' object cannot be converted to 'PyBool'"),
            (lambda: solve(tour(5), x0="random"), ValueError, "x0 must be None, 'identity' or a permutation, not 'random'"),
            (lambda: solve(tour(5), x0=[0, 1, 1, 2, 3]), ValueError, "value 1 is repeated at positions 1 and 2"),
            (lambda: solve(tour(5), log="some"), ValueError, "log mode must be 'all', 'improvements' or 'final', not 'some'"),
            (lambda: solve(tour(5), T.max_iterations(3)), TypeError, "solve() takes 1 positional argument but 2 were given"),
        ],
        ids=lambda v: None,
    )
    def test_refuses(self, call, exc, message):
        with pytest.raises(exc) as err:
            call()
        assert type(err.value) is exc
        assert str(err.value).startswith(message)
