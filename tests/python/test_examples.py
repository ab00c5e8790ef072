"""The examples' ends that a newcomer meets first: a missing instance is a failure, not a quiet exit."""

import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="run from an installed package without the examples")


@pytest.mark.parametrize("script, instance", [("tsplib_all_searches.py", "eil51"), ("qaplib.py", "chr25a")])
def test_an_instance_found_nowhere_exits_with_status_1(tmp_path, script, instance):
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / script), instance, "--data", str(tmp_path)],
        capture_output=True, text=True, timeout=120, cwd=tmp_path,
    )
    assert result.returncode == 1, result.stdout + result.stderr
    assert f"{instance} is not among the shipped ones" in result.stderr
    assert "nothing to do" in result.stderr and result.stdout == ""
