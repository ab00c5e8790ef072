"""The type stubs against the module itself (mypy's stubtest), and a type check of typical use."""

import importlib.util
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


def run(args, cwd):
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=300)


def test_stubs_match_the_module(tmp_path):
    # Run outside the source tree so the installed module and stubs are the ones checked.
    result = run(["mypy.stubtest", "kestrum"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_type_checker_accepts_typical_use_and_rejects_misuse(tmp_path):
    (tmp_path / "use.py").write_text(
        textwrap.dedent(
            """
            import array
            import kestrum

            e = kestrum.Evaluation.tsp([[0, 1.5], [1.5, 0]])
            bins = kestrum.Evaluation.empty_bins(array.array("d", [1, 2]), 3)
            p = kestrum.Problem.array_problem(kestrum.MoveType.swap(seed=1), e)
            log = kestrum.LocalSearch.tabu_search(True, p, kestrum.Termination.max_iterations(3)).run()
            elapsed: int = log[-1][0]
            best: float = log[-1][1]
            tour: list[int] = p.best_solution()
            nested = kestrum.benchmark([kestrum.LocalSearch.vns(True, p, kestrum.Termination.always_true())], [p], seeds=[1])
            first: float = nested[0][0][0][-1][1]
            kestrum.Evaluation.tsp("abc")  # line 14
            kestrum.MoveType.swap(seed="1")  # line 15
            """
        )
    )
    result = run(["mypy", "--no-incremental", "--cache-dir=/dev/null", "use.py"], tmp_path)
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert [line.split(":")[1] for line in errors] == ["14", "15"], result.stdout
