import os
import sys

import numpy as np
import pytest

import _ternavik
from ternavik import _engine
import reference_mcda as ref
from conftest import nan_bits_agree, run_python

ROW_MESSAGE = "Data must have more than one row"
LENGTH_MESSAGE = "assertion failed: part.equal_dim(dimension)"


def entropy_weight(data, codes):
    return _ternavik.entropy_weight(np.asarray(data, np.float64), np.asarray(codes, np.int64))


@pytest.mark.parametrize("data, codes, weights, scores", [
    ([[1, 10], [2, 10], [3, 10]], [1, 1], [1.0, 0.0], [0.0, 0.5, 1.0]),
    ([[1], [2], [3]], [0], [1.0], [1.0, 0.5, 0.0]),
    ([[1], [2], [3]], [2], [1.0], [1.0, 0.5, 0.0]),
    ([[1], [2], [3]], [-1], [1.0], [1.0, 0.5, 0.0]),
    ([[1, 5], [4, 2]], [1, 0], [0.5, 0.5], [0.0, 1.0]),
    ([[3, 7], [3, 7], [3, 7]], [1, 0], [0.5, 0.5], [1.0, 1.0, 1.0]),
    (np.zeros((3, 0)), [], [], [0.0, 0.0, 0.0]),
])
def test_small_examples_exactly(data, codes, weights, scores):
    w, s = entropy_weight(data, codes)
    assert w.dtype == s.dtype == np.float64
    assert w.tolist() == weights and s.tolist() == scores


def test_larger_example_to_twelve_decimals():
    data = [[1, 2, 3], [2, 2, 1], [4, 2, 2], [3, 2, 5]]
    w, s = entropy_weight(data, [1, 1, 0])
    np.testing.assert_allclose(w, [0.535306825534, 0.0, 0.464693174466], rtol=0, atol=5e-13)
    np.testing.assert_allclose(
        s, [0.232346587233, 0.643128782977, 0.883826706383, 0.356871217023], rtol=0, atol=5e-13)


def test_nan_spoils_only_its_own_score():
    w, s = entropy_weight([[1, 1], [np.nan, 2], [3, 3]], [1, 1])
    assert w.tolist() == [0.0, 1.0]
    assert s[0] == 0.0 and np.isnan(s[1]) and s[2] == 1.0


@pytest.mark.parametrize("seed", range(60))
def test_bit_identical_to_reference(seed):
    data, _, codes = ref.random_case(seed)
    w, s = _ternavik.entropy_weight(data, codes)
    want_w, want_s = ref.entropy_weight(data.tolist(), codes.tolist())
    ref.assert_same_bits(w, want_w)
    ref.assert_same_bits(s, want_s)


@pytest.mark.parametrize("seed", [3, 11, 42])
@pytest.mark.parametrize("layout", list(ref.layouts(np.ones((2, 1)))))
def test_every_memory_order(seed, layout):
    data, _, codes = ref.random_case(seed)
    view = ref.layouts(data)[layout]
    before = view.copy()
    w, s = _ternavik.entropy_weight(view, codes)
    want_w, want_s = ref.entropy_weight(view.tolist(), codes.tolist())
    ref.assert_same_bits(w, want_w)
    ref.assert_same_bits(s, want_s)
    ref.assert_same_bits(view, before)


@pytest.mark.parametrize("threads", ["1", "3"])
def test_pool_size_does_not_change_results(threads):
    out = run_python("""
        import numpy as np, _ternavik, reference_mcda as ref
        for seed in range(8):
            d, w, c = ref.random_case(seed)
            both = _ternavik.entropy_weight(d, c) + (_ternavik.topsis(d, w, c),)
            print(np.concatenate(both).tobytes().hex())
        """, env={"RAYON_NUM_THREADS": threads, "PYTHONPATH": os.pathsep.join(sys.path)})
    for seed, line in enumerate(out.stdout.split("\n")[:8]):
        d, w, c = ref.random_case(seed)
        here = _ternavik.entropy_weight(d, c) + (_ternavik.topsis(d, w, c),)
        assert line == np.concatenate(here).tobytes().hex()


@pytest.mark.parametrize("threads", ["1", "2", "3"])
def test_nan_bits_follow_the_model_whatever_the_threads(threads):
    assert nan_bits_agree("entropy_weight", threads)


@pytest.mark.parametrize("rows, codes", [(0, [1]), (1, [1, 0]), (1, [1, 0, 1]), (1, [])])
def test_too_few_rows(rows, codes):
    with pytest.raises(ValueError) as info:
        entropy_weight(np.ones((rows, 2)), codes)  # row check precedes the length check
    assert type(info.value) is ValueError and info.value.args == (ROW_MESSAGE,)


@pytest.mark.parametrize("codes", [[1], [1, 0, 1], []])
def test_wrong_indicator_length(codes, raises_panic):
    data = np.ones((3, 2))
    with raises_panic(LENGTH_MESSAGE) as failure:
        entropy_weight(data, codes)
    assert str(failure.value) == LENGTH_MESSAGE
    assert (data == 1).all()


@pytest.mark.parametrize("seed", range(0, 60, 3))
def test_engine_gives_the_same_bits(seed):
    data, _, codes = ref.random_case(seed)
    want = np.concatenate(_ternavik.entropy_weight(data, codes)).tobytes()
    assert np.concatenate(_engine.entropy_weight(data, codes)).tobytes() == want
    # The block pieces over rows cut anywhere: extremes, sums, weights, scores.
    m, cuts = len(codes), [0, 1, len(data) // 2, len(data)]
    blocks = [data[b:e] for b, e in zip(cuts, cuts[1:])]
    extremes, sums = np.array([[np.inf] * m, [-np.inf] * m]), np.zeros((2, m))
    for block in blocks:
        extremes = _engine.entropy_extremes(block, extremes)
    for block in blocks:
        sums = _engine.entropy_sums(block, extremes, codes, sums)
    weights = _engine.entropy_weights(extremes, sums, len(data))
    scores = [_engine.entropy_scores(block, extremes, weights, codes) for block in blocks]
    assert np.concatenate([weights] + scores).tobytes() == want


def test_engine_fails_like_the_module(raises_panic):
    with pytest.raises(ValueError, match=ROW_MESSAGE):
        _engine.entropy_weight(np.ones((1, 2)), np.ones(3, np.int64))
    with raises_panic(LENGTH_MESSAGE):
        _engine.entropy_weight(np.ones((3, 2)), np.ones(1, np.int64))
    with pytest.raises(ValueError, match=ROW_MESSAGE):
        _engine.entropy_weights(np.ones((2, 2)), np.ones((2, 2)), 1)
    with pytest.raises(ValueError, match=r"sums must have shape \(2, 3\)"):
        _engine.entropy_weights(np.ones((2, 3)), np.ones((2, 2)), 5)
