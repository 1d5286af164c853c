"""Outranking, grey relations, MULTIMOORA and VIKOR's compromise set against
the peers (pymcdm's PROMETHEE_I flows, scikit-criteria's ELECTRE I) and
against straightforward hand computations."""

import importlib.util
import warnings

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from ternavik import InputError, _engine
from ternavik._outranking import (electre1, gra, multimoora, promethee1,
                                  vikor_compromise)


@st.composite
def problems(draw, low=2, high=9, positive=False):
    n = draw(st.integers(low, high))
    m = draw(st.integers(1, 5))
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    x = rng.integers(1, 6, size=(n, m)).astype(float) if draw(st.booleans()) else \
        rng.random((n, m)) * 10 + (0.1 if positive else -5.0)
    kinds = rng.integers(0, 2, size=m)
    w = rng.random(m) + 0.05
    return x, w, kinds


def hand_gra(x, w, kinds, zeta):
    lo, hi = x.min(axis=0), x.max(axis=0)
    span = np.where(hi > lo, hi - lo, 1.0)
    r = np.where(kinds == 1, (x - lo) / span, (hi - x) / span)
    r[:, hi == lo] = 1.0
    delta = 1.0 - r
    dmin, dmax = delta.min(), delta.max()
    xi = np.ones_like(delta) if dmax == 0 else (dmin + zeta * dmax) / (delta + zeta * dmax)
    return xi @ (w / w.sum())


@settings(max_examples=150, deadline=None)
@given(problems(), st.sampled_from([0.5, 1.0, 0.1]))
def test_gra_equals_the_hand_formula_and_ignores_the_weights_scale(problem, zeta):
    x, w, kinds = problem
    got = gra(x, w, kinds, zeta=zeta)
    np.testing.assert_allclose(got, hand_gra(x, w, kinds, zeta), rtol=1e-12, atol=1e-15)
    assert np.array_equal(np.argsort(-got, kind="stable"),
                          np.argsort(-gra(x, w * 1024.0, kinds, zeta=zeta), kind="stable"))
    batch = gra(x, np.stack([w, w[::-1]]), kinds, zeta=zeta)
    assert batch.shape == (2, x.shape[0]) and batch[0].tobytes() == got.tobytes()


def test_gra_by_hand_and_refusals():
    # r = [[0, 1], [.5, 0], [1, .5]], weights 1/4 and 3/4, zeta 1/2.
    np.testing.assert_allclose(gra([[1, 2], [2, 4], [3, 3]], [1, 3], "+-"),
                               [0.25 / 3 + 0.75, 0.125 + 0.25, 0.25 + 0.375], rtol=1e-15)
    assert gra([[2, 2], [2, 2]], [1, 1], "++").tolist() == [1.0, 1.0]
    for zeta in (0.0, 1.5, float("nan")):
        with pytest.raises(InputError, match="zeta"):
            gra([[1, 2], [2, 1]], [1, 1], "++", zeta=zeta)


PYMCDM_NAMES = {"usual": "usual", "u-shape": "ushape", "v-shape": "vshape", "level": "level",
                "linear": "vshape_2"}


def _without(module):
    return pytest.mark.skipif(importlib.util.find_spec(module) is None,
                              reason=f"{module} is not installed")


@_without("pymcdm")
@settings(max_examples=100, deadline=None)
@given(problems(low=3), st.sampled_from(sorted(PYMCDM_NAMES)))
def test_promethee1_flows_equal_pymcdms(problem, function):
    from pymcdm.methods.partial import PROMETHEE_I
    x, w, kinds = problem
    spread = np.ptp(x, axis=0) + 1.0
    q, p = 0.2 * spread, 0.6 * spread
    if function == "usual":
        reference = PROMETHEE_I(PYMCDM_NAMES[function])
        ours = promethee1(x, w, kinds, preference=function)
    elif function == "v-shape":
        reference = PROMETHEE_I("vshape", p=p)
        ours = promethee1(x, w, kinds, preference=function, p=p)
    elif function == "u-shape":
        reference = PROMETHEE_I("ushape", q=q)
        ours = promethee1(x, w, kinds, preference=function, q=q)
    else:
        reference = PROMETHEE_I(PYMCDM_NAMES[function], p=p, q=q)
        ours = promethee1(x, w, kinds, preference=function, p=p, q=q)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        plus, minus = reference(x, w / w.sum(), np.where(kinds == 1, 1, -1))
    np.testing.assert_allclose(ours.positive, plus, rtol=1e-12, atol=1e-14)
    np.testing.assert_allclose(ours.negative, minus, rtol=1e-12, atol=1e-14)


@settings(max_examples=100, deadline=None)
@given(problems(low=2))
def test_promethee1_relation_follows_the_flows_pair_by_pair(problem):
    x, w, kinds = problem
    r = promethee1(x, w, kinds)
    plus, minus = r.positive, r.negative
    n = x.shape[0]
    for a in range(n):
        for b in range(n):
            if plus[a] == plus[b] and minus[a] == minus[b]:
                want = "I"
            elif plus[a] >= plus[b] and minus[a] <= minus[b]:
                want = "P"
            elif plus[b] >= plus[a] and minus[b] <= minus[a]:
                want = "-"
            else:
                want = "R"
            assert r.relation[a, b] == want
    np.testing.assert_allclose(plus - minus, _engine.promethee2_scores(
        x, (w / w.sum())[None, :], kinds.astype(np.int64), np.zeros(x.shape[1], dtype=np.int64),
        np.zeros(x.shape[1]), np.zeros(x.shape[1]), np.ones(x.shape[1]))[0], rtol=0, atol=1e-15)


@pytest.mark.parametrize("name, options, keyed", [
    ("promethee1", {"preference": "linear", "q": [0.5, 0], "p": [4, 1]},
     {"q": {"c": 0, "g": 0.5}, "p": {"c": 1, "g": 4}}),
    ("promethee2", {"preference": "linear", "q": [0.5, 0], "p": [4, 1]},
     {"q": {"c": 0, "g": 0.5}, "p": {"c": 1, "g": 4}}),
    ("spotis", {"bounds": [[0, 10], [0, 10]], "esp": [10, 0]},
     {"esp": {"c": 0, "g": 10}}),
])
def test_per_criterion_options_by_label_follow_the_criteria(name, options, keyed):
    pd = pytest.importorskip("pandas")
    from ternavik import methods
    df = pd.DataFrame({"g": [10, 8, 2], "c": [5, 6, 1]}, index=list("abc"))
    by_position = getattr(methods, name)(df, [1, 2], "+-", **options)
    by_label = getattr(methods, name)(df, [1, 2], "+-", **{**options, **keyed})
    series = {k: pd.Series(v) for k, v in keyed.items()}
    assert str(by_label) == str(by_position)
    assert str(getattr(methods, name)(df, [1, 2], "+-", **{**options, **series})) == \
        str(by_position)


def test_promethee1_incomparable_pair_labels_and_picture():
    pd = pytest.importorskip("pandas")
    # x and y are extreme, z the middle: the ramps give z smaller flows both
    # ways, so it is incomparable to both; x and y mirror each other.
    df = pd.DataFrame({"a": [1, 9, 5, 0], "b": [9, 1, 5, 0]}, index=["x", "y", "z", "t"])
    r = promethee1(df, [1, 1], "++", preference="v-shape", p=8)
    assert r.relation.loc["x", "y"] == "I" and r.relation.loc["x", "z"] == "R"
    assert r.relation.loc["t", "z"] == "-" and r.relation.loc["z", "t"] == "P"
    assert list(r.positive.index) == ["x", "y", "z", "t"]
    pytest.importorskip("matplotlib")
    from ternavik import plot_outranking
    fig = plot_outranking(r)
    texts = sorted(t.get_text() for t in fig.axes[0].texts if t.get_text())
    assert texts == ["t", "x", "y", "z"]


@_without("skcriteria")
@settings(max_examples=150, deadline=None)
@given(problems(low=2), st.sampled_from([(0.65, 0.35), (0.5, 0.5), (0.8, 0.2), (1.0, 0.0)]))
def test_electre1_equals_scikit_criteria(problem, thresholds):
    from skcriteria.agg.electre import electre1 as reference
    x, w, kinds = problem
    c, d = thresholds
    ours = electre1(x, w, kinds, c=c, d=d)
    if np.ptp(x, axis=0).max() == 0:
        # Every criterion constant: 0 / 0 discordance. The peer gets NaN and
        # lets nobody outrank; here it is 0, so equal alternatives outrank
        # each other (indifference), as they do when other criteria vary.
        assert ours.outranking.sum() == x.shape[0] * (x.shape[0] - 1)
        return
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        kernel, outranking, *_ = reference(x, np.where(kinds == 1, 1, -1), w / w.sum(), p=c, q=d)
    np.testing.assert_array_equal(ours.outranking, outranking)
    assert ours.kernel == np.flatnonzero(kernel).tolist()


def test_electre1_batch_labels_and_refusals():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"g": [10, 8, 2], "c": [5, 6, 1]}, index=["a", "b", "c"])
    r = electre1(df, [1, 1], {"g": "max", "c": "min"}, c=0.5, d=0.5)
    assert r.kernel == ["a"] and bool(r.outranking.loc["a", "b"])
    batch = electre1(df.to_numpy(), np.array([[1.0, 1.0], [0.0, 1.0]]), "+-", c=0.5, d=0.5)
    assert batch.outranking.shape == (2, 3, 3) and batch.kernel[0] == [0]
    with pytest.raises(InputError, match="omit"):
        electre1(df, [1, 1], "+-", nan_policy="propagate")
    with pytest.raises(InputError, match=r"\[0, 1\]"):
        electre1(df, [1, 1], "+-", c=1.5)


def hand_multimoora(x, w, kinds):
    w = w / w.sum()
    r = x / np.sqrt((x ** 2).sum(axis=0))
    sign = np.where(kinds == 1, 1.0, -1.0)
    ratio = (r * w * sign).sum(axis=1)
    best = np.where(kinds == 1, r.max(axis=0), r.min(axis=0))
    reference = (w * np.abs(best - r)).max(axis=1)
    full = np.prod(x ** (w * sign), axis=1)
    return ratio, reference, full


@settings(max_examples=100, deadline=None)
@given(problems(low=2, positive=True))
def test_multimoora_parts_equal_the_formulas(problem):
    x, w, kinds = problem
    got = multimoora(x, w, kinds)
    ratio, reference, full = hand_multimoora(x, w, kinds)
    np.testing.assert_allclose(got.ratio_system, ratio, rtol=1e-12, atol=1e-15)
    np.testing.assert_allclose(got.reference_point, reference, rtol=1e-12, atol=1e-15)
    np.testing.assert_allclose(got.full_multiplicative, full, rtol=1e-12)
    assert got.rank.min() == 1.0


@pytest.mark.parametrize("name", ["promethee1", "electre1", "electre3", "gra", "multimoora"])
def test_an_empty_batch_of_weights_gives_empty_results_as_every_method_does(name):
    from ternavik import methods
    x = [[10.0, 5.0], [8.0, 6.0], [2.0, 1.0]]
    result = getattr(methods, name)(x, np.empty((0, 2)), "+-")
    for part in result if isinstance(result, tuple) else (result,):
        assert len(part) == 0 and (not hasattr(part, "shape") or part.shape[1:] in
                                   [(3,), (3, 3)])


def test_multimoora_dominance_takes_two_of_three():
    # Ranks by (ratio, reference, full): a (1, 2, 1), b (2, 1, 2), c (3, 3, 3):
    # a beats b in two of three, both beat c in all three.
    ranks = np.array([[1, 2, 1], [2, 1, 2], [3, 3, 3]])
    from ternavik._outranking import _dominance_rank
    assert _dominance_rank(ranks).tolist() == [1.0, 2.0, 3.0]
    cycle = np.array([[1, 2, 3], [2, 3, 1], [3, 1, 2]])  # each beats the next in two
    assert _dominance_rank(cycle).tolist() == [1.0, 1.0, 1.0]
    with pytest.raises(InputError, match="> 0"):
        multimoora([[1, 0], [2, 1]], [1, 1], "++")


@pytest.mark.parametrize("s, r, q, expected", [
    ([0.1, 0.5, 0.9], [0.1, 0.3, 0.5], [0.0, 0.6, 1.0], [0]),        # both conditions hold
    ([0.3, 0.1, 0.9], [0.4, 0.2, 0.5], [0.0, 0.6, 1.0], [0, 1]),     # not best by S or R
    ([0.1, 0.2, 0.9], [0.1, 0.2, 0.5], [0.0, 0.3, 1.0], [0, 1]),     # advantage fails: Q < 0.5
    ([0.1, 0.2, 0.3, 0.9], [0.1, 0.2, 0.2, 0.5], [0.2, 0.0, 0.3, 1.0], [1, 0, 2]),
    ([0.1, np.nan, 0.5], [0.1, np.nan, 0.5], [0.0, np.nan, 1.0], [0]),
])
def test_vikor_compromise_rule_by_hand(s, r, q, expected):
    assert vikor_compromise(s, r, q) == expected


def test_vikor_compromise_labels_and_batches():
    pd = pytest.importorskip("pandas")
    idx = ["a", "b", "c"]
    got = vikor_compromise(pd.Series([0.3, 0.1, 0.9], idx), pd.Series([0.4, 0.2, 0.5], idx),
                           pd.Series([0.0, 0.6, 1.0], idx))
    assert got == ["a", "b"]
    assert vikor_compromise(np.array([[0.1, 0.5], [0.5, 0.1]]), np.array([[0.1, 0.5], [0.5, 0.1]]),
                            np.array([[0.0, 1.0], [1.0, 0.0]])) == [[0], [1]]
    from ternavik.methods import vikor
    df = pd.DataFrame({"g": [10, 8, 2, 9], "c": [5, 6, 1, 9]}, index=list("abcd"))
    batch = vikor(df, np.array([[1.0, 1.0], [1.0, 0.0]]), "+-")
    assert batch.compromise == [["a"], ["a", "d", "b"]]
    for bad in [([0.2, 0.5, 0.1], [0.1, 0.3], [0.0, 1.0]), (1.0, 1.0, 1.0)]:
        with pytest.raises(InputError, match="S, R and Q"):
            vikor_compromise(*bad)


ANY = st.one_of(st.none(), st.integers(-3, 3), st.floats(allow_nan=True, allow_infinity=True),
                st.text(max_size=2),
                st.lists(st.floats(allow_nan=True, allow_infinity=True), max_size=3),
                st.lists(st.lists(st.floats(-5, 5), min_size=2, max_size=2), max_size=3))


@settings(max_examples=150, deadline=None)
@given(st.sampled_from(["promethee1_flows", "electre1_outranking", "gra_scores"]),
       st.lists(ANY, min_size=0, max_size=8))
def test_fuzzed_new_entry_points_give_errors_never_crashes(name, args):
    try:
        getattr(_engine, name)(*args)
    except (TypeError, ValueError, OverflowError, MemoryError):
        pass


@settings(max_examples=80, deadline=None)
@given(problems(low=2))
def test_valid_calls_with_arrays_built_by_numpy_succeed(problem):
    x, w, kinds = problem
    k = kinds.astype(np.int64)
    m = x.shape[1]
    zero = np.zeros(m)
    plus, minus = _engine.promethee1_flows(x, w[None, :], k, np.zeros(m, dtype=np.int64), zero,
                                           zero, np.ones(m))
    assert plus.shape == minus.shape == (1, x.shape[0])
    assert _engine.electre1_outranking(x, w[None, :], k, 0.5, 0.5).shape == (x.shape[0],) * 2
    assert np.isfinite(_engine.gra_scores(x, w[None, :], k, 0.5)).all()


def test_multimoora_leaves_a_row_with_a_missing_value_out_of_the_ranking():
    x = [[10, 5], [8, 6], [2, 1], [np.nan, 3]]
    propagated = multimoora(x, [1, 1], "+-", nan_policy="propagate")
    assert np.isnan(propagated.rank[3]) and propagated.rank[:3].tolist() == [1.0, 3.0, 2.0]
    omitted = multimoora(x, [1, 1], "+-", nan_policy="omit")
    assert np.isnan(omitted.rank[3]) and omitted.rank[:3].tolist() == [1.0, 3.0, 2.0]


def test_vikor_results_carry_their_compromise_set():
    from ternavik import methods
    x = np.random.default_rng(12).random((9, 4))
    for w in ([1, 1, 1, 1], [5, 1, 1, 1], [1, 0.1, 3, 2]):
        r = methods.vikor(x, w, "+-++")
        assert r.compromise == vikor_compromise(r.S, r.R, r.Q)
        assert r.compromise[0] == int(np.argmin(r.Q))
    batch = methods.vikor(x, np.array([[1.0, 1, 1, 1], [5, 1, 1, 1]]), "+-++")
    assert len(batch.compromise) == 2


def test_new_ranking_methods_are_registered_with_their_direction():
    from ternavik import methods, rank
    assert methods.REGISTRY["gra"].higher_is_better
    assert not methods.REGISTRY["multimoora"].higher_is_better
    x = np.array([[10.0, 5], [8, 6], [2, 1]])
    for name in ("gra", "multimoora"):
        scores = methods.REGISTRY[name].function(x, [1, 1], "+-")
        assert rank(scores)[0] == 1, name


def test_docstring_examples_run():
    import doctest
    import ternavik._outranking
    failed, _ = doctest.testmod(ternavik._outranking)
    assert failed == 0
