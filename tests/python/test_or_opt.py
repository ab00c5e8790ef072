"""MoveType.or_opt: its local optima checked by brute force, every search, points, pickling, benchmark and grid."""

import math
import pickle

import pytest

import kestrum
import reference as ref
from kestrum_tools import grid

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
C, I = kestrum.Cooling, kestrum.IterationsPerTemp


def rows(log):
    return [row[1:] for row in log]


def or_opt_neighbours(s):
    """Every array one segment insertion away, built independently of the engine."""
    n = len(s)
    out = set()
    for length in (1, 2, 3):
        for a in range(n - length + 1):
            for rev in (False, True):
                seg = s[a : a + length][::-1] if rev else s[a : a + length]
                rest = s[:a] + s[a + length :]
                for at in range(len(rest) + 1):
                    t = rest[:at] + seg + rest[at:]
                    if t != s:
                        out.add(tuple(t))
    return out


class TestFactory:
    def test_signature_and_argument_errors_follow_the_other_kinds(self):
        assert M.or_opt.__text_signature__ == M.swap.__text_signature__ == "(seed=None)"
        for bad in (-1, 2**64, 1.5, "1"):
            with pytest.raises(Exception) as ours:
                M.or_opt(bad)
            with pytest.raises(Exception) as theirs:
                M.swap(bad)
            assert type(ours.value) is type(theirs.value)
            assert str(ours.value) == str(theirs.value).replace("swap", "or_opt")

    def test_seed_fixes_the_random_moves(self):
        ev, _ = ref.random_evaluation(ref.rng_for(3), 12, "tsp-sym")
        logs = []
        for _ in range(2):
            search = LS.simulated_annealing(
                30, True, P.array_problem(M.or_opt(5), ev), T.max_iterations(400), C.geometric_cooling(0.95), I.cnst_iter_temp(20)
            )
            search.set_acceptance_seed(8)
            logs.append(rows(search.run()))
        assert logs[0] == logs[1]


class TestLocalOptimum:
    @pytest.mark.parametrize("kind", ref.EVALUATIONS)
    @pytest.mark.parametrize("seed", [1, 2, 3])
    def test_descent_ends_where_no_or_opt_move_improves(self, kind, seed):
        ev, score_of = ref.random_evaluation(ref.rng_for(seed), 11, kind)
        problem = P.array_problem(M.or_opt(seed), ev)
        log = LS.steepest_descent(True, problem, T.always_true()).run()
        s = problem.solution()
        here = score_of(s)
        # The final row's current is the last scan's best candidate, which did not improve.
        assert log[-1][1] == pytest.approx(here)
        assert problem.eval() == pytest.approx(here)
        better = [t for t in or_opt_neighbours(s) if score_of(list(t)) < here - 1e-9]
        assert better == []


SEARCHES = {
    "steepest_descent": lambda p: LS.steepest_descent(True, p, T.always_true()),
    "tabu_search": lambda p: LS.tabu_search(True, p, T.max_iterations(40), 7),
    "tabu_canonical": lambda p: LS.tabu_search(True, p, T.max_iterations(40), 7, canonical_tours=True),
    "annealing": lambda p: LS.simulated_annealing(
        40, True, p, T.max_iterations(3000), C.geometric_cooling(0.9), I.cnst_iter_temp(30)
    ),
    "vns": lambda p: LS.vns(True, p, T.max_iterations(30)),
    "iterated_local_search": lambda p: LS.iterated_local_search(True, p, T.max_iterations(5), seed=3),
}


class TestSearches:
    @pytest.mark.parametrize("kind", ref.EVALUATIONS)
    @pytest.mark.parametrize("name", list(SEARCHES))
    def test_final_score_is_the_solutions_score(self, name, kind):
        # Each row's current score is built from the deltas the search took, so this checks
        # every delta a run used.
        ev, score_of = ref.random_evaluation(ref.rng_for(7), 10, kind)
        move = M.multi_neighbor([M.reverse(1), M.or_opt(2)]) if name == "vns" else M.or_opt(2)
        problem = P.array_problem(move, ev)
        log = SEARCHES[name](problem).run()
        if name != "steepest_descent":  # whose final current is the candidate it turned down
            assert log[-1][2] == pytest.approx(score_of(problem.solution()))
        assert log[-1][1] == pytest.approx(score_of(problem.best_solution()))
        assert log[-1][1] <= log[0][1]

    def test_vns_moves_on_to_or_opt_after_reversals(self):
        ev, score_of = ref.random_evaluation(ref.rng_for(9), 12, "tsp-asym")
        alone = P.array_problem(M.reverse(1), ev)
        LS.steepest_descent(True, alone, T.always_true()).run()
        both = P.array_problem(M.multi_neighbor([M.reverse(1), M.or_opt(1)]), ev)
        LS.vns(True, both, T.always_true()).run()
        s = both.best_solution()
        assert score_of(s) <= score_of(alone.best_solution())
        assert not any(score_of(list(t)) < score_of(s) for t in or_opt_neighbours(s))


def euc_2d_matrix(points):
    return [[float(int(math.hypot(ax - bx, ay - by) + 0.5)) for bx, by in points] for ax, ay in points]


class TestPoints:
    @pytest.mark.parametrize("name", ["steepest_descent", "tabu_search", "annealing"])
    def test_points_give_the_logs_of_the_same_dense_matrix(self, name):
        rng = ref.rng_for(12)
        points = [(rng.randint(0, 500), rng.randint(0, 500)) for _ in range(25)]
        logs = []
        for ev in (E.tsp_from_points(points, metric="euc_2d"), E.tsp(euc_2d_matrix(points))):
            search = SEARCHES[name](P.array_problem(M.or_opt(4), ev))
            search.set_acceptance_seed(2)
            logs.append(rows(search.run()))
        assert logs[0] == logs[1]


class TestPickling:
    def test_round_trip_keeps_the_state_and_the_next_run(self):
        ev, _ = ref.random_evaluation(ref.rng_for(4), 12, "tsp-asym")
        move = M.or_opt()  # seeded by the OS: only its saved state can reproduce it
        twin = pickle.loads(pickle.dumps(move))
        assert twin.__reduce__()[1] == move.__reduce__()[1]
        logs = []
        for mt in (move, twin):
            search = LS.simulated_annealing(
                30, True, P.array_problem(mt, ev), T.max_iterations(500), C.geometric_cooling(0.9), I.cnst_iter_temp(10)
            )
            search.set_acceptance_seed(1)
            logs.append(rows(search.run()))
        assert logs[0] == logs[1]

    def test_search_over_an_or_opt_problem_round_trips(self):
        ev, _ = ref.random_evaluation(ref.rng_for(6), 10, "qap-asym")
        search = LS.tabu_search(True, P.array_problem(M.or_opt(3), ev), T.max_iterations(20), 5)
        twin = pickle.loads(pickle.dumps(search))
        assert twin.__reduce__()[1] == search.__reduce__()[1]
        assert rows(twin.run()) == rows(search.run())


class TestBenchmarkAndGrid:
    def test_benchmark_and_grid_agree(self):
        ev, _ = ref.random_evaluation(ref.rng_for(8), 10, "space")
        problem = P.array_problem(M.or_opt(), ev)
        search = LS.tabu_search(True, problem, T.max_iterations(15), 4)
        by_grid = grid([search], [problem], [0, 5], executor="threads", progress=False)
        by_benchmark = kestrum.benchmark([search], [problem], seeds=[0, 5])
        assert [[[rows(log) for log in p] for p in s] for s in by_grid] == [
            [[rows(log) for log in p] for p in s] for s in by_benchmark
        ]


class TestNeighbourhood:
    @pytest.mark.parametrize("n", [2, 3, 5, 8])
    def test_a_scan_scores_every_neighbour_once(self, n):
        # A custom objective without a delta scores each move on a copy: what it is shown
        # during one scan is the neighbourhood as the engine enumerates it.
        start = list(range(n))
        seen = []

        def evaluate(s):
            s = tuple(s)
            if list(s) != start:
                seen.append(s)
            return 0.0

        p = P.array_problem(M.or_opt(1), E.custom(n, evaluate))
        LS.steepest_descent(True, p, T.max_iterations(1)).run()
        assert len(seen) == len(set(seen))
        assert set(seen) == or_opt_neighbours(start)
