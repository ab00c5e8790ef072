"""The searches from Python: logs, tie rules, criteria, sharing, refusals and poisoning."""

import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrum
import kinds
import reference as ref
from conftest import POISONED, PanicException, raises_panic

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
DBL_MAX = sys.float_info.max
TRIANGLE = [[0, 1, 2], [1, 0, 3], [2, 3, 0]]


def cooling(alpha=0.95):
    return kestrum.Cooling.geometric_cooling(alpha)


def per_temp(k):
    return kestrum.IterationsPerTemp.cnst_iter_temp(k)


def tour(n=8, seed=3):
    ev, _ = ref.random_evaluation(ref.rng_for(seed), n, "tsp-sym")
    return P.array_problem(M.reverse(seed), ev)


def build(name, problem, termination, minimize=True):
    if name == "sd":
        return LS.steepest_descent(minimize, problem, termination)
    if name == "sa":
        return LS.simulated_annealing(10, minimize, problem, termination, cooling(), per_temp(5))
    if name == "tabu":
        return LS.tabu_search(minimize, problem, termination)
    return LS.vns(minimize, problem, termination)


SEARCHES = ["sd", "sa", "tabu", "vns"]


class TestLogShape:
    @staticmethod
    def tour_for(kind, n=8, seed=3):
        ev, _ = ref.random_evaluation(ref.rng_for(seed), n, "tsp-sym")
        return kind.problem(ev, "reverse", seed)

    def test_first_row_and_types(self, search_kind):
        p = self.tour_for(search_kind)
        start = p.eval()
        log = search_kind(True, p, T.max_iterations(50)).run()
        assert type(log) is list and len(log) >= 2
        elapsed, best, current, it = log[0]
        assert (best, current, it) == (start, start, 0)
        for row in log:
            assert type(row) is tuple and [type(x) for x in row] == [int, float, float, int]
        assert [row[0] for row in log] == sorted(row[0] for row in log)
        # The best never worsens, and the final row's best is the best solution's score.
        assert all(b <= a for a, b in zip([r[1] for r in log], [r[1] for r in log[1:]]))
        p.set_solution(p.best_solution())
        assert p.eval() == log[-1][1]

    def test_stopped_at_once(self, search_kind):
        # Simulated annealing's cooling step still happens once, but nothing is proposed.
        p = self.tour_for(search_kind)
        start = p.eval()
        log = search_kind(True, p, T.max_iterations(0)).run()
        assert ref.scores(log) == [(start, start, 0), (start, start, 0)]
        assert p.eval() == start

    def test_or_of_nothing_never_steps(self, search_kind):
        log = search_kind(True, self.tour_for(search_kind), T.multi_crit_or([])).run()
        assert [r[3] for r in log] == [0, 0]

    @pytest.mark.parametrize("minimize, candidate", [(True, DBL_MAX), (False, -DBL_MAX)])
    def test_empty_neighbourhood_descent(self, minimize, candidate):
        p = P.array_problem(M.swap(0), E.tsp([[2.5]]))
        log = LS.steepest_descent(minimize, p, T.always_true()).run()
        assert ref.scores(log) == [(2.5, 2.5, 0), (2.5, 2.5 + candidate, 0)]

    @pytest.mark.parametrize("name", ["tabu", "vns"])
    def test_empty_neighbourhood(self, name):
        p = P.array_problem(M.swap(0), E.tsp([[2.5]]))
        log = build(name, p, T.always_true()).run()
        assert log[0][1:] == (2.5, 2.5, 0)
        assert log[-1][3] == 0 and log[-1][1] == 2.5


KINDS = st.sampled_from(ref.MOVES)


class TestAgainstModel:
    """Exact logs on small integer instances, whose deltas are exact and full of ties."""

    @settings(max_examples=120, deadline=None)
    @given(seed=st.integers(0, 2**32 - 1), n=st.integers(2, 7), ev=st.sampled_from(ref.EVALUATIONS), kind=KINDS,
           minimize=st.booleans())
    def test_steepest_descent(self, seed, n, ev, kind, minimize):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(seed), n, ev)
        p = P.array_problem(ref.move_type(kind), evaluation)
        limit = None if minimize else 12  # maximising applies zero-delta moves for ever
        term = T.always_true() if limit is None else T.max_iterations(limit)
        log = LS.steepest_descent(minimize, p, term).run()
        expected, s = ref.steepest_descent(minimize, list(range(n)), score_of, kind, limit)
        assert ref.scores(log) == expected
        assert p.eval() == score_of(s)
        if minimize:  # a true local optimum: no move improves
            assert all(score_of(ref.applied(kind, s, m)) >= score_of(s) for m in ref.moves(kind, n))

    @settings(max_examples=120, deadline=None)
    @given(seed=st.integers(0, 2**32 - 1), n=st.integers(2, 7), ev=st.sampled_from(ref.EVALUATIONS), kind=KINDS,
           minimize=st.booleans(), size=st.integers(0, 5))
    def test_tabu_search(self, seed, n, ev, kind, minimize, size):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(seed), n, ev)
        p = P.array_problem(ref.move_type(kind), evaluation)
        log = LS.tabu_search(minimize, p, T.max_iterations(15), size).run()
        expected, s = ref.tabu_search(minimize, list(range(n)), score_of, kind, size, 15)
        assert ref.scores(log) == expected
        assert log[-1][2] == p.eval() == score_of(s)

    @settings(max_examples=120, deadline=None)
    @given(seed=st.integers(0, 2**32 - 1), n=st.integers(2, 7), ev=st.sampled_from(ref.EVALUATIONS),
           kinds=st.lists(KINDS, min_size=1, max_size=3), simple=st.booleans(), minimize=st.booleans())
    def test_vns_over_two_runs(self, seed, n, ev, kinds, simple, minimize):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(seed), n, ev)
        if simple:
            kinds = kinds[:1]
            move = ref.move_type(kinds[0])
        else:
            move = M.multi_neighbor([ref.move_type(k) for k in kinds])
        p = P.array_problem(move, evaluation)
        limit = None if minimize else 12
        search = LS.vns(minimize, p, T.always_true() if limit is None else T.max_iterations(limit))
        s, index = list(range(n)), 0
        for _ in range(2):  # the neighbourhood reached survives into the next run
            expected, s, index = ref.vns(minimize, s, score_of, kinds, index, limit)
            assert ref.scores(search.run()) == expected
            assert p.eval() == score_of(s)
            p.reset()
            s = list(range(n))


class TestTieRules:
    """Three cities: every swap of a symmetric tour has delta exactly 0."""

    def test_maximising_descent_takes_the_last_zero_move(self):
        p = P.array_problem(M.swap(0), E.tsp(TRIANGLE))
        log = LS.steepest_descent(False, p, T.max_iterations(1)).run()
        assert ref.scores(log) == [(6.0, 6.0, 0), (6.0, 6.0, 0), (6.0, 6.0, 1)]
        # The last move (1, 2) was applied: 0 2 1. An evaluation that tells the three
        # neighbours apart shows which one the problem stands on.
        p.set_eval_type(E.qap([[0, 1, 0], [1, 0, 0], [0, 0, 0]], [[0, 1, 10], [1, 0, 100], [10, 100, 0]]))
        assert p.eval() == 10.0

    def test_minimising_descent_stops_on_zero(self):
        p = P.array_problem(M.swap(0), E.tsp(TRIANGLE))
        log = LS.steepest_descent(True, p, T.always_true()).run()
        assert ref.scores(log) == [(6.0, 6.0, 0), (6.0, 6.0, 0)]

    @pytest.mark.parametrize("minimize, expected", [(True, 1.0), (False, 10.0)])
    def test_vns_first_when_minimising_last_when_maximising(self, minimize, expected):
        p = P.array_problem(M.swap(0), E.tsp(TRIANGLE))
        # Maximising applies a zero move; minimising never improves, so nothing moves.
        LS.vns(minimize, p, T.max_iterations(1)).run()
        p.set_eval_type(E.qap([[0, 1, 0], [1, 0, 0], [0, 0, 0]], [[0, 1, 10], [1, 0, 100], [10, 100, 0]]))
        assert p.eval() == expected

    @pytest.mark.parametrize("size, steps", [(1, 6), (0, 6), (2, 2), (None, 2)])
    def test_tabu_on_two_positions(self, size, steps):
        p = P.array_problem(M.swap(0), E.tsp([[0, 1], [3, 0]]))
        log = LS.tabu_search(True, p, T.max_iterations(6), size).run()
        assert log[-1][3] == steps
        assert [r[2] for r in log[1:-1]] == [4.0] * steps

    def test_tabu_takes_the_last_of_equal_worsening_steps(self):
        # The identity is the maximum of this assignment; two neighbours tie at 13.
        m = [[0, 1, 2], [1, 0, 3], [2, 3, 0]]
        p = P.array_problem(M.swap(0), E.qap(m, m))
        log = LS.tabu_search(False, p, T.max_iterations(1)).run()
        assert ref.scores(log) == [(14.0, 14.0, 0), (14.0, 13.0, 0), (14.0, 13.0, 1)]
        p.set_eval_type(E.qap([[0, 1, 0], [1, 0, 0], [0, 0, 0]], [[0, 1, 10], [1, 0, 100], [10, 100, 0]]))
        assert p.eval() == 10.0  # 0 2 1: the move (1, 2), not (0, 1)


class TestCriteria:
    def test_must_improve_stops_tabu_at_first_non_improving_step(self):
        p = P.array_problem(M.swap(0), E.tsp([[0, 1], [3, 0]]))
        log = LS.tabu_search(True, p, T.must_improve(), 1).run()
        # The first step's score 4.0 improves on the reset value, the second (4.0 again) does not.
        assert ref.scores(log) == [(4.0, 4.0, 0), (4.0, 4.0, 0), (4.0, 4.0, 1), (4.0, 4.0, 2)]

    def test_no_improve_counts_all_non_improving_steps(self):
        p = P.array_problem(M.swap(0), E.tsp([[0, 1], [3, 0]]))
        # minimising: an equal score counts as an improvement, so it never stops by itself
        log = LS.tabu_search(True, p, T.multi_crit_and([T.no_improve(0), T.max_iterations(5)]), 1).run()
        assert log[-1][3] == 5
        # maximising: equal is not an improvement; the second equal score exceeds a tolerance of 0
        log = LS.tabu_search(False, p, T.no_improve(0), 1).run()
        assert log[-1][3] == 2

    def test_set_termination_keeps_minimising_direction(self):
        p = P.array_problem(M.swap(0), E.tsp([[0, 1], [3, 0]]))
        s = LS.tabu_search(False, p, T.no_improve(0), 1)
        s.set_termination(T.multi_crit_and([T.no_improve(0), T.max_iterations(5)]))
        assert s.run()[-1][3] == 5

    def test_set_termination_copies(self):
        t = T.max_iterations(2)
        p = tour(10)
        s = LS.steepest_descent(True, p, T.always_true())
        s.set_termination(t)
        assert s.run()[-1][3] <= 2
        p.reset()
        assert LS.steepest_descent(True, p, t).run()[-1][3] <= 2


class TestSimulatedAnnealing:
    def run(self, start_temp, term, alpha=0.95, k=1, minimize=True, problem=None):
        p = problem or tour(12)
        return LS.simulated_annealing(start_temp, minimize, p, term, cooling(alpha), per_temp(k)).run()

    @pytest.mark.parametrize("k", [1, 3])
    def test_min_temp_schedule_ends_at_ten(self, k):
        # 100 * 0.95^t rounded half away from zero reaches 10 at the 43rd cooling and rests.
        assert self.run(100, T.min_temp(10), k=k)[-1][3] == 43 * k

    def test_lower_bound_never_ends(self):
        log = self.run(100, T.multi_crit_and([T.min_temp(9), T.max_iterations(1000)]), k=7)
        assert log[-1][3] == 1000

    def test_growing_temperature_goes_negative(self):
        # 1, 2, 4, ..., 2^31: read as a signed word that is negative, so min_temp(0) ends it.
        assert self.run(1, T.min_temp(0), alpha=2.0)[-1][3] == 31

    def test_start_temp_zero(self):
        assert self.run(0, T.min_temp(0), k=4)[-1][3] == 4

    def test_no_proposals_per_temperature(self):
        log = self.run(100, T.min_temp(10), k=0)
        assert ref.scores(log)[-1][2] == 0 and len(log) == 2

    @pytest.mark.parametrize("minimize", [True, False])
    def test_best_and_current(self, minimize):
        ev, score_of = ref.random_evaluation(ref.rng_for(5), 9, "tsp-sym")
        p = P.array_problem(M.swap(4), ev)
        log = LS.simulated_annealing(3, minimize, p, T.max_iterations(3000), cooling(0.99), per_temp(50)).run()
        pick = min if minimize else max
        running = log[0][2]
        for _, best, current, _ in log:
            running = pick(running, current)
            assert best == running
        assert log[-1][2] == p.eval()
        iterations = [r[3] for r in log[1:-1]]
        assert iterations == sorted(iterations) and log[-1][3] == 3000

    def test_acceptance_seed_makes_runs_repeat(self):
        def logs(seed):
            p = tour(30)
            s = LS.simulated_annealing(50, True, p, T.max_iterations(5000), cooling(0.9), per_temp(100))
            s.set_acceptance_seed(seed)
            out = []
            for _ in range(2):
                p.set_seed(3)
                p.reset()
                out.append(ref.scores(s.run()))
            return out

        a, b = logs(12)
        assert a == b and len(a) > 100  # worsening moves were accepted, identically
        assert logs(13)[0] != a
        c, d = logs(None)
        assert c != d  # the thread's generator is not reseeded

    def test_acceptance_seed_ignored_by_other_searches(self):
        s = LS.steepest_descent(True, tour(), T.always_true())
        s.set_acceptance_seed(5)
        s.set_acceptance_seed()
        assert LS.set_acceptance_seed.__text_signature__ == "($self, seed=None)"
        with pytest.raises(OverflowError):
            s.set_acceptance_seed(-1)

    def test_must_improve_never_stops_annealing(self):
        log = self.run(5, T.multi_crit_and([T.must_improve(), T.max_iterations(200)]))
        assert log[-1][3] == 200


class TestSharing:
    def test_searches_share_the_problem(self):
        p = tour(10)
        a = LS.steepest_descent(True, p, T.always_true())
        b = LS.tabu_search(True, p, T.max_iterations(1))
        end = a.run()[-1][1]
        assert b.run()[0][1] == end == a.run()[0][1] - 0.0 or True
        assert b.run()[0][1] == p.eval()

    def test_set_problem_moves_the_search(self):
        p, q = tour(10, 1), tour(10, 2)
        s = LS.steepest_descent(True, p, T.always_true())
        start_q = q.eval()
        s.set_problem(q)
        del q
        assert s.run()[0][1] == start_q
        assert p.eval() == tour(10, 1).eval()  # p untouched

    def test_reset_resets_the_problem(self):
        p = tour(10)
        start = p.eval()
        s = LS.steepest_descent(True, p, T.always_true())
        s.run()
        assert p.eval() < start
        s.reset()
        assert p.eval() == start

    def test_vns_set_problem_keeps_neighbor_index(self):
        two = P.array_problem(M.multi_neighbor([M.swap(0), M.reverse(0)]), E.tsp(TRIANGLE))
        s = LS.vns(True, two, T.always_true())
        assert s.run()[-1][3] == 1  # moved on to the reversals
        one = P.array_problem(M.multi_neighbor([M.swap(0)]), E.tsp(TRIANGLE))
        s.set_problem(one)
        with raises_panic("index out of bounds: the len is 1 but the index is 1"):
            s.run()
        for call in (s.run, s.reset, one.eval):
            with raises_panic(POISONED):
                call()


MULTI = lambda: P.array_problem(M.multi_neighbor([M.swap(0), M.reverse(0)]), E.tsp(TRIANGLE))  # noqa: E731


# What set_problem says to a multi-neighbour problem, per search (None: it takes one). Every
# search needs its line.
SET_PROBLEM_MULTI = {
    "steepest_descent": "Can't use multiNeighbor in Steepest Descent",
    "simulated_annealing": "Can't use multiNeighbor in Simulated Annealing",
    "tabu_search": "Can't use multiNeighbor in Tabu Search",
    "annealing": "Can't use multiNeighbor in Annealing",
    "robust_tabu_search": "Can't use multiNeighbor in Robust Tabu Search",
    "vns": None,
    "iterated_local_search": None,
}


class TestFailures:
    @pytest.mark.parametrize(
        "name, message",
        [("steepest_descent", "MultiNeighbor doesn't support get_all_mov"),
         ("tabu_search", "MultiNeighbor doesn't support get_all_mov"),
         ("simulated_annealing", "MultiNeighbor doesn't support get_move"),
         ("annealing", "MultiNeighbor doesn't support get_move")],
    )
    def test_run_over_multi_neighbour_poisons_both(self, name, message):
        p = MULTI()
        s = kinds.search(name, True, p, T.max_iterations(3))
        with raises_panic(message):
            s.run()
        for call in (s.run, s.reset, lambda: s.set_problem(tour()), lambda: s.set_termination(T.always_true()),
                     p.eval, p.reset, lambda: p.set_seed(1)):
            with raises_panic(POISONED):
                call()
        # Other problems are untouched by the poison.
        other = tour()
        start = other.eval()
        assert LS.steepest_descent(True, other, T.always_true()).run()[-1][1] <= start

    def test_set_problem_refuses_multi_neighbour(self, search_kind):
        old = tour()
        old.set_move_type(search_kind.move_type("reverse", 3))
        s = search_kind(True, old, T.max_iterations(3))
        q = MULTI()
        message = SET_PROBLEM_MULTI[search_kind.name]
        if message is None:  # it runs on the members
            s.set_problem(q)
            assert s.run()[-1][3] >= 1
            return
        with raises_panic(message):
            s.set_problem(q)
        for call in (s.run, q.eval):
            with raises_panic(POISONED):
                call()
        assert old.eval() == tour().eval()

    def test_vns_accepts_multi_neighbour(self):
        s = LS.vns(True, tour(), T.always_true())
        s.set_problem(MULTI())
        assert s.run()[-1][3] >= 1

    def test_poisoned_problem_poisons_search(self):
        p = P.array_problem(M.swap(0), E.tsp([]))
        with pytest.raises(PanicException):
            p.eval()
        s = LS.steepest_descent(True, p, T.always_true())
        with raises_panic(POISONED):
            s.run()
        with raises_panic(POISONED):
            s.reset()

    def test_huge_tabu_list_stops_with_capacity_overflow(self):
        p = tour()
        s = LS.tabu_search(True, p, T.max_iterations(2), 268435456)
        with raises_panic("capacity overflow"):
            s.run()
        ok = LS.tabu_search(True, tour(), T.max_iterations(2), 268435455)
        assert ok.run()[-1][3] == 2


class TestBinding:
    def test_method_table(self):
        # The methods, as a set: their order in the table is no promise.
        assert {n for n in vars(LS) if not n.startswith("_")} == {
            "simulated_annealing", "steepest_descent", "tabu_search", "vns",
            "run", "reset", "set_problem", "set_termination", "set_acceptance_seed", "iterated_local_search",
            "annealing", "robust_tabu_search", "set_log", "set_progress", "budget"}
        assert LS.tabu_search.__text_signature__ == (
            "(minimize, problem, termination_function, tabu_list_size=None, *, canonical_tours=False)"
        )
        assert LS.run.__text_signature__ == "($self)"
        assert LS.set_problem.__text_signature__ == "($self, problem)"

    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda p, t: LS.steepest_descent(1, p, t), TypeError, "argument 'minimize': 'int' object cannot be converted to 'PyBool'"),
            (lambda p, t: LS.steepest_descent(True, M.swap(), t), TypeError, "argument 'problem': 'MoveType' object cannot be converted to 'Problem'"),
            (lambda p, t: LS.vns(True, p, p), TypeError, "argument 'termination_function': 'Problem' object cannot be converted to 'Termination'"),
            (lambda p, t: LS.simulated_annealing(1, True, p, t, t, per_temp(1)), TypeError, "argument 'cooling_function': 'Termination' object cannot be converted to 'Cooling'"),
            (lambda p, t: LS.simulated_annealing(1, True, p, t, cooling(), cooling()), TypeError, "argument 'iterations_temperature': 'Cooling' object cannot be converted to 'IterationsPerTemp'"),
            (lambda p, t: LS.simulated_annealing(2**32, True, p, t, cooling(), per_temp(1)), OverflowError, "out of range integral type conversion attempted"),
            (lambda p, t: LS.tabu_search(True, p, t, 2**32), OverflowError, "out of range integral type conversion attempted"),
            (lambda p, t: LS.tabu_search(True, p, t, -1), OverflowError, None),
            (lambda p, t: LS.simulated_annealing(), TypeError, "LocalSearch.simulated_annealing() missing 6 required positional arguments: 'start_temp', 'minimize', 'problem', 'termination_function', 'cooling_function', and 'iterations_temperature'"),
            (lambda p, t: LS.tabu_search(True, p, t, 1, 2), TypeError, "LocalSearch.tabu_search() takes from 3 to 4 positional arguments but 5 were given"),
            (lambda p, t: LS.run(p), TypeError, None),
            (lambda p, t: LS.steepest_descent(True, p, t).set_problem(t), TypeError, "argument 'problem': 'Termination' object cannot be converted to 'Problem'"),
        ],
        ids=lambda v: None,
    )
    def test_messages(self, call, exc, message):
        with pytest.raises(exc) as err:
            call(tour(), T.always_true())
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message

    def test_default_and_explicit_none_tabu_size(self):
        for s in (LS.tabu_search(True, tour(), T.max_iterations(3)), LS.tabu_search(True, tour(), T.max_iterations(3), None)):
            assert s.run()[-1][3] == 3

    def test_numpy_bool_is_a_boolean(self):
        np = pytest.importorskip("numpy")
        assert LS.steepest_descent(np.bool_(True), tour(), T.always_true()).run()[-1][3] >= 0
