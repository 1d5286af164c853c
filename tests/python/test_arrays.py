"""Input arrays are read in place at their logical values and never written; results are fresh arrays."""
import numpy as np
import pytest

from _ternavik import _DE, entropy_weight, topsis

RNG = np.random.default_rng(7)
BASE = RNG.normal(size=(9, 5))
KINDS = np.array([1, 0, 1, -1, 2], dtype=np.int64)
WEIGHTS = np.array([0.3, 0.1, 0.2, 0.25, 0.15])


def packed_field(values):
    """A float64 field of a packed structured array: byte strides that are not multiples of 8."""
    record = np.dtype([("tag", "u1"), ("value", "<f8")], align=False)
    packed = np.zeros(values.shape, dtype=record)
    packed["value"] = values
    field = packed["value"]
    assert all(s % 8 for s in field.strides)
    return field


def misaligned(values):
    """Elements starting at an odd address."""
    buffer = np.zeros(values.size * 8 + 3, dtype=np.uint8)
    buffer[3:] = np.ascontiguousarray(values).ravel().view(np.uint8)
    out = buffer[3:].view(np.float64).reshape(values.shape)
    assert not out.flags.aligned
    return out


def readonly(a):
    a = a.copy()
    a.flags.writeable = False
    return a


LAYOUTS = {
    "fortran": lambda a: np.asfortranarray(a),
    "reversed rows": lambda a: a[::-1].copy()[::-1],
    "reversed both": lambda a: np.ascontiguousarray(a[::-1, ::-1])[::-1, ::-1],
    "strided slice": lambda a: np.repeat(np.repeat(a, 2, axis=0), 3, axis=1)[::2, ::3],
    "transposed": lambda a: np.ascontiguousarray(a.T).T,
    "non-writeable": readonly,
    "packed field": packed_field,
    "misaligned": lambda a: misaligned(a),
}


def bits(a):
    return np.asarray(a, dtype=np.float64).view(np.uint64)


@pytest.mark.parametrize("layout", sorted(LAYOUTS))
def test_every_layout_reads_the_same_logical_values(layout):
    matrix = LAYOUTS[layout](BASE)
    assert np.array_equal(matrix, BASE)
    weights = LAYOUTS[layout](WEIGHTS[None, :])[0]
    kinds = KINDS[::-1].copy()[::-1] if layout.startswith("reversed") else KINDS
    expected_t = topsis(BASE, WEIGHTS, KINDS)
    expected_w, expected_s = entropy_weight(BASE, KINDS)
    got_w, got_s = entropy_weight(matrix, kinds)
    assert np.array_equal(bits(topsis(matrix, weights, kinds)), bits(expected_t))
    assert np.array_equal(bits(got_w), bits(expected_w))
    assert np.array_equal(bits(got_s), bits(expected_s))


def test_broadcast_arrays_with_zero_strides():
    row = np.array([1.0, 4.0, 2.0])
    matrix = np.broadcast_to(row, (6, 3))
    assert matrix.strides[0] == 0
    weights = np.broadcast_to(np.array(0.5), (3,))
    kinds = np.broadcast_to(np.array(1, dtype=np.int64), (3,))
    assert np.array_equal(bits(topsis(matrix, weights, kinds)),
                          bits(topsis(np.ascontiguousarray(matrix), np.full(3, 0.5), np.ones(3, np.int64))))


def test_inputs_are_never_written():
    data, weights, kinds = BASE.copy(), WEIGHTS.copy(), KINDS.copy()
    bounds = (np.zeros(5), np.ones(5))
    snapshot = [a.tobytes() for a in (data, weights, kinds, *bounds)]
    topsis(data, weights, kinds)
    entropy_weight(data, kinds)
    _DE(4, 5, {}, bounds).optimize(lambda x: x.sum(axis=1), 2)
    with pytest.raises(BaseException):
        topsis(data, weights, kinds[:-1])
    assert [a.tobytes() for a in (data, weights, kinds, *bounds)] == snapshot


def test_arrays_of_a_subclass_are_accepted():
    class Tagged(np.ndarray):
        pass

    data = BASE.view(Tagged)
    assert np.array_equal(bits(topsis(data, WEIGHTS, KINDS)), bits(topsis(BASE, WEIGHTS, KINDS)))


def test_results_are_fresh_writeable_c_contiguous_float64():
    first = topsis(BASE, WEIGHTS, KINDS)
    weights, scores = entropy_weight(BASE, KINDS)
    best, position = _DE(4, 5, {}, (np.zeros(5), np.ones(5))).optimize(lambda x: x.sum(axis=1), 1)
    assert type(best) is float
    for result in (first, weights, scores, position):
        assert type(result) is np.ndarray and result.dtype == np.float64 and result.ndim == 1
        assert result.flags.c_contiguous and result.flags.writeable
    expected = first.copy()
    first[:] = -1.0
    assert np.array_equal(bits(topsis(BASE, WEIGHTS, KINDS)), bits(expected))


def test_empty_inputs_convert():
    weights, scores = entropy_weight(np.zeros((3, 0)), np.zeros(0, np.int64))
    assert weights.shape == (0,) and scores.shape == (3,)
    assert topsis(np.zeros((2, 0)), np.zeros(0), np.zeros(0, np.int64)).shape == (2,)
