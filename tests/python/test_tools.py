"""kestrum_tools: run logs as arrays, plots written to files, and the instance side files."""

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("matplotlib")

import kestrum  # noqa: E402
import kestrum_tools  # noqa: E402
from kestrum_tools import (  # noqa: E402
    log_to_arrays,
    plot_convergence,
    plot_tour,
    read_optima,
    read_qaplib_solution,
    read_tour,
    tsplib_coordinates,
)

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch

# A 4-city square of side 1 visited in the crossing order 0 2 1 3: descent untangles it to 4.
SQUARE = [(0, 0), (1, 0), (1, 1), (0, 1)]


def square_log():
    matrix = [[((xa - xb) ** 2 + (ya - yb) ** 2) ** 0.5 for xb, yb in SQUARE] for xa, ya in SQUARE]
    p = P.array_problem(M.reverse(3), E.tsp(matrix))
    p.set_solution([0, 2, 1, 3])
    return LS.steepest_descent(True, p, T.always_true()).run(), p


class TestLogToArrays:
    def test_columns_keep_values_types_and_order(self):
        log = [(0, 9.0, 9.0, 0), (1500, 7.5, 7.5, 1), (2_000_000_000, 7.5, 8.0, 2)]
        a = log_to_arrays(log)
        assert a["elapsed_ns"].dtype == np.int64 and a["iteration"].dtype == np.int64
        assert a["best"].dtype == np.float64 and a["current"].dtype == np.float64
        assert a["elapsed_ns"].tolist() == [0, 1500, 2_000_000_000]
        assert a["seconds"].tolist() == [0.0, 1.5e-6, 2.0]
        assert a["best"].tolist() == [9.0, 7.5, 7.5]
        assert a["current"].tolist() == [9.0, 7.5, 8.0]
        assert a["iteration"].tolist() == [0, 1, 2]

    def test_a_real_run_log(self):
        log, _ = square_log()
        a = log_to_arrays(log)
        assert len(a["best"]) == len(log)
        assert a["best"][0] == pytest.approx(2 + 2 * 2**0.5)
        assert a["best"][-1] == pytest.approx(4.0)
        assert np.all(np.diff(a["best"]) <= 0)  # a minimising run's best never rises
        assert np.all(np.diff(a["elapsed_ns"]) >= 0)

    def test_empty_log_and_bad_rows(self):
        assert all(len(v) == 0 for v in log_to_arrays([]).values())
        with pytest.raises(ValueError, match="row 1 of the log has 3 fields, not 4"):
            log_to_arrays([(0, 1.0, 1.0, 0), (1, 1.0, 1.0)])


class TestPlots:
    def test_convergence_of_several_logs_is_written(self, tmp_path):
        log, _ = square_log()
        out = tmp_path / "conv.png"
        ax = plot_convergence([log, log], labels=["a", "b"], path=out)
        assert out.stat().st_size > 1000
        assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        assert len(ax.get_lines()) == 2
        assert [t.get_text() for t in ax.get_legend().get_texts()] == ["a", "b"]

    def test_a_single_log_and_a_given_axes(self, tmp_path):
        from matplotlib.figure import Figure

        ax = Figure().add_subplot()
        log, _ = square_log()
        assert plot_convergence(log, ax=ax) is ax
        xs, ys = ax.get_lines()[0].get_data()
        assert list(ys) == [row[1] for row in log]
        out = tmp_path / "conv.svg"
        plot_convergence([log], path=out)
        assert out.read_text().lstrip().startswith("<?xml")

    @pytest.mark.parametrize(
        "last_ns, unit, x_last",
        [(2_500_000_000, "s", 2.5), (2_500_000, "ms", 2.5), (2_500, "\u00b5s", 2.5)],
        ids=["seconds", "milliseconds", "microseconds"],
    )
    def test_time_axis_unit_follows_the_longest_run(self, last_ns, unit, x_last):
        short = [(0, 5.0, 5.0, 0), (last_ns // 5, 4.0, 4.0, 1)]
        long = [(0, 5.0, 5.0, 0), (last_ns, 3.0, 3.0, 7)]
        ax = plot_convergence([short, long])
        assert ax.get_xlabel() == f"elapsed time ({unit})"
        assert ax.get_lines()[1].get_data()[0][-1] == pytest.approx(x_last)

    def test_against_iterations(self):
        log = [(0, 5.0, 5.0, 0), (10, 4.0, 4.0, 3), (20, 4.0, 6.0, 9)]
        ax = plot_convergence(log, against="iteration")
        assert ax.get_xlabel() == "iteration"
        assert list(ax.get_lines()[0].get_data()[0]) == [0, 3, 9]
        with pytest.raises(ValueError, match="against must be 'time' or 'iteration', not 'seeds'"):
            plot_convergence(log, against="seeds")

    def test_label_count_must_match(self):
        log, _ = square_log()
        with pytest.raises(ValueError, match="1 labels for 2 logs"):
            plot_convergence([log, log], labels=["only"])

    def test_tour_is_closed_and_written(self, tmp_path):
        _, p = square_log()
        tour = p.best_solution()
        out = tmp_path / "tour.png"
        ax = plot_tour(SQUARE, tour, path=out, title="square")
        assert out.stat().st_size > 1000
        xs, ys = ax.get_lines()[0].get_data()
        assert len(xs) == 5 and (xs[0], ys[0]) == (xs[-1], ys[-1])
        assert ax.get_title() == "square"

    @pytest.mark.parametrize("tour", [[0, 1, 2], [0, 1, 2, 2], [0, 1, 2, 4]], ids=["short", "repeat", "outside"])
    def test_tour_must_be_a_permutation(self, tour):
        with pytest.raises(ValueError, match="not a permutation of the 4 cities"):
            plot_tour(SQUARE, tour)

    def test_missing_matplotlib_is_named(self, monkeypatch):
        import importlib

        real_import = importlib.import_module

        def refuse(name, *args):
            if name.startswith("matplotlib"):
                raise ImportError("no matplotlib here")
            return real_import(name, *args)

        monkeypatch.setattr(importlib, "import_module", refuse)
        with pytest.raises(ImportError, match="plot_tour needs matplotlib: pip install matplotlib"):
            plot_tour(SQUARE, [0, 1, 2, 3])


class TestInstanceFiles:
    def test_tsplib_coordinates_tour_and_solution(self, tmp_path):
        (tmp_path / "x.tsp").write_text(
            "NAME : x\nTYPE : TSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EUC_2D\n"
            "NODE_COORD_SECTION\n2 3.5 4\n1 0 0\n3 1e1 -2\nEOF\n"
        )
        assert tsplib_coordinates(tmp_path / "x.tsp") == [(0.0, 0.0), (3.5, 4.0), (10.0, -2.0)]
        (tmp_path / "x.opt.tour").write_text("NAME : x\nTYPE : TOUR\nTOUR_SECTION\n1\n3\n2\n-1\nEOF\n")
        assert read_tour(tmp_path / "x.opt.tour") == [0, 2, 1]
        (tmp_path / "x.sln").write_text(" 3  17\n2,3,1\n")
        assert read_qaplib_solution(tmp_path / "x.sln") == (17, [1, 2, 0])
        # p = (1 2 0) sends 0->1, 1->2, 2->0; its inverse sends 1->0, 2->1, 0->2.
        assert read_qaplib_solution(tmp_path / "x.sln", inverse=True) == (17, [2, 0, 1])

    def test_incomplete_files_are_refused(self, tmp_path):
        (tmp_path / "gap.tsp").write_text("DIMENSION : 3\nNODE_COORD_SECTION\n1 0 0\n3 1 1\n")
        with pytest.raises(ValueError, match="no complete NODE_COORD_SECTION"):
            tsplib_coordinates(tmp_path / "gap.tsp")
        (tmp_path / "bad.sln").write_text("3 5\n1 1 2\n")
        with pytest.raises(ValueError, match="not a permutation"):
            read_qaplib_solution(tmp_path / "bad.sln")

    def test_optima_table(self, tmp_path):
        (tmp_path / "optima.tsv").write_text("instance\tn\toptimum\nburma14\t14\t3323\n")
        assert read_optima(tmp_path / "optima.tsv") == {"burma14": {"instance": "burma14", "n": "14", "optimum": "3323"}}


def test_package_exports_resolve():
    assert {"log_to_arrays", "plot_convergence", "plot_tour", "read_optima", "read_qaplib_solution", "read_tour",
            "tsplib_coordinates"} <= set(kestrum_tools.__all__)
    assert all(callable(getattr(kestrum_tools, name)) for name in kestrum_tools.__all__)
