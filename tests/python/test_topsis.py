import numpy as np
import pytest

import _ternavik
from ternavik import _engine
import reference_mcda as ref
from conftest import nan_bits_agree

ROW_MESSAGE = "Data must have more than one row"
LENGTH_MESSAGE = "assertion failed: part.equal_dim(dimension)"


def topsis(data, weights, codes):
    return _ternavik.topsis(np.asarray(data, np.float64), np.asarray(weights, np.float64),
                            np.asarray(codes, np.int64))


@pytest.mark.parametrize("data, weights, codes, want", [
    ([[3, 4], [0, 0]], [1, 1], [1, 1], [1.0, 0.0]),
    ([[3, 4], [0, 0]], [1, 1], [0, 0], [0.0, 1.0]),
    ([[1, 2], [1, 2]], [0.5, 0.5], [1, 0], [0.5, 0.5]),
    ([[1, 0], [2, 0], [3, 0]], [1, 1], [1, 1], [0.0, 0.5, 1.0]),
    (np.zeros((4, 0)), [], [], [0.5] * 4),
    ([[1], [2], [3]], [-1], [1], [1.0, 0.5, 0.0]),  # negative weight flips the ideal
    ([[1, 5], [2, 5], [3, 9]], [1, 0], [1, 2], [0.0, 0.5, 1.0]),  # zero weight: no say
])
def test_examples_exactly(data, weights, codes, want):
    got = topsis(data, weights, codes)
    assert got.dtype == np.float64 and got.tolist() == want


def test_nan_criterion_spoils_every_coefficient():
    assert np.isnan(topsis([[1, 2], [np.nan, 3], [2, 1]], [1, 1], [1, 1])).all()


@pytest.mark.parametrize("seed", range(60))
def test_bit_identical_to_reference(seed):
    data, weights, codes = ref.random_case(seed)
    got = _ternavik.topsis(data, weights, codes)
    ref.assert_same_bits(got, ref.topsis(data.tolist(), weights.tolist(), codes.tolist()))


@pytest.mark.parametrize("seed", [3, 11, 42])
@pytest.mark.parametrize("layout", list(ref.layouts(np.ones((2, 1)))))
def test_every_memory_order(seed, layout):
    data, weights, codes = ref.random_case(seed)
    view = ref.layouts(data)[layout]
    weights_view = np.repeat(weights, 2)[::-2][::-1]  # strided weights too
    before = view.copy(), weights_view.copy(), codes.copy()
    got = _ternavik.topsis(view, weights_view, codes)
    ref.assert_same_bits(got, ref.topsis(view.tolist(), weights.tolist(), codes.tolist()))
    for arg, old in zip((view, weights_view, codes), before):
        ref.assert_same_bits(arg.astype(np.float64), old.astype(np.float64))


@pytest.mark.parametrize("rows", [0, 1])
def test_too_few_rows(rows):
    with pytest.raises(ValueError) as info:
        topsis(np.ones((rows, 2)), [1.0], [1, 1, 1])  # row check precedes the length checks
    assert type(info.value) is ValueError and info.value.args == (ROW_MESSAGE,)


@pytest.mark.parametrize("weights, codes", [
    ([1.0], [1, 1]), ([1.0, 1.0, 1.0], [1, 1]), ([1.0, 1.0], [1]), ([1.0], [1, 1, 1]), ([], []),
])
def test_wrong_lengths(weights, codes, raises_panic):
    with raises_panic(LENGTH_MESSAGE) as failure:
        topsis(np.ones((3, 2)), weights, codes)
    assert str(failure.value) == LENGTH_MESSAGE



@pytest.mark.parametrize("threads", ["1", "2", "3"])
def test_nan_bits_follow_the_model_whatever_the_threads(threads):
    assert nan_bits_agree("topsis", threads)


@pytest.mark.parametrize("seed", range(0, 60, 3))
def test_engine_gives_the_same_bits(seed):
    data, weights, codes = ref.random_case(seed)
    want = _ternavik.topsis(data, weights, codes)
    assert _engine.topsis(data, weights, codes).tobytes() == want.tobytes()
    # The block pieces over rows cut anywhere: scan, ideals, closeness.
    state = np.array([[0.0] * len(codes), [np.inf] * len(codes), [-np.inf] * len(codes)])
    cuts = [0, 1, len(data) // 2, len(data)]
    for begin, end in zip(cuts, cuts[1:]):
        state = _engine.topsis_scan(data[begin:end], state)
    ideals = _engine.topsis_ideals(state, weights, codes)
    parts = [_engine.topsis_closeness(data[b:e], ideals) for b, e in zip(cuts, cuts[1:])]
    assert np.concatenate(parts).tobytes() == want.tobytes()


def test_engine_fails_like_the_module(raises_panic):
    with pytest.raises(ValueError, match=ROW_MESSAGE):
        _engine.topsis(np.ones((1, 2)), np.ones(1), np.ones(3, np.int64))
    with raises_panic(LENGTH_MESSAGE):
        _engine.topsis(np.ones((3, 2)), np.ones(1), np.ones(2, np.int64))
    with pytest.raises(ValueError, match=r"state must have shape \(3, 2\)"):
        _engine.topsis_scan(np.ones((3, 2)), np.zeros((2, 2)))
    with pytest.raises(ValueError, match="indicator_type must have one element per column"):
        _engine.topsis_ideals(np.ones((3, 2)), np.ones(2), np.ones(3, np.int64))
    with pytest.raises(TypeError, match="block"):
        _engine.topsis_closeness([[1.0]], np.ones((3, 1)))
