"""The library-format readers against hostile files, and every reader's file argument."""

import os
import pathlib

import pytest

import kestrum
import kestrum_tools

E, M, P = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem

READERS = ["tsp_from_dist_matrix", "tsp_from_coord2d", "tsp_from_dms", "tsp_from_tsplib", "qap_from_qaplib"]
CONTENT = {
    "tsp_from_dist_matrix": "0 1\n1 0\n",
    "tsp_from_coord2d": "0 0\n3 4\n",
    "tsp_from_dms": "0 0 0 N 0 0 0 E\n0 0 0 N 1 0 0 E\n",
    "tsp_from_tsplib": "DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n"
                       "EDGE_WEIGHT_SECTION\n5\nEOF\n",
    "qap_from_qaplib": "2\n0 1\n1 0\n0 2\n2 0\n",
}


def score(evaluation):
    return P.array_problem(M.swap(0), evaluation).eval()


class TestTsplibSectionsKeepTheirMeaning:
    # A keyword after a section used to rebuild the matrix from that section's weights under
    # the new layout, reading past their end: heap contents became distances.
    HEAD = "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\nEDGE_WEIGHT_SECTION\n"

    @pytest.mark.parametrize(
        "tail, message",
        [("1 1 1\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\nEOF\n",
          "line 6: EDGE_WEIGHT_FORMAT after EDGE_WEIGHT_SECTION would change how that section was read"),
         ("1 2\n3\nDIMENSION: 2\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n", "line 7: DIMENSION given twice"),
         ("1 1 1\nEDGE_WEIGHT_TYPE: GEO\n",
          "line 6: EDGE_WEIGHT_TYPE after EDGE_WEIGHT_SECTION would change how that section was read")],
        ids=["format", "dimension", "type"],
    )
    def test_keyword_after_the_section_is_refused(self, tmp_path, tail, message):
        path = tmp_path / "t.tsp"
        path.write_text(self.HEAD + tail)
        with pytest.raises(ValueError) as err:
            E.tsp_from_tsplib(str(path))
        assert err.value.args == (message,)

    @pytest.mark.parametrize(
        "head, message",
        [("DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_TYPE: EUC_2D\n",
          "line 4: EDGE_WEIGHT_TYPE given twice"),
         ("DIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n",
          "line 4: EDGE_WEIGHT_FORMAT given twice")],
        ids=["type", "format"],
    )
    def test_a_keyword_given_twice_before_the_section_is_refused(self, tmp_path, head, message):
        path = tmp_path / "t.tsp"
        path.write_text(head + "EDGE_WEIGHT_SECTION\n0 1\n1 0\nEOF\n")
        with pytest.raises(ValueError) as err:
            E.tsp_from_tsplib(str(path))
        assert err.value.args == (message,)

    def test_the_same_weights_before_the_section_read_as_written(self, tmp_path):
        path = tmp_path / "t.tsp"
        path.write_text(self.HEAD + "1 1 1\nEOF\n")
        assert score(E.tsp_from_tsplib(str(path))) == 3.0

    def test_a_large_case_no_longer_crashes(self, tmp_path):
        n = 3000
        path = tmp_path / "t.tsp"
        weights = " ".join(["1"] * (n * (n - 1) // 2))
        path.write_text(self.HEAD.replace("3", str(n)) + weights + "\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\nEOF\n")
        with pytest.raises(ValueError, match="^line 6: EDGE_WEIGHT_FORMAT after EDGE_WEIGHT_SECTION"):
            E.tsp_from_tsplib(str(path))


class TestFileArguments:
    @pytest.fixture(params=READERS)
    def reader(self, request, tmp_path):
        path = tmp_path / "data.txt"
        path.write_text(CONTENT[request.param])
        return getattr(E, request.param), path

    def test_str_and_path_read_the_same(self, reader):
        read, path = reader
        assert score(read(path)) == score(read(str(path)))
        assert score(read(file=path)) == score(read(str(path)))

    def test_any_path_like(self, reader):
        read, path = reader

        class Text(os.PathLike):
            def __fspath__(self):
                return str(path)

        class Raw:  # os.PathLike by protocol, giving the path as bytes
            def __fspath__(self):
                return os.fsencode(path)

        assert score(read(Text())) == score(read(Raw())) == score(read(str(path)))

    @pytest.mark.parametrize(
        "argument, name",
        [(3, "int"), (b"data.txt", "bytes"), (None, "NoneType"), (["a"], "list"), (pathlib.Path, "type")],
        ids=["int", "bytes", "none", "list", "path-class"],
    )
    def test_other_types_keep_the_message(self, reader, argument, name):
        read, _ = reader
        with pytest.raises(TypeError) as err:
            read(argument)
        assert str(err.value) == f"argument 'file': '{name}' object cannot be converted to 'PyString'"

    def test_fspath_errors_pass_through(self, reader):
        read, _ = reader

        class Broken:
            def __fspath__(self):
                raise LookupError("no path today")

        class Wrong:
            def __fspath__(self):
                return 7

        with pytest.raises(LookupError, match="no path today"):
            read(Broken())
        with pytest.raises(TypeError, match="__fspath__"):
            read(Wrong())

    def test_missing_path_object(self, tmp_path):
        with pytest.raises(FileNotFoundError) as err:
            E.tsp_from_dms(tmp_path / "missing.txt")
        assert err.value.args == ("No such file or directory (os error 2)",)


class TestToolsFileArguments:
    def test_readers_take_paths(self, tmp_path):
        tour = tmp_path / "a.tour"
        tour.write_text("NAME: a\nTOUR_SECTION\n2\n1\n3\n-1\nEOF\n")
        sln = tmp_path / "a.sln"
        sln.write_text("3 10\n2 3 1\n")
        tsp = tmp_path / "a.tsp"
        tsp.write_text("NODE_COORD_SECTION\n1 0 0\n2 3 4\nEOF\n")
        table = tmp_path / "optima.tsv"
        table.write_text("instance\toptimum\na\t10\n")
        for path in (tour, sln, tsp, table):
            assert isinstance(path, os.PathLike)
        assert kestrum_tools.read_tour(tour) == [1, 0, 2]
        assert kestrum_tools.read_qaplib_solution(sln) == (10, [1, 2, 0])
        assert kestrum_tools.tsplib_coordinates(tsp) == [(0.0, 0.0), (3.0, 4.0)]
        assert kestrum_tools.read_optima(table) == {"a": {"instance": "a", "optimum": "10"}}


class TestCoordinatesKeepTheirRule:
    def test_weight_type_after_the_coordinates_is_refused(self, tmp_path):
        # The coordinates were read for EUC_2D; a later GEO would rebuild them under another rule.
        path = tmp_path / "t.tsp"
        path.write_text("DIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 0 1\n3 1 1\n"
                        "EDGE_WEIGHT_TYPE: GEO\nEOF\n")
        for dense in (True, False):
            with pytest.raises(ValueError) as err:
                E.tsp_from_tsplib(str(path), dense=dense)
            assert err.value.args == (
                "line 7: EDGE_WEIGHT_TYPE after NODE_COORD_SECTION would change how that section was read",)
