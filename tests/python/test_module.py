"""What importing the module gives: names, signatures, the class, once-only start."""
import sys

import numpy as np
import pytest

import _ternavik
from conftest import run_python


def test_module_attributes():
    assert _ternavik.__all__ == ["entropy_weight", "topsis", "_DE"]
    assert _ternavik.__doc__ == ""


@pytest.mark.parametrize("function, signature", [
    (_ternavik.topsis, "(data, weights, indicator_type)"),
    (_ternavik.entropy_weight, "(data, indicator_type)"),
    (_ternavik._DE.optimize, "($self, fitness_function, iters)"),
])
def test_functions_carry_text_signatures_and_no_doc(function, signature):
    assert function.__text_signature__ == signature
    assert function.__doc__ is None


def test_function_belongs_to_module():
    assert _ternavik.topsis.__module__ == "_ternavik"
    assert _ternavik.topsis.__self__ is _ternavik


def test_de_class_identity():
    assert _ternavik._DE.__module__ == "builtins"
    assert _ternavik._DE.__name__ == _ternavik._DE.__qualname__ == "_DE"


def test_de_is_subclassable_and_instances_are_freed():
    class Sub(_ternavik._DE):
        pass

    bounds = (np.zeros(2), np.ones(2))

    def make(cls, count):
        for _ in range(count):
            instance = cls(4, 2, {}, bounds)
            assert type(instance) is cls and isinstance(instance, _ternavik._DE)

    for cls in (Sub, _ternavik._DE):
        make(cls, 10)  # let the interpreter warm its caches at this call site
        refs_before = sys.getrefcount(cls)
        make(cls, 1000)
        assert sys.getrefcount(cls) == refs_before


def test_second_initialisation_fails_and_first_module_keeps_working():
    run_python("""
        import importlib, sys
        import numpy as np
        import _ternavik
        first = _ternavik
        del sys.modules["_ternavik"]
        try:
            importlib.import_module("_ternavik")
        except ImportError as e:
            assert str(e) == ("PyO3 modules compiled for CPython 3.8 or older may only be "
                              "initialized once per interpreter process"), e
        else:
            raise AssertionError("second initialisation succeeded")
        d = np.array([[1.0, 2.0], [3.0, 4.0]])
        assert first.topsis(d, np.ones(2), np.ones(2, dtype=np.int64)).shape == (2,)
    """)


def test_import_does_not_import_numpy_but_first_array_call_does():
    run_python("""
        import sys
        import _ternavik
        assert "numpy" not in sys.modules
        try:
            _ternavik.topsis(1, 2, 3)
        except TypeError:
            pass
        assert "numpy" in sys.modules
    """)


def test_missing_numpy_is_an_internal_failure():
    done = run_python("""
        import sys
        class NoNumpy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy" or name.startswith("numpy."):
                    raise ModuleNotFoundError("No module named 'numpy'")
        sys.meta_path.insert(0, NoNumpy())
        import _ternavik
        try:
            _ternavik.topsis(1, 2, 3)
        except BaseException as e:
            assert type(e).__name__ == "PanicException", type(e)
            print(e)
    """)
    assert done.stdout.startswith("Failed to access NumPy array API capsule: ModuleNotFoundError")
