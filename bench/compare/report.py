"""The rows of the comparison table, their text, and the results file every benchmark script
writes (bench/results/<date>-<host><suffix>.md)."""
from __future__ import annotations

import datetime
import os
import platform
import socket
import sys
from dataclasses import dataclass, field
from pathlib import Path


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


def write_results(out_dir: Path, when: datetime.datetime, text: str, misses: list[str], suffix: str = "") -> Path:
    """Writes `text` to <out_dir>/<date>-<host><suffix>.md, says where, and lists the targets
    not met on stderr. An earlier run's file of the same name is kept: the new one takes the
    next free number (<date>-<host><suffix>-2.md, -3, ...)."""
    out_dir.mkdir(parents=True, exist_ok=True)
    stem = f"{when:%Y-%m-%d}-{socket.gethostname()}{suffix}"
    out = out_dir / f"{stem}.md"
    number = 2
    while True:
        try:
            with out.open("x") as f:  # fails when the file exists, even if made meanwhile
                f.write(text)
            break
        except FileExistsError:
            out = out_dir / f"{stem}-{number}.md"
            number += 1
    print(f"written to {out}")
    if misses:
        print("targets not met: " + "; ".join(misses), file=sys.stderr)
    return out
