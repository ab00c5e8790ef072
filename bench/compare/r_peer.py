"""Best-improvement 2-opt: R's TSP package (through Rscript) against kestrum's reversal
descent from the same random tour."""
from __future__ import annotations

import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path

import numpy as np

import kestrum as k

from .instances import random_euclidean
from .report import Report, Row
from .timing import descent_moves, kestrum_descent, timed_rounds

SOLVER = "R TSP two_opt"

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
                report.skip(test, inst, SOLVER, r_missing)
            else:
                coords, tour = Path(tmp) / "xy.csv", Path(tmp) / "start.txt"
                np.savetxt(coords, xy, delimiter=",", fmt="%.17g")
                np.savetxt(tour, start + 1, fmt="%d")
                res = subprocess.run(["Rscript", str(script), str(coords), str(tour), str(rounds)],
                                     capture_output=True, text=True)
                if res.returncode != 0:
                    report.skip(test, inst, SOLVER, "Rscript failed: " + res.stderr.strip()[-200:])
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
