# Type stubs for the kestrum extension module: local-search metaheuristics over permutations.
#
# Objects come only from the static constructors; none of the classes can be instantiated
# directly or subclassed. A fatal stop of the native code raises PanicException, a
# BaseException subclass that is not a module attribute (catch it with `except BaseException`).
#
# The docstrings here are the module's documentation: editors show them, and the API reference
# of the documentation site is generated from them (the native methods' own __doc__ holds
# their text signatures).

"""Native local-search metaheuristics over permutations.

Build an objective (`Evaluation`), a neighbourhood (`MoveType`), a `Problem` from the two, a
stop criterion (`Termination`) and a search (`LocalSearch`); `LocalSearch.run` returns the
run's log and the problem keeps the best solution found. `benchmark` runs many searches on
many problems over many seeds.

Objects come only from the static constructors; none of the classes can be instantiated
directly or subclassed. A fatal stop of the native code raises `PanicException`, a
`BaseException` subclass that is not a module attribute: catch it with `except BaseException`
and recognise it by `type(e).__name__`.
"""

from collections.abc import Buffer, Callable, Sequence
from os import PathLike
from typing import Final, Literal, final

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

# Evaluation.custom: `evaluate(solution)` and `delta(solution, kind, i, j)` get the solution as a
# read-only memoryview of uint32 (format "I"), valid only during the call. Either may instead be
# a native entry point (scipy.LowLevelCallable, a ctypes function pointer, a numba cfunc) with
# the C signatures double (const uint32_t *, intptr_t, void *) and
# double (const uint32_t *, intptr_t, int, intptr_t, intptr_t, void *).
_Evaluate = Callable[[memoryview], float] | object
_Delta = Callable[[memoryview, int, int, int], float] | object
# delta_row(solution, kind, i, j_begin, j_end): the changes of the moves (i, j) for j in
# range(j_begin, j_end); natively void (const uint32_t *, intptr_t, int, intptr_t, intptr_t,
# intptr_t, double *out, void *).
_DeltaRow = Callable[[memoryview, int, int, int, int], Sequence[float] | Buffer] | object

# The move kinds a custom delta is told: reversal of positions i..j, exchange of i and j.
MOVE_REVERSE: Final = 0
MOVE_SWAP: Final = 1

@final
class Evaluation:
    """An objective function: tour length, assignment cost or a bin-packing measure.

    A value: a `Problem` keeps its own copy, and nothing can change an evaluation once built.
    Its matrices are shared, not copied, by every problem and search built from it. Whether
    lower or higher scores are better is decided by the search (`minimize`), never here.
    Lists and matrices accept any sequence, or a numeric buffer (a numpy array) read directly.
    """

    @property
    def kind(self) -> Literal[
        "empty_bins", "empty_space", "empty_space_exp", "tsp", "tsp_points", "qap", "custom", "bin_packing"
    ]:
        """The factory family that built it: `"tsp"` for a tour over a matrix (every reader
        but a coordinate file read with `dense=False`), `"tsp_points"` for a tour over points,
        `"qap"` for an assignment, the bin-packing factory's name, or `"custom"`. Read-only."""
    @property
    def symmetric(self) -> bool | None:
        """For a tour or an assignment, whether the matrices its score reads are exactly
        symmetric (always True over points); None for the bin-packing measures and custom objectives.
        Read-only."""

    @staticmethod
    def empty_bins(weights: _Floats, max_fill: float) -> Evaluation:
        """Bin packing scored by the number of bins started after the first.

        The solution is the packing order of the items: each goes into the current bin, and a
        new bin is started when `fill + weight > max_fill`. The score is bins used - 1.

        Args:
            weights: the weight of each item; the problem size is their number.
            max_fill: the capacity of one bin.
        """
    @staticmethod
    def empty_space(weights: _Floats, max_fill: float) -> Evaluation:
        """Bin packing scored by the free capacity of every bin, the last one included.

        Packs as `empty_bins` does; the score is bins used x `max_fill` - total weight (an
        empty solution scores `max_fill`).
        """
    @staticmethod
    def empty_space_exp(weights: _Floats, max_fill: float) -> Evaluation:
        """Bin packing scored by the sum of each bin's free capacity squared.

        Packs as `empty_bins` does. Squaring rewards packings that leave the free space in
        few bins, which makes this measure the easiest of the three to descend on.
        """
    @staticmethod
    def bin_packing(weights: _Floats, capacity: float) -> Evaluation:
        """Bin packing by first fit, scored so that fewer and fuller bins win.

        The solution is a priority order: each item, in order, goes into the lowest-numbered
        bin with room for it (`fill + weight <= capacity`), else into a new bin, so every
        packing is the decoding of some order. The score, minimised, is bins used -
        (sum over bins of (fill / capacity) ** 2) / bins used: fewer bins always score lower,
        and among packings with as many bins the one with fuller bins does. No items score 0.
        `kestrum_tools.first_fit` returns the packing of an order. Iterated local search
        works on its bins directly.

        Args:
            weights: the weight of each item, finite, at least 0 and at most `capacity`; the
                problem size is their number.
            capacity: the capacity of one bin, finite and positive.

        Raises:
            ValueError: naming the weight or capacity refused.
        """
    @staticmethod
    def tsp(distance_matrix: _Matrix) -> Evaluation:
        """The length of the closed tour through the cities in solution order.

        Args:
            distance_matrix: n rows of n distances; `distance_matrix[a][b]` is the distance
                from city a to city b. It may be asymmetric; symmetry is detected exactly (on
                the n x n block the score reads) and selects the constant-time reversal delta.
                A C-contiguous numeric buffer is kept without a copy.
        """
    @staticmethod
    def qap(distance_matrix: _Matrix, flow_matrix: _Matrix) -> Evaluation:
        """The quadratic assignment cost: facilities (values) placed on locations (positions).

        The score sums `distance_matrix[a][b] * flow_matrix[s[a]][s[b]]` over the position
        pairs a < b, each unordered pair once: for symmetric matrices with zero diagonals that
        is half the QAPLIB objective.

        Args:
            distance_matrix: distances between locations, indexed by positions.
            flow_matrix: flows between facilities, indexed by the values placed.
        """
    @staticmethod
    def tsp_from_dist_matrix(file: _Path) -> Evaluation:
        """A tour over the distance matrix in a text file.

        All numbers of the file, row after row, however they are spread over lines; lines
        holding `#` are skipped. Their count must be a square (else `OSError` "distanceMatrix
        is not a square") and every diagonal entry 0.
        """
    @staticmethod
    def tsp_from_coord2d(file: _Path) -> Evaluation:
        """A tour over points in a text file: numbers in x, y pairs, plain Euclidean distances.

        Lines holding `#` are skipped; an odd last number is ignored.
        """
    @staticmethod
    def tsp_from_dms(file: _Path) -> Evaluation:
        """A tour over geographic positions in a text file, great-circle distances in km.

        One location per line: latitude degrees, minutes, seconds, hemisphere (`S` negates),
        then longitude degrees, minutes, seconds, hemisphere (`W` negates). Lines holding
        `#` are skipped.
        """
    @staticmethod
    def tsp_from_tsplib(file: _Path, *, dense: bool = True) -> Evaluation:
        """A tour over a TSPLIB `.tsp` or `.atsp` file, with TSPLIB's own distances.

        Coordinates (`EUC_2D`, `CEIL_2D`, `ATT`, `GEO`) become TSPLIB's integer distances, so
        a tour scores exactly its published length; `EXPLICIT` weights are read in every
        full and triangular layout. The diagonal is always 0.

        Args:
            file: the file's path (`str` or `os.PathLike`).
            dense: with False, a coordinate file keeps its points and computes distances when
                read (as `tsp_from_points` with the file's metric) instead of building a matrix.

        Raises:
            ValueError: the file breaks its format; the message names the line.
            OSError: the file cannot be opened.
        """
    @staticmethod
    def qap_from_qaplib(file: _Path) -> Evaluation:
        """An assignment over a QAPLIB `.dat` file: n, then the matrix A, then the matrix B.

        A becomes the distance matrix and B the flow matrix, so a QAPLIB permutation written
        from 0 is directly a solution. The score is half the QAPLIB objective for symmetric
        instances (see `qap`).

        Raises:
            ValueError: the file breaks its format; the message names the line.
            OSError: the file cannot be opened.
        """
    @staticmethod
    def tsp_from_points(points: Sequence[Sequence[float] | Buffer] | Buffer, metric: str = "euclidean") -> Evaluation:
        """A tour over points, each distance computed when a search reads it.

        Holds the coordinates only (16 bytes per city), so very large instances fit in memory.
        Every search and move type gives the same results as on the matrix of the same
        distances.

        Args:
            points: n points as an (n, 2) numeric buffer or a sequence of (x, y) pairs.
            metric: `"euclidean"` (the plain double), or one of TSPLIB's integer rules
                `"euc_2d"`, `"ceil_2d"`, `"att"`, `"geo"` (the distances `tsp_from_tsplib`
                computes).

        Raises:
            ValueError: no point at all, a wrong shape, a coordinate that is not finite, or an
                unknown metric.
        """
    @staticmethod
    def custom(size: int, evaluate: _Evaluate, delta: _Delta | None = None, *, delta_row: _DeltaRow | None = None) -> Evaluation:
        """Your own objective over permutations of `size` positions, searched by the native loops.

        `evaluate(solution)` returns the score of a permutation. `delta(solution, kind, i, j)`,
        when given, returns the change of the score the move would make, without applying it:
        `kind` is `MOVE_REVERSE` (positions i..j reversed) or `MOVE_SWAP` (i and j exchanged).
        Without `delta` a move is scored by applying it to a private copy, evaluating it and
        undoing it. A Python callable gets the solution as a read-only memoryview of uint32,
        valid only during the call, and must return a number; an exception, or anything but
        a number, stops the run as a criterion would and propagates with the log so far.

        Either may instead be a native entry point (a `scipy.LowLevelCallable`, a ctypes
        function pointer, a numba `cfunc`) with the C signatures
        `double (const uint32_t *solution, intptr_t n, void *user_data)` and
        `double (const uint32_t *solution, intptr_t n, int kind, intptr_t i, intptr_t j, void *user_data)`,
        called without the interpreter lock.

        `delta_row(solution, kind, i, j_begin, j_end)`, when given, scores the moves (i, j) for
        j in range(j_begin, j_end) in one call and is used by full scans: a Python callable
        returns the changes as a sequence of numbers (ValueError for another length), a native
        one has the signature `void (const uint32_t *solution, intptr_t n, int kind,
        intptr_t i, intptr_t j_begin, intptr_t j_end, double *out, void *user_data)` and
        writes them to `out`. Without `delta`, single moves are scored by it too.

        Pickles and copies through its callables (when they pickle).

        Raises:
            TypeError: a callable that is neither, or a native entry point of another signature.
        """

@final
class MoveType:
    """A neighbourhood with its own random generator (seeded, or from the OS without a seed).

    A move is a pair of positions i < j. A scan enumerates the moves in the order (0, 1),
    (0, 2), ..., (n - 2, n - 1); tie rules of the searches refer to this order. An `or_opt`
    pair carries up to ten moves, scanned in a fixed order after the pair. A value: a
    problem keeps its own copy, generator state included.
    """

    @staticmethod
    def swap(seed: int | None = None) -> MoveType:
        """Exchange the entries at two positions.

        Args:
            seed: an unsigned 64-bit seed for the random moves; None draws one from the OS.
        """
    @staticmethod
    def reverse(seed: int | None = None) -> MoveType:
        """Reverse the run of positions i..j: a 2-opt move on a symmetric tour.

        Args:
            seed: an unsigned 64-bit seed for the random moves; None draws one from the OS.
        """
    @staticmethod
    def swap_tsp(seed: int | None = None) -> MoveType:
        """Exchange two entries, never moving position 0 (a tour with a fixed start city).

        Args:
            seed: an unsigned 64-bit seed for the random moves; None draws one from the OS.
        """
    @staticmethod
    def multi_neighbor(move_array: Sequence[MoveType], weights: _Floats | None = None) -> MoveType:
        """An ordered list of simple move types, the neighbourhoods of variable neighbourhood search.

        The other searches refuse it. Each member keeps its own generator.

        Args:
            move_array: the simple move types, in the order the search visits them; a
                multi-neighbour member is refused.
            weights: stored with the list (1/k each by default); no search reads them.
        """
    @staticmethod
    def or_opt(seed: int | None = None) -> MoveType:
        """Move a segment of 1 to 3 positions elsewhere, as it was or reversed (Or-opt).

        A move (i, j) takes the segment from one end of the run i..j and puts it at the other
        end: for a segment moved later, i is its first position and j the last position it
        crosses; for one moved earlier, i is the first position it crosses and j its last
        position. Each pair has up to ten moves (lengths 1, 2, 3 from either end, lengths 2
        and 3 also reversed), scanned in that order after (i, j); moves that would give the
        same array are listed once. Segments do not wrap around the end of the array.

        Args:
            seed: an unsigned 64-bit seed for the random moves; None draws one from the OS.
        """

@final
class Problem:
    """A permutation with its move type and evaluation; shared by every search built on it.

    A handle: every search given a problem works on that same problem. It holds the current
    solution and the best solution recorded by the searches; both start as the identity.
    """

    @staticmethod
    def array_problem(move_type: MoveType, evaluation: Evaluation) -> Problem:
        """A new problem over copies of `move_type` and `evaluation`, at the identity permutation.

        The size n is the number of weights or of distance-matrix rows.
        """
    def set_eval_type(self, eval_type: Evaluation) -> None:
        """Replace the evaluation; the solutions and the size stay as they are.

        The new evaluation's data must cover the problem's n positions and values.

        Raises:
            ValueError: a custom evaluation of another size than the problem's (its callables
                read as many positions as its size says); the evaluation in place is kept.
        """
    def set_move_type(self, move_type: MoveType) -> None:
        """Replace the move type (a copy, sized to the problem), keeping its generator state."""
    def reset(self) -> None:
        """Make both the current and the best solution the identity permutation.

        The move type's generator is left where it was.
        """
    def eval(self) -> float:
        """The score of the current solution, computed from scratch."""
    def set_seed(self, seed: int) -> None:
        """Rebuild the move type's generators from `seed` (unsigned 64-bit).

        The random moves that follow are those of a move type built with `seed=seed`.
        """
    def solution(self) -> list[int]:
        """A copy of the current solution: where the last search left the problem."""
    def best_solution(self) -> list[int]:
        """A copy of the best solution recorded by the searches (or set by a warm start).

        It scores the best score of the last run's log, up to rounding: a run carries its
        scores by adding up the changes of its moves, so after many moves the score of this
        solution computed afresh (`eval()` on it) may differ from the log's in the last bits.
        """
    def shuffle(self, seed: int | None = None) -> None:
        """A fresh random start: the current and the best solution become one random permutation.

        The permutation depends only on `seed` (unsigned 64-bit) and the size, so it repeats
        exactly; None draws a seed from the OS. Like `reset`, it replaces the best solution
        found before and leaves the move type's generator where it was; its draws are not
        those of a move type seeded with the same number.
        """
    def set_solution(self, permutation: Sequence[int]) -> None:
        """A warm start: the permutation becomes both the current and the best solution.

        Like reset() from the identity, it is a fresh start: the best solution found before is
        replaced, and a search that finds nothing better leaves best_solution() at the
        permutation given.

        Raises:
            ValueError: the permutation has the wrong length, a repeated value or a value out
                of range; the problem is left as it was.
        """

@final
class Termination:
    """A stop criterion; a search keeps its own copy.

    A search turns its copy to its own direction when it is built and re-arms it at the start
    of every run. `LocalSearch.set_termination` and `benchmark` install a copy as it is,
    judging improvement as a minimising search does.
    """

    @staticmethod
    def max_sec(max_sec: int) -> Termination:
        """Stop once `max_sec` whole seconds have passed since the run started.

        Checked before each step (each proposal of annealing), so a scanning search may
        overrun by one scan. `max_sec(0)` stops before the first step.
        """
    @staticmethod
    def time_limit(seconds: float) -> Termination:
        """Stop once `seconds` (a float: 0.5 is half a second) have passed since the run started.

        Checked before each step, as `max_sec` is, and usable wherever it is: alone, in
        `multi_crit_and`/`multi_crit_or`, in `benchmark` and `kestrum_tools.grid`, pickled.
        The clock starts when the criterion is built and again at the start of every run.
        `time_limit(0)` stops before the first step; `float("inf")` never stops.

        Raises:
            ValueError: `seconds` is negative or NaN.
        """
    @staticmethod
    def always_true() -> Termination:
        """Never stop: the search ends only by its own rule.

        Steepest descent (minimising) ends at a local optimum and variable neighbourhood
        search after its last neighbourhood; annealing and tabu search run for ever.
        """
    @staticmethod
    def max_iterations(max_iterations: int) -> Termination:
        """Stop after `max_iterations` iterations.

        An iteration is an applied move (steepest descent), a proposal, rejected ones
        included (annealing), a step (tabu search), or an improving step or change of
        neighbourhood (variable neighbourhood search).
        """
    @staticmethod
    def min_temp(min_temp: int) -> Termination:
        """Stop annealing once its temperature has fallen to `min_temp` or below.

        Checked after each cooling step; it never stops another search. The integer
        temperature comes to rest at a value set by `alpha`: a bound below it never stops.
        """
    @staticmethod
    def multi_crit_and(vec: Sequence[Termination]) -> Termination:
        """Stop as soon as any of the criteria stops: all must agree to go on.

        Each child is a copy taken now and sees every score and iteration. An empty list
        never stops. Combinations nest at most 1000 deep (ValueError beyond).
        """
    @staticmethod
    def multi_crit_or(vec: Sequence[Termination]) -> Termination:
        """Stop only when every one of the criteria would stop.

        Each child is a copy taken now. An empty list stops before the first step.
        Combinations nest at most 1000 deep (ValueError beyond).
        """
    @staticmethod
    def must_improve() -> Termination:
        """Stop at the first reported score that is not strictly better than every earlier one.

        Steepest descent, tabu search and variable neighbourhood search report a score after
        every step; annealing reports none, so this never stops it.
        """
    @staticmethod
    def no_improve(iter_without_imp: int) -> Termination:
        """Stop once more than `iter_without_imp` reported scores did not improve.

        Counts every non-improving score since the run started, consecutive or not (an
        improvement does not reset the count). Minimising, a score equal to the best counts
        as an improvement; maximising, it does not. Never stops annealing.
        """

@final
class IterationsPerTemp:
    """How many simulated-annealing iterations run at each temperature."""

    @staticmethod
    def cnst_iter_temp(iterations: int) -> IterationsPerTemp:
        """The same number of proposals at every temperature (0: none at all)."""

@final
class Cooling:
    """How simulated annealing lowers its temperature."""

    @staticmethod
    def geometric_cooling(alpha: float) -> Cooling:
        """Multiply the temperature by `alpha`, rounding to an integer, after each temperature.

        The temperature comes to rest where `alpha` x T rounds to T, about 0.5 / (1 - alpha)
        for 0 < alpha < 1.
        """

@final
class LocalSearch:
    """One search over a shared Problem.

    `run` searches from the problem's current solution and returns the run log, a list of
    (elapsed_ns, best, current, iteration) rows: a start row, a row per accepted step, and a
    final row. The problem keeps the solution the run ended on and its best solution.
    """

    @property
    def budget(self) -> tuple[int | None, float | None]:
        """(iterations, seconds): the most a run may take by the search's criterion, each
        None when the criterion sets no such bound. `max_iterations`, `max_sec` and
        `time_limit` bound a run; `multi_crit_and` takes the least of its children's bounds,
        `multi_crit_or` the largest, and only in a measure every child bounds. A run may end
        earlier by the search's own rule. `kestrum_tools.run` draws its bar from it. Read-only.
        """

    @staticmethod
    def simulated_annealing(
        start_temp: int,
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        cooling_function: Cooling,
        iterations_temperature: IterationsPerTemp,
    ) -> LocalSearch:
        """Simulated annealing: one random move at a time, accepted by the temperature rule.

        A move that does not worsen the score is always accepted; a worsening move of change
        d is accepted with probability exp(-|d| / T). The integer temperature starts at
        `start_temp`, stays for `iterations_temperature` proposals, then is cooled by
        `cooling_function`. The starting solution is recorded as the best at the start of
        every run. Acceptance draws come from the thread's OS-keyed generator unless
        `set_acceptance_seed` fixes them.

        Args:
            start_temp: the temperature every run starts from (unsigned 32-bit).
            minimize: True when lower scores are better.
            problem: the problem searched (shared, not copied).
            termination_function: the stop criterion (copied).
            cooling_function: `Cooling.geometric_cooling(alpha)`.
            iterations_temperature: `IterationsPerTemp.cnst_iter_temp(k)`.
        """
    @staticmethod
    def steepest_descent(minimize: bool, problem: Problem, termination_function: Termination) -> LocalSearch:
        """Steepest descent: scan every move, apply the best one while it improves.

        Among equal best moves the last in scan order is applied. Minimising, it stops at the
        first step whose best move does not strictly lower the score (a local optimum);
        maximising, a move of zero change counts as an improvement, so it walks plateaus until
        the criterion stops it. It cannot use a multi-neighbour problem (`PanicException`).
        """
    @staticmethod
    def tabu_search(
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        tabu_list_size: int | None = None,
        *,
        canonical_tours: bool = False,
    ) -> LocalSearch:
        """Tabu search: move to the best neighbour that is not tabu, even a worse one.

        A neighbour is tabu when the solution it leads to is among the last `tabu_list_size`
        solutions moved to; there is no aspiration rule. Among equal best moves the last
        admissible one in scan order wins. The run ends when the criterion says so or when
        every neighbour is tabu. It cannot use a multi-neighbour problem (`PanicException`).

        Args:
            minimize: True when lower scores are better.
            problem: the problem searched (shared, not copied).
            termination_function: the stop criterion (copied).
            tabu_list_size: how many solutions the list holds (7 by default; 0 acts as 1).
            canonical_tours: on a tour evaluation, keep tours in the list, so the rotations
                and mirror images of one tour count as one solution.
        """
    @staticmethod
    def vns(minimize: bool, problem: Problem, termination_function: Termination) -> LocalSearch:
        """Variable neighbourhood search: a best-improvement descent through a list of neighbourhoods.

        The neighbourhoods are the members of the problem's `MoveType.multi_neighbor`, in
        order; a simple move type is the only neighbourhood. When a scan brings no
        improvement the search moves on to the next one and never goes back; it stops after
        the last. Minimising keeps the first of equal best moves, maximising the last. The
        neighbourhood the search stands in survives runs: a second run starts where the
        previous one ended.
        """
    @staticmethod
    def iterated_local_search(
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        neighbours: int | None = 10,
        seed: int | None = None,
    ) -> LocalSearch:
        """Iterated local search: local optima joined by random kicks, keeping the best.

        On a symmetric tour (a matrix or points), minimised, of at least 8 cities, the local
        search is 2-opt plus Or-opt (segments of 1 to 3 cities, moved as they are or
        reversed) over each city's `neighbours` nearest cities, first improvement with
        don't-look bits, and the kick a random double bridge of two adjacent runs of at most
        50 cities; the problem's move type is not used. On any other problem it is best
        improvement over the problem's own move type (all members of a multi-neighbour
        together), kicked by 3 random moves of it. One iteration is one kick plus its
        descent, the first being a plain descent; a new optimum not worse than the best is
        kept, a worse one taken back. The criterion is asked before each iteration and told
        each optimum's score. The log has the start row, a row whenever the best improves
        and the final row; the problem ends on the best solution. With a seed every run
        repeats exactly; `neighbours=None` means 10.
        """
    @staticmethod
    def robust_tabu_search(
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        *,
        tenure: int | tuple[int, int] | None = None,
        aspiration: int | None = None,
        seed: int | None = None,
    ) -> LocalSearch:
        """Robust tabu search over the exchanges of positions (swap or swap_tsp).

        Each step scores every exchange (i, j), i < j, and applies the best allowed one,
        even when it worsens; ties go to the first in (i, j) order. The element that left a
        position may not return to it for a tenure drawn uniformly from `tenure` = (low,
        high) (an int t is (t, t); None: (floor(0.9 n), ceil(1.1 n))). An exchange is
        forbidden only when both elements it would place are forbidden there; one that beats
        the best score is allowed anyway, and one that would place an element where it has
        not been forbidden for `aspiration` steps (None: 2 n^2) is forced, the best forced
        one first. With tenure=0 each step is the best exchange of the neighbourhood. On an
        assignment with integer data a step costs O(n^2). The criterion is asked before each
        step and told the new current score; the log has the start row, a row per step and
        the final row; the problem ends with its last current and its best solution. With a
        seed every run repeats exactly. Any other move type is a ValueError.
        """
    @staticmethod
    def annealing(
        minimize: bool,
        problem: Problem,
        termination_function: Termination,
        *,
        start_temperature: float | None = None,
        alpha: float | None = None,
        iterations_per_temperature: int | None = None,
        seed: int | None = None,
    ) -> LocalSearch:
        """Simulated annealing with a real-valued temperature that falls geometrically.

        One random move of the problem's move type per iteration: a move that does not
        worsen the score is taken, a worsening move of change d with probability
        exp(-|d| / T), one acceptance draw each (none when |d| >= 37 T: such a move, whose
        chance is below 2^-53, is rejected). The temperature is a float and is never
        rounded, so the schedule works on any scale of scores. Every setting is optional:

        - `start_temperature`: by default, at the start of each run, 1000 moves are drawn
          from a copy of the move type and scored at the current solution (the problem's
          solution and generator are left as they were), and the temperature is set so that
          about half of the worsening ones would be accepted.
        - `iterations_per_temperature`: by default the problem's size.
        - `alpha`: given, the temperature is multiplied by it after every
          `iterations_per_temperature` iterations. By default it falls from the start
          temperature to 1/1000 of it over the budget the criterion gives (`max_sec`,
          `max_iterations`, and their combinations), following the share of the budget
          used; without a budget, over 100 n^2 iterations (at least 100000) and on below.

        The best only moves on a strictly better score. After each temperature the
        criterion's temperature check (`min_temp`) sees the temperature rounded up. With a
        seed, the acceptance draws (and the start temperature's sample) repeat in every run,
        as after `set_acceptance_seed`; without one they come from the OS. A problem with no
        move (fewer than two positions, three for `swap_tsp`) ends the run at once. It cannot
        use a multi-neighbour problem (`PanicException`).

        Args:
            minimize: True when lower scores are better.
            problem: the problem searched (shared, not copied).
            termination_function: the stop criterion (copied).
            start_temperature: a finite float >= 0, or None to calibrate.
            alpha: the cooling factor, > 0 and <= 1, or None to follow the budget.
            iterations_per_temperature: at least 1, or None for the problem's size.
            seed: the acceptance draws' seed (unsigned 64-bit), or None.
        """
    def run(self) -> list[_LogRow]:
        """Search from the problem's current solution; return the run log.

        Rows are (elapsed_ns, best, current, iteration): the start row, a row per accepted
        step, and the final row, whose best is the run's best score and whose iteration is
        the number of iterations run (fewer rows under `set_log`). The problem keeps the last
        and the best solution.

        Runs without the interpreter lock, so other threads go on meanwhile. Pending signals
        are looked at about every 50 ms: when a handler raises (Ctrl-C gives
        KeyboardInterrupt), or the progress callback does, the run stops as its criterion
        would (the problem keeps its current and best solutions and stays usable) and the
        exception propagates with the log so far, final row included, as its attribute
        `log`. Reaching from a callback into an object the run holds (its search, its
        problem) raises RuntimeError.
        """
    def reset(self) -> None:
        """Reset the search's problem: current and best solution become the identity."""
    def set_problem(self, problem: Problem) -> None:
        """Search `problem` from now on (shared, not copied).

        Steepest descent, annealing and tabu search refuse a multi-neighbour problem.
        """
    def set_termination(self, termination_function: Termination) -> None:
        """Replace the stop criterion with a copy of `termination_function`.

        The copy keeps its own direction (minimising, for every criterion built from Python):
        give `must_improve` and `no_improve` to a maximising search through its constructor.
        """
    def set_acceptance_seed(self, seed: int | None = None) -> None:
        """Fix the acceptance draws of simulated annealing and annealing, so their runs repeat exactly.

        With a seed, every run draws from a fresh generator seeded with it; with None (the
        default) from the calling thread's OS-keyed generator. For `annealing` it replaces the
        factory's `seed`. Other searches draw no acceptance numbers and ignore it.
        """
    def set_log(self, mode: Literal["all", "improvements", "final"]) -> None:
        """Choose which rows the runs keep.

        "all" (the default): every row; "improvements": the start row, the rows at which the
        best score improves, and the final row; "final": the final row only. Only what is
        kept changes, never the search. `benchmark` and `kestrum_tools.grid` honour it. Kept
        by pickling and copies.
        """
    def set_progress(
        self, callback: Callable[[int, float, float, int], object] | None, every_seconds: float | None = None
    ) -> None:
        """Call `callback(elapsed_ns, best, current, iteration)` during runs.

        From the running thread, with the interpreter lock, at most once per
        `every_seconds` (None: 1.0) and once at the end of each run, with the latest row the
        search wrote. An exception from it stops the run as Ctrl-C does. None removes the
        callback. The interval is kept by pickling and copies; the callback is not (a copy
        has none).
        """

def benchmark(
    algorithms: Sequence[LocalSearch],
    problems: Sequence[Problem],
    termination_function: Termination | None = None,
    runs: int | None = None,
    seeds: Sequence[int] | None = None,
    *,
    random_starts: bool = False,
) -> list[list[list[list[_LogRow]]]]:
    """Runs every search on every problem once per seed: `result[search][problem][seed]` is a log.

    Before each run the problem is reseeded with the run's seed and reset to the identity
    (with `random_starts=True`, shuffled instead: `Problem.shuffle(seed)` with the run's seed).
    The searches and problems are the objects given, not copies: afterwards the searches keep
    the last problem (and the criterion, when given) and the problems their final state.
    Writes the line "hii" to standard output (file descriptor 1) first. Each log is kept in
    its search's log mode (`LocalSearch.set_log`). Runs go without the interpreter lock; a
    raising signal handler or progress callback ends the call, and the exception carries the
    nested logs so far (the stopped run's last) as its attribute `log`.

    Args:
        algorithms: the searches.
        problems: the problems; each search is given each in turn.
        termination_function: when given, replaces each search's criterion as
            `LocalSearch.set_termination` does.
        runs: the number of runs, with seeds 0 to runs - 1 (10 when neither this nor
            `seeds` is given).
        seeds: the seeds, one run each.
        random_starts: start each run from the random permutation its seed draws, so that
            even a deterministic search gives one result per seed.
    """
