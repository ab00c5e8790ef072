"""Objects that raise or lie in their protocols, sequences that change while they are read, and
conversions that call back into the objects being built: never a crash, a hang or a stray
exception type (tests/README.md keeps the table of these cases)."""

import sys

import pytest

import kestrum
from hostile import E, M, P, T, LS, check_log, small_problem, Index


# ---------------------------------------------------------------- protocols that raise or lie

class Boom(Exception):
    pass


class FloatRaises:
    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc


class FloatReturns:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexRaises:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class Seq:
    """A sequence whose __len__ and __iter__ can be told to raise or to lie."""

    def __init__(self, items, length=None, len_raises=None, iter_raises=None, fail_after=None):
        self.items, self.length = list(items), length
        self.len_raises, self.iter_raises, self.fail_after = len_raises, iter_raises, fail_after

    def __len__(self):
        if self.len_raises:
            raise self.len_raises
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, k):
        return self.items[k]

    def __iter__(self):
        if self.iter_raises:
            raise self.iter_raises
        for k, x in enumerate(self.items):
            if self.fail_after is not None and k == self.fail_after:
                raise Boom("iteration failed")
            yield x


class GetItemOnly:
    """The old sequence protocol: indexing until IndexError."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, k):
        return self.items[k]


def weights_of(evaluation):
    """The number of weights an evaluation holds, as the size of a problem built on it."""
    return len(P.array_problem(M.swap(1), evaluation).solution())


PROTOCOL_CASES = {
    # name: (call, expected): expected is an exception type or the number of weights read
    "float-raises-value-error": (lambda: E.empty_bins([1.0, FloatRaises(ValueError("no"))], 2), ValueError),
    "float-raises-type-error": (lambda: E.empty_bins([FloatRaises(TypeError("no"))], 2), "argument 'weights': no"),
    "float-raises-base-exception": (lambda: E.empty_bins([FloatRaises(KeyboardInterrupt())], 2), KeyboardInterrupt),
    "float-returns-str": (lambda: E.empty_bins([FloatReturns("1")], 2), "argument 'weights': "),
    "max-fill-raises": (lambda: E.empty_space([1.0], FloatRaises(Boom())), Boom),
    "matrix-entry-raises": (lambda: E.tsp([[0, 1], [FloatRaises(Boom()), 0]]), Boom),
    "index-raises-overflow": (lambda: M.swap(IndexRaises(OverflowError("big"))), OverflowError),
    "index-raises-type-error": (lambda: M.swap(IndexRaises(TypeError("nope"))), "argument 'seed': nope"),
    "index-raises-boom": (lambda: T.min_temp(IndexRaises(Boom())), Boom),
    "index-returns-float": (lambda: T.max_iterations(Index(1.0)), "argument 'max_iterations': "),
    "len-raises": (lambda: E.empty_bins(Seq([1.0, 2.0], len_raises=Boom()), 2), 2),
    "len-lies-huge": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], length=sys.maxsize), 2), 3),
    "len-lies-small": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], length=0), 2), 3),
    "len-negative": (lambda: E.empty_bins(Seq([1.0], length=-5), 2), 1),
    "iter-raises": (lambda: E.empty_bins(Seq([1.0], iter_raises=Boom()), 2), Boom),
    "iter-raises-type-error": (lambda: E.empty_bins(Seq([1.0], iter_raises=TypeError("t")), 2),
                               "argument 'weights': t"),
    "iteration-fails-midway": (lambda: E.empty_bins(Seq([1.0, 2.0, 3.0], fail_after=2), 2), Boom),
    "row-iteration-fails": (lambda: E.tsp([[0.0, 1.0], Seq([1.0, 0.0], fail_after=1)]), Boom),
    "getitem-only-sequence": (lambda: E.empty_bins(GetItemOnly([1.0, 2.0, 3.0, 4.0]), 2), 4),
    "set-is-not-a-sequence": (lambda: E.empty_bins({1.0, 2.0}, 2), "argument 'weights': 'set' object cannot be converted to 'Sequence'"),
    "generator-is-not-a-sequence": (lambda: E.empty_bins((x for x in [1.0]), 2),
                                    "argument 'weights': 'generator' object cannot be converted to 'Sequence'"),
    "dict-is-not-a-sequence": (lambda: E.empty_bins({0: 1.0}, 2), "argument 'weights': 'dict' object cannot be converted to 'Sequence'"),
    "str-row": (lambda: E.tsp([[0.0], "0"]), "argument 'distance_matrix': Can't extract `str` to `Vec`"),
    "bytes-weights": (lambda: E.empty_bins(b"\x01\x02\x03", 2), 3),
    "range-weights": (lambda: E.empty_bins(range(5), 2), 5),
    "nested-too-deep": (lambda: E.tsp([[[0.0]]]), "argument 'distance_matrix': must be real number, not list"),
    "termination-list-lies": (lambda: T.multi_crit_or(Seq([T.always_true()] * 3, length=10**9)), None),
    "lone-surrogate-path": (lambda: E.tsp_from_dist_matrix("\udc80"), UnicodeEncodeError),
    "nul-in-path": (lambda: E.tsp_from_dist_matrix("a\0b"), OSError),
}


class TestProtocols:
    @pytest.mark.parametrize("case", PROTOCOL_CASES, ids=list(PROTOCOL_CASES))
    def test_protocols_that_raise_or_lie(self, case):
        call, expected = PROTOCOL_CASES[case]
        if expected is None:
            call()
        elif isinstance(expected, int):
            assert weights_of(call()) == expected
        elif isinstance(expected, str):
            with pytest.raises(TypeError) as info:
                call()
            assert type(info.value) is TypeError and str(info.value).startswith(expected), str(info.value)
        else:
            with pytest.raises(expected):
                call()


# ---------------------------------------------------------------- sequences changed while read

class Mutator:
    """A float whose conversion runs `action` once (changing the list being read)."""

    def __init__(self, action, value=1.0):
        self.action, self.value, self.done = action, value, False

    def __float__(self):
        if not self.done:
            self.done = True
            self.action()
        return self.value


class TestSequencesChangedWhileRead:
    def test_list_cleared_by_its_own_element_stops_the_read(self):
        weights = [1.0]
        weights[0:0] = [Mutator(lambda: weights.clear())]
        weights += [2.0, 3.0]
        assert weights_of(E.empty_bins(weights, 5)) == 1  # read as the list iterator would

    def test_list_grown_by_its_own_element_is_read_to_its_new_end(self):
        weights = [1.0, 2.0]
        weights.insert(0, Mutator(lambda: weights.extend([4.0] * 5)))
        assert weights_of(E.empty_bins(weights, 5)) == 8

    def test_matrix_whose_rows_change_while_read(self):
        rows = [[0.0, 1.0], [1.0, 0.0], [2.0, 2.0]]
        rows[0][1] = Mutator(lambda: rows.pop())  # drops the third row before it is reached
        ev = E.tsp(rows)
        assert weights_of(ev) == 2
        rows = [[0.0, 1.0], [1.0, 0.0]]
        rows[1][0] = Mutator(lambda: rows[0].clear())  # the first row is already read
        assert weights_of(E.tsp(rows)) == 2

    def test_element_dropped_while_converted_stays_alive(self):
        # The list's only reference to the element goes while the element is being converted.
        weights = [0.0]
        weights[0] = Mutator(lambda: weights.clear(), value=7.0)
        assert P.array_problem(M.swap(1), E.empty_space(weights, 10)).eval() == 3.0

    def test_criteria_list_changed_while_read(self):
        crits = [T.max_iterations(1)]

        class Sneaky(Seq):
            def __iter__(self):
                yield crits[0]
                crits.clear()  # the list it came from changes; what was yielded is kept
                yield T.always_true()

        t = T.multi_crit_and(Sneaky([]))
        check_log(LS.steepest_descent(True, small_problem(), t).run())


# ---------------------------------------------------------------- re-entrant conversions

class TestReentrantConversions:
    def test_conversion_may_call_back_into_the_same_objects(self):
        """Arguments are converted before any lock is taken, so a conversion that uses the very
        objects of the call neither deadlocks nor poisons anything."""
        p = small_problem()
        s = LS.steepest_descent(True, p, T.max_iterations(3))

        class Runs(Index):
            def __index__(self):
                s.run()
                p.eval()
                p.reset()
                return 5

        p.set_seed(Runs(0))
        result = kestrum.benchmark([s], [p], seeds=[Runs(0), 1])
        assert len(result[0][0]) == 2
        weights = [Mutator(lambda: s.run()), 1.0]
        p.set_eval_type(E.empty_bins(weights + [1.0], 2))
        assert p.eval() == 1.0
