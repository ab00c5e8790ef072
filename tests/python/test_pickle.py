"""Pickling every class: round trips that behave as the original, snapshots, refusals of bad state."""

import copy
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest

import kestrum
import kinds
import reference as ref
from conftest import POISONED, raises_panic
from kestrum_tools._restore import restore

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
C, I = kestrum.Cooling, kestrum.IterationsPerTemp


def same_rows(log):
    """A log without its elapsed times."""
    return [row[1:] for row in log]


def state_of(obj):
    fn, (kind, state) = obj.__reduce__()
    assert fn is restore and kind == type(obj).__name__
    return state


ROUND_TRIPS = [
    pytest.param(lambda o: pickle.loads(pickle.dumps(o, protocol=2)), id="protocol-2"),
    pytest.param(lambda o: pickle.loads(pickle.dumps(o, protocol=5)), id="protocol-5"),
    pytest.param(copy.deepcopy, id="deepcopy"),
    pytest.param(copy.copy, id="copy"),
]


def tour_eval(n=9, seed=4):
    ev, _ = ref.random_evaluation(ref.rng_for(seed), n, "tsp-sym")
    return ev


def annealing(problem, termination, minimize=True, seed=11):
    s = LS.simulated_annealing(40, minimize, problem, termination, C.geometric_cooling(0.9), I.cnst_iter_temp(7))
    s.set_acceptance_seed(seed)
    return s


class TestValueClasses:
    @pytest.mark.parametrize("trip", ROUND_TRIPS)
    def test_unseeded_move_type_continues_the_same_moves(self, trip):
        # An OS-seeded generator can only be reproduced by carrying its state across.
        move = M.swap()
        twin = trip(move)
        logs = []
        for mt in (move, twin):
            p = P.array_problem(mt, tour_eval())
            logs.append(same_rows(annealing(p, T.max_iterations(300)).run()))
        assert logs[0] == logs[1]
        # Both stepped through the same moves, and many of them.
        assert len(logs[0]) > 20

    @pytest.mark.parametrize("trip", ROUND_TRIPS)
    def test_multi_neighbor_keeps_members_order_and_weights(self, trip):
        move = M.multi_neighbor([M.swap(1), M.reverse(), M.swap_tsp(3)], [0.5, 2.0, 1.5])
        twin = trip(move)
        assert state_of(twin) == state_of(move)
        logs = [same_rows(LS.vns(True, P.array_problem(mt, tour_eval()), T.always_true()).run()) for mt in (move, twin)]
        assert logs[0] == logs[1]

    @pytest.mark.parametrize(
        "evaluation, runnable",
        [
            pytest.param(lambda: E.tsp([[0, 3, 4], [3, 0, 5], [4, 5, 0]]), True, id="tsp-symmetric"),
            pytest.param(lambda: E.tsp([[0, 3, 4], [1, 0, 5], [2, 7, 0]]), True, id="tsp-asymmetric"),
            pytest.param(lambda: E.tsp([[0, 1], [2]]), False, id="tsp-ragged-after-asymmetry"),
            pytest.param(lambda: E.qap([[0, 2, 3], [2, 0, 1], [3, 1, 0]], [[0, 5, 1], [5, 0, 2], [1, 2, 0]]), True, id="qap"),
            pytest.param(lambda: E.empty_bins([3, 1, 2.5, 4], 5), True, id="empty-bins"),
            pytest.param(lambda: E.empty_space([3, 1, 2.5, 4], 5), True, id="empty-space"),
            pytest.param(lambda: E.empty_space_exp([3, 1, 2.5, float("nan")], 5), True, id="empty-space-exp-nan"),
            pytest.param(lambda: E.bin_packing([3, 1, 2.5, 4, 0], 5), True, id="first-fit"),
        ],
    )
    def test_evaluation_scores_as_the_original(self, evaluation, runnable):
        ev = evaluation()
        twin = pickle.loads(pickle.dumps(ev))
        assert state_of(twin) == state_of(ev)
        if runnable:
            for seed in range(3):
                a, b = (P.array_problem(M.swap(seed), e) for e in (ev, twin))
                la = annealing(a, T.max_iterations(30)).run()
                lb = annealing(b, T.max_iterations(30)).run()
                assert repr(same_rows(la)) == repr(same_rows(lb))  # repr: NaN scores compare equal

    def test_criteria_keep_run_state_and_nesting(self):
        crit = T.multi_crit_or([T.multi_crit_and([T.max_iterations(5), T.no_improve(2)]), T.must_improve(), T.min_temp(-3)])
        twin = pickle.loads(pickle.dumps(crit))
        assert state_of(twin) == state_of(crit)
        # max_sec's start instant is part of the state and survives.
        clock = T.max_sec(7)
        assert state_of(pickle.loads(pickle.dumps(clock))) == state_of(clock)

    def test_schedules(self):
        for obj in (C.geometric_cooling(0.875), I.cnst_iter_temp(4294967295)):
            assert state_of(copy.deepcopy(obj)) == state_of(obj)

    @pytest.mark.parametrize(
        "crit",
        [
            pytest.param(lambda: T.multi_crit_and([T.max_iterations(40), T.no_improve(4)]), id="and-no-improve"),
            pytest.param(lambda: T.multi_crit_and([T.min_temp(12), T.max_iterations(200)]), id="min-temp"),
            pytest.param(lambda: T.multi_crit_and([T.must_improve(), T.max_iterations(300)]), id="must-improve"),
        ],
    )
    def test_criteria_and_schedules_drive_runs_alike(self, crit):
        originals = (crit(), C.geometric_cooling(0.8), I.cnst_iter_temp(6))
        twins = tuple(pickle.loads(pickle.dumps(o)) for o in originals)
        logs = []
        for term, cool, per_temp in (originals, twins):
            p = P.array_problem(M.reverse(8), tour_eval())
            sa = LS.simulated_annealing(60, True, p, term, cool, per_temp)
            sa.set_acceptance_seed(4)
            p2 = P.array_problem(M.swap(8), tour_eval())
            logs.append((same_rows(sa.run()), same_rows(LS.tabu_search(True, p2, term).run())))
        assert logs[0] == logs[1]

    def test_layout_of_a_small_state(self):
        # A format byte, the class byte (Cooling is the fifth class), then alpha little-endian.
        assert state_of(C.geometric_cooling(1.5)) == bytes([1, 4]) + struct.pack("<d", 1.5)
        assert state_of(I.cnst_iter_temp(258)) == bytes([1, 3, 2, 1, 0, 0])


class TestProblem:
    def worked(self):
        p = P.array_problem(M.reverse(5), tour_eval())
        annealing(p, T.max_iterations(60)).run()  # advances the generator, moves away from best
        return p

    @pytest.mark.parametrize("trip", ROUND_TRIPS)
    def test_snapshot_behaves_identically_and_independently(self, trip):
        p = self.worked()
        q = trip(p)
        assert (q.solution(), q.best_solution(), q.eval()) == (p.solution(), p.best_solution(), p.eval())
        assert p.solution() != p.best_solution()  # the case that matters
        before = p.solution()
        lq = annealing(q, T.max_iterations(200)).run()
        assert p.solution() == before  # running the copy leaves the original alone
        lp = annealing(p, T.max_iterations(200)).run()
        assert same_rows(lp) == same_rows(lq)
        assert (q.solution(), q.best_solution()) == (p.solution(), p.best_solution())

    def test_solution_shorter_than_a_replaced_evaluation(self):
        # set_eval_type does not resize the solution; the snapshot keeps its length.
        p = P.array_problem(M.swap(2), tour_eval(n=5))
        p.set_eval_type(tour_eval(n=8))
        p.set_solution([4, 3, 2, 1, 0])
        q = pickle.loads(pickle.dumps(p))
        assert q.solution() == [4, 3, 2, 1, 0] and q.eval() == p.eval()
        assert same_rows(LS.tabu_search(True, q, T.max_iterations(6)).run()) == same_rows(
            LS.tabu_search(True, p, T.max_iterations(6)).run()
        )

    def test_one_pickle_two_independent_problems(self):
        data = pickle.dumps(self.worked())
        a, b = pickle.loads(data), pickle.loads(data)
        LS.steepest_descent(True, a, T.always_true()).run()
        assert b.solution() != a.solution()


class TestLocalSearch:
    def configured(self, name, problem):
        if name == "sd":
            return LS.steepest_descent(False, problem, T.multi_crit_and([T.max_iterations(40), T.must_improve()]))
        if name == "sa":
            return annealing(problem, T.max_iterations(150), minimize=False, seed=3)
        if name == "tabu":
            return LS.tabu_search(True, problem, T.no_improve(9), 3)
        if name == "anneal":
            return LS.annealing(False, problem, T.max_iterations(150), iterations_per_temperature=7, seed=4)
        if name == "anneal-set":
            s = LS.annealing(True, problem, T.max_iterations(150), start_temperature=0.5, alpha=0.9)
            s.set_acceptance_seed(8)
            return s
        if name == "robust":
            return LS.robust_tabu_search(False, problem, T.max_iterations(40), tenure=(1, 4), aspiration=20, seed=6)
        return LS.vns(True, problem, T.max_iterations(30))

    def problem_for(self, name):
        move = M.multi_neighbor([M.swap(4), M.reverse(4)]) if name == "vns" else M.swap(4)
        return P.array_problem(move, tour_eval(n=10))

    @pytest.mark.parametrize("trip", ROUND_TRIPS)
    @pytest.mark.parametrize("name", ["sd", "sa", "tabu", "vns", "anneal", "anneal-set", "robust"])
    def test_restored_search_runs_as_the_original(self, name, trip):
        s = self.configured(name, self.problem_for(name))
        s.run()  # VNS now stands in a later neighbourhood, annealing at a cooled temperature
        twin = trip(s)
        assert state_of(twin) == state_of(s)  # nothing saved is lost on the way back
        for _ in range(2):
            assert same_rows(twin.run()) == same_rows(s.run())

    def test_vns_keeps_its_neighbourhood(self):
        p = self.problem_for("vns")
        s = LS.vns(True, p, T.always_true())
        s.run()
        twin = pickle.loads(pickle.dumps(s))
        # Reset both problems: a second run from the identity uses only the last neighbourhood,
        # so it ends where a fresh search (which starts with swaps) does not.
        twin_log = (twin.reset(), twin.run())[1]
        p.reset()
        assert same_rows(s.run()) == same_rows(twin_log)
        p.reset()
        fresh = LS.vns(True, p, T.always_true()).run()
        assert same_rows(fresh) != same_rows(twin_log)

    def test_search_and_its_problem_part_ways(self):
        p = self.problem_for("tabu")
        s = self.configured("tabu", p)
        twin = pickle.loads(pickle.dumps(s))
        before = p.solution()
        twin.run()
        assert p.solution() == before

    def test_criterion_keeps_the_direction_it_had(self):
        # A criterion given through set_termination keeps its own direction (minimising),
        # although this descent maximises; rebuilding the search through its constructor
        # alone would turn it to maximisation.
        p = P.array_problem(M.swap(1), tour_eval())
        s = LS.steepest_descent(False, p, T.always_true())
        s.set_termination(T.must_improve())
        twin = pickle.loads(pickle.dumps(s))
        log = twin.run()
        # The second rising score is not an improvement to a minimising must_improve, which
        # stops the descent after that step; a maximising one lets it climb further.
        assert log[-1][3] == 2
        assert same_rows(log) == same_rows(s.run())
        q = P.array_problem(M.swap(1), tour_eval())
        assert LS.steepest_descent(False, q, T.must_improve()).run()[-1][3] > 2


class TestEveryKind:
    """Every kind of the kinds table, pickled: the copy saves to the same bytes and goes on as
    the original does."""

    @staticmethod
    def saved(obj):
        return obj.__reduce__()[1][1]

    def test_search(self, search_kind):
        s = search_kind(True, search_kind.problem(tour_eval(n=10), "swap", 4), T.max_iterations(20))
        s.run()
        twin = pickle.loads(pickle.dumps(s))
        assert state_of(twin) == state_of(s)
        for _ in range(2):
            assert same_rows(twin.run()) == same_rows(s.run())

    def test_evaluation(self, evaluation_kind):
        ev = kinds.evaluation(evaluation_kind, 7)
        twin = pickle.loads(pickle.dumps(ev))
        assert twin.kind == ev.kind == kinds.EVALUATIONS[evaluation_kind].name
        assert self.saved(twin) == self.saved(ev)
        a, b = (P.array_problem(M.swap(5), e) for e in (ev, twin))
        assert same_rows(annealing(a, T.max_iterations(30)).run()) == same_rows(annealing(b, T.max_iterations(30)).run())
        assert a.solution() == b.solution()

    def test_move_type(self, move_kind):
        move = kinds.move_type(move_kind, 3)
        twin = pickle.loads(pickle.dumps(move))
        assert state_of(twin) == state_of(move)
        logs = [same_rows(annealing(P.array_problem(mt, tour_eval()), T.max_iterations(60)).run()) for mt in (move, twin)]
        assert logs[0] == logs[1]

    def test_criterion(self, criterion_kind):
        crit = kinds.CRITERIA[criterion_kind]()
        twin = pickle.loads(pickle.dumps(crit))
        assert state_of(twin) == state_of(crit)
        # A descent ends at its local optimum at the latest, under every criterion.
        logs = [same_rows(LS.steepest_descent(True, P.array_problem(M.reverse(2), tour_eval()), t).run())
                for t in (crit, twin)]
        assert logs[0] == logs[1]


class TestPoisoned:
    def poisoned_pair(self):
        p = P.array_problem(M.multi_neighbor([M.swap(1)]), tour_eval())
        s = LS.steepest_descent(True, p, T.always_true())
        with raises_panic("MultiNeighbor doesn't support get_all_mov"):
            s.run()
        return p, s

    @pytest.mark.parametrize("which", [0, 1], ids=["problem", "search"])
    def test_poisoned_object_refuses(self, which):
        obj = self.poisoned_pair()[which]
        with raises_panic(POISONED):
            pickle.dumps(obj)
        with raises_panic(POISONED):
            copy.deepcopy(obj)

    def test_search_over_a_poisoned_problem_refuses_but_stays_usable(self):
        p, _ = self.poisoned_pair()
        other = LS.vns(True, p, T.always_true())
        with raises_panic(POISONED):
            pickle.dumps(other)
        other.set_problem(P.array_problem(M.swap(1), tour_eval()))  # its own lock is intact
        assert len(pickle.dumps(other)) > 0


def valid_states():
    p = P.array_problem(M.multi_neighbor([M.swap(1), M.reverse(2)], [1.0, 2.0]), E.qap([[0, 1], [1, 0]], [[0, 2], [2, 0]]))
    return {
        "Evaluation": state_of(E.tsp([[0, 1, 2], [1, 0, 3], [2, 3, 0]])),
        "MoveType": state_of(M.multi_neighbor([M.swap(1), M.reverse(2)], [1.0])),
        "Problem": state_of(p),
        "Termination": state_of(T.multi_crit_and([T.no_improve(3), T.max_sec(2), T.must_improve()])),
        "Cooling": state_of(C.geometric_cooling(0.5)),
        "IterationsPerTemp": state_of(I.cnst_iter_temp(9)),
        "LocalSearch": state_of(annealing(p, T.max_iterations(3))),
    }


STATES = valid_states()


class TestMalformedState:
    @pytest.mark.parametrize("kind", sorted(STATES))
    def test_every_truncation_and_extension_is_refused(self, kind):
        cls = getattr(kestrum, kind)
        state = STATES[kind]
        assert state_of(cls._from_state(state)) == state
        for cut in range(len(state)):
            with pytest.raises(ValueError, match=f"^invalid {kind} state: "):
                cls._from_state(state[:cut])
        with pytest.raises(ValueError, match="1 unexpected bytes at the end"):
            cls._from_state(state + b"\0")

    @pytest.mark.parametrize("kind", sorted(STATES))
    def test_flipped_bytes_give_an_object_or_value_error(self, kind):
        cls = getattr(kestrum, kind)
        state = bytearray(STATES[kind])
        for pos in range(len(state)):
            for flip in (0x01, 0x80, 0xFF):
                forged = bytearray(state)
                forged[pos] ^= flip
                try:
                    obj = cls._from_state(bytes(forged))
                except ValueError:
                    continue
                assert type(obj) is cls

    @pytest.mark.parametrize(
        "kind, forge, message",
        [
            ("Cooling", lambda s: bytes([2]) + s[1:], "format 2 is not the supported format 1"),
            ("Cooling", lambda s: s[:1] + bytes([5]) + s[2:], "class byte 5 where 4 was expected"),
            ("MoveType", lambda s: s[:2] + bytes([9]) + s[3:], "move type tag 9 is unknown"),
            ("Evaluation", lambda s: s[:2] + bytes([200]) + s[3:], "evaluation tag 200 is unknown"),
            ("Evaluation", lambda s: s[:2] + bytes([8]) + s[3:], "evaluation tag 8 is unknown"),
            ("Termination", lambda s: s[:3] + b"\xff" * 8 + s[11:], "a length of 18446744073709551615 does not fit"),
            ("Problem", lambda s: s[:-16] + struct.pack("<II", 0, 0) + s[-8:], "the current solution is not a permutation of 0..2 - 1"),
            ("Problem", lambda s: s[:-8] + struct.pack("<II", 2, 0), "the best solution is not a permutation of 0..2 - 1"),
        ],
        ids=["format", "class", "move-tag", "evaluation-tag", "next-evaluation-tag", "huge-count", "current", "best"],
    )
    def test_refusal_messages(self, kind, forge, message):
        with pytest.raises(ValueError, match=f"^invalid {kind} state: " + message.replace(".", r"\.")):
            getattr(kestrum, kind)._from_state(forge(STATES[kind]))

    def test_ragged_tour_matrix_and_unsized_move_type(self):
        rows = struct.pack("<Q", 2) + struct.pack("<Q", 1) + struct.pack("<d", 0) + struct.pack("<Q", 0)
        with pytest.raises(ValueError, match="the tour matrix cannot be read: index out of bounds: the len is 0 but the index is 0"):
            E._from_state(bytes([1, 5, 3]) + rows)
        # A problem whose move type is sized for 3 positions but whose solution has 2.
        problem = STATES["Problem"]
        evaluation_len = len(state_of(E.qap([[0, 1], [1, 0]], [[0, 2], [2, 0]]))) - 2
        # header, evaluation, move type tag, member count, first member's tag and generator
        size_at = 2 + evaluation_len + 1 + 8 + 1 + 16
        assert problem[size_at : size_at + 4] == struct.pack("<I", 2)
        forged = problem[:size_at] + struct.pack("<I", 3) + problem[size_at + 4 :]
        with pytest.raises(ValueError, match="the move type is not sized to the 2 positions"):
            P._from_state(forged)

    def test_criteria_nested_too_deep(self):
        # Nesting is capped where saved states are, so whatever can be built can be saved.
        deep = T.always_true()
        for _ in range(999):
            deep = T.multi_crit_and([T.max_iterations(1), deep])
        assert pickle.loads(pickle.dumps(deep)) is not deep
        for build in (T.multi_crit_and, T.multi_crit_or):
            with pytest.raises(ValueError, match="^criteria nest deeper than 1000$"):
                build([T.always_true(), deep])
        # The deepest criterion allowed copies and stops a run like a shallow one.
        tour = kestrum.Evaluation.tsp([[0, 1, 2], [1, 0, 1], [2, 1, 0]])
        problem = kestrum.Problem.array_problem(kestrum.MoveType.swap(), tour)
        search = kestrum.LocalSearch.tabu_search(True, problem, copy.deepcopy(deep), 3)
        assert search.run()[-1][3] == 1
        forged = bytes([1, 2]) + (bytes([4]) + struct.pack("<Q", 1)) * 1000 + bytes([0])
        with pytest.raises(ValueError, match="criteria nest deeper than 1000"):
            T._from_state(forged)
        T._from_state(forged[:2] + forged[11:])  # one level less is fine

    def test_arguments(self):
        with pytest.raises(TypeError, match=r"^argument 'state': 'int' object cannot be converted to 'PyBytes'$"):
            C._from_state(5)
        assert state_of(C._from_state(bytearray(STATES["Cooling"]))) == STATES["Cooling"]
        assert state_of(C._from_state(memoryview(STATES["Cooling"]))) == STATES["Cooling"]
        with pytest.raises(ValueError, match="'Foo' is not a kestrum class"):
            restore("Foo", b"")
        with pytest.raises(ValueError, match="class byte 4 where 6 was expected"):
            restore("MoveType", STATES["Cooling"])


class TestDeepCriteria:
    # A criterion nested as deep as saved states allow, loaded, saved and dropped in a thread
    # with a 128 KiB stack: none of the three may recurse per level. Copied into a search and
    # run there too, which is as deep as a criterion can be built. In a child process, so a
    # stack overflow is a failed test rather than a crashed run.
    def test_small_stack_thread(self):
        code = textwrap.dedent(
            """
            import os
            import threading
            import kestrum
            # 999 levels of multi_crit_and around max_iterations(2)
            leaf = bytes([1]) + (2).to_bytes(4, "little") + (0).to_bytes(4, "little")
            state = bytes([1, 2]) + (bytes([4]) + (1).to_bytes(8, "little")) * 999 + leaf
            out = []
            def load():
                t = kestrum.Termination._from_state(state)
                out.append(t.__reduce__()[1][1] == state)
                del t
            def run():
                t = kestrum.Termination._from_state(state)
                tour = kestrum.Evaluation.tsp([[0, 1, 2], [1, 0, 1], [2, 1, 0]])
                problem = kestrum.Problem.array_problem(kestrum.MoveType.swap(), tour)
                out.append(len(kestrum.LocalSearch.tabu_search(True, problem, t, 3).run()))
            # A run walks the criterion by recursion, a few small frames per level; under
            # AddressSanitizer every frame is several times larger.
            asan = "libasan" in os.environ.get("LD_PRELOAD", "")
            for work, kib in ((load, 128), (run, 1024 if asan else 128)):
                threading.stack_size(kib * 1024)
                worker = threading.Thread(target=work)
                worker.start()
                worker.join()
            print(out)
            """
        )
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert (done.returncode, done.stdout.strip()) == (0, "[True, 4]"), done.stderr
