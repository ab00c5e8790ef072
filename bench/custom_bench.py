"""Custom evaluations: what calling back costs, as ratios measured side by side in one run.

1. A Python `evaluate`: time per call inside a scan, minus the callable's own time per call
   (the same function called on a memoryview in a Python loop); and a Python `delta` that
   does nothing, per annealing proposal, at sizes up to a million positions (each call gets
   its own copy of the solution). `--python-only` measures these alone.
2. A numba cfunc `delta` with the tour formula against the built-in tour kernel: time per
   move of the same steepest-descent scans and of the same annealing proposals (the logs
   are identical, so both do exactly the same work); and the same scans with a cfunc
   `delta_row`, which scores a whole row of moves per call.
3. A numba cfunc `evaluate` without a delta (apply, evaluate, undo on a copy) against a
   hand-written C++ loop doing the same scans on a flow shop; the same C++ evaluate passed to
   kestrum as a ctypes pointer separates the engine's share from numba's code.
4. kestrum against simanneal (pure Python) on the same flow-shop instance and the same number
   of annealing proposals: proposals per second.

Each figure is the best of --rounds alternating rounds; the tour scans report medians over
the rounds, and each ratio is the median of the per-round ratios. Usage:
    python bench/custom_bench.py [--rounds 3] [--quick] [--python-only]
"""

import argparse
import ctypes
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import kestrum

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
from flow_shop import numba_makespan, python_makespan, taillard_times  # noqa: E402

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
GOALS = {"python": "at most 1.5 us", "delta": "at most 3x", "evaluate": "at most 2x"}


def best_of(rounds, *jobs):
    """Runs each job once per round, alternating; the best time of each."""
    best = [float("inf")] * len(jobs)
    for _ in range(rounds):
        for k, job in enumerate(jobs):
            t0 = time.perf_counter()
            job()
            best[k] = min(best[k], time.perf_counter() - t0)
    return best


def median_ratios(rounds, reference, *jobs):
    """Runs the reference and each job once per round, alternating. Returns the median time
    of the reference, and for each job its median time and the median over the rounds of its
    time over the reference's in the same round (so a slow moment of a shared machine counts
    against both sides of a ratio)."""
    times = [[] for _ in range(len(jobs) + 1)]
    for _ in range(rounds):
        for k, job in enumerate((reference, *jobs)):
            t0 = time.perf_counter()
            job()
            times[k].append(time.perf_counter() - t0)
    ratios = [statistics.median(t / r for t, r in zip(own, times[0])) for own in times[1:]]
    return statistics.median(times[0]), [(statistics.median(own), ratio) for own, ratio in zip(times[1:], ratios)]


# ---- 1. Python callables


def python_overhead(rounds, n):
    def evaluate(s):
        return float(s[0])

    view = memoryview(np.arange(n, dtype=np.uint32))
    calls = 1 + 1 + n * (n - 1) // 2  # run's eval, the scan's start, every swap

    def direct():
        for _ in range(calls):
            evaluate(view)

    def scan():
        p = P.array_problem(M.swap(1), E.custom(n, evaluate))
        LS.steepest_descent(True, p, T.max_iterations(1)).run()

    t_direct, t_scan = best_of(rounds, direct, scan)
    own, inside = t_direct / calls * 1e6, t_scan / calls * 1e6
    return [("python evaluate, per call", f"{inside:.2f} us", f"{own:.2f} us (own)", f"+{inside - own:.2f} us", GOALS["python"])]


def python_delta_overhead(rounds, sizes):
    """A Python `delta` that does nothing, called by annealing proposals: time per call at
    each size (the solution the callable is given is copied for the call)."""

    def delta(s, kind, i, j):
        return 0.0

    rows = []
    for n, proposals in sizes:
        def run():
            p = P.array_problem(M.swap(1), E.custom(n, lambda s: 0.0, delta))
            LS.simulated_annealing(1, True, p, T.max_iterations(proposals), kestrum.Cooling.geometric_cooling(0.9),
                                   kestrum.IterationsPerTemp.cnst_iter_temp(proposals)).run()

        def build():
            P.array_problem(M.swap(1), E.custom(n, lambda s: 0.0, delta))

        t_run, t_build = best_of(rounds, run, build)
        per_call = (t_run - t_build) / proposals * 1e6
        rows.append((f"python delta, n={n:,}, per call", f"{per_call:.2f} us", "-", "-", ""))
    return rows


# ---- 2. the tour delta


def tour_cfuncs(d):
    from numba import carray, cfunc, types

    n = d.shape[0]

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.voidptr))
    def evaluate(solution, size, user_data):
        s = carray(solution, (size,))
        total = 0.0
        for k in range(size - 1):
            total = total + d[s[k], s[k + 1]]
        return total + d[s[size - 1], s[0]]

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.intc, types.intp, types.intp, types.voidptr))
    def delta(solution, size, kind, i, j, user_data):
        # The symmetric tour formulas, same sums in the same order as the built-in kernel.
        s = carray(solution, (size,))
        pred = s[i - 1] if i > 0 else s[size - 1]
        nxt = s[(j + 1) % size]
        si, sj = s[i], s[j]
        if kind == 1:  # exchange
            if j == i + 1:
                before = ((d[pred, si] + 0.0) + d[si, sj]) + d[sj, nxt]
                after = ((d[pred, sj] + 0.0) + d[sj, si]) + d[si, nxt]
            else:
                si1, sj1 = s[i + 1], s[j - 1]
                if i == 0 and j == size - 1:
                    pred, nxt = sj, si
                    after_pred, after_next = si, sj
                else:
                    after_pred, after_next = pred, nxt
                before = (((d[pred, si] + 0.0) + d[si, si1]) + d[sj1, sj]) + d[sj, nxt]
                after = (((d[after_pred, sj] + 0.0) + d[sj, si1]) + d[sj1, si]) + d[si, after_next]
            return after - before
        before = (d[pred, si] + 0.0) + d[sj, nxt]
        if i == 0 and j == size - 1:
            return ((d[si, sj] + 0.0) + d[si, sj]) - before
        return ((d[pred, sj] + 0.0) + d[si, nxt]) - before

    @cfunc(types.void(types.CPointer(types.uint32), types.intp, types.intc, types.intp, types.intp, types.intp, types.CPointer(types.float64), types.voidptr))
    def delta_row(solution, size, kind, i, j_begin, j_end, out, user_data):
        # The same formulas for the moves (i, j), j in [j_begin, j_end): one call per row of
        # a scan, with what depends on i alone read once.
        s = carray(solution, (size,))
        o = carray(out, (j_end - j_begin,))
        pred = s[i - 1] if i > 0 else s[size - 1]
        si = s[i]
        if kind == 1:  # exchange
            si1 = s[i + 1]
            head = (d[pred, si] + 0.0) + d[si, si1]
            # Rows of the matrix, read along j; the matrix is symmetric, so D[s_j][s_i+1] and
            # D[s_j-1][s_i] are read as their mirrors along the rows of s_i+1 and s_i (equal
            # values, as the built-in symmetric scan reads them).
            from_pred, from_si, from_si1 = d[pred], d[si], d[si1]
            edge = d[s[j_begin - 1], s[j_begin]]  # (j - 1, j), carried from one j to the next
            for j in range(j_begin, j_end):
                sj = s[j]
                nxt = s[j + 1] if j + 1 < size else s[0]
                next_edge = d[sj, nxt]
                if j == i + 1:
                    before = ((from_pred[si] + 0.0) + from_si[sj]) + next_edge
                    after = ((from_pred[sj] + 0.0) + d[sj, si]) + from_si[nxt]
                elif i == 0 and j == size - 1:
                    sj1 = s[j - 1]
                    before = (((d[sj, si] + 0.0) + d[si, si1]) + edge) + d[sj, si]
                    after = (((from_si[sj] + 0.0) + d[sj, si1]) + d[sj1, si]) + from_si[sj]
                else:
                    sj1 = s[j - 1]
                    before = (head + edge) + next_edge
                    after = (((from_pred[sj] + 0.0) + from_si1[sj]) + from_si[sj1]) + from_si[nxt]
                o[j - j_begin] = after - before
                edge = next_edge
            return
        for j in range(j_begin, j_end):
            sj = s[j]
            nxt = s[j + 1] if j + 1 < size else s[0]
            before = (d[pred, si] + 0.0) + d[sj, nxt]
            if i == 0 and j == size - 1:
                o[j - j_begin] = ((d[si, sj] + 0.0) + d[si, sj]) - before
            else:
                o[j - j_begin] = ((d[pred, sj] + 0.0) + d[si, nxt]) - before

    assert n == d.shape[0]
    tour_cfuncs.delta_row = delta_row
    return evaluate, delta


def tour_delta_ratio(rounds, n, sweeps, proposals, repeats):
    rng = np.random.default_rng(3)
    pts = rng.uniform(0, 1000, size=(n, 2))
    d = np.round(np.sqrt(((pts[:, None, :] - pts[None, :, :]) ** 2).sum(-1)))
    evaluate, delta = tour_cfuncs(d)
    builtin, custom = E.tsp(d), E.custom(n, evaluate, delta)
    rows_custom = E.custom(n, evaluate, delta, delta_row=tour_cfuncs.delta_row)

    def descent(ev, move):
        # The same short descent `repeats` times from the start: one timing covers enough
        # moves for a scheduler's pause on a shared machine to be a small part of it.
        def job():
            for _ in range(repeats):
                p = P.array_problem(move(1), ev)
                log = LS.steepest_descent(True, p, T.max_iterations(sweeps)).run()
            job.rows = [r[1:] for r in log]
        return job

    def annealing(ev):
        def job():
            p = P.array_problem(M.swap(1), ev)
            search = LS.simulated_annealing(100, True, p, T.max_iterations(proposals), kestrum.Cooling.geometric_cooling(0.95), kestrum.IterationsPerTemp.cnst_iter_temp(1000))
            search.set_acceptance_seed(1)
            job.rows = [r[1:] for r in search.run()]
        return job

    rows = []
    moves = n * (n - 1) // 2
    # The built-in scan, the per-move delta and the row function run in turn in each round;
    # times and ratios are medians over the rounds.
    for label, move in (("swap scan", M.swap), ("reversal scan", M.reverse)):
        a, b, c = descent(builtin, move), descent(custom, move), descent(rows_custom, move)
        t_builtin, measured = median_ratios(rounds, a, b, c)
        per = repeats * sweeps * moves
        for name, job, (t, ratio) in (("delta", b, measured[0]), ("delta_row", c, measured[1])):
            same = "same log" if job.rows == a.rows else "LOGS DIFFER"
            rows.append((f"tour {name}, {label} ({same})", f"{t / per * 1e9:.2f} ns", f"{t_builtin / per * 1e9:.2f} ns", f"{ratio:.2f}x", GOALS["delta"]))
    a, b = annealing(builtin), annealing(custom)
    t_builtin, t_custom = best_of(rounds, a, b)
    same = "same log" if a.rows == b.rows else "LOGS DIFFER"
    rows.append((f"tour delta, annealing proposals ({same})", f"{t_custom / proposals * 1e9:.2f} ns", f"{t_builtin / proposals * 1e9:.2f} ns", f"{t_custom / t_builtin:.2f}x", GOALS["delta"]))
    return rows


# ---- 3. evaluate without a delta, against a hand-written loop

HAND_LOOP = r"""
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

extern "C" {
// The flow-shop makespan; times[job * machines + r]. user_data points at {times, machines}.
struct Shop { const double* times; std::intptr_t machines; };

double makespan(const std::uint32_t* s, std::intptr_t n, void* user_data) {
  const Shop* shop = static_cast<const Shop*>(user_data);
  double done[64] = {0.0};
  for (std::intptr_t k = 0; k < n; ++k) {
    const double* row = shop->times + static_cast<std::intptr_t>(s[k]) * shop->machines;
    double t = 0.0;
    for (std::intptr_t r = 0; r < shop->machines; ++r) {
      t = std::max(t, done[r]) + row[r];
      done[r] = t;
    }
  }
  return done[shop->machines - 1];
}

// `sweeps` steepest-descent steps over all exchanges, from the identity, each move tried by
// applying it to a copy, evaluating and undoing it. Returns the final makespan.
double descent(const Shop* shop, std::intptr_t n, int sweeps) {
  std::vector<std::uint32_t> s(n), work;
  for (std::intptr_t k = 0; k < n; ++k) s[k] = static_cast<std::uint32_t>(k);
  double score = makespan(s.data(), n, const_cast<Shop*>(shop));
  for (int it = 0; it < sweeps; ++it) {
    work = s;
    const double before = makespan(work.data(), n, const_cast<Shop*>(shop));
    double best = 1.7976931348623157e308;
    std::intptr_t bi = 0, bj = 0;
    for (std::intptr_t i = 0; i + 1 < n; ++i) {
      for (std::intptr_t j = i + 1; j < n; ++j) {
        std::swap(work[i], work[j]);
        const double delta = makespan(work.data(), n, const_cast<Shop*>(shop)) - before;
        std::swap(work[i], work[j]);
        if (!(delta > best)) { best = delta; bi = i; bj = j; }
      }
    }
    if (!(score + best < score)) break;
    std::swap(s[bi], s[bj]);
    score += best;
  }
  return score;
}
}
"""


def build_hand_loop(folder):
    compiler = shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    if compiler is None:
        return None
    src, lib = Path(folder) / "hand.cpp", Path(folder) / "hand.so"
    src.write_text(HAND_LOOP)
    subprocess.run([compiler, "-O2", "-ffp-contract=off", "-shared", "-fPIC", str(src), "-o", str(lib)], check=True)
    return ctypes.CDLL(str(lib))


def scratch_makespan(times):
    """The flow-shop makespan as a numba cfunc that allocates nothing: its per-machine
    completion times live in a scratch array passed as user_data (one run at a time)."""
    from numba import carray, cfunc, types
    from scipy import LowLevelCallable

    by_job = np.ascontiguousarray(times.T)
    machines = times.shape[0]
    scratch = np.zeros(machines)

    @cfunc(types.float64(types.CPointer(types.uint32), types.intp, types.voidptr))
    def evaluate(solution, n, user_data):
        s = carray(solution, (n,))
        done = carray(user_data, (machines,), dtype=np.float64)
        for r in range(machines):
            done[r] = 0.0
        for k in range(n):
            t = 0.0
            for r in range(machines):
                t = max(t, done[r]) + by_job[s[k], r]
                done[r] = t
        return done[machines - 1]

    return LowLevelCallable(evaluate.ctypes, ctypes.c_void_p(scratch.ctypes.data)), (evaluate, scratch)


class Shop(ctypes.Structure):
    _fields_ = [("times", ctypes.POINTER(ctypes.c_double)), ("machines", ctypes.c_ssize_t)]


def evaluate_ratio(rounds, jobs, machines, sweeps):
    times = taillard_times(jobs, machines, 479340445)
    by_job = np.ascontiguousarray(times.T)
    cf, keep = scratch_makespan(times)
    with tempfile.TemporaryDirectory() as folder:
        lib = build_hand_loop(folder)
        if lib is None:
            return [("cfunc evaluate, apply-evaluate-undo", "-", "-", "no C++ compiler", GOALS["evaluate"])]
        shop = Shop(by_job.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), machines)
        lib.descent.restype = ctypes.c_double
        lib.descent.argtypes = [ctypes.POINTER(Shop), ctypes.c_ssize_t, ctypes.c_int]
        from scipy import LowLevelCallable

        signature = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_uint32), ctypes.c_ssize_t, ctypes.c_void_p)
        c_makespan = LowLevelCallable(signature(("makespan", lib)), ctypes.cast(ctypes.pointer(shop), ctypes.c_void_p))

        def hand():
            hand.score = lib.descent(ctypes.byref(shop), jobs, sweeps)

        def engine(objective):
            def job():
                p = P.array_problem(M.swap(1), E.custom(jobs, objective))
                job.score = LS.steepest_descent(True, p, T.max_iterations(sweeps)).run()[-1][1]
            return job

        with_numba, with_c = engine(cf), engine(c_makespan)
        t_hand, t_numba, t_c = best_of(rounds, hand, with_numba, with_c)
        agree = "same result" if hand.score == with_numba.score == with_c.score else "RESULTS DIFFER"
        calls = sweeps * (1 + jobs * (jobs - 1) // 2)
        return [
            (f"cfunc evaluate, apply-evaluate-undo ({agree})", f"{t_numba / calls * 1e9:.0f} ns", f"{t_hand / calls * 1e9:.0f} ns", f"{t_numba / t_hand:.2f}x", GOALS["evaluate"]),
            ("  same C++ evaluate through kestrum", f"{t_c / calls * 1e9:.0f} ns", f"{t_hand / calls * 1e9:.0f} ns", f"{t_c / t_hand:.2f}x", "engine share"),
        ]


# ---- 4. against simanneal


def simanneal_side_by_side(rounds, proposals):
    times = taillard_times(20, 5, 873654221)
    makespan = python_makespan(times)
    cf = numba_makespan(times)
    rows = []
    try:
        from simanneal import Annealer
    except ImportError:
        Annealer = None

    def kestrum_job(objective):
        def job():
            p = P.array_problem(M.swap(1), E.custom(20, objective))
            search = LS.simulated_annealing(25, True, p, T.max_iterations(proposals), kestrum.Cooling.geometric_cooling(0.9), kestrum.IterationsPerTemp.cnst_iter_temp(proposals // 50))
            search.set_acceptance_seed(1)
            job.best = search.run()[-1][1]
        return job

    jobs = [("kestrum, Python evaluate", kestrum_job(makespan)), ("kestrum, numba cfunc evaluate", kestrum_job(cf))]
    if Annealer is not None:
        class FlowShop(Annealer):
            copy_strategy = "slice"

            def move(self):
                i, j = self.rng.sample(range(len(self.state)), 2)
                self.state[i], self.state[j] = self.state[j], self.state[i]

            def energy(self):
                return makespan(self.state)

        def simanneal_job():
            a = FlowShop(list(range(20)))
            a.rng = random.Random(1)
            a.Tmax, a.Tmin, a.steps, a.updates = 25.0, 0.1, proposals, 0
            _, simanneal_job.best = a.anneal()

        jobs.insert(0, ("simanneal (pure Python)", simanneal_job))
    elapsed = best_of(rounds, *(job for _, job in jobs))
    base = elapsed[0]
    for (name, job), t in zip(jobs, elapsed):
        rows.append((f"{name}, flow shop 20x5", f"{proposals / t:,.0f} /s", f"best {job.best:.0f}", f"{base / t:.1f}x", "proposals per second"))
    if Annealer is None:
        rows.append(("simanneal", "-", "-", "not installed", ""))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="small sizes (a smoke run)")
    parser.add_argument("--python-only", action="store_true", help="only the Python callables' costs")
    args = parser.parse_args()
    quick = args.quick
    rows = python_overhead(args.rounds, 60 if quick else 200)
    sizes = ((200, 2_000), (10_000, 2_000)) if quick else ((200, 20_000), (10_000, 20_000), (1_000_000, 5_000))
    rows += python_delta_overhead(args.rounds, sizes)
    if args.python_only:
        print_rows(rows)
        return
    try:
        import numba  # noqa: F401
    except ImportError:
        rows.append(("native rows", "-", "-", "numba not installed", ""))
    else:
        rows += tour_delta_ratio(args.rounds, 60 if quick else 300, 2 if quick else 5, 20_000 if quick else 500_000, 1 if quick else 20)
        rows += evaluate_ratio(args.rounds, 20 if quick else 50, 5 if quick else 10, 1 if quick else 3)
    rows += simanneal_side_by_side(args.rounds, 2_000 if quick else 20_000)
    print_rows(rows)


def print_rows(rows):
    widths = [max(len(str(r[k])) for r in rows + [HEADER]) for k in range(5)]
    for r in [HEADER, tuple("-" * w for w in widths)] + rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))


HEADER = ("measure", "custom", "reference", "ratio", "goal")

if __name__ == "__main__":
    main()
