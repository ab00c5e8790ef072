"""Standard instance files: published optimal tours and assignments score their optima exactly."""

import os
from pathlib import Path

import pytest

import kestrum
from kestrum_tools import read_optima, read_qaplib_solution, read_tour

# The instance collection: $KESTRUM_DATA, else ../shared/data beside the repository.
DATA = Path(os.environ.get("KESTRUM_DATA") or Path(__file__).resolve().parents[3] / "shared" / "data")
E, M, P = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem

needs_data = pytest.mark.skipif(not DATA.is_dir(), reason="benchmark instances not present")


def rows(kind):
    if not DATA.is_dir():
        return []
    return sorted(read_optima(DATA / kind / "optima.tsv").items())


@needs_data
@pytest.mark.parametrize("name, row", [r for r in rows("tsplib") if r[1]["opt_tour"] != "-"], ids=lambda v: v if isinstance(v, str) else "")
def test_optimal_tours_score_the_optimum(name, row):
    ev = E.tsp_from_tsplib(str(DATA / "tsplib" / f"{name}.{row['type'].lower()}"))
    p = P.array_problem(M.swap(0), ev)
    p.set_solution(read_tour(DATA / "tsplib" / row["opt_tour"]))
    assert p.eval() == float(row["optimum"])


@needs_data
@pytest.mark.parametrize("name, row", [r for r in rows("tsplib") if r[1]["type"] == "ATSP"], ids=lambda v: v if isinstance(v, str) else "")
def test_asymmetric_instances_read(name, row):
    ev = E.tsp_from_tsplib(str(DATA / "tsplib" / f"{name}.atsp"))
    p = P.array_problem(M.swap(0), ev)
    assert len(p.solution()) == int(row["n"])
    assert p.eval() > 0


@needs_data
@pytest.mark.parametrize("name, row", [r for r in rows("qaplib") if r[1]["sln_cost"] not in ("", "-")], ids=lambda v: v if isinstance(v, str) else "")
def test_published_assignments_score(name, row):
    ev = E.qap_from_qaplib(str(DATA / "qaplib" / f"{name}.dat"))
    _, permutation = read_qaplib_solution(DATA / "qaplib" / f"{name}.sln", inverse=row["sln_orientation"] == "inverse")
    p = P.array_problem(M.swap(0), ev)
    p.set_solution(permutation)
    assert p.eval() == float(row["score_upper_pairs"])
    if row["half_rule"] == "yes":
        assert 2 * p.eval() == float(row["sln_cost"])


class TestFormatErrors:
    def test_malformed_names_the_line(self, tmp_path):
        path = tmp_path / "bad.tsp"
        path.write_text("NAME: bad\nTYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 x 1\nEOF\n")
        with pytest.raises(ValueError, match=r"^line 7: "):
            E.tsp_from_tsplib(str(path))

    def test_qaplib_too_short(self, tmp_path):
        path = tmp_path / "bad.dat"
        path.write_text("2\n0 1\n1 0\n0 1\n")
        with pytest.raises(ValueError, match=r"^line \d+: "):
            E.qap_from_qaplib(str(path))

    def test_missing_files(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            E.tsp_from_tsplib(str(tmp_path / "none.tsp"))
        with pytest.raises(FileNotFoundError):
            E.qap_from_qaplib(str(tmp_path / "none.dat"))

    def test_small_explicit_file(self, tmp_path):
        path = tmp_path / "tiny.tsp"
        path.write_text(
            "NAME: tiny\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n"
            "EDGE_WEIGHT_SECTION\n1 2\n3\nEOF\n"
        )
        assert P.array_problem(M.swap(0), E.tsp_from_tsplib(str(path))).eval() == 6.0
