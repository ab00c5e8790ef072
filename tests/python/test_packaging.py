"""What the package brings besides the engine: its version, and the instances shipped in
kestrum_tools.data (each published solution scores its optimum)."""

import importlib.metadata
import tomllib
from pathlib import Path

import pytest

import kestrum
from kestrum_tools import data


@pytest.fixture(autouse=True)
def only_shipped(monkeypatch):
    # What is shipped, whatever collection the machine running the tests points at.
    monkeypatch.delenv("KESTRUM_DATA", raising=False)


@pytest.mark.parametrize("name", list(data.INSTANCES))
def test_published_solution_scores_the_optimum(name):
    p = kestrum.Problem.array_problem(kestrum.MoveType.swap(0), data.evaluation(name))
    tour = data.solution(name)
    assert sorted(tour) == list(range(len(tour)))
    p.set_solution(tour)
    assert p.eval() == data.optimum(name)


def test_folders_are_laid_out_like_the_collection():
    for library, suffix in (("tsplib", ".tsp"), ("qaplib", ".dat")):
        names = {name for name, lib in data.INSTANCES.items() if lib == library}
        files = {f.name.removesuffix(suffix) for f in data.folder(library).glob("*" + suffix)}
        assert files == names
        assert (data.folder(library) / "optima.tsv").is_file()


def test_unknown_names_are_refused():
    with pytest.raises(ValueError, match="no shipped instance 'eil51'; the shipped ones are berlin52, "):
        data.evaluation("eil51")
    with pytest.raises(ValueError, match="library must be 'tsplib' or 'qaplib'"):
        data.folder("tsp")


class TestCollection:
    """A collection folder, given or from $KESTRUM_DATA, is read before the shipped instances."""

    @pytest.fixture
    def collection(self, tmp_path):
        tsplib = tmp_path / "tsplib"
        tsplib.mkdir()
        (tsplib / "tri3.tsp").write_text(
            "NAME: tri3\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\nEOF\n")
        (tsplib / "tri3.opt.tour").write_text("TOUR_SECTION\n1\n3\n2\n-1\n")
        (tsplib / "optima.tsv").write_text("instance\toptimum\ntri3\t12\n")
        return tmp_path

    @pytest.mark.parametrize("how", ["root", "env", "env-pathlike"])
    def test_instances_of_the_collection(self, collection, monkeypatch, how):
        kwargs = {"root": str(collection)} if how == "root" else {}
        if how != "root":
            monkeypatch.setenv("KESTRUM_DATA", str(collection))
        assert data.root(**kwargs) == collection
        assert data.path("tri3", **kwargs) == collection / "tsplib" / "tri3.tsp"
        assert data.folder("tsplib", **kwargs) == collection / "tsplib"
        assert (data.optimum("tri3", **kwargs), data.solution("tri3", **kwargs)) == (12.0, [0, 2, 1])
        p = kestrum.Problem.array_problem(kestrum.MoveType.swap(0), data.evaluation("tri3", **kwargs))
        assert p.eval() == 12.0
        # A library the collection lacks comes from what is shipped.
        assert data.folder("qaplib", **kwargs) == data.folder("qaplib", root=collection / "elsewhere")
        assert data.optimum("nug12", **kwargs) == 289.0

    def test_collection_first_and_its_refusals(self, collection):
        with pytest.raises(ValueError, match=r"^no instance 'eil51' in .* nor among the shipped ones \(berlin52, "):
            data.path("eil51", root=collection)
        assert data.optimum("berlin52", root=collection) == 7542.0  # shipped, with its own table
        (collection / "tsplib" / "optima.tsv").write_text("instance\toptimum\ntri3\t-\n")
        with pytest.raises(ValueError, match=r"gives no value in kestrum's score for 'tri3' \('-'\)$"):
            data.optimum("tri3", root=collection)
        (collection / "tsplib" / "tri3.opt.tour").unlink()
        with pytest.raises(ValueError, match=r"^no published optimal tour for 'tri3' in "):
            data.solution("tri3", root=collection)
        assert data.root() is None


def test_version_is_the_project_version():
    pyproject = Path(__file__).resolve().parents[2] / "pyproject.toml"
    if pyproject.is_file():
        with open(pyproject, "rb") as f:
            assert kestrum.__version__ == tomllib.load(f)["project"]["version"]
    try:
        installed = importlib.metadata.version("kestrum")
    except importlib.metadata.PackageNotFoundError:  # run against a build tree (make sanitize)
        return
    if Path(kestrum.__file__).resolve().parent == Path(importlib.metadata.distribution("kestrum").locate_file("")).resolve():
        assert kestrum.__version__ == installed
