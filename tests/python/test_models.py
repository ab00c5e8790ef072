"""Seeded simulated annealing against its draw-for-draw model, and faults the native tests see
first, checked through the binding: the best solution after a descent, TSPLIB's rounding of
EUC_2D distances, and the fixed-start exchange that never moves position 0."""

import itertools

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrum
import reference as ref

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch


def annealing(problem, minimize, start_temp, alpha, per_temp, limit, acceptance_seed):
    search = LS.simulated_annealing(
        start_temp, minimize, problem, T.max_iterations(limit),
        kestrum.Cooling.geometric_cooling(alpha), kestrum.IterationsPerTemp.cnst_iter_temp(per_temp),
    )
    search.set_acceptance_seed(acceptance_seed)
    return search


class TestModelPieces:
    def test_extreme_seeds_follow_the_model(self):
        # Every proposal changes the length, so every worsening one reads a draw; seeds 0 and 2^64 - 1 reach the generators' edge cases
        # (all-zero words in the seed expansion, carries in the key).
        # Three cities, asymmetric: any exchange turns the tour round, 3 <-> 11.
        ev, score_of = ref.tsp([[0, 1, 5], [2, 0, 1], [1, 4, 0]])
        for seed in (0, 1, 2**64 - 1):
            p = P.array_problem(M.swap(seed), ev)
            log = annealing(p, True, 3, 1.0, 10, 40, seed).run()
            rows, s, draws = ref.simulated_annealing(True, [0, 1, 2], score_of, "swap", seed, seed, 3, 1.0, 10, 40)
            assert ref.scores(log) == rows and draws >= 10
            assert p.solution() == s

    def test_cooling_rounds_half_away_from_zero(self):
        # 0.5 * 5 = 2.5 -> 3 (not 2, as rounding half to even would give); 0.5 * 3 = 1.5 -> 2.
        assert [ref.cool(0.5, t) for t in (5, 3, 1, 0)] == [3, 2, 1, 0]
        assert ref.cool(-1.0, 5) == 0 and ref.cool(2.0, 2**31 + 1) == 2**32 - 1


class TestAnnealingModel:
    @settings(max_examples=60, deadline=None)
    @given(
        seed=st.integers(0, 2**32 - 1), n=st.integers(3, 7), ev=st.sampled_from(ref.EVALUATIONS),
        kind=st.sampled_from(ref.MOVES), minimize=st.booleans(), start_temp=st.integers(0, 12),
        alpha=st.sampled_from([0.0, 0.5, 0.8, 1.0]), per_temp=st.integers(1, 6),
        acceptance_seed=st.integers(0, 2**64 - 1),
    )
    def test_seeded_run_follows_the_model(self, seed, n, ev, kind, minimize, start_temp, alpha, per_temp,
                                          acceptance_seed):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(seed), n, ev)
        p = P.array_problem(ref.move_type(kind, seed), evaluation)
        log = annealing(p, minimize, start_temp, alpha, per_temp, 40, acceptance_seed).run()
        rows, s, _ = ref.simulated_annealing(minimize, list(range(n)), score_of, kind, seed, acceptance_seed,
                                             start_temp, alpha, per_temp, 40)
        assert ref.scores(log) == rows
        assert p.solution() == s

    @pytest.mark.parametrize("minimize", [True, False], ids=["minimising", "maximising"])
    def test_plateau_at_temperature_zero_is_walked(self, minimize):
        # Every tour of equal edges has the same length: each proposal is a zero change,
        # never worsening, so each is taken without a draw, even at temperature 0 where a
        # worsening move could never be.
        ev, score_of = ref.tsp([[0 if a == b else 2 for b in range(6)] for a in range(6)])
        p = P.array_problem(M.reverse(3), ev)
        log = annealing(p, minimize, 0, 0.9, 4, 12, 7).run()
        assert ref.scores(log) == [(12.0, 12.0, 0)] + [(12.0, 12.0, k) for k in range(12)] + [(12.0, 12.0, 12)]
        _, s, draws = ref.simulated_annealing(minimize, list(range(6)), score_of, "reverse", 3, 7, 0, 0.9, 4, 12)
        assert draws == 0 and p.solution() == s != list(range(6))

    def test_plateau_moves_take_no_draw(self):
        # Zero and worsening changes mixed at a positive temperature: if zero changes drew,
        # every later acceptance decision would read a different number.
        d = [[0, 1, 1, 2, 2], [1, 0, 1, 1, 2], [1, 1, 0, 1, 1], [2, 1, 1, 0, 1], [2, 2, 1, 1, 0]]
        ev, score_of = ref.tsp(d)
        for move_seed, acceptance_seed in itertools.product(range(4), (11, 12)):
            p = P.array_problem(M.swap(move_seed), ev)
            log = annealing(p, True, 1, 1.0, 50, 300, acceptance_seed).run()
            rows, _, draws = ref.simulated_annealing(True, list(range(5)), score_of, "swap", move_seed,
                                                     acceptance_seed, 1, 1.0, 50, 300)
            assert ref.scores(log) == rows
            assert 0 < draws < 300


class TestThroughTheBinding:
    def test_best_solution_after_a_descent_is_where_it_stopped(self):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(3), 8, "tsp-asym")
        p = P.array_problem(M.swap(0), evaluation)
        log = LS.steepest_descent(True, p, T.always_true()).run()
        _, s = ref.steepest_descent(True, list(range(8)), score_of, "swap")
        assert s != list(range(8))
        assert p.best_solution() == p.solution() == s
        assert score_of(p.best_solution()) == log[-1][1] < log[0][1]

    def test_euc_2d_distances_are_rounded_to_nearest(self, tmp_path):
        # Unrounded sides 2.5, 1.5 and sqrt(8.5) = 2.915...: TSPLIB rounds each to the nearest
        # integer, halves up, so the tour is 3 + 2 + 3 = 8 rather than 6.915.
        path = tmp_path / "three.tsp"
        path.write_text("NAME: three\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n"
                        "1 0 0\n2 2.5 0\n3 0 1.5\nEOF\n")
        p = P.array_problem(M.swap(0), E.tsp_from_tsplib(str(path)))
        assert p.eval() == 8.0

    def test_fixed_start_exchange_never_moves_position_zero(self):
        # A hot annealing run accepts nearly every proposal: the other positions are all
        # moved many times over, position 0 never. The descent and tabu search scan the same
        # neighbourhood and keep it in place too.
        d = [[0 if a == b else (a * 7 + b * 3) % 11 + 1 for b in range(7)] for a in range(7)]
        f = [[0 if a == b else (a + 2 * b) % 5 for b in range(7)] for a in range(7)]
        searches = [
            lambda p: annealing(p, True, 10**6, 1.0, 100, 2000, 1),
            lambda p: LS.steepest_descent(True, p, T.always_true()),
            lambda p: LS.tabu_search(True, p, T.max_iterations(50), 5),
        ]
        for make in searches:
            p = P.array_problem(M.swap_tsp(4), E.qap(d, f))
            make(p).run()
            assert p.solution()[0] == 0 and p.best_solution()[0] == 0
        assert p.solution() != list(range(7))
