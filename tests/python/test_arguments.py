"""Argument binding and conversion: exact messages and which exception types pass through."""
import numpy as np
import pytest

import _ternavik
from _ternavik import _DE, entropy_weight, topsis
from conftest import BadIndex, Index

D = np.array([[1.0, 2.0], [3.0, 5.0], [4.0, 1.0]])
W = np.array([0.5, 0.5])
K = np.array([1, 0], dtype=np.int64)
B = (np.zeros(2), np.ones(2))


def message(call):
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value)


@pytest.mark.parametrize("call, expected", [
    (lambda: entropy_weight(), "entropy_weight() missing 2 required positional arguments: 'data' and 'indicator_type'"),
    (lambda: topsis(D), "topsis() missing 2 required positional arguments: 'weights' and 'indicator_type'"),
    (lambda: topsis(D, W), "topsis() missing 1 required positional argument: 'indicator_type'"),
    (lambda: _DE(4), "_DE.__new__() missing 3 required positional arguments: 'dimensions', 'options', and 'bounds'"),
    (lambda: _DE(4, 2, {}, B, 5), "_DE.__new__() takes 4 positional arguments but 5 were given"),
    (lambda: topsis(D, W, K, data=D), "topsis() got multiple values for argument 'data'"),
    (lambda: topsis(D, W, weights=W, indicator_type=K), "topsis() got multiple values for argument 'weights'"),
    (lambda: _DE(4, 2, {}, B).optimize(lambda x: x, iterations=3), "_DE.optimize() got an unexpected keyword argument 'iterations'"),
    (lambda: _DE(4, 2, {}, B).optimize(1, 2, 3), "_DE.optimize() takes 2 positional arguments but 3 were given"),
    # too many positionals is reported before any keyword is looked at
    (lambda: topsis(D, W, K, D, bogus=1), "topsis() takes 3 positional arguments but 4 were given"),
])
def test_binding_messages(call, expected):
    assert message(call) == expected


def test_keywords_bind_like_positionals():
    expected = topsis(D, W, K)
    assert topsis(D, weights=W, indicator_type=K).tobytes() == expected.tobytes()
    assert topsis(indicator_type=K, data=D, weights=W).tobytes() == expected.tobytes()
    w1, s1 = entropy_weight(indicator_type=K, data=D)
    w2, s2 = entropy_weight(D, K)
    assert w1.tobytes() == w2.tobytes() and s1.tobytes() == s2.tobytes()


ARRAY = "cannot be converted to 'PyArray<T, D>'"


@pytest.mark.parametrize("args, expected", [
    ((D.tolist(), W, K), "argument 'data': 'list' object " + ARRAY),
    ((D.astype(np.int64), W, K), "argument 'data': 'ndarray' object " + ARRAY),
    ((D[0], W, K), "argument 'data': 'ndarray' object " + ARRAY),
    ((D.astype(np.float32), W, K), "argument 'data': 'ndarray' object " + ARRAY),
    ((D.astype(">f8"), W, K), "argument 'data': 'ndarray' object " + ARRAY),
    ((D, W.astype(np.int64), K), "argument 'weights': 'ndarray' object " + ARRAY),
    ((D, 0.5, K), "argument 'weights': 'float' object " + ARRAY),
    ((D, W, K.astype(np.float64)), "argument 'indicator_type': 'ndarray' object " + ARRAY),
    ((D, W, K.astype(np.int32)), "argument 'indicator_type': 'ndarray' object " + ARRAY),
    ((D, W, np.array(K, dtype=object)), "argument 'indicator_type': 'ndarray' object " + ARRAY),
    # conversion runs in signature order: the first bad argument is reported
    ((None, None, None), "argument 'data': 'NoneType' object " + ARRAY),
])
def test_array_conversion_messages(args, expected):
    assert message(lambda: topsis(*args)) == expected


def test_array_conversion_error_has_no_cause():
    with pytest.raises(TypeError) as info:
        topsis(None, W, K)
    assert info.value.__cause__ is None and info.value.args == (str(info.value),)


@pytest.mark.parametrize("pop", [4, True + 3, np.int64(4), np.uint8(4), Index(4)])
def test_integer_arguments_accept_the_index_protocol(pop):
    assert isinstance(_DE(pop, 2, {}, B), _DE)


@pytest.mark.parametrize("pop, kind, text", [
    (4.0, TypeError, "argument 'pop': 'float' object cannot be interpreted as an integer"),
    ("4", TypeError, "argument 'pop': 'str' object cannot be interpreted as an integer"),
    (None, TypeError, "argument 'pop': 'NoneType' object cannot be interpreted as an integer"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (2 ** 64, OverflowError, None),
    (Index(-1), OverflowError, None),
    (BadIndex(), KeyError, None),
])
def test_integer_conversion_failures(pop, kind, text):
    with pytest.raises(kind) as info:
        _DE(pop, 2, {}, B)
    assert type(info.value) is kind
    if text is not None:
        assert str(info.value) == text
    if kind is not TypeError:  # only TypeError gets the argument prefix
        assert "argument 'pop'" not in str(info.value)


def test_largest_u64_is_a_valid_value():
    # 2**64 - 1 converts; it then fails later, as a bounds mismatch
    with pytest.raises(ValueError, match="Bounds dimensions must match problem dimensions"):
        _DE(4, 2 ** 64 - 1, {}, B)


@pytest.mark.parametrize("args, expected", [
    ((4, 2, [], B), "argument 'options': 'list' object cannot be converted to 'PyDict'"),
    ((4, 2, {}, list(B)), "argument 'bounds': 'list' object cannot be converted to 'PyTuple'"),
    ((3, 2, [], ()), "argument 'options': 'list' object cannot be converted to 'PyDict'"),
])
def test_dict_and_tuple_checks(args, expected):
    assert message(lambda: _DE(*args)) == expected

