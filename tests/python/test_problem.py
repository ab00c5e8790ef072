"""Evaluation, MoveType and Problem: building, evaluating, reseeding and their failures."""

import copy
import math
import re

import pytest

import kestrum
from conftest import POISONED, PanicException, raises_panic

E, M, P = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem


def problem(evaluation, move=None):
    return P.array_problem(move or M.swap(0), evaluation)


class TestPanicException:
    def test_is_base_exception_only(self):
        assert PanicException.__bases__ == (BaseException,)
        assert not issubclass(PanicException, Exception)
        assert not hasattr(kestrum, "PanicException")

    def test_not_caught_by_except_exception(self):
        with pytest.raises(PanicException):
            try:
                E.tsp([[0], [1, 0]])
            except Exception:  # noqa: BLE001
                pytest.fail("PanicException must pass through `except Exception`")

    def test_stop_writes_a_diagnostic(self, capfd):
        with raises_panic("index out of bounds: the len is 1 but the index is 1"):
            E.tsp([[0], [1, 0]])
        err = capfd.readouterr().err
        # The source is named from the repository, not from the directory it was built in.
        assert re.fullmatch(r"kestrum: fatal stop at src/[a-z_/]+\.[ch]pp:\d+: index out of bounds: the len is 1 but the index is 1\n", err), err


class TestEvaluationScores:
    @pytest.mark.parametrize(
        "evaluation, expected",
        [
            (E.empty_bins([3, 4, 5], 7), 1.0),
            (E.empty_space([3, 4, 5], 7), 2.0),
            (E.empty_space_exp([3, 4, 5], 7), 4.0),
            (E.empty_bins([9], 7), 1.0),
            (E.empty_space([9], 7), 5.0),
            (E.empty_space_exp([9], 7), 53.0),
            (E.empty_bins([], 7), 0.0),
            (E.empty_space([], 7.5), 7.5),
            (E.empty_space_exp([], 3), 9.0),
            (E.tsp([[0, 1, 2], [1, 0, 3], [2, 3, 0]]), 6.0),
            (E.tsp([[5]]), 5.0),
            (E.tsp([[0, 1, 2, 3], [4, 0, 5, 6], [7, 8, 0, 9], [1, 2, 3, 0]]), 16.0),
            (E.qap([[0, 1], [1, 0]], [[0, 5], [5, 0]]), 5.0),
            (E.qap([], []), 0.0),
            (E.empty_bins((1, 2.5), 10), 0.0),
        ],
        ids=[
            "bins", "space", "space-exp", "heavy-bins", "heavy-space", "heavy-space-exp",
            "empty-bins", "empty-space", "empty-space-exp", "tsp", "tsp-one-city", "tsp-asym",
            "qap", "qap-empty", "tuple-weights",
        ],
    )
    def test_eval_of_identity(self, evaluation, expected):
        score = problem(evaluation).eval()
        assert type(score) is float
        assert score == expected

    def test_nan_weights_propagate(self):
        assert math.isnan(problem(E.empty_space([1.0, float("nan")], 5)).eval())

    def test_empty_tour_stops_and_poisons(self):
        p = problem(E.tsp([]))
        with raises_panic(prefix="index out of bounds: the len is 0 but the index is "):
            p.eval()
        with raises_panic(POISONED):
            p.reset()
        with raises_panic(POISONED):
            p.set_seed(1)

    def test_argument_error_is_reported_before_poisoned_lock(self):
        p = problem(E.tsp([]))
        with pytest.raises(PanicException):
            p.eval()
        with pytest.raises(TypeError, match="^argument 'seed': "):
            p.set_seed(None)
        with pytest.raises(TypeError, match="^argument 'eval_type': 'MoveType' object cannot be converted to 'Evaluation'$"):
            p.set_eval_type(M.swap())

    def test_eval_type_not_covering_solution_stops(self):
        p = problem(E.empty_bins([1, 2, 3], 4))
        p.set_eval_type(E.empty_bins([1, 2], 4))
        with raises_panic("index out of bounds: the len is 2 but the index is 2"):
            p.eval()


class TestEvaluationShapes:
    @pytest.mark.parametrize(
        "matrix, symmetric",
        [([[0, 1], [1, 0]], True), ([[0, 1], [2, 0]], False), ([], True), ([[5]], True), ([[0, 1], [1]], True),
         ([[0, float("nan")], [float("nan"), 0]], False)],
        ids=["sym", "asym", "empty", "one", "short-row-ok", "nan"],
    )
    def test_tsp_builds(self, matrix, symmetric):
        # Symmetry is read below the diagonal only; NaN is never equal to its mirror.
        e = E.tsp(matrix)
        assert (e.kind, e.symmetric) == ("tsp", symmetric)

    @pytest.mark.parametrize(
        "matrix, message",
        [
            ([[0], [1, 0]], "index out of bounds: the len is 1 but the index is 1"),
            ([[0, 1, 2], [1, 0, 3], [2]], "index out of bounds: the len is 1 but the index is 1"),
            ([[0, 1], [1, 0], [2, 3]], "index out of bounds: the len is 2 but the index is 2"),
        ],
    )
    def test_ragged_walk_stops(self, matrix, message):
        with raises_panic(message):
            E.tsp(matrix)

    def test_qap_checks_nothing(self):
        e = E.qap([[0]], [[1, 2, 3]])
        assert (e.kind, e.symmetric) == ("qap", True)  # the 1 x 1 blocks the scores read
        assert P.array_problem(M.swap(1), e).eval() == 0.0


class TestMoveTypes:
    @pytest.mark.parametrize(
        "build",
        [lambda: M.swap(), lambda: M.swap(None), lambda: M.swap(seed=7), lambda: M.swap(True),
         lambda: M.reverse(2**64 - 1), lambda: M.swap_tsp(0),
         lambda: M.multi_neighbor([M.swap(1), M.reverse(2)]), lambda: M.multi_neighbor([]),
         lambda: M.multi_neighbor([M.swap_tsp()], weights=[0.5, 7])],
    )
    def test_builds(self, build):
        assert type(build()) is M

    def test_nested_multi_neighbor_refused(self):
        inner = M.multi_neighbor([M.swap(1), M.reverse(2)])
        with pytest.raises(ValueError) as err:
            M.multi_neighbor([M.swap(), inner])
        assert str(err.value) == "Can't have multi neighbor in multiNeighbor"


class TestBindingMessages:
    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda: E.tsp(), TypeError, "Evaluation.tsp() missing 1 required positional argument: 'distance_matrix'"),
            (lambda: E.qap(), TypeError, "Evaluation.qap() missing 2 required positional arguments: 'distance_matrix' and 'flow_matrix'"),
            (lambda: M.swap(1, 2), TypeError, "MoveType.swap() takes from 0 to 1 positional arguments but 2 were given"),
            (lambda: E.tsp("abc"), TypeError, "argument 'distance_matrix': Can't extract `str` to `Vec`"),
            (lambda: E.tsp(5), TypeError, "argument 'distance_matrix': 'int' object cannot be converted to 'Sequence'"),
            (lambda: E.tsp(["ab"]), TypeError, "argument 'distance_matrix': Can't extract `str` to `Vec`"),
            (lambda: E.tsp([[0, "x"]]), TypeError, None),
            (lambda: E.empty_bins("12", 10), TypeError, "argument 'weights': Can't extract `str` to `Vec`"),
            (lambda: E.empty_bins([1], "x"), TypeError, None),
            (lambda: M.swap(-1), OverflowError, None),
            (lambda: M.swap(2**64), OverflowError, None),
            (lambda: M.swap(1.0), TypeError, "argument 'seed': 'float' object cannot be interpreted as an integer"),
            (lambda: M.multi_neighbor([M.swap(), 3]), TypeError, "argument 'move_array': 'int' object cannot be converted to 'MoveType'"),
            (lambda: M.multi_neighbor([M.swap()], "ab"), TypeError, "argument 'weights': Can't extract `str` to `Vec`"),
            (lambda: P.array_problem(E.tsp([]), M.swap()), TypeError, "argument 'move_type': 'Evaluation' object cannot be converted to 'MoveType'"),
            (lambda: P.array_problem(M.swap(), M.swap()), TypeError, "argument 'evaluation': 'MoveType' object cannot be converted to 'Evaluation'"),
            (lambda: P.array_problem(M.swap(), E.tsp([]), 3), TypeError, "Problem.array_problem() takes 2 positional arguments but 3 were given"),
            (lambda: P.array_problem(M.swap(), move_type=M.swap()), TypeError, "Problem.array_problem() got multiple values for argument 'move_type'"),
            (lambda: problem(E.tsp([[0]])).set_seed(None), TypeError, None),
            (lambda: P.set_seed(problem(E.tsp([[0]])), None), TypeError, None),
            (lambda: problem(E.tsp([[0]])).set_seed(), TypeError, "Problem.set_seed() missing 1 required positional argument: 'seed'"),
            (lambda: problem(E.tsp([[0]])).set_seed(-1), OverflowError, None),
            (lambda: problem(E.tsp([[0]])).reset(1), TypeError, "Problem.reset() takes no arguments (1 given)"),
        ],
        ids=lambda v: None,
    )
    def test_messages(self, call, exc, message):
        with pytest.raises(exc) as err:
            call()
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message
        elif exc is TypeError and "argument" in str(err.value):
            assert str(err.value).startswith("argument '")

    def test_text_signatures(self):
        assert M.swap.__text_signature__ == "(seed=None)"
        assert M.swap.__doc__ is None
        assert M.multi_neighbor.__text_signature__ == "(move_array, weights=None)"
        assert P.array_problem.__text_signature__ == "(move_type, evaluation)"
        assert P.set_seed.__text_signature__ == "($self, seed)"
        assert P.eval.__text_signature__ == "($self)"
        assert [n for n in vars(P) if not n.startswith("_")] == [
            "array_problem", "set_eval_type", "set_move_type", "reset", "eval", "set_seed",
            "solution", "best_solution", "set_solution", "shuffle"]
        assert [n for n in vars(M) if not n.startswith("_")] == ["swap", "reverse", "swap_tsp", "multi_neighbor", "or_opt"]
        assert [n for n in vars(E) if not n.startswith("_")][:5] == ["empty_bins", "empty_space", "empty_space_exp", "tsp", "qap"]

    def test_sequences_are_read_by_iteration(self):
        class Lying:
            def __len__(self):
                return 10**12

            def __getitem__(self, k):
                if k < 3:
                    return float(k)
                raise IndexError

        assert problem(E.empty_space(Lying(), 10)).eval() == 7.0


class TestSolutions:
    def test_read_and_warm_start(self):
        p = problem(E.tsp([[0, 1, 2, 3], [4, 0, 5, 6], [7, 8, 0, 9], [1, 2, 3, 0]]))
        assert p.solution() == p.best_solution() == [0, 1, 2, 3]
        p.set_solution((3, 0, 1, 2))
        assert p.solution() == p.best_solution() == [3, 0, 1, 2]  # a warm start is a fresh start
        assert p.eval() == 16.0
        p.set_solution([0, 2, 1, 3])
        log = kestrum.LocalSearch.steepest_descent(True, p, kestrum.Termination.always_true()).run()
        assert log[0][1] == 17.0  # the run starts from the warm start, not the identity
        assert p.best_solution() == p.solution() != [0, 2, 1, 3]
        assert p.eval() == log[-1][1] < 17.0
        p.reset()
        assert p.solution() == p.best_solution() == [0, 1, 2, 3]

    def test_lists_are_new(self):
        p = problem(E.empty_bins([1, 2], 3))
        s = p.solution()
        s.append(9)
        assert p.solution() == [0, 1]

    @pytest.mark.parametrize(
        "permutation, message",
        [
            ([0, 1], "the permutation has 2 entries but the problem has 3 positions"),
            ([0, 1, 3], "value at position 2 is out of range: the values must be 0 to 3 - 1"),
            ([0, -1, 2], "value at position 1 is out of range: the values must be 0 to 3 - 1"),
            ([0, 2**80, 1], "value at position 1 is out of range: the values must be 0 to 3 - 1"),
            ([2, 1, 2], "value 2 is repeated at positions 0 and 2"),
        ],
        ids=["length", "too-big", "negative", "huge", "repeated"],
    )
    def test_refusals_leave_the_solution(self, permutation, message):
        p = problem(E.empty_bins([1, 2, 3], 3))
        p.set_solution([2, 0, 1])
        with pytest.raises(ValueError) as err:
            p.set_solution(permutation)
        assert str(err.value) == message
        assert p.solution() == [2, 0, 1]
        p.eval()  # not poisoned

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda p: p.set_solution("012"), "argument 'permutation': Can't extract `str` to `Vec`"),
            (lambda p: p.set_solution([0, 1.0, 2]), "argument 'permutation': 'float' object cannot be interpreted as an integer"),
            (lambda p: p.solution(1), "Problem.solution() takes no arguments (1 given)"),
        ],
    )
    def test_argument_errors(self, call, message):
        with pytest.raises(TypeError) as err:
            call(problem(E.empty_bins([1, 2, 3], 3)))
        assert str(err.value) == message

    def test_poisoned(self):
        p = problem(E.tsp([]))
        with pytest.raises(PanicException):
            p.eval()
        for call in (p.solution, p.best_solution, lambda: p.set_solution([])):
            with raises_panic(POISONED):
                call()

    def test_text_signatures(self):
        assert P.solution.__text_signature__ == "($self)"
        assert P.set_solution.__text_signature__ == "($self, permutation)"


class TestShuffle:
    def test_a_fresh_random_start_from_the_seed(self):
        p, q = problem(E.empty_bins([1] * 30, 3), M.swap(1)), problem(E.empty_bins([1] * 30, 3), M.swap(2))
        p.shuffle(5)
        q.set_solution(list(reversed(range(30))))
        q.shuffle(seed=5)
        assert p.solution() == p.best_solution() == q.solution() == q.best_solution()
        assert sorted(p.solution()) == list(range(30)) != p.solution()
        p.shuffle(6)
        assert p.solution() != q.solution()
        p.shuffle(2**64 - 1)
        assert sorted(p.solution()) == list(range(30))

    def test_without_a_seed_the_os_draws_one(self):
        p = problem(E.empty_bins([1] * 30, 3))
        starts = set()
        for _ in range(3):
            p.shuffle()
            starts.add(tuple(p.solution()))
        assert len(starts) == 3

    def test_leaves_the_move_generator_where_it_was(self):
        p, q = problem(E.tsp([[0, 1, 2, 3], [1, 0, 4, 5], [2, 4, 0, 6], [3, 5, 6, 0]]), M.swap(9)), None
        q = problem(E.tsp([[0, 1, 2, 3], [1, 0, 4, 5], [2, 4, 0, 6], [3, 5, 6, 0]]), M.swap(9))
        p.shuffle(1)
        q.set_solution(p.solution())
        crit = kestrum.Termination.max_iterations(20)
        sa = [kestrum.LocalSearch.simulated_annealing(0, True, x, crit, kestrum.Cooling.geometric_cooling(1),
                                                      kestrum.IterationsPerTemp.cnst_iter_temp(5)) for x in (p, q)]
        assert [row[1:] for row in sa[0].run()] == [row[1:] for row in sa[1].run()]

    @pytest.mark.parametrize(
        "call, exc, message",
        [
            (lambda p: p.shuffle(-1), OverflowError, "can't convert negative int to unsigned"),
            (lambda p: p.shuffle(2**64), OverflowError, "int too big to convert"),
            (lambda p: p.shuffle(1.0), TypeError, "argument 'seed': 'float' object cannot be interpreted as an integer"),
            (lambda p: p.shuffle(1, 2), TypeError, "Problem.shuffle() takes from 0 to 1 positional arguments but 2 were given"),
        ],
        ids=["negative", "too-big", "float", "two"],
    )
    def test_argument_errors(self, call, exc, message):
        p = problem(E.empty_bins([1, 2, 3], 3))
        with pytest.raises(exc) as err:
            call(p)
        assert type(err.value) is exc and str(err.value) == message
        assert p.solution() == [0, 1, 2]

    def test_text_signature_and_poisoned(self):
        assert P.shuffle.__text_signature__ == "($self, seed=None)"
        p = problem(E.tsp([]))
        with pytest.raises(PanicException):
            p.eval()
        with raises_panic(POISONED):
            p.shuffle(1)


class TestEvaluationKind:
    @pytest.mark.parametrize(
        "build, kind, symmetric",
        [
            (lambda: E.empty_bins([1], 2), "empty_bins", None),
            (lambda: E.empty_space([1], 2), "empty_space", None),
            (lambda: E.empty_space_exp([1], 2), "empty_space_exp", None),
            (lambda: E.tsp([[0, 1], [1, 0]]), "tsp", True),
            (lambda: E.tsp([[0, 1], [2, 0]]), "tsp", False),
            (lambda: E.tsp_from_points([(0, 0), (1, 1)]), "tsp_points", True),
            (lambda: E.qap([[0, 1], [1, 0]], [[0, 2], [2, 0]]), "qap", True),
            (lambda: E.qap([[0, 1], [1, 0]], [[0, 2], [3, 0]]), "qap", False),
            (lambda: E.custom(3, lambda s: 0.0), "custom", None),
        ],
        ids=["bins", "space", "space-exp", "tsp", "atsp", "points", "qap", "qap-asym", "custom"],
    )
    def test_kind_and_symmetry(self, build, kind, symmetric):
        e = build()
        assert (e.kind, e.symmetric) == (kind, symmetric)
        assert copy.deepcopy(e).kind == kind

    def test_read_only(self):
        e = E.empty_bins([1], 2)
        with pytest.raises(AttributeError):
            e.kind = "tsp"
        with pytest.raises(AttributeError):
            del e.symmetric
        assert "'tsp'" in E.kind.__doc__


class TestBuffers:
    """numpy arrays and other buffers read the same values as the equivalent lists."""

    np = pytest.importorskip("numpy")

    @pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32", "uint8", "int16", "bool", "float16", "uint64"])
    def test_matrix_dtypes(self, dtype):
        np = self.np
        m = (np.arange(25).reshape(5, 5) % 7).astype(dtype)
        as_lists = [[float(x) for x in row] for row in m]
        p, q = problem(E.tsp(m)), problem(E.tsp(as_lists))
        p.set_solution([4, 2, 0, 3, 1])
        q.set_solution([4, 2, 0, 3, 1])
        assert p.eval() == q.eval()

    def test_large_integers_round_like_float(self):
        np = self.np
        w = np.array([2**53 + 1, 2**63 - 1], dtype=np.int64)
        assert problem(E.empty_space(w, 0)).eval() == problem(E.empty_space([float(x) for x in w], 0)).eval()

    @pytest.mark.parametrize(
        "make",
        [lambda np: np.arange(64.0).reshape(8, 8)[::2, ::2], lambda np: np.arange(16.0).reshape(4, 4).T,
         lambda np: np.asfortranarray(np.arange(16.0).reshape(4, 4)),
         lambda np: [np.arange(4.0), [1, 0, 2, 5], np.ones(4, dtype=np.float32), (3, 2, 1, 0)]],
        ids=["strided", "transposed", "fortran", "mixed-rows"],
    )
    def test_non_contiguous_and_mixed(self, make):
        np = self.np
        m = make(np)
        as_lists = [[float(x) for x in row] for row in m]
        assert problem(E.qap(m, np.ones((4, 4)))).eval() == problem(E.qap(as_lists, [[1.0] * 4] * 4)).eval()

    @pytest.mark.parametrize(
        "make, message",
        [(lambda np: np.float64(3.0), "argument 'distance_matrix': 'float64' object cannot be converted to 'Sequence'"),
         (lambda np: np.arange(4.0), "argument 'distance_matrix': 'float64' object cannot be converted to 'Sequence'"),
         (lambda np: np.zeros((2, 2, 2)), None)],
        ids=["0-d", "1-d", "3-d"],
    )
    def test_wrong_shapes_fail_as_sequences_would(self, make, message):
        np = self.np
        with pytest.raises(TypeError) as err:
            E.tsp(make(np))
        if message is not None:
            assert str(err.value) == message
        else:
            assert str(err.value).startswith("argument 'distance_matrix': ")

    def test_array_module_and_memoryview(self):
        import array

        w = array.array("d", [3, 4, 5])
        assert problem(E.empty_bins(w, 7)).eval() == 1.0
        assert problem(E.empty_bins(memoryview(array.array("i", [3, 4, 5])), 7)).eval() == 1.0
        assert problem(E.empty_bins(bytes([3, 4, 5]), 7)).eval() == 1.0
