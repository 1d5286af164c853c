"""SMAA-2: acceptabilities are shares of ranks, central weights are means of
the winning weight vectors, and the same seed gives the same bits."""

import json
import os
import sys

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import ternavik
from ternavik import InputError, _engine, methods
from conftest import run_python


def min_ranks(values):
    """Competition ranks from 1 ("min", as scipy.stats.rankdata names it): one
    more than the number of strictly smaller values. Written out so that the
    suite needs no SciPy."""
    values = np.asarray(values)
    return 1 + (values[None, :] < values[:, None]).sum(axis=1)


def reference_counts(scores, weights, higher):
    """Counts by "min" ranks, NaN last: the plain model of rank_counts."""
    k, n = scores.shape
    counts = np.zeros((n, n))
    central = np.zeros((n, weights.shape[1]))
    for row, w in zip(scores, weights):
        keyed = np.where(np.isnan(row), np.inf, -row if higher else row)
        ranks = min_ranks(keyed) - 1
        ranks[np.isnan(row)] = np.count_nonzero(~np.isnan(row))
        counts[np.arange(n), ranks] += 1
        central[ranks == 0] += w
    return counts, central


@settings(max_examples=120, deadline=None)
@given(st.integers(1, 40), st.integers(1, 7), st.integers(1, 4), st.booleans(),
       st.integers(0, 2**32 - 1))
def test_rank_counts_equal_scipys_min_ranks(k, n, m, higher, seed):
    rng = np.random.default_rng(seed)
    scores = np.round(rng.normal(size=(k, n)), 1)  # ties on purpose
    scores[rng.random((k, n)) < 0.1] = np.nan
    scores[0, 0] = -0.0 if n > 1 else scores[0, 0]
    weights = rng.random((k, m))
    counts, central = _engine.rank_counts(scores, weights, int(higher))
    want_counts, want_central = reference_counts(scores, weights, higher)
    np.testing.assert_array_equal(counts, want_counts)
    np.testing.assert_allclose(central, want_central, rtol=1e-12, atol=1e-12)


@settings(max_examples=40, deadline=None)
@given(st.integers(2, 8), st.integers(1, 5), st.integers(0, 2**32 - 1),
       st.sampled_from(sorted({"topsis", "vikor", "gra", "promethee2", "mabac"}
                              & set(methods.REGISTRY))))
def test_rows_and_columns_of_acceptability_sum_to_one(n, m, seed, method):
    rng = np.random.default_rng(seed)
    data = rng.random((n, m)) + 0.5
    r = ternavik.smaa(data, "+" * m, method=method, samples=300, seed=seed)
    a = r.acceptability
    np.testing.assert_allclose(a.sum(axis=1), 1.0, rtol=0, atol=1e-12)
    # Scores tie only for duplicate rows under these two; VIKOR's Q and the
    # step preferences tie often, and a tie leaves a rank column empty.
    if method in ("topsis", "gra") and m > 1:
        np.testing.assert_allclose(a.sum(axis=0), 1.0, rtol=0, atol=1e-12)
    assert r.central_weights.shape == (n, m)
    has = a[:, 0] > 0
    np.testing.assert_allclose(r.central_weights[has].sum(axis=1), 1.0, rtol=1e-12)
    assert np.isnan(r.central_weights[~has]).all() and np.isnan(r.confidence[~has]).all()
    assert set(np.unique(r.confidence[has])) <= {0.0, 1.0}


@pytest.mark.parametrize("method", ["topsis", "vikor", "mairca", "spotis"])
def test_a_dominating_alternative_is_always_first(method):
    data = np.array([[9.0, 9.0, 1.0], [5.0, 2.0, 4.0], [3.0, 8.0, 6.0], [4.0, 4.0, 2.0]])
    r = ternavik.smaa(data, "++-", method=method, samples=3000, seed=11)
    assert r.acceptability[0, 0] == 1.0
    assert r.confidence[0] == 1.0
    np.testing.assert_allclose(r.central_weights[0], 1 / 3, atol=0.03)


def test_two_symmetric_alternatives_split_about_evenly_and_the_weights_show_why():
    r = ternavik.smaa([[1.0, 0.0], [0.0, 1.0], [0.4, 0.4]], "++", samples=20000, seed=5)
    assert r.acceptability[0, 0] == pytest.approx(0.5, abs=0.02)
    assert r.acceptability[1, 0] == pytest.approx(0.5, abs=0.02)
    assert r.central_weights[0, 0] == pytest.approx(0.75, abs=0.02)
    assert r.central_weights[1, 1] == pytest.approx(0.75, abs=0.02)
    assert r.acceptability[2, 0] == 0.0 and np.isnan(r.confidence[2])


def test_same_seed_same_bits_for_one_two_and_three_threads():
    code = """
        import hashlib, json, numpy as np, ternavik
        x = np.random.default_rng(0).random((60, 6)) + 0.1
        out = []
        for method in ("topsis", "vikor", "promethee2"):
            r = ternavik.smaa(x, "++-+-+", method=method, samples=20000, seed=42)
            out.append(hashlib.sha256(r.acceptability.tobytes() + r.central_weights.tobytes()
                                      + r.confidence.tobytes()).hexdigest())
        print(json.dumps(out))
    """
    env = {"PYTHONPATH": os.pathsep.join(sys.path)}
    runs = {t: run_python(code, env={**env, "RAYON_NUM_THREADS": str(t)}).stdout
            for t in (1, 2, 3)}
    assert runs[1] == runs[2] == runs[3]
    assert len(set(json.loads(runs[1]))) == 3
    x = np.random.default_rng(0).random((5, 3))
    one = ternavik.smaa(x, "+++", samples=500, seed=np.random.default_rng(9))
    two = ternavik.smaa(x, "+++", samples=500, seed=np.random.default_rng(9))
    assert one.acceptability.tobytes() == two.acceptability.tobytes()


def test_bounds_and_importance_orders_restrict_the_weights():
    x = np.random.default_rng(3).random((8, 3)) + 0.1
    bounds = [[0.5, 0.7], [0.1, 0.3], [0.0, 1.0]]
    r = ternavik.smaa(x, "+++", samples=4000, seed=2, weights=bounds)
    has = r.acceptability[:, 0] > 0
    cw = r.central_weights[has]
    assert (cw[:, 0] >= 0.5).all() and (cw[:, 0] <= 0.7).all() and (cw[:, 1] <= 0.3).all()
    ordered = ternavik.smaa(x, "+++", samples=4000, seed=2, weights=[3, 1, 2])
    cw = ordered.central_weights[ordered.acceptability[:, 0] > 0]
    assert (cw[:, 1] >= cw[:, 2]).all() and (cw[:, 2] >= cw[:, 0]).all()
    tied = ternavik.smaa(x, "+++", samples=4000, seed=2, weights=[1, 1, 2])
    cw = tied.central_weights[tied.acceptability[:, 0] > 0]
    assert (np.minimum(cw[:, 0], cw[:, 1]) >= cw[:, 2]).all()


def test_acceptability_agrees_with_a_plain_loop_over_the_same_draws():
    x = np.random.default_rng(8).random((7, 4)) + 0.1
    r = ternavik.smaa(x, "+-++", samples=700, seed=4)
    rng = np.random.default_rng(4)
    draws = rng.standard_exponential((700, 4))
    draws /= draws.sum(axis=1, keepdims=True)
    counts = np.zeros((7, 7))
    for w in draws:
        ranks = min_ranks(-np.asarray(methods.REGISTRY["topsis"].function(
            data=x, weights=w, kinds=np.array([1, 0, 1, 1]))))
        counts[np.arange(7), ranks - 1] += 1
    np.testing.assert_array_equal(r.acceptability, counts / 700)


def test_labelled_data_gives_labelled_tables_and_a_picture():
    pd = pytest.importorskip("pandas")
    pytest.importorskip("matplotlib")
    df = pd.DataFrame({"price": [3, 5, 4, np.nan], "speed": [7, 9, 8, 1]},
                      index=["a", "b", "c", "d"])
    r = ternavik.smaa(df, {"price": "min", "speed": "max"}, samples=200, seed=1,
                      nan_policy="omit", weights={"price": (0.2, 0.8), "speed": (0.2, 0.8)})
    assert list(r.acceptability.index) == ["a", "b", "c"]
    assert list(r.acceptability.columns) == [1, 2, 3]
    assert list(r.central_weights.columns) == ["price", "speed"]
    assert "first-rank acceptability" in repr(r)
    fig = r.plot()
    assert len(fig.axes) == 1 and fig.axes[0].get_ylim() == (0.0, 1.0)


@pytest.mark.parametrize("kwargs, match", [
    (dict(samples=0), "samples"),
    (dict(samples=2.5), "samples"),
    (dict(method="nope"), "method must be one of"),
    (dict(method=42), "method must be"),
    (dict(weights=[[0.6, 0.9], [0.6, 0.9]]), "no weights summing to 1"),
    (dict(weights=[[0.0, 0.1], [0.0, 0.1]]), "no weights summing to 1"),
    (dict(weights=[[0.5, 0.4], [0.0, 1.0]]), "low <= high"),
    (dict(weights=[0, 1]), "whole rank"),
    (dict(weights=[1, 2, 3]), "bounds or 2 importance ranks"),
    (dict(weights={"a": 1}), "labelled criteria"),
    (dict(weights="equal"), "got 'equal'"),
    (dict(seed=-1), "seed must be"),
    (dict(seed="x"), "seed must be"),
    (dict(weights=[[0.999999, 1.0], [0.0, 0.000001]]), "too small a part"),
])
def test_unusable_arguments_are_refused(kwargs, match):
    with pytest.raises(InputError, match=match):
        ternavik.smaa([[1.0, 2.0], [2.0, 1.0]], "++", **kwargs)


def test_labelled_refusals_name_the_criterion_and_alternative():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"x": [1.0, 2.0], "y": [2.0, 1.0]})
    with pytest.raises(InputError, match="unknown criteria 'z'"):
        ternavik.smaa(df, "++", weights={"x": (0, 1), "y": (0, 1), "z": (0, 1)})
    holed = pd.DataFrame({"x": [1.0, np.nan, 3.0], "y": [2.0, 1.0, 3.0]}, index=list("abc"))
    with pytest.raises(InputError, match="alternative 'b', criterion 'x'"):
        ternavik.smaa(holed, "++", nan_policy="propagate")


@settings(max_examples=60, deadline=None)
@given(st.one_of(st.none(), st.integers(-3, 3), st.floats(allow_nan=True), st.text(max_size=3),
                 st.lists(st.floats(allow_nan=True, allow_infinity=True), max_size=4)),
       st.one_of(st.integers(-2, 2), st.floats(allow_nan=True), st.none()))
def test_fuzzed_rank_counts_arguments_give_errors_never_crashes(scores, higher):
    try:
        _engine.rank_counts(scores, np.ones((1, 1)), higher)
    except (TypeError, ValueError, OverflowError):
        pass
