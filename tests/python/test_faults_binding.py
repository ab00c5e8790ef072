"""Faults found with hostile input and first use of the binding: each case failed once."""

import os
from pathlib import Path

import pytest

import kestrum
from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination

ROOT = Path(__file__).resolve().parents[2]
DATA = Path(os.environ.get("KESTRUM_DATA") or ROOT.parent / "shared" / "data")


def search_of(kind, problem, termination, minimize=True):
    if kind == "annealing":
        return LocalSearch.simulated_annealing(
            10, minimize, problem, termination, Cooling.geometric_cooling(0.9), IterationsPerTemp.cnst_iter_temp(5)
        )
    if kind == "tabu":
        return LocalSearch.tabu_search(minimize, problem, termination, tabu_list_size=7)
    return getattr(LocalSearch, kind)(minimize, problem, termination)


SEARCHES = ["steepest_descent", "annealing", "tabu", "vns"]


def rows_of(log):
    return [row[1:] for row in log]  # all but elapsed time


class TestWarmStart:
    """set_solution starts afresh from the permutation: it is the current and the best."""

    # An 8-city ring: visiting the cities in ring order (1 apart) is the only optimum, the
    # identity visits them in a scrambled order.
    RING = [5, 2, 7, 0, 3, 6, 1, 4]

    def ring_problem(self):
        n = len(self.RING)
        place = {city: k for k, city in enumerate(self.RING)}
        d = [[float(min(abs(place[a] - place[b]), n - abs(place[a] - place[b]))) for b in range(n)] for a in range(n)]
        return Problem.array_problem(MoveType.reverse(seed=3), Evaluation.tsp(d))

    def test_set_solution_sets_the_best_too(self):
        p = self.ring_problem()
        p.set_solution(self.RING)
        assert p.solution() == self.RING and p.best_solution() == self.RING
        # A later warm start from a worse permutation replaces the best as well.
        p.set_solution(list(range(8)))
        assert p.best_solution() == list(range(8))

    @pytest.mark.parametrize("kind", SEARCHES)
    def test_a_search_from_the_optimum_keeps_it(self, kind):
        p = self.ring_problem()
        p.set_solution(self.RING)
        log = search_of(kind, p, Termination.max_iterations(30)).run()
        assert log[-1][1] == 8.0
        p.set_solution(p.best_solution())
        assert p.eval() == 8.0

    @pytest.mark.skipif(not (DATA / "tsplib" / "kroA100.opt.tour").is_file(), reason="kroA100 not present")
    @pytest.mark.parametrize("kind", SEARCHES)
    def test_kroA100_from_its_optimal_tour(self, kind):
        from kestrum_tools import read_tour

        p = Problem.array_problem(MoveType.swap(seed=1), Evaluation.tsp_from_tsplib(str(DATA / "tsplib" / "kroA100.tsp")))
        tour = read_tour(DATA / "tsplib" / "kroA100.opt.tour")
        p.set_solution(tour)
        log = search_of(kind, p, Termination.max_iterations(5)).run()
        best = p.best_solution()
        assert log[-1][1] == 21282.0
        p.set_solution(best)
        assert p.eval() == 21282.0


class TestUnreadEntries:
    """Symmetry is decided on the n x n blocks the scores read, so padding changes nothing."""

    D = [[0, 0.1, 0.1], [0.1, 0, 0.1], [0.1, 0.1, 0]]
    F = [[0, 0.1, 0.2], [0.1, 0, 0.7], [0.2, 0.7, 0]]

    def run(self, d, f, kind):
        p = Problem.array_problem(getattr(MoveType, kind)(seed=1), Evaluation.qap(d, f))
        log = LocalSearch.steepest_descent(True, p, Termination.always_true()).run()
        return rows_of(log), p.solution(), p.best_solution()

    @pytest.mark.parametrize("kind", ["swap", "reverse"])
    @pytest.mark.parametrize(
        "pad",
        [
            lambda d, f: ([*d[:2], d[2] + [0.0]], f),
            lambda d, f: ([row + [9.0] for row in d], f),
            lambda d, f: (d, f + [[1.0, 2.0, 3.0]]),
            lambda d, f: ([row + [9.0] for row in d], [row + [4.0] for row in f] + [[5.0, 6.0, 7.0, 8.0]]),
        ],
        ids=["longer_last_row", "extra_column", "extra_flow_row", "both_padded"],
    )
    def test_padded_data_runs_like_square_data(self, pad, kind):
        square = self.run(self.D, self.F, kind)
        # The identity is already optimal: exchanging positions 0 and 1 changes nothing.
        assert square[1] == [0, 1, 2]
        assert self.run(*pad(self.D, self.F), kind) == square

    def test_padded_numpy_data_runs_like_square_data(self):
        np = pytest.importorskip("numpy")
        d = np.zeros((3, 5))
        d[:, :3] = self.D
        d[:, 3:] = 7.0
        assert self.run(d, self.F, "swap") == self.run(self.D, self.F, "swap")

    def test_padded_tour_matrix_runs_like_square_data(self):
        d = [[0, 1, 4, 2], [1, 0, 3, 5], [4, 3, 0, 1], [2, 5, 1, 0]]
        padded = [row + [100.0 * k] for k, row in enumerate(d)]

        def run(m):
            p = Problem.array_problem(MoveType.reverse(seed=1), Evaluation.tsp(m))
            p.set_solution([0, 2, 1, 3])
            return rows_of(LocalSearch.steepest_descent(True, p, Termination.always_true()).run()), p.solution()

        assert run(padded) == run(d)
