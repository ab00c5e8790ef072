"""Faults found with hostile input and first use of the binding: each case failed once."""

import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import kestrum
import kinds
from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination

ROOT = Path(__file__).resolve().parents[2]
DATA = Path(os.environ.get("KESTRUM_DATA") or ROOT.parent / "shared" / "data")


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

    def test_a_search_from_the_optimum_keeps_it(self, search_kind):
        p = self.ring_problem()
        p.set_move_type(search_kind.move_type("reverse", 3))
        p.set_solution(self.RING)
        log = search_kind(True, p, Termination.max_iterations(30)).run()
        assert log[-1][1] == 8.0
        p.set_solution(p.best_solution())
        assert p.eval() == 8.0

    @pytest.mark.skipif(not (DATA / "tsplib" / "kroA100.opt.tour").is_file(), reason="kroA100 not present")
    def test_kroA100_from_its_optimal_tour(self, search_kind):
        from kestrum_tools import read_tour

        p = search_kind.problem(Evaluation.tsp_from_tsplib(str(DATA / "tsplib" / "kroA100.tsp")), "swap", 1)
        tour = read_tour(DATA / "tsplib" / "kroA100.opt.tour")
        p.set_solution(tour)
        log = search_kind(True, p, Termination.max_iterations(5)).run()
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


def run_child(code, timeout=120, **kw):
    """Runs `code` in a fresh interpreter; returns the completed process."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=timeout, **kw)


class TestInstancesWithoutValue:
    """With __new__ replaced by one calling object.__new__, a class makes instances whose value was never
    built: every method and every argument slot must refuse them, and dropping them is safe."""

    def test_every_method_and_argument_refuses_them(self):
        child = run_child(
            f"""
            import pickle, sys
            sys.path.insert(0, {str(Path(__file__).parent)!r})
            import kestrum, kinds
            from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination

            ev, mt, t = Evaluation.tsp([[0, 1], [1, 0]]), MoveType.swap(seed=1), Termination.always_true()
            p = Problem.array_problem(mt, ev)
            s = LocalSearch.vns(True, p, t)
            cool, it = Cooling.geometric_cooling(0.5), IterationsPerTemp.cnst_iter_temp(2)
            classes = [LocalSearch, Problem, Termination, IterationsPerTemp, Cooling, Evaluation, MoveType]
            for cls in classes:
                cls.__new__ = lambda c: object.__new__(c)
            bare = {{cls.__name__: cls() for cls in classes}}
            B = bare.__getitem__
            cases = {{
                "Problem.eval": lambda: B("Problem").eval(),
                "Problem.reset": lambda: B("Problem").reset(),
                "Problem.solution": lambda: B("Problem").solution(),
                "Problem.best_solution": lambda: B("Problem").best_solution(),
                "Problem.set_solution": lambda: B("Problem").set_solution([1, 0]),
                "Problem.set_seed": lambda: B("Problem").set_seed(1),
                "Problem.set_eval_type": lambda: B("Problem").set_eval_type(ev),
                "Problem.set_move_type": lambda: B("Problem").set_move_type(mt),
                "LocalSearch.run": lambda: B("LocalSearch").run(),
                "LocalSearch.reset": lambda: B("LocalSearch").reset(),
                "LocalSearch.set_problem": lambda: B("LocalSearch").set_problem(p),
                "LocalSearch.set_termination": lambda: B("LocalSearch").set_termination(t),
                "LocalSearch.set_acceptance_seed": lambda: B("LocalSearch").set_acceptance_seed(1),
                "arg array_problem move_type": lambda: Problem.array_problem(B("MoveType"), ev),
                "arg array_problem evaluation": lambda: Problem.array_problem(mt, B("Evaluation")),
                "arg set_eval_type": lambda: p.set_eval_type(B("Evaluation")),
                "arg set_move_type": lambda: p.set_move_type(B("MoveType")),
                "arg multi_neighbor": lambda: MoveType.multi_neighbor([mt, B("MoveType")]),
                "arg multi_crit_and": lambda: Termination.multi_crit_and([t, B("Termination")]),
                "arg multi_crit_or": lambda: Termination.multi_crit_or([B("Termination")]),
                "arg annealing cooling": lambda: LocalSearch.simulated_annealing(1, True, p, t, B("Cooling"), it),
                "arg annealing iterations": lambda: LocalSearch.simulated_annealing(1, True, p, t, cool, B("IterationsPerTemp")),
                "arg set_problem": lambda: s.set_problem(B("Problem")),
                "arg set_termination": lambda: s.set_termination(B("Termination")),
                "arg benchmark search": lambda: kestrum.benchmark([B("LocalSearch")], [p], seeds=[1]),
                "arg benchmark problem": lambda: kestrum.benchmark([s], [B("Problem")], seeds=[1]),
                "arg benchmark termination": lambda: kestrum.benchmark([s], [p], B("Termination"), seeds=[1]),
            }}
            for name in kinds.SEARCHES:
                cases[f"arg {{name}} problem"] = lambda name=name: kinds.search(name, True, B("Problem"), t)
                cases[f"arg {{name}} termination"] = lambda name=name: kinds.search(name, True, p, B("Termination"))
            for name in bare:
                cases["pickle " + name] = lambda name=name: pickle.dumps(B(name))
            for name, call in cases.items():
                print(name, flush=True)
                try:
                    call()
                except TypeError as e:
                    print("TypeError:", e, flush=True)
                else:
                    print("accepted", flush=True)
            # Everything built before still works, and the bare instances can be dropped.
            assert s.run()[-1][1] == 2.0 and p.best_solution() == [0, 1]
            bare.clear()
            print("done", flush=True)
            """
        )
        assert child.returncode == 0, child.stdout[-2000:] + child.stderr[-2000:]
        lines = child.stdout.splitlines()
        assert lines[-1] == "done"
        results = dict(zip(lines[0:-1:2], lines[1:-1:2]))
        assert len(results) == 34 + 2 * len(kinds.SEARCHES)
        for name, outcome in results.items():
            cls = name.split(".")[0] if "." in name else None
            if cls is None:
                assert outcome.startswith("TypeError: ") and "uninitialized '" in outcome, (name, outcome)
            else:
                assert outcome == f"TypeError: uninitialized '{cls}' object: instances come from the class's static constructors", name
        for name in kinds.SEARCHES:
            for arg, cls in (("problem", "Problem"), ("termination_function", "Termination")):
                assert results[f"arg {name} {arg.split('_')[0]}"] == (
                    f"TypeError: argument '{arg}': uninitialized '{cls}' object: instances come from the class's"
                    " static constructors"), name


class TestSubInterpreters:
    """A sub-interpreter's refused import must not claim the module for the process."""

    PRELUDE = """
        import sys
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters

        def import_in_sub_interpreter(legacy=False):
            # A legacy sub-interpreter shares the main one's allocator and admits any module.
            if not legacy:
                sub = interpreters.create()
            elif sys.version_info >= (3, 13):
                sub = interpreters.create("legacy")
            else:
                sub = interpreters.create(isolated=False)
            try:
                failure = interpreters.run_string(sub, "import kestrum")
            except Exception as e:
                failure = e
            interpreters.destroy(sub)
            return failure
        """

    def run_with_prelude(self, code):
        return run_child(textwrap.dedent(self.PRELUDE) + textwrap.dedent(code))

    def test_refused_sub_interpreter_import_leaves_the_main_one_free(self):
        child = self.run_with_prelude(
            """
            assert "ImportError" in repr(import_in_sub_interpreter())
            assert "ImportError" in repr(import_in_sub_interpreter())
            import kestrum
            p = kestrum.Problem.array_problem(kestrum.MoveType.swap(seed=1), kestrum.Evaluation.tsp([[0, 1], [1, 0]]))
            print(p.eval())
            """
        )
        assert child.returncode == 0, child.stderr[-2000:]
        assert child.stdout == "2.0\n"

    def test_after_the_main_import_sub_interpreters_are_still_refused(self):
        child = self.run_with_prelude(
            """
            import kestrum
            assert "ImportError" in repr(import_in_sub_interpreter())
            print(kestrum.Evaluation.tsp([[0]]) is not None)
            """
        )
        assert child.returncode == 0, child.stderr[-2000:]
        assert child.stdout == "True\n"


    def test_a_legacy_sub_interpreter_never_claims_the_module(self):
        child = self.run_with_prelude(
            """
            first = import_in_sub_interpreter(legacy=True)
            assert "ImportError" in repr(first) and "sub-interpreters" in repr(first), repr(first)
            import kestrum
            assert "ImportError" in repr(import_in_sub_interpreter(legacy=True))
            p = kestrum.Problem.array_problem(kestrum.MoveType.swap(seed=1), kestrum.Evaluation.tsp([[0, 1], [1, 0]]))
            print(p.eval())
            """
        )
        assert child.returncode == 0, child.stderr[-2000:]
        assert child.stdout == "2.0\n"


class TestForgedShapes:
    """A matrix from a buffer costs its entries, whatever its shape claims."""

    def test_rows_without_columns_cost_no_memory(self, tmp_path):
        pytest.importorskip("numpy")
        import numpy as np

        np.save(tmp_path / "forged.npy", np.zeros((2**24, 0)))
        assert (tmp_path / "forged.npy").stat().st_size <= 256
        child = run_child(
            f"""
            import resource
            import numpy as np
            import kestrum
            from kestrum import Evaluation, MoveType, Problem

            forged = np.load({str(tmp_path / "forged.npy")!r})
            def limit(extra_mb):
                data_kb = int(open("/proc/self/status").read().split("VmData:")[1].split()[0])
                resource.setrlimit(resource.RLIMIT_DATA, (data_kb * 1024 + extra_mb * 2**20, resource.RLIM_INFINITY))

            limit(48)
            qap = Evaluation.qap(forged, forged)
            try:
                Evaluation.tsp(forged)
            except MemoryError:
                raise
            except BaseException as e:
                print(type(e).__name__, e)
            # n = 2**24 positions: the current and the best permutation, 64 MiB each.
            resource.setrlimit(resource.RLIMIT_DATA, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
            limit(160)
            Problem.array_problem(MoveType.swap(seed=1), qap)
            print("built")
            """,
            timeout=300,
        )
        assert child.returncode == 0, child.stdout[-2000:] + child.stderr[-2000:]
        assert child.stdout.splitlines() == [
            "PanicException index out of bounds: the len is 0 but the index is 0",
            "built",
        ]
