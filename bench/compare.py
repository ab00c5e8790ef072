#!/usr/bin/env python3
"""kestrum against other libraries on the same instances and budgets.

Runs, in one process where the peer is a Python library:
  - networkx simulated_annealing_tsp (swap of two cities, first city fixed) against kestrum
    simulated annealing with the same move, schedule and number of proposals;
  - scipy quadratic_assignment, methods 2opt and faq, on QAPLIB instances, against kestrum
    steepest descent with swap moves from the same start;
  - R's TSP::solve_TSP(method = "two_opt") through Rscript against kestrum steepest descent
    with reversal moves from the same random tour;
  - python-tsp local search, OR-Tools routing with guided local search and elkai on TSPLIB
    instances for a fixed time, as quality references (gap to the published optimum).
Speed comparisons alternate rounds between the peer and kestrum and keep medians. Times are
CPU times of the solving call (the machine is shared; wall time would also count other
processes), except for the fixed-time quality runs, which are given wall-clock budgets.

Prints one table and writes it, with the native engine/baseline figures when --native names
the JSON output of kestrum_bench, to bench/results/<date>-<host>.md.
"""
from __future__ import annotations

import os

# Every solver here runs on one thread; keep numpy's BLAS from spreading over the cores.
for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")

import argparse
import datetime
import importlib
import json
import math
import platform
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tomllib
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

import kestrum as k

ROOT = Path(__file__).resolve().parent.parent
# The instance collection: $KESTRUM_DATA, else ../shared/data beside the repository.
DATA = Path(os.environ.get("KESTRUM_DATA") or ROOT.parent / "shared" / "data")


# ---------------------------------------------------------------------------------------
# Rows of the table.

@dataclass
class Row:
    test: str
    instance: str
    solver: str
    seconds: float | None = None
    rate: float | None = None  # moves or proposals per second
    objective: float | None = None
    gap: float | None = None  # fraction above the published optimum
    ratio: float | None = None  # see the test's note
    note: str = ""


@dataclass
class Report:
    rows: list[Row] = field(default_factory=list)

    def add(self, row: Row) -> None:
        self.rows.append(row)
        print("  " + " | ".join(fmt_row(row)), flush=True)

    def skip(self, test: str, instance: str, solver: str, why: str) -> None:
        self.add(Row(test, instance, solver, note=f"skipped: {why}"))


def fmt_num(x: float | None, digits: int = 3) -> str:
    if x is None:
        return "-"
    if x == 0:
        return "0"
    if abs(x) >= 1e6:
        return f"{x:.3g}"
    if abs(x) >= 100:
        return f"{x:.0f}"
    return f"{x:.{digits}g}"


def fmt_rate(x: float | None) -> str:
    if x is None:
        return "-"
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if x >= scale:
            return f"{x / scale:.3g} {unit}"
    return f"{x:.3g}"


def fmt_row(r: Row) -> list[str]:
    return [
        r.test,
        r.instance,
        r.solver,
        "-" if r.seconds is None else f"{r.seconds:.4g}",
        fmt_rate(r.rate),
        fmt_num(r.objective, 6),
        "-" if r.gap is None else f"{100 * r.gap:.2f}%",
        "-" if r.ratio is None else f"{r.ratio:.3g}",
        r.note,
    ]


HEADER = ["test", "instance", "solver", "time (s)", "moves/s", "objective", "gap", "ratio to kestrum", "note"]


def markdown_table(header: list[str], lines: list[list[str]]) -> str:
    out = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    out += ["| " + " | ".join(cells) + " |" for cells in lines]
    return "\n".join(out)


# ---------------------------------------------------------------------------------------
# Peers: installed from the `bench` extra of pyproject.toml, one at a time, so that one
# that cannot be installed only removes its own rows.

PEER_MODULES = {"networkx": "networkx", "scipy": "scipy", "python-tsp": "python_tsp",
                "ortools": "ortools", "elkai": "elkai"}


def bench_requirements() -> list[str]:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]["optional-dependencies"]["bench"]


def ensure_peers(install: bool) -> dict[str, str]:
    """Imports every peer, installing missing ones; returns {name: why} for the unusable."""
    missing: dict[str, str] = {}
    for req in bench_requirements():
        name = re.split(r"[<>=!~\[; ]", req, maxsplit=1)[0]
        module = PEER_MODULES.get(name.lower(), name.replace("-", "_"))
        try:
            importlib.import_module(module)
            continue
        except Exception as exc:  # noqa: BLE001 - any import failure means "not usable"
            why = f"import failed ({type(exc).__name__})"
        if install:
            print(f"==> installing {req}", flush=True)
            res = subprocess.run([sys.executable, "-m", "pip", "install", "-q", req],
                                 capture_output=True, text=True)
            if res.returncode == 0:
                importlib.invalidate_caches()
                try:
                    importlib.import_module(module)
                    continue
                except Exception as exc:  # noqa: BLE001
                    why = f"import failed after install ({type(exc).__name__})"
            else:
                why = "pip install failed"
        missing[name] = why
    return missing


# ---------------------------------------------------------------------------------------
# Instances.

def random_euclidean(n: int, seed: int) -> tuple[np.ndarray, np.ndarray]:
    """Points uniform in a 1000 x 1000 square and their (unrounded) distance matrix."""
    rng = np.random.default_rng(seed)
    xy = rng.random((n, 2)) * 1000.0
    diff = xy[:, None, :] - xy[None, :, :]
    return xy, np.sqrt((diff ** 2).sum(-1))


def tsplib_euc2d(name: str) -> np.ndarray:
    """The TSPLIB distance matrix of an EUC_2D instance: nint of the Euclidean distance."""
    text = (DATA / "tsplib" / f"{name}.tsp").read_text().splitlines()
    start = next(i for i, line in enumerate(text) if line.strip().startswith("NODE_COORD_SECTION"))
    pts = []
    for line in text[start + 1:]:
        parts = line.split()
        if not parts or parts[0] == "EOF":
            break
        pts.append((float(parts[1]), float(parts[2])))
    xy = np.array(pts)
    diff = xy[:, None, :] - xy[None, :, :]
    return np.floor(np.sqrt((diff ** 2).sum(-1)) + 0.5)


def tsplib_optimum(name: str) -> float:
    for line in (DATA / "tsplib" / "optima.tsv").read_text().splitlines()[1:]:
        cols = line.split("\t")
        if cols[0] == name:
            return float(cols[4])
    raise KeyError(name)


def qaplib(name: str) -> tuple[np.ndarray, np.ndarray, float]:
    tok = (DATA / "qaplib" / f"{name}.dat").read_text().split()
    n = int(tok[0])
    v = np.array(tok[1:1 + 2 * n * n], dtype=float)
    value = None
    for line in (DATA / "qaplib" / "optima.tsv").read_text().splitlines()[1:]:
        cols = line.split("\t")
        if cols[0] == name:
            value = float(cols[3])
    return v[:n * n].reshape(n, n), v[n * n:].reshape(n, n), value


def tour_length(d: np.ndarray, tour) -> float:
    t = np.asarray(tour)
    return float(d[t, np.roll(t, -1)].sum())


def check_instances() -> None:
    """The readers above must reproduce the published values: every TSPLIB optimal tour of
    the instances used scores its optimum, every QAPLIB solution its cost. A reader error
    would otherwise show up as a wrong gap for every solver alike."""
    for name in TSPLIB_INSTANCES:
        path = DATA / "tsplib" / f"{name}.opt.tour"
        if not path.is_file():
            continue
        lines = path.read_text().split()
        start = lines.index("TOUR_SECTION") + 1
        tour = []
        for tok in lines[start:]:
            if tok in ("-1", "EOF"):
                break
            tour.append(int(tok) - 1)
        length = tour_length(tsplib_euc2d(name), tour)
        if length != tsplib_optimum(name):
            raise SystemExit(f"{name}: the optimal tour scores {length}, not {tsplib_optimum(name)}")
    for name in QAP_INSTANCES:
        a, b, value = qaplib(name)
        tok = (DATA / "qaplib" / f"{name}.sln").read_text().split()
        n, cost = int(tok[0]), float(tok[1])
        p = np.array([int(x) - 1 for x in tok[2:2 + n]])
        if float((a * b[np.ix_(p, p)]).sum()) != cost:
            raise SystemExit(f"{name}: the published solution does not score {cost}")


# ---------------------------------------------------------------------------------------
# kestrum runs.

def cpu(fn):
    t0 = time.process_time()
    out = fn()
    return time.process_time() - t0, out


def kestrum_descent(problem, start: list[int]) -> tuple[float, list]:
    """One steepest descent from `start` to a local optimum: (CPU seconds, run log)."""
    problem.set_solution(start)
    sd = k.LocalSearch.steepest_descent(True, problem, k.Termination.always_true())
    return cpu(sd.run)


def descent_moves(log, n: int) -> int:
    """Moves scored by a descent that ended at a local optimum: one scan per applied move,
    and the last scan that found no improvement."""
    return (log[-1][3] + 1) * n * (n - 1) // 2


def timed_rounds(fn, min_seconds: float = 0.05) -> float:
    """Median CPU time of one call of fn, repeating short calls so each sample is measurable."""
    reps = 1
    while True:
        t, _ = cpu(lambda: [fn() for _ in range(reps)])
        if t >= min_seconds or reps >= 1 << 16:
            break
        reps *= 4
    samples = [t / reps] + [cpu(lambda: [fn() for _ in range(reps)])[0] / reps for _ in range(4)]
    return statistics.median(samples)


# ---------------------------------------------------------------------------------------
# 1. Simulated annealing: networkx against kestrum.

def in_place_note(nxt) -> str:
    """networkx's swap move may change the cycle it is given: then a rejected proposal stays
    applied, and its tour lengths are not comparable."""
    import random

    cycle = [0, 1, 2, 3, 4, 0]
    nxt.swap_two_nodes(cycle, random.Random(0))
    if cycle == [0, 1, 2, 3, 4, 0]:
        return ""
    return "; its move edits the current cycle in place, so rejected proposals stay applied"

def compare_annealing(report: Report, missing: dict[str, str], rounds: int) -> None:
    test = "SA, swap, same proposals"
    for n in (50, 100):
        inst = f"random-{n}"
        if "networkx" in missing:
            report.skip(test, inst, "networkx simulated_annealing_tsp", missing["networkx"])
            continue
        import networkx as nx
        from networkx.algorithms.approximation import traveling_salesman as nxt

        _, d = random_euclidean(n, 100 + n)
        start = [int(v) for v in np.random.default_rng(200 + n).permutation(n)]
        graph = nx.from_numpy_array(d)
        # networkx: temperature 100 lowered by 10% after every 1000 proposals; it stops after
        # 11 temperatures in a row without a new best. kestrum gets the same schedule
        # (integer temperature, factor 0.9 every 1000 proposals) and exactly as many proposals.
        nx_times, k_times, nx_best, k_best, proposals = [], [], [], [], 0
        for r in range(rounds):
            count = [0]

            def move(cycle, seed, count=count):
                count[0] += 1
                return nxt.swap_two_nodes(cycle, seed)

            t, cycle = cpu(lambda: nxt.simulated_annealing_tsp(
                graph, start + [start[0]], weight="weight", temp=100, move=move,
                max_iterations=10, N_inner=1000, alpha=0.1, seed=r))
            nx_times.append(t / count[0])
            nx_best.append(tour_length(d, cycle[:-1]))
            proposals = count[0]

            problem = k.Problem.array_problem(k.MoveType.swap_tsp(r), k.Evaluation.tsp(d.tolist()))

            def anneal():
                problem.set_solution(start)
                sa = k.LocalSearch.simulated_annealing(
                    100, True, problem, k.Termination.max_iterations(proposals),
                    k.Cooling.geometric_cooling(0.9), k.IterationsPerTemp.cnst_iter_temp(1000))
                return sa.run()

            k_times.append(timed_rounds(anneal) / proposals)
            k_best.append(anneal()[-1][1])
        nx_t, k_t = statistics.median(nx_times), statistics.median(k_times)
        report.add(Row(test, inst, "networkx simulated_annealing_tsp", nx_t * proposals, 1 / nx_t,
                       statistics.median(nx_best), ratio=nx_t / k_t,
                       note=f"{proposals} proposals" + in_place_note(nxt)))
        report.add(Row(test, inst, "kestrum simulated_annealing (swap_tsp)", k_t * proposals, 1 / k_t,
                       statistics.median(k_best), ratio=1.0, note=f"{proposals} proposals"))


# ---------------------------------------------------------------------------------------
# 2. Quadratic assignment: scipy against kestrum.

QAP_INSTANCES = ("nug30", "sko42", "tai50a", "sko100a")


def compare_qap(report: Report, missing: dict[str, str], rounds: int) -> None:
    test = "QAP swap descent"
    for name in QAP_INSTANCES:
        a, b, value = qaplib(name)
        n = len(a)
        start = np.random.default_rng(300).permutation(n)
        problem = k.Problem.array_problem(k.MoveType.swap(1), k.Evaluation.qap(a.tolist(), b.tolist()))
        k_times = [timed_rounds(lambda: kestrum_descent(problem, start.tolist()))]
        _, log = kestrum_descent(problem, start.tolist())
        # Both matrices are symmetric with a zero diagonal: kestrum counts each pair once,
        # QAPLIB (and scipy) twice.
        k_obj = 2 * log[-1][1]
        k_moves = descent_moves(log, n)
        rows = []
        if "scipy" in missing:
            report.skip(test, name, "scipy quadratic_assignment", missing["scipy"])
        else:
            from scipy.optimize import quadratic_assignment

            guess = np.column_stack([np.arange(n), start])
            two_opt = []
            slow = n > 60
            for r in range(1 if slow else rounds):
                t, res = cpu(lambda: quadratic_assignment(
                    a, b, method="2opt", options={"partial_guess": guess, "rng": r}))
                two_opt.append((t, res))
                k_times.append(timed_rounds(lambda: kestrum_descent(problem, start.tolist())))
            k_time = statistics.median(k_times)
            t2 = statistics.median(t for t, _ in two_opt)
            res = two_opt[0][1]
            rows.append(Row(test, name, "scipy 2opt (first improvement)", t2, res.nit / t2, res.fun,
                            ratio=(t2 / res.nit) / (k_time / k_moves), note=f"{res.nit} swaps scored"))
            faq = [cpu(lambda: quadratic_assignment(a, b, method="faq", options={"rng": r}))
                   for r in range(rounds)]
            tf = statistics.median(t for t, _ in faq)
            rows.append(Row(test, name, "scipy faq", tf, None, faq[0][1].fun, ratio=tf / k_time,
                            note="time ratio; continuous relaxation, no start"))
        k_time = statistics.median(k_times)
        rows.append(Row(test, name, "kestrum steepest_descent (swap)", k_time, k_moves / k_time, k_obj,
                        ratio=1.0, note=f"{log[-1][3]} steps"))
        for row in rows:
            if value and row.objective is not None:
                row.gap = row.objective / value - 1
            report.add(row)


# ---------------------------------------------------------------------------------------
# 3. Best-improvement 2-opt: R's TSP package against kestrum.

R_SCRIPT = r"""
suppressMessages(library(TSP))
args <- commandArgs(trailingOnly = TRUE)
x <- as.matrix(read.csv(args[1], header = FALSE))
start <- as.integer(scan(args[2], quiet = TRUE))
rounds <- as.integer(args[3])
d <- as.TSP(dist(x))
# proc.time() counts in milliseconds: short solves are repeated until a sample lasts 0.2 s.
solve <- function() solve_TSP(d, method = "two_opt", control = list(tour = start))
cpu <- function(reps) {
  t0 <- proc.time()
  for (k in seq_len(reps)) tour <- solve()
  el <- proc.time() - t0
  (el[["user.self"]] + el[["sys.self"]]) / reps
}
first <- cpu(1)
reps <- if (first >= 0.2) 1L else as.integer(ceiling(0.2 / max(first, 0.001)))
tour <- solve()
for (r in seq_len(rounds)) cat(cpu(reps), tour_length(tour), "\n")
"""


def r_available() -> str | None:
    if shutil.which("Rscript") is None:
        return "Rscript not found"
    res = subprocess.run(["Rscript", "-e", "suppressMessages(library(TSP))"], capture_output=True)
    return None if res.returncode == 0 else "R package TSP not installed"


def compare_two_opt(report: Report, rounds: int) -> None:
    test = "2-opt descent, random start"
    r_missing = r_available()
    with tempfile.TemporaryDirectory() as tmp:
        script = Path(tmp) / "two_opt.R"
        script.write_text(R_SCRIPT)
        for n in (100, 280, 1000):
            inst = f"random-{n}"
            xy, d = random_euclidean(n, 400 + n)
            start = np.random.default_rng(500 + n).permutation(n)
            problem = k.Problem.array_problem(k.MoveType.reverse(1), k.Evaluation.tsp(d.tolist()))
            r_rows = None
            if r_missing:
                report.skip(test, inst, "R TSP two_opt", r_missing)
            else:
                coords, tour = Path(tmp) / "xy.csv", Path(tmp) / "start.txt"
                np.savetxt(coords, xy, delimiter=",", fmt="%.17g")
                np.savetxt(tour, start + 1, fmt="%d")
                res = subprocess.run(["Rscript", str(script), str(coords), str(tour), str(rounds)],
                                     capture_output=True, text=True)
                if res.returncode != 0:
                    report.skip(test, inst, "R TSP two_opt", "Rscript failed: " + res.stderr.strip()[-200:])
                else:
                    r_rows = [tuple(map(float, line.split())) for line in res.stdout.split("\n") if line.strip()]
            kt = statistics.median(timed_rounds(lambda: kestrum_descent(problem, start.tolist()))
                                   for _ in range(rounds))
            _, log = kestrum_descent(problem, start.tolist())
            if r_rows:
                rt = statistics.median(t for t, _ in r_rows)
                report.add(Row(test, inst, "R TSP solve_TSP two_opt", rt, None, r_rows[0][1],
                               ratio=rt / kt, note="time ratio"))
            report.add(Row(test, inst, "kestrum steepest_descent (reverse)", kt,
                           descent_moves(log, n) / kt, log[-1][1], ratio=1.0, note=f"{log[-1][3]} steps"))


# ---------------------------------------------------------------------------------------
# 4. Quality in a fixed time on TSPLIB instances.

TSPLIB_INSTANCES = ("berlin52", "kroA100", "ch150", "a280", "pr1002")


def kestrum_annealing_fixed_time(d: np.ndarray, seconds: int) -> float:
    """Simulated annealing with reversal moves for `seconds`: the best tour length.

    The matrix is scaled by 100 so that the integer temperature has a fine enough grain;
    the temperature falls from the mean nearest-neighbour distance to 2% of it over the
    time available, estimated from a short calibration run.
    """
    n = len(d)
    scale = 100.0
    nn = float(np.sort(d + np.diag(np.full(n, np.inf)), axis=1)[:, 0].mean())
    ev = k.Evaluation.tsp((d * scale).tolist())
    problem = k.Problem.array_problem(k.MoveType.reverse(7), ev)
    start = np.random.default_rng(600 + n).permutation(n).tolist()
    t0 = max(1, round(nn * scale))
    alpha = 0.95
    levels = math.ceil(math.log(0.02) / math.log(alpha))
    problem.set_solution(start)
    probe = 200_000
    t, _ = cpu(k.LocalSearch.simulated_annealing(
        t0, True, problem, k.Termination.max_iterations(probe), k.Cooling.geometric_cooling(alpha),
        k.IterationsPerTemp.cnst_iter_temp(probe // levels)).run)
    per_temp = max(1, int(probe / t * seconds * 0.9 / levels))
    problem.set_solution(start)
    sa = k.LocalSearch.simulated_annealing(
        t0, True, problem, k.Termination.max_sec(seconds), k.Cooling.geometric_cooling(alpha),
        k.IterationsPerTemp.cnst_iter_temp(per_temp))
    return sa.run()[-1][1] / scale


def ortools_gls(d: np.ndarray, seconds: int) -> float:
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2

    n = len(d)
    dist = d.astype(np.int64).tolist()
    manager = pywrapcp.RoutingIndexManager(n, 1, 0)
    routing = pywrapcp.RoutingModel(manager)
    if hasattr(routing, "RegisterTransitMatrix"):
        transit = routing.RegisterTransitMatrix(dist)
    else:
        transit = routing.RegisterTransitCallback(
            lambda i, j: dist[manager.IndexToNode(i)][manager.IndexToNode(j)])
    routing.SetArcCostEvaluatorOfAllVehicles(transit)
    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC
    params.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    params.time_limit.seconds = seconds
    solution = routing.SolveWithParameters(params)
    return float(solution.ObjectiveValue())


def compare_quality(report: Report, missing: dict[str, str], seconds: int) -> None:
    test = f"quality in {seconds} s"
    for name in TSPLIB_INSTANCES:
        d = tsplib_euc2d(name)
        opt = tsplib_optimum(name)
        rows = []
        t = time.perf_counter()
        k_obj = kestrum_annealing_fixed_time(d, seconds)
        rows.append(Row(test, name, "kestrum simulated_annealing (reverse)", time.perf_counter() - t,
                        objective=k_obj))
        if "python-tsp" in missing:
            report.skip(test, name, "python-tsp local search", missing["python-tsp"])
        else:
            from python_tsp.heuristics import solve_tsp_local_search

            t = time.perf_counter()
            _, obj = solve_tsp_local_search(d, max_processing_time=seconds)
            rows.append(Row(test, name, "python-tsp local search (2-opt)", time.perf_counter() - t,
                            objective=float(obj)))
        if "ortools" in missing:
            report.skip(test, name, "OR-Tools routing GLS", missing["ortools"])
        else:
            t = time.perf_counter()
            obj = ortools_gls(d, seconds)
            rows.append(Row(test, name, "OR-Tools routing GLS", time.perf_counter() - t, objective=obj))
        if "elkai" in missing:
            report.skip(test, name, "elkai", missing["elkai"])
        else:
            import elkai

            t = time.perf_counter()
            # Its run count is its only budget; one run on the largest instance already
            # takes longer than the others' time limit.
            runs = 10 if len(d) <= 300 else 1
            tour = elkai.DistanceMatrix(d.astype(np.int64).tolist()).solve_tsp(runs=runs)
            el = time.perf_counter() - t
            tour = tour[:-1] if len(tour) == len(d) + 1 else tour
            rows.append(Row(test, name, f"elkai ({runs} run{'s' if runs > 1 else ''}, own time)", el,
                            objective=tour_length(d, tour)))
        for row in rows:
            row.gap = row.objective / opt - 1
            row.ratio = row.objective / k_obj
            row.note = "objective ratio"
            report.add(row)


# ---------------------------------------------------------------------------------------
# Native figures: the engine/baseline pairs of kestrum_bench.

# (benchmark name prefix, label, check) where check maps the counters to (pass, target text).
TARGETS = [
    ("Pair_TourScan/n:100/reversal:1/", "2-opt scan, n=100", lambda c: (c["ratio"] <= 1.25, "ratio <= 1.25")),
    ("Pair_TourScan/n:1000/reversal:1/", "2-opt scan, n=1000",
     lambda c: (c["ratio"] <= 1.25 and c["engine_Mps"] >= 100, "ratio <= 1.25, >= 100 M/s")),
    ("Pair_TourScan/n:2000/reversal:1/", "2-opt scan, n=2000", None),
    ("Pair_TourScan/n:3000/reversal:1/", "2-opt scan, n=3000", None),
    ("Pair_TourScan/n:100/reversal:0/", "swap scan, n=100", lambda c: (c["ratio"] <= 1.25, "ratio <= 1.25")),
    ("Pair_TourScan/n:1000/reversal:0/", "swap scan, n=1000",
     lambda c: (c["ratio"] <= 1.25 and c["engine_Mps"] >= 100, "ratio <= 1.25, >= 100 M/s")),
    ("Pair_DescentStep/n:100/reversal:1/", "descent step (2-opt), n=100", None),
    ("Pair_DescentStep/n:1000/reversal:1/", "descent step (2-opt), n=1000", None),
    ("Pair_DescentStep/n:100/reversal:0/", "descent step (swap), n=100", None),
    ("Pair_DescentStep/n:1000/reversal:0/", "descent step (swap), n=1000", None),
    ("Pair_QapSwapScan/n:100/", "QAP swap scan, n=100",
     lambda c: (c["ratio"] <= 1.25 and c["engine_Mps"] >= 10, "ratio <= 1.25, >= 10 M/s")),
    ("Pair_AnnealProposals/n:1000/", "SA proposals (2-opt), n=1000",
     lambda c: (c["engine_Mps"] >= 10, ">= 10 M/s")),
    ("Pair_TabuStepGrowth/", "tabu step n=2000 / n=1000", lambda c: (c["ratio"] <= 4.5, "ratio <= 4.5")),
    ("Pair_TabuStep/n:1000/", "tabu step (2-opt), n=1000", None),
    ("Pair_TabuStep/n:2000/", "tabu step (2-opt), n=2000", None),
    ("Pair_BinsScan/count_bins:1/reversal:0/", "bins scan vs 2 evals (space, swap)",
     lambda c: (c["ratio"] <= 1 / 3, "ratio <= 1/3")),
    ("Pair_BinsScan/count_bins:1/reversal:1/", "bins scan vs 2 evals (space, reverse)",
     lambda c: (c["ratio"] <= 1 / 3, "ratio <= 1/3")),
    ("Pair_BinsScan/count_bins:0/reversal:0/", "bins scan vs 2 evals (bins, swap)",
     lambda c: (c["ratio"] <= 1 / 3, "ratio <= 1/3")),
]

REFERENCES = [
    ("Ref_TwoOptFourReads/n:100/", "2-opt, four matrix reads per move, n=100"),
    ("Ref_TwoOptFourReads/n:1000/", "2-opt, four matrix reads per move, n=1000"),
    ("Ref_TwoOptVirtual/n:100/", "2-opt, one virtual call per move, n=100"),
    ("Ref_TwoOptVirtual/n:1000/", "2-opt, one virtual call per move, n=1000"),
    ("Ref_TwoOptReverseBack/n:100/", "2-opt, reverse and reverse back, n=100"),
    ("Ref_TwoOptReverseBack/n:1000/", "2-opt, reverse and reverse back, n=1000"),
    ("Engine_HashWhole/n:1000/", "engine: hash of a whole solution, n=1000"),
    ("Engine_HashNeighbour/n:1000/", "engine: O(1) neighbour hash (tabu), n=1000"),
]


def native_tables(path: Path) -> tuple[str, list[str]]:
    data = json.loads(path.read_text())
    by_name = {b["name"]: b for b in data.get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"}

    def find(prefix: str):
        return next((b for name, b in by_name.items() if name.startswith(prefix)), None)

    lines, failures = [], []
    for prefix, label, check in TARGETS:
        b = find(prefix)
        if b is None or "ratio" not in b:
            lines.append([label, "-", "-", "-", "-", "", "not measured"])
            continue
        ok, target = check(b) if check else (None, "")
        verdict = "" if ok is None else ("pass" if ok else "FAIL")
        if ok is False:
            failures.append(f"{label}: {target}")
        lines.append([label, f"{b['base_ns']:.4g}", f"{b['engine_ns']:.4g}", f"{b['ratio']:.3g}",
                      f"{b['engine_Mps']:.4g}", target, verdict])
    pairs = markdown_table(["engine vs baseline", "baseline ns", "engine ns", "ratio", "engine M/s", "target", ""], lines)
    refs = []
    for prefix, label in REFERENCES:
        b = find(prefix)
        refs.append([label, "-" if b is None else f"{b['ns']:.4g}"])
    return pairs + "\n\n" + markdown_table(["reference", "ns per move (or per hash)"], refs), failures


# ---------------------------------------------------------------------------------------

def machine_line() -> str:
    model = "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"{model}, {os.cpu_count()} cores, Python {platform.python_version()}, "
            f"{platform.system()} {platform.release()}")


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--native", type=Path, help="JSON output of kestrum_bench (engine/baseline pairs)")
    ap.add_argument("--rounds", type=int, default=3, help="alternating rounds per speed comparison")
    ap.add_argument("--seconds", type=int, default=2, help="time budget of the quality runs")
    ap.add_argument("--no-install", action="store_true", help="do not pip install missing peers")
    ap.add_argument("--out", type=Path, default=ROOT / "bench" / "results")
    ap.add_argument("--only", default="annealing,qap,two_opt,quality",
                    help="comma-separated subset of: annealing, qap, two_opt, quality")
    args = ap.parse_args()

    if not (DATA / "tsplib" / "optima.tsv").is_file() or not (DATA / "qaplib" / "optima.tsv").is_file():
        print(f"no instance collection at {DATA} (set KESTRUM_DATA to the folder holding tsplib/ "
              "and qaplib/); nothing to compare", file=sys.stderr)
        return 1
    check_instances()
    missing = ensure_peers(install=not args.no_install)
    only = set(args.only.split(","))
    report = Report()
    print("  " + " | ".join(HEADER), flush=True)
    if "annealing" in only:
        compare_annealing(report, missing, args.rounds)
    if "qap" in only:
        compare_qap(report, missing, args.rounds)
    if "two_opt" in only:
        compare_two_opt(report, args.rounds)
    if "quality" in only:
        compare_quality(report, missing, args.seconds)

    now = datetime.datetime.now()
    host = socket.gethostname()
    parts = [f"# kestrum benchmark, {now:%Y-%m-%d %H:%M}", "", f"Machine: {machine_line()}", ""]
    failures: list[str] = []
    if args.native and args.native.is_file():
        native, failures = native_tables(args.native)
        parts += ["## Engine against hand-written baselines (native, medians of alternating rounds)", "",
                  "ratio = engine time / baseline time per move (per proposal, per step); CPU time of the "
                  "benchmark thread.", "", native, ""]
    parts += ["## Against other libraries", "",
              "ratio to kestrum: for speed tests, the peer's time per move (or per proposal) over "
              "kestrum's, or the time to the local optimum where moves are not counted (\"time ratio\"); "
              "for the quality tests, the peer's tour length over kestrum's. Times are CPU seconds of the "
              "solving call, wall-clock seconds for the fixed-time quality runs.", "",
              markdown_table(HEADER, [fmt_row(r) for r in report.rows]), ""]
    text = "\n".join(parts)
    print()
    print(text)
    args.out.mkdir(parents=True, exist_ok=True)
    out = args.out / f"{now:%Y-%m-%d}-{host}.md"
    out.write_text(text)
    print(f"written to {out}")
    if failures:
        print("targets not met: " + "; ".join(failures), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
