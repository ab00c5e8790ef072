# Type stubs for the kestrum extension module: local-search metaheuristics over permutations.
#
# Objects come only from the static constructors; none of the classes can be instantiated
# directly or subclassed. A fatal stop of the native code raises PanicException, a
# BaseException subclass that is not a module attribute (catch it with `except BaseException`).

from collections.abc import Buffer, Sequence
from os import PathLike
from typing import final

__all__ = [
    "LocalSearch",
    "Problem",
    "Termination",
    "IterationsPerTemp",
    "Cooling",
    "Evaluation",
    "MoveType",
    "benchmark",
]

# The package version (the project metadata's).
__version__: str

# One row of a run log: (elapsed nanoseconds, best score, current score, iteration).
_LogRow = tuple[int, float, float, int]

# Numbers may also come as a numeric buffer (a numpy array, array.array, memoryview).
_Floats = Sequence[float] | Buffer
_Matrix = Sequence[Sequence[float] | Buffer] | Buffer
# A file argument: a str, or an os.PathLike such as pathlib.Path (bytes only through __fspath__).
_Path = str | PathLike[str] | PathLike[bytes]

@final
class Evaluation:
    """An objective function: tour length, assignment cost or a bin-packing measure."""

    @staticmethod
    def empty_bins(weights: _Floats, max_fill: float) -> Evaluation: ...
    @staticmethod
    def empty_space(weights: _Floats, max_fill: float) -> Evaluation: ...
    @staticmethod
    def empty_space_exp(weights: _Floats, max_fill: float) -> Evaluation: ...
    @staticmethod
    def tsp(distance_matrix: _Matrix) -> Evaluation: ...
    @staticmethod
    def qap(distance_matrix: _Matrix, flow_matrix: _Matrix) -> Evaluation: ...
    @staticmethod
    def tsp_from_dist_matrix(file: _Path) -> Evaluation: ...
    @staticmethod
    def tsp_from_coord2d(file: _Path) -> Evaluation: ...
    @staticmethod
    def tsp_from_dms(file: _Path) -> Evaluation: ...
    @staticmethod
    def tsp_from_tsplib(file: _Path, *, dense: bool = True) -> Evaluation: ...
    @staticmethod
    def qap_from_qaplib(file: _Path) -> Evaluation: ...
    # Cities as points, distances computed on demand; metric: "euclidean", "euc_2d",
    # "ceil_2d", "att" or "geo".
    @staticmethod
    def tsp_from_points(points: Sequence[Sequence[float] | Buffer] | Buffer, metric: str = "euclidean") -> Evaluation: ...

@final
class MoveType:
    """A neighbourhood with its own random generator (seeded, or from the OS without a seed)."""

    @staticmethod
    def swap(seed: int | None = None) -> MoveType: ...
    @staticmethod
    def reverse(seed: int | None = None) -> MoveType: ...
    @staticmethod
    def swap_tsp(seed: int | None = None) -> MoveType: ...
    @staticmethod
    def multi_neighbor(move_array: Sequence[MoveType], weights: _Floats | None = None) -> MoveType: ...

@final
class Problem:
    """A permutation with its move type and evaluation; shared by every search built on it."""

    @staticmethod
    def array_problem(move_type: MoveType, evaluation: Evaluation) -> Problem: ...
    def set_eval_type(self, eval_type: Evaluation) -> None: ...
    def set_move_type(self, move_type: MoveType) -> None: ...
    def reset(self) -> None: ...
    def eval(self) -> float: ...
    def set_seed(self, seed: int) -> None: ...
    def solution(self) -> list[int]: ...
    def best_solution(self) -> list[int]: ...
    def set_solution(self, permutation: Sequence[int]) -> None:
        """A warm start: the permutation becomes both the current and the best solution.

        Like reset() from the identity, it is a fresh start: the best solution found before is
        replaced, and a search that finds nothing better leaves best_solution() at the
        permutation given.
        """

@final
class Termination:
    """A stop criterion; a search keeps its own copy."""

    @staticmethod
    def max_sec(max_sec: int) -> Termination: ...
    @staticmethod
    def always_true() -> Termination: ...
    @staticmethod
    def max_iterations(max_iterations: int) -> Termination: ...
    @staticmethod
    def min_temp(min_temp: int) -> Termination: ...
    @staticmethod
    def multi_crit_and(vec: Sequence[Termination]) -> Termination: ...
    @staticmethod
    def multi_crit_or(vec: Sequence[Termination]) -> Termination: ...
    @staticmethod
    def must_improve() -> Termination: ...
    @staticmethod
    def no_improve(iter_without_imp: int) -> Termination: ...

@final
class IterationsPerTemp:
    """How many simulated-annealing iterations run at each temperature."""

    @staticmethod
    def cnst_iter_temp(iterations: int) -> IterationsPerTemp: ...

@final
class Cooling:
    """How simulated annealing lowers its temperature."""

    @staticmethod
    def geometric_cooling(alpha: float) -> Cooling: ...

@final
class LocalSearch:
    """One search over a shared Problem."""

    @staticmethod
    def simulated_annealing(
        start_temp: int,
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        cooling_function: Cooling,
        iterations_temperature: IterationsPerTemp,
    ) -> LocalSearch: ...
    @staticmethod
    def steepest_descent(minimize: bool, problem: Problem, termination_function: Termination) -> LocalSearch: ...
    @staticmethod
    def tabu_search(
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        tabu_list_size: int | None = None,
        *,
        canonical_tours: bool = False,
    ) -> LocalSearch: ...
    @staticmethod
    def vns(minimize: bool, problem: Problem, termination_function: Termination) -> LocalSearch: ...
    def run(self) -> list[_LogRow]: ...
    def reset(self) -> None: ...
    def set_problem(self, problem: Problem) -> None: ...
    def set_termination(self, termination_function: Termination) -> None: ...
    def set_acceptance_seed(self, seed: int | None = None) -> None: ...

def benchmark(
    algorithms: Sequence[LocalSearch],
    problems: Sequence[Problem],
    termination_function: Termination | None = None,
    runs: int | None = None,
    seeds: Sequence[int] | None = None,
) -> list[list[list[list[_LogRow]]]]:
    """Runs every search on every problem once per seed: result[search][problem][seed] is a log."""
