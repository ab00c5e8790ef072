"""The results files the benchmark scripts write: a second run of the day keeps the first."""

import datetime
import sys
from pathlib import Path

BENCH = Path(__file__).resolve().parents[2] / "bench"


def test_a_later_run_of_the_same_day_never_overwrites_an_earlier_one(tmp_path, monkeypatch):
    monkeypatch.syspath_prepend(str(BENCH))
    sys.modules.pop("compare.report", None)
    from compare.report import write_results

    when = datetime.datetime(2026, 12, 8, 15, 0)
    written = [write_results(tmp_path, when, f"run {k}\n", [], "-qap") for k in range(3)]
    names = [p.name for p in written]
    assert len(set(names)) == 3
    assert names[1] == names[0].replace("-qap.md", "-qap-2.md")
    assert [p.read_text() for p in written] == ["run 0\n", "run 1\n", "run 2\n"]
    # Another suffix starts its own numbering.
    assert write_results(tmp_path, when, "other\n", [], "-bin-packing").name.endswith("-bin-packing.md")
