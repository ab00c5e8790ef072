"""The kinds the tests walk, each listed once with the arguments it is built with: searches (the
factories of LocalSearch), move types, evaluations and criteria. Every factory of these classes
must have its row here, and one without fails at import, naming it: a new kind then joins every
suite that walks these lists (through the fixtures of conftest.py) as soon as its row is written.
"""

from typing import Callable, NamedTuple

import kestrum

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
Cooling, PerTemp = kestrum.Cooling, kestrum.IterationsPerTemp


def factories(cls):
    """The names of `cls`'s factories: its public static methods."""
    return sorted(n for n, v in vars(cls).items() if isinstance(v, staticmethod) and not n.startswith("_"))


def _check_rows(family, cls, rows):
    missing = sorted(set(factories(cls)) - set(rows))
    unknown = sorted(set(rows) - set(factories(cls)))
    if missing or unknown:
        raise AssertionError(f"tests/python/kinds.py: the {family} table has no row for {missing}"
                             f" and rows for factories that do not exist: {unknown}")


# ---------------------------------------------------------------- move types

# The simple kinds, each built from a seed.
SIMPLE_MOVES = {"reverse": M.reverse, "swap": M.swap, "swap_tsp": M.swap_tsp, "or_opt": M.or_opt}
# Every kind: a multi-neighbourhood holds one of each exchange and a reversal.
MOVE_KINDS = SIMPLE_MOVES | {
    "multi_neighbor": lambda seed=None: M.multi_neighbor(
        [M.swap(seed), M.reverse(None if seed is None else seed + 1), M.swap_tsp(None if seed is None else seed + 2)]),
}
_check_rows("move type", M, MOVE_KINDS)


def move_type(kind, seed=1):
    return MOVE_KINDS[kind](seed)


# ---------------------------------------------------------------- evaluations

def weighted_positions(solution):
    """A caller's objective: position k weighs k % 7 + 1, so every move that changes the
    solution changes its score. At module level, so that pickle finds it."""
    return float(sum((k % 7 + 1) * v for k, v in enumerate(solution)))


def weights_of(n, seed=1):
    return [float((7 * k + 3 * seed) % 9 + 1) for k in range(n)]


def matrix_of(n, seed=1, symmetric=True):
    """Small integers, zero on the diagonal: every score and delta is exact."""
    def entry(a, b):
        if a == b:
            return 0.0
        if symmetric:
            a, b = min(a, b), max(a, b)
        return float((5 * a + 3 * b + seed) % 11 + 1)
    return [[entry(a, b) for b in range(n)] for a in range(n)]


def points_of(n, seed=1):
    return [[float((7 * k + seed) % 11), float((5 * k * k + seed) % 13)] for k in range(n)]


class EvaluationKind(NamedTuple):
    name: str  # the evaluation's `kind`
    # (n, seed) -> an evaluation of n positions over seeded data; None for a reader, whose
    # evaluations come from files (test_readers.py and test_files.py walk them).
    build: Callable | None


# Keyed by factory.
EVALUATIONS = {
    "empty_bins": EvaluationKind("empty_bins", lambda n, seed=1: E.empty_bins(weights_of(n, seed), 12.0)),
    "empty_space": EvaluationKind("empty_space", lambda n, seed=1: E.empty_space(weights_of(n, seed), 12.0)),
    "empty_space_exp": EvaluationKind("empty_space_exp",
                                      lambda n, seed=1: E.empty_space_exp(weights_of(n, seed), 12.0)),
    "tsp": EvaluationKind("tsp", lambda n, seed=1: E.tsp(matrix_of(n, seed))),
    "qap": EvaluationKind("qap", lambda n, seed=1: E.qap(matrix_of(n, seed), matrix_of(n, seed + 1, False))),
    "tsp_from_points": EvaluationKind("tsp_points", lambda n, seed=1: E.tsp_from_points(points_of(n, seed), "euc_2d")),
    "custom": EvaluationKind("custom", lambda n, seed=1: E.custom(n, weighted_positions)),
    "bin_packing": EvaluationKind("bin_packing", lambda n, seed=1: E.bin_packing(weights_of(n, seed), 12.0)),
    "tsp_from_dist_matrix": EvaluationKind("tsp", None),
    "tsp_from_coord2d": EvaluationKind("tsp", None),
    "tsp_from_dms": EvaluationKind("tsp", None),
    "tsp_from_tsplib": EvaluationKind("tsp", None),
    "qap_from_qaplib": EvaluationKind("qap", None),
}
_check_rows("evaluation", E, EVALUATIONS)
# The factories that build from data, one per kind of evaluation.
BUILT_EVALUATIONS = [name for name, row in EVALUATIONS.items() if row.build is not None]


def evaluation(factory, n, seed=1):
    return EVALUATIONS[factory].build(n, seed)


# ---------------------------------------------------------------- criteria

CRITERIA = {
    "always_true": lambda: T.always_true(),
    "max_iterations": lambda: T.max_iterations(5),
    "max_sec": lambda: T.max_sec(60),
    "min_temp": lambda: T.min_temp(1),
    "multi_crit_and": lambda: T.multi_crit_and([T.max_iterations(5), T.no_improve(2)]),
    "multi_crit_or": lambda: T.multi_crit_or([T.max_iterations(5), T.must_improve()]),
    "must_improve": lambda: T.must_improve(),
    "no_improve": lambda: T.no_improve(3),
    "time_limit": lambda: T.time_limit(60.0),
}
_check_rows("criterion", T, CRITERIA)


# ---------------------------------------------------------------- searches

class SearchKind(NamedTuple):
    name: str  # its factory
    # (minimize, problem, termination) -> the search, with small settings and a fixed seed.
    build: Callable
    # The simple move kinds it runs on; a search asked for another gets the first of these.
    moves: tuple
    # Whether it runs on a multi-neighbourhood of them rather than on one kind.
    multi: bool = False

    def move_type(self, kind="swap", seed=1):
        simple = SIMPLE_MOVES[kind if kind in self.moves else self.moves[0]](seed)
        return M.multi_neighbor([simple, M.reverse(seed + 1)]) if self.multi else simple

    def problem(self, evaluation, kind="swap", seed=1):
        return P.array_problem(self.move_type(kind, seed), evaluation)

    def __call__(self, minimize, problem, termination):
        search = self.build(minimize, problem, termination)
        search.set_acceptance_seed(7)  # simulated annealing's acceptance; the others ignore it
        return search


ALL_MOVES = tuple(SIMPLE_MOVES)
SEARCH_KINDS = {s.name: s for s in [
    SearchKind("steepest_descent", lambda m, p, t: LS.steepest_descent(m, p, t), ALL_MOVES),
    SearchKind("simulated_annealing",
               lambda m, p, t: LS.simulated_annealing(20, m, p, t, Cooling.geometric_cooling(0.9),
                                                      PerTemp.cnst_iter_temp(4)), ALL_MOVES),
    SearchKind("tabu_search", lambda m, p, t: LS.tabu_search(m, p, t, 5), ALL_MOVES),
    SearchKind("vns", lambda m, p, t: LS.vns(m, p, t), ALL_MOVES, multi=True),
    SearchKind("iterated_local_search", lambda m, p, t: LS.iterated_local_search(m, p, t, 3, seed=4), ALL_MOVES),
    # It only exchanges positions: a reversal or a segment move is refused when it is built.
    SearchKind("robust_tabu_search", lambda m, p, t: LS.robust_tabu_search(m, p, t, seed=1),
               ("swap", "swap_tsp")),
    SearchKind("annealing", lambda m, p, t: LS.annealing(m, p, t, seed=2), ALL_MOVES),
]}
_check_rows("search", LS, SEARCH_KINDS)
SEARCHES = list(SEARCH_KINDS)


def search(name, minimize, problem, termination):
    return SEARCH_KINDS[name](minimize, problem, termination)
