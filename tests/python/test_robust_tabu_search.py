"""Robust tabu search: arguments and refusals, its log against a draw-for-draw model, the
exchange table against the plain formula, and quality on small published instances."""

import os
import pickle
import random
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrum
import reference as ref
from conftest import raises_panic

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
DATA = Path(os.environ.get("KESTRUM_DATA") or Path(__file__).resolve().parents[3] / "shared" / "data")


def rts(problem, limit, minimize=True, **kw):
    return LS.robust_tabu_search(minimize, problem, T.max_iterations(limit), **kw)


def integer_qap(n, seed, symmetric=True, largest=20):
    rng = random.Random(seed)
    d = [[0] * n for _ in range(n)]
    f = [[0] * n for _ in range(n)]
    for a in range(n):
        for b in range(n):
            if symmetric and b < a:
                d[a][b], f[a][b] = d[b][a], f[b][a]
            elif a != b:
                d[a][b], f[a][b] = rng.randint(0, largest), rng.randint(0, largest)
    return d, f


class TestArguments:
    def test_text_signature(self):
        assert LS.robust_tabu_search.__text_signature__ == (
            "(minimize, problem, termination_function, *, tenure=None, aspiration=None, seed=None)")

    @pytest.mark.parametrize(
        "kw, error, message",
        [({"tenure": (5, 3)}, ValueError, "tenure (low, high) must have low <= high, not (5, 3)"),
         ({"tenure": (1, 2, 3)}, ValueError, "tenure must be an int or a pair (low, high), not a sequence of 3"),
         ({"tenure": -1}, OverflowError, "can't convert negative int to unsigned"),
         ({"tenure": "ab"}, TypeError, "argument 'tenure': Can't extract `str` to `Vec`"),
         ({"tenure": (1, 2.5)}, TypeError, "argument 'tenure': 'float' object cannot be interpreted as an integer"),
         ({"aspiration": -1}, OverflowError, "can't convert negative int to unsigned"),
         ({"seed": 2 ** 64}, OverflowError, "int too big to convert"),
         ({"tabu_tenure": 3}, TypeError,
          "LocalSearch.robust_tabu_search() got an unexpected keyword argument 'tabu_tenure'")],
        ids=["inverted", "triple", "negative", "text", "float-in-pair", "negative-aspiration", "huge-seed",
             "misspelt"])
    def test_bad_arguments(self, kw, error, message):
        p = P.array_problem(M.swap(0), E.qap(*integer_qap(5, 0)))
        with pytest.raises(error) as info:
            rts(p, 1, **kw)
        assert str(info.value) == message

    def test_settings_are_keyword_only(self):
        p = P.array_problem(M.swap(0), E.qap(*integer_qap(5, 0)))
        with pytest.raises(TypeError, match=r"takes 3 positional arguments but 4 were given"):
            LS.robust_tabu_search(True, p, T.max_iterations(1), 3)

    @pytest.mark.parametrize("move, name", [(M.reverse(0), "reverse"), (M.or_opt(0), "or_opt"),
                                            (M.multi_neighbor([M.swap(0), M.reverse(0)]), "multi_neighbor")],
                             ids=["reverse", "or_opt", "multi"])
    def test_other_move_types_are_refused_when_built(self, move, name):
        p = P.array_problem(move, E.qap(*integer_qap(5, 0)))
        with pytest.raises(ValueError) as info:
            rts(p, 1)
        assert str(info.value) == (
            f"robust_tabu_search needs a move type that exchanges positions (swap or swap_tsp), not {name}")
        assert p.eval() == p.eval()  # the problem is not poisoned

    def test_a_move_type_changed_later_stops_the_run(self):
        p = P.array_problem(M.swap(0), E.qap(*integer_qap(5, 0)))
        search = rts(p, 3)
        p.set_move_type(M.reverse(0))
        with raises_panic("robust_tabu_search needs a move type that exchanges positions (swap or swap_tsp), "
                          "not reverse"):
            search.run()

    def test_int_tenure_and_none_mean_what_they_say(self):
        d, f = integer_qap(9, 4)
        logs = {}
        for name, kw in {"int": {"tenure": 3}, "pair": {"tenure": (3, 3)},
                         "none": {"tenure": None, "aspiration": None},
                         "default": {"tenure": (8, 10), "aspiration": 162}, "absent": {}}.items():
            p = P.array_problem(M.swap(0), E.qap(d, f))
            logs[name] = (ref.scores(rts(p, 60, seed=5, **kw).run()), p.solution())
        assert logs["int"] == logs["pair"]
        assert logs["none"] == logs["default"] == logs["absent"]


class TestModel:
    @settings(max_examples=80, deadline=None)
    @given(seed=st.integers(0, 2 ** 64 - 1), n=st.integers(2, 7),
           ev=st.sampled_from(["qap-sym", "qap-asym", "tsp-asym", "bins"]),
           kind=st.sampled_from(["swap", "swap_tsp"]), minimize=st.booleans(),
           low=st.integers(0, 4), spread=st.integers(0, 3), aspiration=st.integers(0, 30))
    def test_seeded_run_follows_the_model(self, seed, n, ev, kind, minimize, low, spread, aspiration):
        evaluation, score_of = ref.random_evaluation(ref.rng_for(seed), n, ev)
        p = P.array_problem(ref.move_type(kind), evaluation)
        log = rts(p, 40, minimize, tenure=(low, low + spread), aspiration=aspiration, seed=seed).run()
        rows, s = ref.robust_tabu_search(minimize, list(range(n)), score_of, kind, low, low + spread,
                                         aspiration, seed, 40)
        assert ref.scores(log) == rows
        assert p.solution() == s
        assert score_of(p.best_solution()) == rows[-1][0]

    @pytest.mark.parametrize("minimize", [True, False], ids=["minimising", "maximising"])
    def test_tenure_zero_takes_the_best_exchange_every_step(self, minimize):
        # Nothing forbidden and nothing forced, whatever the aspiration: each step is the
        # neighbourhood's best exchange, the first of equals, even when it undoes the last.
        d, f = integer_qap(8, 2, largest=3)
        evaluation, score_of = ref.qap(d, f)
        p = P.array_problem(M.swap(0), evaluation)
        log = rts(p, 30, minimize, tenure=0, aspiration=0).run()
        s = list(range(8))
        pick = min if minimize else max
        for row in ref.scores(log)[1:-1]:
            deltas = [(score_of(ref.applied("swap", s, m)) - score_of(s), m) for m in ref.moves("swap", 8)]
            best = pick(x for x, _ in deltas)
            s = ref.applied("swap", s, next(m for x, m in deltas if x == best))
            assert row[1] == score_of(s)
        assert p.solution() == s

    def test_logs_follow_set_log_and_the_criterion_is_told_every_score(self):
        d, f = integer_qap(10, 7)
        p = P.array_problem(M.swap(1), E.qap(d, f))
        start = p.solution()
        full = ref.scores(rts(p, 50, seed=3).run())
        assert len(full) == 52
        p.set_solution(start)
        search = rts(p, 50, seed=3)
        search.set_log("final")
        assert ref.scores(search.run()) == [full[-1]]
        # must_improve is told each step's current score and stops at the first that does not
        # beat every earlier one: after step k.
        currents = [r[1] for r in full[1:-1]]
        k = next(k for k in range(1, 50) if currents[k] >= min(currents[:k])) + 1
        p.set_solution(start)
        bounded = ref.scores(LS.robust_tabu_search(True, p, T.must_improve(), seed=3).run())
        assert bounded == full[:k + 1] + [(full[k][0], full[k][1], k)]


class TestExchangeTable:
    @pytest.mark.parametrize("symmetric", [True, False], ids=["symmetric", "asymmetric"])
    def test_integer_data_gives_the_bits_of_the_formula(self, symmetric):
        # Entries of 0.5 keep every sum exact but take the formula's route; the same data
        # doubled is integral and takes the table: every score is exactly twice the other.
        d, f = integer_qap(23, 11 if symmetric else 12, symmetric=symmetric, largest=40)
        halves = [[x / 2 for x in row] for row in d]
        runs = []
        for dd in (d, halves):
            p = P.array_problem(M.swap(4), E.qap(dd, f))
            p.set_solution(random.Random(3).sample(range(23), 23))
            runs.append((ref.scores(rts(p, 300, tenure=(2, 9), aspiration=60, seed=8).run()), p.solution()))
        whole, half = runs
        assert whole[1] == half[1]
        assert whole[0] == [(2 * b, 2 * c, i) for (b, c, i) in half[0]]

    def test_every_search_on_an_assignment_keeps_its_log(self):
        # As above for the searches that scan exchanges: steepest descent, tabu search, VNS
        # and iterated local search take the table on integral data and the formula on the
        # halved data, and make the same decisions with scores exactly twice as large.
        d, f = integer_qap(14, 5)
        halves = [[x / 2 for x in row] for row in d]
        for make in (lambda p: LS.steepest_descent(True, p, T.always_true()),
                     lambda p: LS.tabu_search(True, p, T.max_iterations(80), 9),
                     lambda p: LS.vns(True, p, T.max_iterations(80)),
                     lambda p: LS.iterated_local_search(True, p, T.max_iterations(30), seed=1)):
            runs = []
            for dd in (d, halves):
                p = P.array_problem(M.swap(2), E.qap(dd, f))
                p.set_solution(random.Random(2).sample(range(14), 14))
                runs.append((ref.scores(make(p).run()), p.solution()))
            whole, half = runs
            assert whole[1] == half[1]
            assert whole[0] == [(2 * b, 2 * c, i) for (b, c, i) in half[0]]


class TestRuns:
    def test_seeded_runs_repeat_and_pickles_carry_on_alike(self):
        d, f = integer_qap(12, 9)
        p = P.array_problem(M.swap_tsp(0), E.qap(d, f))
        p.set_solution([0] + random.Random(1).sample(range(1, 12), 11))
        search = rts(p, 100, tenure=(3, 6), aspiration=40, seed=21)
        copy = pickle.loads(pickle.dumps(search))
        first, second = search.run(), copy.run()
        assert ref.scores(first) == ref.scores(second)
        assert p.solution()[0] == 0

    @pytest.mark.parametrize("name", ["nug12", "chr12a", "had12"])
    def test_reaches_published_optima_of_small_instances(self, name):
        path = DATA / "qaplib" / f"{name}.dat"
        if not path.exists():
            pytest.skip("benchmark instances not present")
        rows = [line.split("\t") for line in (DATA / "qaplib" / "optima.tsv").read_text().splitlines()]
        optimum = float(dict(zip(rows[0], next(r for r in rows if r[0] == name)))["score_upper_pairs"])
        p = P.array_problem(M.swap(0), E.qap_from_qaplib(str(path)))
        p.set_solution(random.Random(0).sample(range(12), 12))
        log = rts(p, 3000, seed=1).run()
        assert log[-1][1] == optimum
        p.set_solution(p.best_solution())
        assert p.eval() == optimum
