"""kestrum_bench's engine/baseline pairs and references, as two tables with their targets."""
from __future__ import annotations

import json
from pathlib import Path

from .report import markdown_table

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
    ("Pair_SingleDelta/n:100/reversal:1/", "one delta_eval (2-opt), n=100", None),
    ("Pair_SingleDelta/n:1000/reversal:1/", "one delta_eval (2-opt), n=1000", None),
    ("Pair_SingleDelta/n:100/reversal:0/", "one delta_eval (swap), n=100", None),
    ("Pair_SingleDelta/n:1000/reversal:0/", "one delta_eval (swap), n=1000", None),
    ("Pair_AnnealProposals/n:1000/", "SA proposals (2-opt), n=1000",
     lambda c: (c["engine_Mps"] >= 10, ">= 10 M/s")),
    ("Pair_TabuStepGrowth/", "tabu step n=2000 / n=1000", lambda c: (c["ratio"] <= 4.5, "ratio <= 4.5")),
    ("Pair_TabuStep/n:1000/", "tabu step (2-opt), n=1000", None),
    ("Pair_TabuStep/n:2000/", "tabu step (2-opt), n=2000", None),
    ("Pair_RobustTabuStep/n:50/steps:4000/", "robust tabu step vs published loop, n=50", None),
    ("Pair_RobustTabuStep/n:50/steps:20000/", "robust tabu step vs published loop, n=50, forced moves", None),
    ("Pair_RobustTabuStep/n:100/", "robust tabu step vs published loop, n=100",
     lambda c: (c["ratio"] <= 0.2, "ratio <= 1/5")),
    ("Pair_QapTabuStepGrowth/", "tabu step (QAP swap) n=100 / n=50", lambda c: (c["ratio"] <= 4.5, "ratio <= 4.5")),
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
