"""make bench's comparison with other libraries: `python -m compare [--native native.json]` from bench/."""
from __future__ import annotations

import argparse
import datetime
import sys
from pathlib import Path

from . import __doc__ as overview
from .instances import DATA, ROOT, check_instances, have_data
from .native import native_tables
from .networkx_peer import compare_annealing
from .peers import ensure_peers
from .quality import compare_quality
from .r_peer import compare_two_opt
from .report import HEADER, Report, fmt_row, machine_line, markdown_table, write_results
from .scipy_peer import compare_qap


def main() -> int:
    ap = argparse.ArgumentParser(prog="compare", description=overview.splitlines()[0])
    ap.add_argument("--native", type=Path, help="JSON output of kestrum_bench (engine/baseline pairs)")
    ap.add_argument("--rounds", type=int, default=3, help="alternating rounds per speed comparison")
    ap.add_argument("--seconds", type=int, default=2, help="time budget of the quality runs")
    ap.add_argument("--no-install", action="store_true", help="do not pip install missing peers")
    ap.add_argument("--out", type=Path, default=ROOT / "bench" / "results")
    ap.add_argument("--only", default="annealing,qap,two_opt,quality",
                    help="comma-separated subset of: annealing, qap, two_opt, quality")
    args = ap.parse_args()

    if not have_data():
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
    write_results(args.out, now, text, failures)
    return 0


if __name__ == "__main__":
    sys.exit(main())
