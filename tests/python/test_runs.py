"""Runs inside Python: signals, progress callbacks, threads, re-entry and log modes.

Anything that could hang or kill the interpreter runs in a child process with a timeout.
"""

import json
import os
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest

import kestrum
import kinds
from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination

CHILD_TIMEOUT = 120
# The runs stopped here would go on for minutes or for ever (always_true, a step of minutes,
# 10**8 runs), so an exception well inside this bound shows the stop was taken when it came,
# not at some later end. The bound is loose on purpose: the latency itself is measured in
# bench/, never asserted against the clock of a shared machine.
PROMPT = 10.0
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")

# Builders shared by the child scripts: random Euclidean tours, and every search over one.
PRELUDE = textwrap.dedent(
    """
    import json, os, random, signal, sys, threading, time
    import kestrum
    from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination

    # A child started from a shell's background job inherits SIGINT ignored, and Python then
    # leaves it so: put Ctrl-C's usual handler back.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    def tour(n, seed=1, move=MoveType.reverse):
        rnd = random.Random(seed)
        pts = [(rnd.random(), rnd.random()) for _ in range(n)]
        d = [[((a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2) ** 0.5 for b in pts] for a in pts]
        return Problem.array_problem(move(seed), Evaluation.tsp(d))

    # Each search with settings that keep it going; a search without its line here fails.
    SEARCH = {
        "steepest_descent": lambda p, t: LocalSearch.steepest_descent(True, p, t),
        "simulated_annealing": lambda p, t: LocalSearch.simulated_annealing(
            1000, True, p, t, Cooling.geometric_cooling(0.999), IterationsPerTemp.cnst_iter_temp(1000)),
        "tabu_search": lambda p, t: LocalSearch.tabu_search(True, p, t),
        "vns": lambda p, t: LocalSearch.vns(True, p, t),
        "iterated_local_search": lambda p, t: LocalSearch.iterated_local_search(True, p, t, seed=1),
        "robust_tabu_search": lambda p, t: LocalSearch.robust_tabu_search(True, p, t, seed=1),
        "annealing": lambda p, t: LocalSearch.annealing(True, p, t, seed=1),
    }

    def search(kind, p, t):
        return SEARCH[kind](p, t)

    def scores_after_stop(p, log):
        # What the problem stands on and its best solution, scored, against the log's last row.
        current = p.eval()
        p.set_solution(p.best_solution())
        best = p.eval()
        n = len(p.solution())
        intact = sorted(p.solution()) == list(range(n))
        return {"current": current, "best": best, "row": list(log[-1]), "intact": intact}

    def interrupted(call, seconds=0.4):
        # call() with a SIGINT sent after `seconds`: its KeyboardInterrupt and how late it came.
        sent = []
        def fire():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(seconds, fire).start()
        try:
            call()
        except KeyboardInterrupt as e:
            return e, time.monotonic() - sent[0]
        raise SystemExit("the call ended before the signal")

    def long_search(kind):
        # A search of `kind` that runs until stopped, on a tour long enough for steps to take a while.
        p = tour(1500 if kind in ("steepest_descent", "vns") else 300)
        if kind == "robust_tabu_search":
            p.set_move_type(MoveType.swap(1))
        if kind == "vns":
            p.set_move_type(MoveType.multi_neighbor([MoveType.swap(1), MoveType.reverse(1)]))
        return p, search(kind, p, Termination.always_true())
    """
)


def child(*parts: str) -> dict:
    """Runs PRELUDE + parts in a fresh interpreter; the last prints one JSON line, returned here."""
    script = PRELUDE + "".join(textwrap.dedent(part) for part in parts)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=CHILD_TIMEOUT)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


def check_stopped(result: dict) -> None:
    """The exception came when the stop was asked for, and the problem stands where the partial log ends."""
    assert result["delay"] < PROMPT, result
    assert result["intact"]
    _, best, current, _ = result["row"]
    assert result["best"] == pytest.approx(best, rel=1e-9)
    assert result["current"] == pytest.approx(current, rel=1e-9)
    # The search and the problem still work: a short run again from where they stand.
    # (The problem was put on its best solution to score it.)
    assert result["again_rows"] >= 1 and result["again_start"] == pytest.approx(best, rel=1e-9)


AFTER_STOP = """
    stop = scores_after_stop(p, log)
    p.set_solution(p.solution())  # unchanged; the problem answers
    s.set_termination(Termination.max_iterations(2))
    again = s.run()
    print(json.dumps(dict(stop, delay=delay, again_rows=len(again), again_start=again[0][1], rows=len(log))))
"""


@pytest.mark.parametrize("kind", kinds.SEARCHES)
class TestSigintDuringRun:
    def test_each_search_stops_when_told_and_keeps_its_best(self, kind):
        body = f"""
            p, s = long_search("{kind}")
            e, delay = interrupted(s.run)
            log = e.log
        """
        check_stopped(child(body, AFTER_STOP))

    def test_a_raising_progress_callback_stops_it_the_same_way(self, kind):
        body = f"""
            p, s = long_search("{kind}")
            calls = []
            def callback(elapsed_ns, best, current, iteration):
                calls.append(time.monotonic())
                if len(calls) == 3:
                    raise ValueError("enough")
            s.set_progress(callback, 0.1)
            try:
                s.run()
                raise SystemExit("the run ended before the callback raised")
            except ValueError as e:
                assert str(e) == "enough"
                delay = time.monotonic() - calls[-1]
                log = e.log
            s.set_progress(None)
        """
        check_stopped(child(body, AFTER_STOP))


class TestSigintElsewhere:
    def test_inside_one_long_step(self):
        # One bin-packing scan at this size takes far longer than the test allows.
        body = """
            rnd = random.Random(3)
            weights = [rnd.randint(1, 60) for _ in range(6000)]
            p = Problem.array_problem(MoveType.swap(1), Evaluation.empty_bins(weights, 100.0))
            s = LocalSearch.steepest_descent(True, p, Termination.always_true())
            e, delay = interrupted(s.run)
            log = e.log
            # No step finished: start row and final row, nothing applied.
            assert [r[3] for r in log] == [0, 0] and log[0][1:3] == log[1][1:3], log
        """
        check_stopped(child(body, AFTER_STOP))

    def test_during_benchmark_the_log_holds_the_runs_so_far(self):
        body = """
            p = tour(300)
            s = search("tabu_search", p, Termination.always_true())
            quick = search("steepest_descent", p, Termination.max_iterations(3))
            e, delay = interrupted(lambda: kestrum.benchmark([quick, s], [p], runs=3))
            nested = e.log
            # The descent's three runs, then the tabu search's first run, stopped.
            assert [len(x) for x in nested] == [1, 1] and len(nested[0][0]) == 3, [len(x) for x in nested]
            assert len(nested[1][0]) == 1
            log = nested[1][0][0]
        """
        check_stopped(child(body, AFTER_STOP))

    def test_between_many_short_benchmark_runs(self):
        body = """
            p = tour(30)
            s = search("steepest_descent", p, Termination.max_iterations(1))
            e, delay = interrupted(lambda: kestrum.benchmark([s], [p], runs=10**8), 0.3)
            runs = len(e.log[0][0])
            print(json.dumps({"delay": delay, "runs": runs}))
        """
        result = child(body)
        assert result["delay"] < PROMPT and 0 < result["runs"] < 10**8


    def test_in_a_child_forked_from_a_worker_thread(self):
        # A run in the parent first: the child must not go on taking the parent's main
        # thread for its own, where signal handlers run.
        body = """
            p = tour(30)
            search("tabu_search", p, Termination.max_iterations(3)).run()
            status = []
            def fork_and_run():
                pid = os.fork()
                if pid == 0:
                    q = tour(300)
                    s = search("tabu_search", q, Termination.max_sec(int(3 * PROMPT)))
                    try:
                        e, delay = interrupted(s.run)
                        os._exit(0 if delay < PROMPT and len(e.log) >= 1 else 2)
                    except BaseException:
                        os._exit(3)
                status.append(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
            worker = threading.Thread(target=fork_and_run)
            worker.start()
            worker.join()
            print(json.dumps({"status": status}))
        """
        assert child(f"PROMPT = {PROMPT}\n", body) == {"status": [0]}


class TestReentry:
    def test_a_callback_reaching_into_the_runs_objects_gets_runtime_error(self):
        body = """
            p = tour(100)
            other = LocalSearch.tabu_search(True, p, Termination.max_iterations(5))
            s = search("tabu_search", p, Termination.max_iterations(10**6))
            messages = []
            def callback(*row):
                for reach in (p.eval, s.reset, other.run, lambda: s.set_log("final")):
                    try:
                        reach()
                    except RuntimeError as e:
                        messages.append(str(e))
                raise RuntimeError("stop here")
            # With no interval the callback comes at the run's first look at the clock, a
            # fixed count of moves into the first scan: the run never reaches its criterion.
            s.set_progress(callback, 0.0)
            try:
                s.run()
            except RuntimeError as e:
                assert str(e) == "stop here"
                stopped_at = e.log[-1][3]
            s.set_progress(None)
            # Nothing was poisoned by the refusals: all three objects work (a short run again).
            s.set_termination(Termination.max_iterations(5))
            assert len(other.run()) >= 2 and len(s.run()) >= 2
            print(json.dumps({"messages": messages, "stopped_at": stopped_at, "eval": p.eval()}))
        """
        result = child(body)
        assert result["messages"] == ["the object is in use by a running search"] * 4
        assert result["stopped_at"] <= 1

    def test_a_signal_handler_reaching_into_the_problem(self):
        body = """
            p = tour(300)
            s = search("simulated_annealing", p, Termination.always_true())
            def handler(signum, frame):
                p.eval()
            signal.signal(signal.SIGUSR1, handler)
            threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGUSR1)).start()
            try:
                s.run()
            except RuntimeError as e:
                message, rows = str(e), len(e.log)
            print(json.dumps({"message": message, "rows": rows, "eval": p.eval()}))
        """
        result = child(body)
        assert result["message"] == "the object is in use by a running search" and result["rows"] >= 2


class TestThreads:
    def test_stress_with_shared_problems_no_deadlock_and_intact_permutations(self):
        body = """
            problems = [tour(60, seed) for seed in range(3)]
            kinds = STRESSED
            searches = [search(kinds[k % len(kinds)], problems[k % 3], Termination.max_iterations(200)) for k in range(10)]
            errors, ticks = [], []
            def work(k):
                rnd = random.Random(k)
                try:
                    for _ in range(40):
                        s = searches[rnd.randrange(8)]
                        q = problems[rnd.randrange(3)]
                        action = rnd.randrange(7)
                        if action == 0:
                            s.reset()
                        elif action == 1:
                            q.eval()
                        elif action == 2:
                            kestrum.benchmark([s], [q], runs=2)
                        elif action == 3:
                            s.set_progress(lambda *row: ticks.append(row[3]), 0.0)
                            s.run()
                        elif action == 4:
                            q.set_solution(list(reversed(q.solution())))
                        else:
                            s.run()
                except BaseException as e:
                    errors.append(repr(e))
            threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(90)
            alive = sum(t.is_alive() for t in threads)
            intact = all(sorted(q.solution()) == list(range(60)) and sorted(q.best_solution()) == list(range(60))
                         for q in problems)
            print(json.dumps({"alive": alive, "errors": errors, "intact": intact}))
            sys.stdout.flush()
            os._exit(0)
        """
        # Every search that runs on the tours' reversals.
        stressed = [name for name, kind in kinds.SEARCH_KINDS.items() if "reverse" in kind.moves]
        result = child(body.replace("STRESSED", repr(stressed)))
        assert result == {"alive": 0, "errors": [], "intact": True}

    def test_threads_waiting_for_a_problem_give_up_the_interpreter_lock_before_any_run(self):
        # eval() over a Python objective holds the problem's lock while the objective runs
        # Python; a second thread waiting for that lock must let it finish, from the import
        # on (no run has happened in this process).
        body = """
            def evaluate(s):
                time.sleep(0.001)
                return float(s[0])
            p = Problem.array_problem(MoveType.swap(1), Evaluation.custom(6, evaluate))
            def work():
                for _ in range(40):
                    p.eval()
            threads = [threading.Thread(target=work) for _ in range(3)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(60)
            print(json.dumps({"alive": sum(t.is_alive() for t in threads)}))
            sys.stdout.flush()
            os._exit(0)
        """
        assert child(body) == {"alive": 0}

    def test_other_threads_run_while_a_search_runs(self):
        body = """
            p = tour(300)
            s = search("simulated_annealing", p, Termination.max_sec(1))
            ticks = []
            stop = threading.Event()
            def ticker():
                while not stop.is_set():
                    ticks.append(1)
                    time.sleep(0.01)
            t = threading.Thread(target=ticker)
            t.start()
            s.run()
            stop.set()
            t.join()
            print(json.dumps({"ticks": len(ticks)}))
        """
        assert child(body)["ticks"] > 20


class TestMemoryError:
    @pytest.mark.skipif(sys.platform != "linux", reason="address-space limits as Linux applies them")
    @pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves more address space than the limit")
    def test_a_log_that_cannot_grow_leaves_the_problem_usable(self):
        body = """
            import resource, pickle
            p = tour(50)
            s = search("simulated_annealing", p, Termination.always_true())
            s.set_acceptance_seed(1)
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
            soft, hard = resource.getrlimit(resource.RLIMIT_AS)
            resource.setrlimit(resource.RLIMIT_AS, (used + 300 * 2**20, hard))
            try:
                s.run()
                raise SystemExit("the log grew without bound")
            except MemoryError:
                pass
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
            intact = sorted(p.best_solution()) == list(range(50)) and sorted(p.solution()) == list(range(50))
            pickle.loads(pickle.dumps(p)).eval()
            s.set_termination(Termination.max_iterations(10))
            rows = len(s.run())
            print(json.dumps({"intact": intact, "rows": rows}))
        """
        result = child(body)
        assert result["intact"] and result["rows"] >= 2

    # An allocation that fails anywhere leaves the object as it stood: the same solution and
    # best solution, usable, never poisoned; in a run, the rows so far go with the error.
    LIMITED = """
        import copy, pickle, resource
        import numpy as np

        def limited(call, extra):
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
            soft, hard = resource.getrlimit(resource.RLIMIT_AS)
            resource.setrlimit(resource.RLIMIT_AS, (used + extra, hard))
            try:
                call()
                return None
            except MemoryError as e:
                return getattr(e, "log", "no log")
            finally:
                resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

        def standing(p):
            return [p.solution(), p.best_solution(), p.eval()]
    """

    @pytest.mark.skipif(sys.platform != "linux", reason="address-space limits as Linux applies them")
    @pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves more address space than the limit")
    def test_copies_out_and_deep_copies_leave_the_problem_as_it_stood(self):
        body = """
            xy = np.random.default_rng(1).random((100_000, 2)) * 1000
            p = Problem.array_problem(MoveType.reverse(1), Evaluation.tsp_from_points(xy))
            p.set_solution(list(range(99_999, -1, -1)))
            before = standing(p)
            out = {}
            for name, call in [("solution", p.solution), ("best_solution", p.best_solution),
                               ("deepcopy", lambda: copy.deepcopy(p)), ("pickle", lambda: pickle.dumps(p))]:
                out[name] = limited(call, 64 * 1024)
                out[name + " standing"] = standing(p) == before
            print(json.dumps(out))
        """
        result = child(self.LIMITED, body)
        for name in ("solution", "best_solution", "deepcopy", "pickle"):
            assert result[name] == "no log", name
            assert result[name + " standing"], name

    @pytest.mark.skipif(sys.platform != "linux", reason="address-space limits as Linux applies them")
    @pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves more address space than the limit")
    def test_a_run_that_cannot_allocate_raises_with_its_rows_and_poisons_nothing(self):
        body = """
            # Neighbour lists of 2**32 - 1 cities each on 100,000 points: 40 GB asked for.
            xy = np.random.default_rng(2).random((100_000, 2)) * 1000
            p = Problem.array_problem(MoveType.reverse(1), Evaluation.tsp_from_points(xy))
            before = standing(p)
            s = LocalSearch.iterated_local_search(True, p, Termination.max_iterations(2), neighbours=2**32 - 1, seed=1)
            lists = limited(s.run, 2**30)
            nested = limited(lambda: kestrum.benchmark([s], [p], runs=3), 2**30)
            lists_standing = standing(p) == before
            # A custom objective of 4,000,000 positions: the tabu list's tables do not fit.
            q = Problem.array_problem(MoveType.swap(1), Evaluation.custom(4_000_000, lambda s: 0.0))
            t = LocalSearch.tabu_search(True, q, Termination.max_iterations(2))
            custom = limited(t.run, 16 * 2**20)
            # Both searches and both problems still answer, and save.
            pickle.loads(pickle.dumps(s))
            print(json.dumps({"lists": lists, "nested": nested, "lists_standing": lists_standing, "custom": custom,
                              "custom_best": q.best_solution()[:3], "custom_score": q.eval(),
                              "saved": standing(p) == before}))
        """
        result = child(self.LIMITED, body)
        # The start row was written before the lists were asked for.
        assert isinstance(result["lists"], list) and len(result["lists"]) == 1, result["lists"]
        # benchmark: the first run's rows so far, in its slot.
        assert len(result["nested"]) == 1 and len(result["nested"][0]) == 1, result["nested"]
        assert [len(log) for log in result["nested"][0][0]] == [1]
        assert result["lists_standing"]
        assert isinstance(result["custom"], list), result["custom"]
        assert result["custom_best"] == [0, 1, 2] and result["custom_score"] == 0.0
        assert result["saved"]


def small_tour(n=40, seed=2):
    import random

    rnd = random.Random(seed)
    pts = [(rnd.random(), rnd.random()) for _ in range(n)]
    d = [[((a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2) ** 0.5 for b in pts] for a in pts]
    return Problem.array_problem(MoveType.swap(seed), Evaluation.tsp(d))


def build(kind, p, minimize, t):
    s = LOG_SETTINGS[kind](minimize, p, t)
    s.set_acceptance_seed(5)
    return s


# Each search with settings that give long logs on small tours; a search without its line
# here fails the tests that walk every search.
LOG_SETTINGS = {
    "steepest_descent": lambda minimize, p, t: LocalSearch.steepest_descent(minimize, p, t),
    "simulated_annealing": lambda minimize, p, t: LocalSearch.simulated_annealing(
        50, minimize, p, t, Cooling.geometric_cooling(0.9), IterationsPerTemp.cnst_iter_temp(50)),
    "tabu_search": lambda minimize, p, t: LocalSearch.tabu_search(minimize, p, t, 7),
    "vns": lambda minimize, p, t: LocalSearch.vns(minimize, p, t),
    "iterated_local_search": lambda minimize, p, t: LocalSearch.iterated_local_search(minimize, p, t, seed=5),
    "annealing": lambda minimize, p, t: LocalSearch.annealing(minimize, p, t, seed=5),
    "robust_tabu_search": lambda minimize, p, t: LocalSearch.robust_tabu_search(minimize, p, t, seed=2),
}


def without_time(log):
    return [row[1:] for row in log]


def improvement_rows(full):
    kept = [full[0]] + [row for prev, row in zip(full, full[1:]) if row[1] != prev[1]]
    if kept[-1] is not full[-1]:
        kept.append(full[-1])
    return kept


KINDS = kinds.SEARCHES


class TestLogModes:
    @pytest.mark.parametrize("minimize", [True, False], ids=["min", "max"])
    @pytest.mark.parametrize("kind", KINDS)
    def test_modes_are_the_full_log_filtered(self, kind, minimize):
        logs = {}
        for mode in ("all", "improvements", "final"):
            p = small_tour()
            s = build(kind, p, minimize, Termination.max_iterations(400))
            s.set_log(mode)
            logs[mode] = s.run()
            logs[mode + " solution"] = p.best_solution()
        full = logs["all"]
        assert len(full) > 3
        assert without_time(logs["improvements"]) == without_time(improvement_rows(full))
        assert without_time(logs["final"]) == without_time(full[-1:])
        # The mode changes only what is kept, never the search.
        assert logs["all solution"] == logs["improvements solution"] == logs["final solution"]

    def test_benchmark_honours_each_searchs_mode(self):
        p = small_tour()
        a = build("tabu_search", p, True, Termination.max_iterations(100))
        b = build("tabu_search", p, True, Termination.max_iterations(100))
        b.set_log("final")
        full, final = kestrum.benchmark([a, b], [p], runs=2)
        assert [len(log) for log in final[0]] == [1, 1]
        assert [without_time(log[-1:]) for log in full[0]] == [without_time(log) for log in final[0]]

    def test_mode_survives_pickling_and_copies(self):
        import copy

        s = build("tabu_search", small_tour(), True, Termination.max_iterations(100))
        s.set_log("final")
        s.set_progress(lambda *row: None, 5.0)
        for twin in (pickle.loads(pickle.dumps(s)), copy.deepcopy(s)):
            assert len(twin.run()) == 1


    def test_saved_settings_are_checked_and_defaults_add_no_bytes(self):
        s = build("tabu_search", small_tour(), True, Termination.max_iterations(100))
        plain = s.__reduce__()[1][1]
        s.set_log("improvements")
        s.set_progress(None, 2.5)
        restore, (kind, state) = s.__reduce__()
        assert state[: len(plain)] == plain and len(state) == len(plain) + 10
        assert state[len(plain) : len(plain) + 2] == bytes([0x52, 1])
        for bad, message in ((3, "log mode 3"), (None, "progress interval out of range")):
            forged = bytearray(state)
            if bad is None:
                forged[-8:] = struct.pack("<d", -1.0)
            else:
                forged[len(plain) + 1] = bad
            with pytest.raises(ValueError, match=f"invalid LocalSearch state: {message}"):
                restore(kind, bytes(forged))


class TestProgress:
    def test_called_at_most_once_per_interval_and_once_at_the_end(self):
        p = small_tour(80)
        s = build("simulated_annealing", p, True, Termination.max_iterations(200000))
        calls = []
        s.set_progress(lambda *row: calls.append(row), 3600.0)
        log = s.run()
        assert len(calls) == 1  # only the end: the interval is an hour
        elapsed, best, current, iteration = calls[0]
        assert (best, current, iteration) == log[-1][1:]
        assert isinstance(elapsed, int) and isinstance(iteration, int)
        calls.clear()
        s.set_progress(None)
        s.run()
        assert calls == []

    def test_frequent_reports_carry_rows_in_order(self):
        s = build("tabu_search", small_tour(120), True, Termination.max_iterations(3000))
        calls = []
        s.set_progress(lambda *row: calls.append(row), 0.0)
        s.run()
        assert len(calls) >= 2
        assert [c[0] for c in calls] == sorted(c[0] for c in calls)
        assert [c[3] for c in calls] == sorted(c[3] for c in calls)


class TestBinding:
    @pytest.mark.parametrize(
        ("call", "error", "message"),
        [
            (lambda s: s.set_log(), TypeError, "LocalSearch.set_log() missing 1 required positional argument: 'mode'"),
            (lambda s: s.set_log(1), TypeError, "argument 'mode': 'int' object cannot be converted to 'PyString'"),
            (lambda s: s.set_log("All"), ValueError, "log mode must be 'all', 'improvements' or 'final', not 'All'"),
            (lambda s: s.set_progress(), TypeError, "LocalSearch.set_progress() missing 1 required positional argument: 'callback'"),
            (lambda s: s.set_progress(5), TypeError, "argument 'callback': 'int' object cannot be converted to 'Callable'"),
            (lambda s: s.set_progress(print, "1"), TypeError, "argument 'every_seconds': must be real number, not str"),
            (lambda s: s.set_progress(print, -1.0), ValueError, "every_seconds must be a finite number of seconds >= 0, not -1.0"),
            (lambda s: s.set_progress(None, float("nan")), ValueError, "every_seconds must be a finite number of seconds >= 0, not nan"),
            (lambda s: s.set_progress(print, 1, 2), TypeError, "LocalSearch.set_progress() takes from 1 to 2 positional arguments but 3 were given"),
        ],
        ids=["log-missing", "log-int", "log-unknown", "progress-missing", "progress-int", "every-str", "every-negative", "every-nan", "progress-extra"],
    )
    def test_argument_errors(self, call, error, message):
        s = build("steepest_descent", small_tour(), True, Termination.max_iterations(1))
        with pytest.raises(error) as info:
            call(s)
        assert str(info.value) == message
        assert len(s.run()) >= 1  # still usable

    def test_text_signatures(self):
        assert LocalSearch.set_log.__text_signature__ == "($self, mode)"
        assert LocalSearch.set_progress.__text_signature__ == "($self, callback, every_seconds=None)"
        assert LocalSearch.set_log.__doc__ is None


class TestTools:
    def test_grid_on_threads_gives_benchmarks_logs_in_each_searchs_mode(self):
        from kestrum_tools import grid

        ps = [small_tour(30, seed) for seed in (1, 2)]
        algs = [build(kind, ps[0], True, Termination.max_iterations(60)) for kind in KINDS[:3]]
        algs[1].set_log("improvements")
        algs[2].set_log("final")
        got = grid(algs, ps, [1, 2, 2], executor="threads", progress=False)
        expected = kestrum.benchmark(algs, ps, seeds=[1, 2, 2])
        assert [[[without_time(log) for log in per_p] for per_p in per_a] for per_a in got] == [
            [[without_time(log) for log in per_p] for per_p in per_a] for per_a in expected
        ]
        assert all(len(log) == 1 for per_p in got[2] for log in per_p)

    def test_grid_refuses_other_executor_names(self):
        from kestrum_tools import grid

        with pytest.raises(ValueError, match="executor must be an Executor, a Dask client, 'threads' or None, not 'thread'"):
            grid([], [], [1], executor="thread")

    def test_run_with_a_bar_is_the_plain_run(self, capsys):
        pytest.importorskip("tqdm")
        from kestrum_tools import run

        logs = []
        for progress in (True, False):
            p = small_tour(60)
            s = build("tabu_search", p, True, Termination.max_iterations(300))
            logs.append(without_time(run(s, progress=progress, every_seconds=0.0)))
        assert logs[0] == logs[1]
        err = capsys.readouterr().err
        assert f"best={logs[0][-1][0]:.6g}" in err and "300" in err

    @pytest.mark.parametrize(
        "criterion, shown",
        [
            (Termination.multi_crit_and([Termination.max_iterations(300), Termination.time_limit(60)]), "/300 "),
            (Termination.multi_crit_or([Termination.time_limit(0.2), Termination.max_sec(0)]), "/0.2 s"),
        ],
        ids=["iterations", "seconds"],
    )
    def test_bar_has_a_total_when_the_criterion_gives_one(self, capsys, criterion, shown):
        pytest.importorskip("tqdm")
        from kestrum_tools import run

        s = build("tabu_search", small_tour(60), True, criterion)
        assert s.budget in ((300, 60.0), (None, 0.2))
        run(s, every_seconds=0.0)
        err = capsys.readouterr().err
        assert shown in err and "100%" in err
