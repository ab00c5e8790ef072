"""The small files around TSPLIB and QAPLIB instances: city coordinates, optimal tours,
QAPLIB solutions and tables of optima. (The distance data itself is read natively, by
Evaluation.tsp_from_tsplib and Evaluation.qap_from_qaplib.)
"""

import csv
from os import PathLike

Path = str | PathLike[str]


def _words(path: Path) -> list[str]:
    with open(path, encoding="utf-8") as f:
        return f.read().replace(",", " ").split()


def tsplib_coordinates(path: Path) -> list[tuple[float, float]]:
    """The NODE_COORD_SECTION of a TSPLIB file as (x, y) pairs, city 1 first.

    The values are as written: for GEO instances they are DDD.MM latitude (x) and longitude (y).
    """
    points: dict[int, tuple[float, float]] = {}
    in_section = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fields = line.split()
            if not fields:
                continue
            if fields[0][0].isalpha():
                in_section = fields[0].rstrip(":") == "NODE_COORD_SECTION"
                continue
            if in_section:
                if len(fields) != 3:
                    raise ValueError(f"{path}, line {number}: expected 'index x y'")
                points[int(fields[0])] = (float(fields[1]), float(fields[2]))
    if sorted(points) != list(range(1, len(points) + 1)) or not points:
        raise ValueError(f"{path}: no complete NODE_COORD_SECTION")
    return [points[k] for k in range(1, len(points) + 1)]


def read_tour(path: Path) -> list[int]:
    """The TOUR_SECTION of a TSPLIB .tour file, as city indices from 0."""
    words = _words(path)
    if "TOUR_SECTION" not in words:
        raise ValueError(f"{path}: no TOUR_SECTION")
    tour = []
    for word in words[words.index("TOUR_SECTION") + 1 :]:
        city = int(word)
        if city == -1:
            break
        tour.append(city - 1)
    return tour


def read_qaplib_solution(path: Path, inverse: bool = False) -> tuple[int, list[int]]:
    """A QAPLIB .sln file: (objective value, permutation from 0).

    QAPLIB's permutation p gives each index i of the first matrix the index p(i) of the second;
    a kestrum solution lists, per position of the distance matrix, the value placed there, so it
    is p itself. Some published files list the inverse permutation: pass inverse=True for them.
    """
    words = _words(path)
    n, value = int(words[0]), int(words[1])
    p = [int(w) - 1 for w in words[2 : 2 + n]]
    if sorted(p) != list(range(n)):
        raise ValueError(f"{path}: not a permutation of 1..{n}")
    if inverse:
        q = [0] * n
        for i, v in enumerate(p):
            q[v] = i
        p = q
    return value, p


def read_optima(path: Path) -> dict[str, dict[str, str]]:
    """A tab-separated table with an 'instance' column, as {instance: {column: text}}."""
    with open(path, encoding="utf-8", newline="") as f:
        return {row["instance"]: row for row in csv.DictReader(f, delimiter="\t")}
