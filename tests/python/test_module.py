"""The module frame: import, classes, binding messages, converters, PanicException."""

import struct
import sys
import textwrap
import weakref

import pytest

import kestrum

CLASSES = ["LocalSearch", "Problem", "Termination", "IterationsPerTemp", "Cooling", "Evaluation", "MoveType"]


class TestModule:
    def test_all_lists_classes_in_order(self):
        assert kestrum.__all__ == CLASSES + ["benchmark"]
        for name in kestrum.__all__:
            assert getattr(kestrum, name) is not None

    def test_doc_is_empty_string(self):
        assert kestrum.__doc__ == ""

    def test_reimport_returns_same_module(self):
        first = sys.modules.pop("kestrum")
        try:
            import kestrum as again

            assert again is first
        finally:
            sys.modules["kestrum"] = first

    def test_second_interpreter_cannot_import(self):
        interpreters = pytest.importorskip("_interpreters" if sys.version_info >= (3, 13) else "_xxsubinterpreters")
        code = textwrap.dedent(
            """
            try:
                import kestrum
            except ImportError:
                pass
            else:
                raise AssertionError("imported in a second interpreter")
            """
        )
        interp = interpreters.create()
        try:
            result = interpreters.run_string(interp, code)
            assert result is None
        finally:
            interpreters.destroy(interp)


@pytest.mark.parametrize("name", CLASSES)
class TestTypeObjects:
    def test_identity(self, name):
        cls = getattr(kestrum, name)
        assert cls.__module__ == "builtins"
        assert cls.__name__ == cls.__qualname__ == name
        assert cls.__doc__ is None
        assert cls.__bases__ == (object,)

    def test_no_constructor(self, name):
        with pytest.raises(TypeError) as err:
            getattr(kestrum, name)()
        assert str(err.value) == "No constructor defined"

    def test_not_subclassable(self, name):
        with pytest.raises(TypeError):
            type("Sub", (getattr(kestrum, name),), {})


class TestInstances:
    def test_plain_object(self):
        c = kestrum.Cooling.geometric_cooling(0.95)
        assert type(c) is kestrum.Cooling
        assert repr(c).startswith("<builtins.Cooling object at 0x")
        assert not hasattr(c, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(c)
        assert c == c and c != kestrum.Cooling.geometric_cooling(0.95)

    def test_method_docstrings_are_text_signatures(self):
        method = kestrum.Cooling.geometric_cooling
        assert method.__text_signature__ == "(alpha)"
        assert method.__doc__ is None
        assert kestrum.IterationsPerTemp.cnst_iter_temp.__text_signature__ == "(iterations)"

    def test_static_method_callable_on_instance(self):
        c = kestrum.Cooling.geometric_cooling(alpha=1)
        assert saved(c.geometric_cooling(0.5)) == saved(kestrum.Cooling.geometric_cooling(0.5))


def saved(obj):
    """The saved state's bytes: a format byte, a class byte, then the value."""
    return obj.__reduce__()[1][1]


def cooling_bytes(alpha):
    return bytes([1, 4]) + struct.pack("<d", alpha)


def iterations_bytes(iterations):
    return bytes([1, 3]) + struct.pack("<I", iterations)


class FloatSub(float):
    pass


class HasFloat:
    def __float__(self):
        return 2.5


class HasIndex:
    def __index__(self):
        return 7


class TestBinding:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: kestrum.Cooling.geometric_cooling(), "Cooling.geometric_cooling() missing 1 required positional argument: 'alpha'"),
            (lambda: kestrum.Cooling.geometric_cooling(1, 2), "Cooling.geometric_cooling() takes 1 positional arguments but 2 were given"),
            (lambda: kestrum.Cooling.geometric_cooling(beta=1), "Cooling.geometric_cooling() got an unexpected keyword argument 'beta'"),
            (lambda: kestrum.Cooling.geometric_cooling(1, alpha=1), "Cooling.geometric_cooling() got multiple values for argument 'alpha'"),
            (lambda: kestrum.Cooling.geometric_cooling(alpha=1, beta=2), "Cooling.geometric_cooling() got an unexpected keyword argument 'beta'"),
        ],
        ids=["missing", "too-many", "unknown-keyword", "duplicate", "unknown-after-valid"],
    )
    def test_binding_messages(self, call, message):
        with pytest.raises(TypeError) as err:
            call()
        assert type(err.value) is TypeError
        assert str(err.value) == message

    @pytest.mark.parametrize(
        "arg, expected",
        [(0.95, 0.95), (1, 1.0), (True, 1.0), (FloatSub(0.25), 0.25), (HasFloat(), 2.5), (HasIndex(), 7.0)],
        ids=["float", "int", "bool", "float-subclass", "__float__", "__index__"],
    )
    def test_float_converter_accepts(self, arg, expected):
        assert saved(kestrum.Cooling.geometric_cooling(arg)) == cooling_bytes(expected)

    def test_float_converter_refuses_str_with_prefix(self):
        with pytest.raises(TypeError) as err:
            kestrum.Cooling.geometric_cooling("x")
        assert str(err.value).startswith("argument 'alpha': ")
        assert err.value.__cause__ is None

    def test_only_exact_type_error_is_wrapped(self):
        class Boom:
            def __float__(self):
                raise ValueError("no float here")

        with pytest.raises(ValueError, match="^no float here$"):
            kestrum.Cooling.geometric_cooling(Boom())

    def test_type_error_subclass_is_not_wrapped(self):
        class MyTypeError(TypeError):
            pass

        class Boom:
            def __float__(self):
                raise MyTypeError("mine")

        with pytest.raises(MyTypeError, match="^mine$"):
            kestrum.Cooling.geometric_cooling(Boom())

    def test_wrapped_error_keeps_cause(self):
        class Boom:
            def __float__(self):
                try:
                    raise KeyError("root")
                except KeyError as e:
                    raise TypeError("bad float") from e

        with pytest.raises(TypeError) as err:
            kestrum.Cooling.geometric_cooling(Boom())
        assert str(err.value) == "argument 'alpha': bad float"
        assert isinstance(err.value.__cause__, KeyError)

    @pytest.mark.parametrize(
        "arg, exc, message",
        [
            (2**32, OverflowError, "out of range integral type conversion attempted"),
            (-1, OverflowError, None),
            (2**64, OverflowError, None),
            (1.0, TypeError, "argument 'iterations': 'float' object cannot be interpreted as an integer"),
            ("3", TypeError, None),
        ],
        ids=["2**32", "negative", "2**64", "float", "str"],
    )
    def test_word_converter_refuses(self, arg, exc, message):
        with pytest.raises(exc) as err:
            kestrum.IterationsPerTemp.cnst_iter_temp(arg)
        assert type(err.value) is exc
        if message is not None:
            assert str(err.value) == message
        if exc is TypeError:
            assert str(err.value).startswith("argument 'iterations': ")

    @pytest.mark.parametrize("arg, expected", [(0, 0), (4294967295, 4294967295), (True, 1), (HasIndex(), 7)],
                             ids=["0", "max", "True", "__index__"])
    def test_word_converter_accepts(self, arg, expected):
        assert saved(kestrum.IterationsPerTemp.cnst_iter_temp(arg)) == iterations_bytes(expected)
