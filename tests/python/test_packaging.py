"""What the package brings besides the engine: its version, and the instances shipped in
kestrum_tools.data (each published solution scores its optimum)."""

import importlib.metadata
import tomllib
from pathlib import Path

import pytest

import kestrum
from kestrum_tools import data


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
