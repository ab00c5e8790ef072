"""Evaluations read from files: distance matrices, 2-D coordinates and DMS positions."""

import math
import os
import pathlib

import pytest

import kestrum
from conftest import raises_panic

E, M, P = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem
PARSE = "called `Result::unwrap()` on an `Err` value: ParseFloatError { kind: Invalid }"


def score(evaluation):
    return P.array_problem(M.swap(0), evaluation).eval()


@pytest.fixture
def write(tmp_path):
    def _write(content, name="data.txt"):
        path = tmp_path / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return _write


class TestDistanceMatrix:
    @pytest.mark.parametrize(
        "content",
        ["0 1 2\n1 0 3\n2 3 0\n", "0 1 2 1 0 3 2 3 0", "0\n1\n2\n1\n0\n3\n2\n3\n0\n",
         "0 1 2\r\n1 0 3\r\n2 3 0\r\n", "\n0 1 2\n\n# note\n1 0 3\n2 3 0", "0\t1\u00a02\n1 0\u30003\n2 3 0"],
        ids=["lines", "one-line", "one-per-line", "crlf", "blank-and-comment", "unicode-space"],
    )
    def test_layouts_read_the_same(self, write, content):
        assert score(E.tsp_from_dist_matrix(write(content))) == 6.0

    @pytest.mark.parametrize(
        "content, message",
        [("0 1 2 # three\n1 0 3\n2 3 0\n", "distanceMatrix is not a square"),
         ("0 1 2 3 4 5 6 7", "distanceMatrix is not a square"),
         ("0 1 1\n1 0 1\n1 1 5", "distance to location 2 itself is not zero"),
         ("nan 1\n1 0", "distance to location 0 itself is not zero")],
    )
    def test_data_errors_are_plain_os_errors(self, write, content, message):
        with pytest.raises(OSError) as err:
            E.tsp_from_dist_matrix(write(content))
        assert type(err.value) is OSError
        assert err.value.args == (message,)

    def test_negative_zero_diagonal_passes(self, write):
        assert score(E.tsp_from_dist_matrix(write("-0 1\n1 -0"))) == 2.0

    @pytest.mark.parametrize(
        "content, message",
        [("", "chunk size must be non-zero"), ("# only a comment\n", "chunk size must be non-zero"),
         ("0,1\n1,0\n", PARSE), ("\ufeff0 1\n1 0", PARSE), ("0 1_0\n1 0", PARSE), ("0 0x10\n1 0", PARSE)],
        ids=["empty", "comments", "commas", "bom", "underscore", "hex"],
    )
    def test_fatal_stops(self, write, content, message):
        with raises_panic(message):
            E.tsp_from_dist_matrix(write(content))

    def test_invalid_utf8(self, write):
        with raises_panic(prefix="called `Result::unwrap()` on an `Err` value: ") as info:
            E.tsp_from_dist_matrix(write(b"0 1\n\xff\xfe\n"))
        assert "stream did not contain valid UTF-8" in info.value.args[0]

    def test_numbers_at_the_edge_of_the_grammar(self, write):
        ev = E.tsp_from_dist_matrix(write("+0 1e0 .5\n1. -0 -inf\n5e-1 INFINITY 0"))
        assert score(ev) == -math.inf  # 1 + (-inf) + 0.5


class TestFileErrors:
    def test_missing_file(self, tmp_path):
        with pytest.raises(FileNotFoundError) as err:
            E.tsp_from_coord2d(str(tmp_path / "missing.txt"))
        assert err.value.args == ("No such file or directory (os error 2)",)

    def test_directory(self, tmp_path):
        with raises_panic(prefix="called `Result::unwrap()` on an `Err` value: ") as info:
            E.tsp_from_dist_matrix(str(tmp_path))
        assert "21" in info.value.args[0]

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads files regardless of permission")
    def test_permission(self, write):
        path = write("0 1\n1 0")
        os.chmod(path, 0)
        with pytest.raises(PermissionError):
            E.tsp_from_dist_matrix(path)

    def test_path_object_accepted(self, write):
        assert score(E.tsp_from_dms(pathlib.Path(write("0 0 0 N 0 0 0 E\n0 0 0 N 90 0 0 E\n")))) > 0


class TestCoordinatesAndDms:
    @pytest.mark.parametrize("content", ["0 0\n3 4\n", "0 0 3 4 7"])
    def test_coord2d(self, write, content):
        assert score(E.tsp_from_coord2d(write(content))) == 10.0

    def test_single_number_gives_an_empty_problem(self, write):
        p = P.array_problem(M.swap(0), E.tsp_from_coord2d(write("5")))
        with raises_panic(prefix="index out of bounds: the len is 0"):
            p.eval()

    def test_dms_quarter_circle(self, write):
        ev = E.tsp_from_dms(write("0 0 0 N 0 0 0 E\n0 0 0 N 90 0 0 E\n"))
        assert score(ev) == pytest.approx(2 * 12742 * math.asin(math.sqrt(0.5)))

    def test_dms_hemispheres(self, write):
        assert score(E.tsp_from_dms(write("0 0 0 N 0 0 0 E\n0 0 0 S 0 0 0 W\n"))) == 0.0
        assert score(E.tsp_from_dms(write("10 0 0 S 0 0 0 E\n10 0 0 s 0 0 0 E\n"))) > 0.0

    @pytest.mark.parametrize(
        "content, message",
        [("0 0 0 N 0 0 0\n", "index out of bounds: the len is 7 but the index is 7"),
         ("0 0 0 N 0 0 0 E\n\n", "index out of bounds: the len is 0 but the index is 0")],
    )
    def test_dms_short_lines(self, write, content, message):
        with raises_panic(message):
            E.tsp_from_dms(write(content))
