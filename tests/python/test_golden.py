"""Recorded outcomes of a fixed set of seeded runs: refactoring the core must not change a bit.

Every search x every evaluation kind x every move type, both directions, runs from list and
from numpy input; logs (all but elapsed_ns), solutions and saved states are compared with
golden.json, recorded once from an earlier build. A few saved states are kept whole, so bytes
written by that build must still load and save back unchanged.

Recording (only when the outcomes are meant to change): python tests/python/test_golden.py --record
"""

import hashlib
import json
import pathlib
import sys

import pytest

import kestrum
import kinds

np = pytest.importorskip("numpy") if __name__ != "__main__" else __import__("numpy")

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
FIXTURE = pathlib.Path(__file__).with_name("golden.json")
# Kinds added after golden.json was recorded: tours over points, tabu lists of tours, annealing,
# and every search, evaluation and move type of the kinds table on what golden.json lacks.
LATER = pathlib.Path(__file__).with_name("golden_later.json")
N = 8


class Lcg:
    """A generator of our own, so the instances never drift with a library's."""

    def __init__(self, seed):
        self.x = seed * 2654435761 % 2**64 or 1

    def next(self, k):
        self.x = (self.x * 6364136223846793005 + 1442695040888963407) % 2**64
        return (self.x >> 33) % k


def data_of(kind, seed):
    """Plain lists of the evaluation's data; `kind` names the constructor and the values."""
    g = Lcg(seed)
    if kind.startswith("bins"):
        whole = kind.endswith("whole")
        weights = [float(1 + g.next(9)) if whole else (1 + g.next(40)) / 7 for _ in range(N)]
        return [weights, 12.0 if whole else 2.5]
    if kind == "tsp-sym":
        d = [[0.0] * N for _ in range(N)]
        for a in range(N):
            for b in range(a + 1, N):
                d[a][b] = d[b][a] = float(1 + g.next(20))
        return [d]
    if kind == "tsp-asym":
        return [[[0.0 if a == b else (1 + g.next(50)) / 3 for b in range(N)] for a in range(N)]]
    if kind == "qap-sym":
        d = [[0.0] * N for _ in range(N)]
        f = [[0.0] * N for _ in range(N)]
        for a in range(N):
            for b in range(a + 1, N):
                d[a][b] = d[b][a] = float(g.next(6))
                f[a][b] = f[b][a] = g.next(9) / 4
        return [d, f]
    if kind == "qap-asym":
        return [[[g.next(7) / 3 for _ in range(N)] for _ in range(N)] for _ in range(2)]
    if kind == "points":
        return [[[float(g.next(30)), float(g.next(30)) / 2] for _ in range(N)]]
    raise ValueError(kind)


BINS = {"empty_bins": E.empty_bins, "empty_space": E.empty_space, "empty_space_exp": E.empty_space_exp}
EVALUATIONS = [f"{b}/{v}" for b in BINS for v in ("bins-whole", "bins-float")] + [
    "tsp/tsp-sym", "tsp/tsp-asym", "qap/qap-sym", "qap/qap-asym"]
MOVES = ["reverse", "swap", "swap_tsp"]
SEARCHES = ["steepest_descent", "simulated_annealing", "tabu_search", "vns"]


def evaluation(name, seed, numpy):
    ctor, kind = name.split("/")
    args = data_of(kind, seed)
    if numpy:
        args = [np.array(a, dtype=np.float64) if isinstance(a, list) else a for a in args]
    return BINS[ctor](*args) if ctor in BINS else getattr(E, ctor)(*args)


def move_type(name, seed):
    if name == "multi":
        return M.multi_neighbor([M.swap(seed), M.reverse(seed + 1), M.swap_tsp(seed + 2)])
    return getattr(M, name)(seed)


def annealing_sa(minimize, problem):
    s = LS.simulated_annealing(40, minimize, problem, T.multi_crit_and([T.max_iterations(120), T.min_temp(1)]),
                               kestrum.Cooling.geometric_cooling(0.8), kestrum.IterationsPerTemp.cnst_iter_temp(10))
    s.set_acceptance_seed(7)
    return s


# Each search's settings. The searches of SEARCHES are recorded in golden.json; every search
# of the kinds table is recorded in golden_later.json on what golden.json lacks, and a search
# without its line here fails those cases.
SETTINGS = {
    "steepest_descent": lambda minimize, problem: LS.steepest_descent(
        minimize, problem, T.multi_crit_and([T.max_iterations(25), T.must_improve()])),
    "tabu_search": lambda minimize, problem: LS.tabu_search(
        minimize, problem, T.multi_crit_and([T.max_iterations(25), T.no_improve(6)]), 5),
    "vns": lambda minimize, problem: LS.vns(minimize, problem, T.max_iterations(25)),
    "simulated_annealing": annealing_sa,
    "iterated_local_search": lambda minimize, problem: LS.iterated_local_search(
        minimize, problem, T.max_iterations(4), 3, seed=5),
    "robust_tabu_search": lambda minimize, problem: LS.robust_tabu_search(
        minimize, problem, T.multi_crit_and([T.max_iterations(30), T.no_improve(8)]), tenure=(2, 4), seed=3),
    "annealing": lambda minimize, problem: LS.annealing(minimize, problem, T.max_iterations(150), seed=6),
}


def search(name, minimize, problem):
    return SETTINGS[name](minimize, problem)


def state(obj):
    return obj.__reduce__()[1][1]


def digest(b):
    return hashlib.sha256(b).hexdigest()[:24]


def rows(log):
    return [[r[1], r[2], r[3]] for r in log]


def cases():
    k = 0
    for ev in EVALUATIONS:
        for s in SEARCHES:
            for mv in MOVES + (["multi"] if s == "vns" else []):
                for minimize in (True, False):
                    k += 1
                    yield f"{s}|{ev}|{mv}|{'min' if minimize else 'max'}", (ev, s, mv, minimize, k)


def outcome(ev, s, mv, minimize, seed, numpy):
    problem = P.array_problem(move_type(mv, seed), evaluation(ev, seed, numpy))
    ls = search(s, minimize, problem)
    first = rows(ls.run())
    saved = state(ls)
    # The restored copy goes on from the saved state: a second run of each must agree.
    copy = LS._from_state(saved)
    again, again_copy = rows(ls.run()), rows(copy.run())
    assert again == again_copy
    return {
        "log": first,
        "current": problem.solution(),
        "best": problem.best_solution(),
        "state": digest(saved),
        "again": digest(json.dumps(again).encode()),
        "final_state": digest(state(ls)),
    }


def benchmark_outcomes():
    out = []
    for k, (ev, mv) in enumerate([("tsp/tsp-sym", "swap"), ("qap/qap-asym", "reverse"), ("empty_space/bins-float", "swap_tsp")]):
        problems = [P.array_problem(move_type(mv, 3 + k), evaluation(ev, 3 + k, False)),
                    P.array_problem(move_type(mv, 9 + k), evaluation(ev, 9 + k, True))]
        searches = [search(s, m, problems[0]) for s, m in (("steepest_descent", True), ("tabu_search", False),
                                                         ("vns", True), ("simulated_annealing", True))]
        result = kestrum.benchmark(searches, problems, T.max_iterations(12), seeds=[1, 5])
        out.append({"logs": [[[rows(log) for log in per_p] for per_p in per_s] for per_s in result],
                    "states": [digest(state(p)) for p in problems]})
    return out


def kept_states():
    """Whole saved states of every class and kind, written by the recording build."""
    kept = {}
    for ev in EVALUATIONS:
        kept[f"Evaluation|{ev}"] = state(evaluation(ev, 2, False))
    for mv in MOVES + ["multi"]:
        kept[f"MoveType|{mv}"] = state(move_type(mv, 2))
    crits = {"always_true": T.always_true(), "max_iterations": T.max_iterations(4), "min_temp": T.min_temp(-3),
             "must_improve": T.must_improve(), "no_improve": T.no_improve(2),
             "nested": T.multi_crit_or([T.multi_crit_and([T.max_iterations(1), T.no_improve(0)]), T.always_true()])}
    for name, c in crits.items():
        kept[f"Termination|{name}"] = state(c)
    kept["Cooling|0.75"] = state(kestrum.Cooling.geometric_cooling(0.75))
    kept["IterationsPerTemp|13"] = state(kestrum.IterationsPerTemp.cnst_iter_temp(13))
    for s in SEARCHES:
        mv = "multi" if s == "vns" else "swap"
        problem = P.array_problem(move_type(mv, 4), evaluation("tsp/tsp-asym", 4, False))
        ls = search(s, False, problem)
        ls.run()
        kept[f"Problem|{s}"] = state(problem)
        kept[f"LocalSearch|{s}"] = state(ls)
    return {k: v.hex() for k, v in kept.items()}


def later_states():
    """Saved states of tours over points (every metric), of tabu searches with canonical
    tours, of annealing, robust tabu search and first-fit packing, and what a copy restored
    from each such search does next."""
    xy = [[(7 * k) % 11 + 0.25 * k, (5 * k * k) % 13 - 0.5] for k in range(9)]
    geo = [[10.0 + k, 20.5 - 2 * k] for k in range(9)]
    kept, runs = {}, {}
    for metric in ("euclidean", "euc_2d", "ceil_2d", "att", "geo"):
        kept[f"Evaluation|points-{metric}"] = state(E.tsp_from_points(geo if metric == "geo" else xy, metric))
    matrix = E.tsp([[abs(a - b) + (a * b) % 5 for b in range(9)] for a in range(9)])
    for name, ev in (("points", E.tsp_from_points(xy, "euc_2d")), ("matrix", matrix)):
        for mv in ("reverse", "swap"):
            problem = P.array_problem(getattr(M, mv)(3), ev)
            ls = LS.tabu_search(True, problem, T.multi_crit_and([T.max_iterations(30), T.no_improve(8)]), 4,
                                canonical_tours=True)
            ls.run()
            kept[f"Problem|{name}-{mv}"] = state(problem)
            kept[f"LocalSearch|tabu-canonical-{name}-{mv}"] = state(ls)
            runs[f"{name}-{mv}"] = rows(LS._from_state(state(ls)).run())
        problem = P.array_problem(M.swap(5), ev)
        for s, ls in (("steepest_descent", LS.steepest_descent(False, problem, T.max_iterations(6))),
                      ("vns", LS.vns(True, problem, T.max_iterations(6)))):
            ls.run()
            kept[f"LocalSearch|{s}-{name}"] = state(ls)
        # Annealing: a calibrated start and a cooling spread over the iterations, seeded.
        for minimize in (True, False):
            direction = "min" if minimize else "max"
            ls = LS.annealing(minimize, P.array_problem(M.reverse(4), ev), T.max_iterations(300), seed=6)
            ls.run()
            kept[f"LocalSearch|annealing-{name}-{direction}"] = state(ls)
            runs[f"annealing-{name}-{direction}"] = rows(LS._from_state(state(ls)).run())
    # Robust tabu search on an integer assignment (the exchange table's route) and on a tour.
    flows = [[(3 * a + 5 * b) % 7 if a != b else 0 for b in range(9)] for a in range(9)]
    distances = [[abs(a - b) for b in range(9)] for a in range(9)]
    for name, ev in (("qap", E.qap(distances, flows)), ("matrix", matrix)):
        ls = LS.robust_tabu_search(True, P.array_problem(M.swap(2), ev), T.max_iterations(40), tenure=(2, 4), seed=3)
        ls.run()
        kept[f"LocalSearch|robust-{name}"] = state(ls)
        runs[f"robust-{name}"] = rows(LS._from_state(state(ls)).run())
    # First-fit packing, and iterated local search on its bins.
    packing = E.bin_packing([(7 * k) % 10 + 1.5 for k in range(12)], 12.0)
    kept["Evaluation|bin_packing"] = state(packing)
    ls = LS.iterated_local_search(True, P.array_problem(M.swap(4), packing), T.max_iterations(5), seed=2)
    ls.run()
    kept["LocalSearch|ils-bin_packing"] = state(ls)
    runs["ils-bin_packing"] = rows(LS._from_state(state(ls)).run())
    return {"kept": {k: v.hex() for k, v in kept.items()}, "runs_after_load": runs}


# The data of each evaluation factory of the kinds table in the later cases; a factory without
# its line fails them. A caller's objective has none: its scores are the caller's own.
VARIANTS = {
    "empty_bins": ["bins-whole", "bins-float"],
    "empty_space": ["bins-whole", "bins-float"],
    "empty_space_exp": ["bins-whole", "bins-float"],
    "tsp": ["tsp-sym", "tsp-asym"],
    "qap": ["qap-sym", "qap-asym"],
    "tsp_from_points": ["points"],
    "bin_packing": ["bins-whole"],  # first fit takes no weight above the capacity
    "custom": [],
}


def later_cases():
    """Every search x evaluation x move type of the kinds table that golden.json lacks. Each
    case's seed comes from its name, so cases added later leave the recorded ones alone."""
    recorded = {name for name, _ in cases()}
    for factory in kinds.BUILT_EVALUATIONS:
        for variant in VARIANTS[factory]:
            ev = f"{factory}/{variant}"
            for s in kinds.SEARCHES:
                kind = kinds.SEARCH_KINDS[s]
                for mv in list(kind.moves) + (["multi"] if kind.multi else []):
                    for minimize in (True, False):
                        name = f"{s}|{ev}|{mv}|{'min' if minimize else 'max'}"
                        if name not in recorded:
                            seed = int(hashlib.sha256(name.encode()).hexdigest()[:8], 16) % 997 + 1
                            yield name, (ev, s, mv, minimize, seed)


def later_outcome(*args):
    out = outcome(*args, numpy=False)
    return dict(out, log=digest(json.dumps(out["log"]).encode()))


def record():
    golden = {
        "cases": {name: outcome(*args, numpy=False) for name, args in cases()},
        "benchmark": benchmark_outcomes(),
        "kept": kept_states(),
    }
    FIXTURE.write_text(json.dumps(golden, separators=(",", ":"), sort_keys=True) + "\n")
    later = later_states() | {"cases": {name: later_outcome(*args) for name, args in later_cases()}}
    LATER.write_text(json.dumps(later, separators=(",", ":"), sort_keys=True) + "\n")


@pytest.fixture(scope="module")
def golden():
    return json.loads(FIXTURE.read_text())


CASES = list(cases())


class TestGoldenRuns:
    @pytest.mark.parametrize("numpy", [False, True], ids=["lists", "numpy"])
    @pytest.mark.parametrize("name, args", CASES, ids=[c[0] for c in CASES])
    def test_run(self, golden, name, args, numpy):
        assert outcome(*args, numpy=numpy) == golden["cases"][name]

    def test_benchmark(self, golden, capfd):
        assert benchmark_outcomes() == golden["benchmark"]
        capfd.readouterr()


class TestKeptStates:
    def test_every_kind_kept(self, golden):
        kinds = {k.split("|")[0] for k in golden["kept"]}
        assert kinds == {"Evaluation", "MoveType", "Termination", "Cooling", "IterationsPerTemp", "Problem", "LocalSearch"}

    def test_load_and_save_back(self, golden):
        for key, hexed in golden["kept"].items():
            cls = getattr(kestrum, key.split("|")[0])
            b = bytes.fromhex(hexed)
            assert state(cls._from_state(b)) == b, key

    def test_saved_searches_run_alike(self, golden):
        # A search restored from old bytes runs exactly as one built today and saved now.
        for s in SEARCHES:
            old = LS._from_state(bytes.fromhex(golden["kept"][f"LocalSearch|{s}"]))
            mv = "multi" if s == "vns" else "swap"
            problem = P.array_problem(move_type(mv, 4), evaluation("tsp/tsp-asym", 4, False))
            new = search(s, False, problem)
            new.run()
            assert rows(old.run()) == rows(new.run()), s


LATER_CASES = list(later_cases())


@pytest.fixture(scope="module")
def later():
    return json.loads(LATER.read_text())


class TestLaterKinds:
    @pytest.mark.parametrize("name, args", LATER_CASES, ids=[c[0] for c in LATER_CASES])
    def test_run(self, later, name, args):
        assert later_outcome(*args) == later["cases"][name]

    def test_written_alike_today(self, later):
        assert later_states() == {k: v for k, v in later.items() if k != "cases"}

    def test_load_save_back_and_run(self, later):
        for key, hexed in later["kept"].items():
            cls = getattr(kestrum, key.split("|")[0])
            b = bytes.fromhex(hexed)
            obj = cls._from_state(b)
            assert state(obj) == b, key
            if key.startswith("LocalSearch|tabu-canonical-"):
                assert rows(obj.run()) == later["runs_after_load"][key.split("canonical-")[1]], key
            if key.startswith("LocalSearch|annealing-"):
                assert rows(obj.run()) == later["runs_after_load"][key.split("|")[1]], key


if __name__ == "__main__":
    if sys.argv[1:] != ["--record"]:
        sys.exit(__doc__)
    record()
