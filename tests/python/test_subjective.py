"""Weights from judgements: AHP against numpy's eigensolver, BWM against an
independently written linear programme, rank-order weights against their
formulas, and hierarchies against hand products."""

import importlib.util
import warnings

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import ternavik
from ternavik import InputError
from ternavik.subjective import ConsistencyWarning, ahp, bwm, hierarchy, rank_order

SAATY = [1, 2, 3, 4, 5, 6, 7, 8, 9, 1 / 2, 1 / 3, 1 / 4, 1 / 5, 1 / 6, 1 / 7, 1 / 8, 1 / 9]


@st.composite
def reciprocal_matrices(draw, low=2, high=9):
    n = draw(st.integers(low, high))
    a = np.ones((n, n))
    for i in range(n):
        for j in range(i + 1, n):
            a[i, j] = draw(st.sampled_from(SAATY))
            a[j, i] = 1.0 / a[i, j]
    return a


@settings(max_examples=150, deadline=None)
@given(reciprocal_matrices())
def test_eigenvector_weights_and_lambda_match_numpys_eigensolver(a):
    values, vectors = np.linalg.eig(a)
    k = int(np.argmax(values.real))
    expected = np.abs(vectors[:, k].real)
    expected /= expected.sum()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConsistencyWarning)
        r = ahp(a)
    np.testing.assert_allclose(r.weights, expected, rtol=1e-9, atol=1e-12)
    n = a.shape[0]
    assert r.lambda_max == pytest.approx(max(values.real.max(), n), rel=1e-12)
    ri = {3: 0.58, 4: 0.90, 5: 1.12, 6: 1.24, 7: 1.32, 8: 1.41, 9: 1.45}.get(n)
    if ri is not None:
        assert r.consistency_ratio == pytest.approx((r.lambda_max - n) / (n - 1) / ri, abs=1e-12)
    else:
        assert r.consistency_ratio == 0.0


@settings(max_examples=60, deadline=None)
@given(st.lists(st.floats(0.05, 20.0), min_size=2, max_size=10), st.booleans())
def test_a_consistent_matrix_gives_back_its_weights_without_a_warning(w, geometric):
    w = np.array(w) / np.sum(w)
    a = w[:, None] / w[None, :]
    with warnings.catch_warnings():
        warnings.simplefilter("error", ConsistencyWarning)
        r = ahp(a, method="geometric_mean" if geometric else "eigenvector")
    np.testing.assert_allclose(r.weights, w, rtol=1e-12)
    assert r.consistency_index == pytest.approx(0.0, abs=1e-12)
    assert r.consistent


def test_geometric_mean_by_hand_and_the_warning_for_inconsistent_judgements():
    a = [[1, 3, 1 / 5], [1 / 3, 1, 4], [5, 1 / 4, 1]]
    g = np.array([(1 * 3 / 5) ** (1 / 3), (1 / 3 * 4) ** (1 / 3), (5 / 4) ** (1 / 3)])
    with pytest.warns(ConsistencyWarning, match="above 0.1"):
        r = ahp(a, method="geometric_mean")
    np.testing.assert_allclose(r.weights, g / g.sum(), rtol=1e-14)
    w = g / g.sum()
    lam = np.mean((np.array(a) @ w) / w)
    assert r.lambda_max == pytest.approx(lam, rel=1e-14)
    assert r.consistency_ratio == pytest.approx((lam - 3) / 2 / 0.58, rel=1e-12)
    assert not r.consistent and "INCONSISTENT" in repr(r) and "CR=" in repr(r)


def test_labelled_matrix_gives_labelled_weights_that_feed_topsis():
    pd = pytest.importorskip("pandas")
    names = ["price", "speed", "size"]
    a = pd.DataFrame([[1, 2, 4], [1 / 2, 1, 2], [1 / 4, 1 / 2, 1]], index=names, columns=names)
    r = ahp(a)
    assert list(r.weights.index) == names and "price: 0.5714" in repr(r)
    data = pd.DataFrame([[3, 5, 1], [2, 9, 2], [4, 4, 3]], columns=["speed", "price", "size"])
    closeness = ternavik.topsis(data, r.weights, {"price": "min", "speed": "max", "size": "max"})
    assert np.isfinite(closeness).all()


def test_orders_above_ten_have_no_default_random_index():
    a = np.ones((11, 11))
    assert np.isnan(ahp(a).consistency_ratio)
    assert ahp(a, random_index=1.51).consistency_ratio == 0.0
    assert ahp([[1.0]]).weights.tolist() == [1.0]


@pytest.mark.parametrize("a, match", [
    ([[1, 2], [0.5, 1], [1, 1]], "square"),
    ([[1, -2], [-0.5, 1]], "positive"),
    ([[1, np.nan], [1, 1]], "positive"),
    ([[1, 2], [2, 1]], "not reciprocal"),
    ([[2, 2], [0.5, 2]], "itself must be 1"),
    ([[1, "x"], [1, 1]], "numbers"),
    # ratios at the ends of binary64: refused, never NaN weights called consistent
    ([[1, 1e300, 1], [1e-300, 1, 1], [1, 1, 1]], "orders of magnitude"),
])
@pytest.mark.filterwarnings("error::RuntimeWarning")  # a refusal, not a warning and then one
def test_unusable_pairwise_matrices_are_refused(a, match):
    with pytest.raises(InputError, match=match):
        ahp(a)


@pytest.mark.parametrize("a, labels, match", [
    ([[1, 2], [2, 1]], ["x", "y"],
     r"\('x', 'y'\) is 2.0 but \('y', 'x'\) is 2.0, not 1/2.0 "),
    ([[1, 0], [1, 1]], ["x", "y"], r"\('x', 'y'\) is 0.0;"),
    ([[1, 2], [0.5, 1]], ["x", "x"], "'x' occurs more than once"),
])
def test_labelled_matrices_are_refused_naming_the_criteria(a, labels, match):
    pd = pytest.importorskip("pandas")
    with pytest.raises(InputError, match=match):
        ahp(pd.DataFrame(a, index=labels, columns=labels))


def test_typed_fractions_pass_within_the_tolerance_only():
    assert ahp([[1, 3], [0.333, 1]]).weights[0] == pytest.approx(0.75, rel=1e-3)
    with pytest.raises(InputError, match="reciprocal"):
        ahp([[1, 3], [0.3, 1]])
    with pytest.raises(InputError, match="method"):
        ahp([[1]], method="power")


def independent_bwm(a_best, a_worst, b, w):
    """The linear model written afresh: variables (xi, w_n-1 .. w_0), interior point."""
    from scipy.optimize import linprog
    n = len(a_best)
    col = lambda j: 1 + (n - 1 - j)  # noqa: E731
    rows = []
    for j in range(n):
        for terms in (((b, 1.0), (j, -a_best[j])), ((j, 1.0), (w, -a_worst[j]))):
            for sign in (1.0, -1.0):
                row = np.zeros(n + 1)
                row[0] = -1.0
                for k, v in terms:
                    row[col(k)] += sign * v
                rows.append(row)
    c = np.zeros(n + 1)
    c[0] = 1.0
    eq = np.ones((1, n + 1))
    eq[0, 0] = 0.0
    res = linprog(c, A_ub=np.array(rows), b_ub=np.zeros(len(rows)), A_eq=eq, b_eq=[1.0],
                  bounds=[(0, None)] * (n + 1), method="highs-ipm")
    return res.fun, np.array([res.x[col(j)] for j in range(n)])


@pytest.mark.skipif(importlib.util.find_spec("scipy") is None, reason="the best-worst method needs SciPy")
@settings(max_examples=80, deadline=None)
@given(st.integers(3, 8).flatmap(lambda n: st.tuples(
    st.lists(st.integers(1, 9), min_size=n, max_size=n),
    st.lists(st.integers(1, 9), min_size=n, max_size=n),
    st.permutations(range(n)))))
def test_bwm_optimum_matches_an_independent_linear_programme(case):
    best_row, worst_row, perm = case
    b, w = perm[0], perm[1]
    a_best = list(best_row)
    a_worst = list(worst_row)
    a_best[b] = 1
    a_worst[w] = 1
    for j in range(len(a_best)):  # only the anchors compare as 1
        if j != b and a_best[j] == 1:
            a_best[j] = 2
        if j != w and a_worst[j] == 1:
            a_worst[j] = 2
    a_worst[b] = a_best[w]
    r = bwm(a_best, a_worst)
    xi, weights = independent_bwm(a_best, a_worst, b, w)
    assert r.xi == pytest.approx(xi, abs=1e-7)
    assert r.weights.sum() == pytest.approx(1.0, abs=1e-12) and (r.weights >= 0).all()
    # The optimum is the same deviation; check feasibility of our weights.
    wb, ww = r.weights[b], r.weights[w]
    assert np.all(np.abs(wb - np.array(a_best) * r.weights) <= r.xi + 1e-9)
    assert np.all(np.abs(r.weights - np.array(a_worst) * ww) <= r.xi + 1e-9)
    assert (r.best, r.worst) == (b, w)
    del weights


@pytest.mark.skipif(importlib.util.find_spec("scipy") is None, reason="the best-worst method needs SciPy")
def test_consistent_comparisons_give_exact_ratios_and_labels_follow():
    r = bwm([2, 1, 4, 2, 8], [4, 8, 2, 4, 1])  # every a_Bj * a_jW = a_BW = 8
    np.testing.assert_allclose(r.weights, np.array([4, 8, 2, 4, 1]) / 19, rtol=1e-9)
    assert r.xi == pytest.approx(0.0, abs=1e-12) and (r.best, r.worst) == (1, 4)
    pd = pytest.importorskip("pandas")
    labelled = bwm({"q": 2, "p": 1, "s": 4}, pd.Series({"s": 1, "q": 2, "p": 4}))
    assert list(labelled.weights.index) == ["q", "p", "s"] and labelled.best == "p"
    np.testing.assert_allclose(labelled.weights, [2 / 7, 4 / 7, 1 / 7], rtol=1e-9)


@pytest.mark.parametrize("kwargs, match", [
    (dict(best_to_others=[1, 2], others_to_worst=[2, 1, 1]), "comparisons but"),
    (dict(best_to_others=[1, 0.5, 2], others_to_worst=[2, 1, 1]), ">= 1"),
    (dict(best_to_others=[1, 1, 2], others_to_worst=[2, 2, 1]), "pass best="),
    (dict(best_to_others=[1, 3, 2], others_to_worst=[3, 2, 1]), "best criterion against"),
    (dict(best_to_others=[1, 3, 2], others_to_worst=[1, 2, 3]), "must differ"),
    (dict(best_to_others=[1, 2, 3], others_to_worst=[3, 2, 1], best=5), "not one of"),
])
def test_unusable_best_worst_comparisons_are_refused(kwargs, match):
    with pytest.raises(InputError, match=match):
        bwm(**kwargs)


def test_comparisons_beyond_the_solver_are_the_callers_input_error():
    pytest.importorskip("scipy")  # the refusal comes from the solver's answer
    with pytest.raises(InputError, match="cannot be solved"):
        bwm([1, 1e300, 8], [8, 4, 1])


def test_bwm_names_the_scipy_extra_when_scipy_is_missing(monkeypatch):
    import builtins
    real = builtins.__import__

    def no_scipy(name, *args, **kwargs):
        if name.startswith("scipy"):
            raise ImportError(name)
        return real(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", no_scipy)
    monkeypatch.delitem(__import__("sys").modules, "scipy.optimize", raising=False)
    with pytest.raises(ImportError, match=r"ternavik\[scipy\]"):
        bwm([1, 2, 3], [3, 2, 1])


@pytest.mark.parametrize("method, by_place", [
    ("roc", [25 / 48, 13 / 48, 7 / 48, 3 / 48]),
    ("rs", [4 / 10, 3 / 10, 2 / 10, 1 / 10]),
    ("rr", [12 / 25, 6 / 25, 4 / 25, 3 / 25]),
])
def test_rank_order_formulas_and_weights_follow_the_ranks(method, by_place):
    np.testing.assert_allclose(rank_order([1, 2, 3, 4], method=method), by_place, rtol=1e-15)
    np.testing.assert_allclose(rank_order([3, 1, 4, 2], method=method),
                               [by_place[2], by_place[0], by_place[3], by_place[1]], rtol=1e-15)
    tied = rank_order([1, 2, 2, 4], method=method)
    assert tied[1] == tied[2] == pytest.approx((by_place[1] + by_place[2]) / 2)
    np.testing.assert_allclose(rank_order([1, 2, 2, 3], method=method), tied, rtol=1e-15)
    assert tied.sum() == pytest.approx(1.0, abs=1e-15)


def test_rank_order_labels_and_refusals():
    pd = pytest.importorskip("pandas")
    w = rank_order({"a": 2, "b": 1})
    assert isinstance(w, pd.Series) and w["b"] == pytest.approx(0.75)
    for bad in ([0, 1], [1.5, 2], [], [[1, 2]]):
        with pytest.raises(InputError):
            rank_order(bad)
    with pytest.raises(InputError, match="method"):
        rank_order([1, 2], method="equal")


def test_hierarchy_multiplies_normalised_local_weights_down_the_tree():
    tree = {"cost": (3, {"price": 0.5, "fuel": (1, {"city": 1, "road": 3}), "tax": 0.25}),
            "comfort": 1}
    got = hierarchy(tree)
    expected = {"price": 0.75 * 0.5 / 1.75, "city": 0.75 * 1 / 1.75 * 0.25,
                "road": 0.75 * 1 / 1.75 * 0.75, "tax": 0.75 * 0.25 / 1.75, "comfort": 0.25}
    assert list(got) == list(expected)
    for key in expected:
        assert got[key] == pytest.approx(expected[key], rel=1e-15)
    assert sum(got.values()) == pytest.approx(1.0)
    for bad in ({"a": (1, 2)}, {"a": 0}, {"a": -1, "b": 2}, {"a": 1, "b": (1, {"a": 1})}, [1]):
        with pytest.raises(InputError):
            hierarchy(bad)
    for bad in ({"a": "x", "b": 1}, {"b": 1, "a": None}, {"a": [1, {"x": 1}]}):
        with pytest.raises(InputError, match="the weight of 'a'"):
            hierarchy(bad)
    # Only ratios matter, even where their sum leaves binary64.
    assert hierarchy({"a": 1e308, "b": (1e308, {"c": 1.7e308, "d": 1.7e308})}) == \
        {"a": 0.5, "c": 0.25, "d": 0.25}


def test_published_leader_example_criteria_weights():
    # The widely reproduced "choosing a leader" AHP example: experience,
    # education, charisma and age weighted .547, .127, .270 and .056.
    a = [[1, 4, 3, 7], [1 / 4, 1, 1 / 3, 3], [1 / 3, 3, 1, 5], [1 / 7, 1 / 3, 1 / 5, 1]]
    r = ahp(a)
    # To the three printed decimals (the page truncates 0.5476 to .547).
    np.testing.assert_allclose(r.weights, [0.547, 0.127, 0.270, 0.056], atol=1e-3)
    assert r.consistent and r.consistency_ratio == pytest.approx(0.044, abs=1e-3)


@pytest.mark.parametrize("module", ["ternavik.subjective", "ternavik._smaa"])
def test_docstring_examples_run(module):
    import doctest
    # The examples show labelled results and the best-worst method.
    pytest.importorskip("pandas")
    pytest.importorskip("scipy")
    import importlib
    failed, _ = doctest.testmod(importlib.import_module(module))
    assert failed == 0
