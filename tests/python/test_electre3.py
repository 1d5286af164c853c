"""ELECTRE III against a hand-worked case, a published worked example, a plain
NumPy model written here from the textbook formulas, the metamorphic properties
every ranking method keeps, and the inputs it must refuse."""

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from ternavik import InputError, _engine
from ternavik._outranking import _electre3_exploited
from ternavik.methods import electre3

PROPERTY = settings(max_examples=120, deadline=None, derandomize=True)


def model_credibility(x, w, kinds, q, p, v):
    """sigma(a, b) straight from the formulas, one pair at a time."""
    f = np.where(kinds == 1, x, -x)
    w = w / w.sum()
    n, m = f.shape
    sigma = np.ones((n, n))
    for a in range(n):
        for b in range(n):
            if a == b:
                continue
            g = f[b] - f[a]  # how far b beats a on each criterion
            c = np.where(g <= q, 1.0, np.where(g >= p, 0.0, (p - g) / np.where(p > q, p - q, 1)))
            with np.errstate(invalid="ignore", divide="ignore"):
                d = np.where(g <= p, 0.0, np.where(g >= v, 1.0, (g - p) / (v - p)))
            concordance = 0.0
            for j in range(m):
                concordance += w[j] * c[j]
            s = concordance
            for j in range(m):
                if d[j] > concordance:
                    s *= (1.0 - d[j]) / (1.0 - concordance)
            sigma[a, b] = s
    return sigma


def model_ranks(sigma, descending, alpha=-0.15, beta=0.30):
    """The distillation rank of every alternative, written with sets and loops."""
    def s(x):
        return alpha * x + beta

    left, order = set(range(len(sigma))), []
    while left:
        d = sorted(left)
        level = max(sigma[a, b] for a in d for b in d if a != b) if len(d) > 1 else 0.0
        while len(d) > 1:
            lower = [sigma[a, b] for a in d for b in d if a != b and sigma[a, b] < level - s(level)]
            level = max(lower, default=0.0)
            score = {a: sum(sigma[a, b] > level and sigma[a, b] - sigma[b, a] > s(sigma[a, b])
                            for b in d if b != a)
                     - sum(sigma[b, a] > level and sigma[b, a] - sigma[a, b] > s(sigma[b, a])
                           for b in d if b != a) for a in d}
            best = (max if descending else min)(score.values())
            d = [a for a in d if score[a] == best]
            if level == 0.0:
                break
        order.append(d)
        left -= set(d)
    if not descending:
        order.reverse()
    ranks = np.empty(len(sigma))
    for r, group in enumerate(order, start=1):
        ranks[group] = r
    return ranks


@st.composite
def problems(draw, low=2, high=8):
    """Integer data with thresholds on the same grid, so ties and threshold
    edges (g == q, g == p, g == v) happen often and exactly."""
    n, m = draw(st.integers(low, high)), draw(st.integers(1, 4))
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    x = rng.integers(0, 12, size=(n, m)).astype(float)
    q = rng.integers(0, 3, size=m).astype(float)
    p = q + rng.integers(0, 4, size=m)
    v = p + rng.integers(0, 6, size=m)
    v[rng.random(m) < 0.3] = np.inf
    w = rng.integers(1, 6, size=m).astype(float)
    return x, w, rng.integers(0, 2, size=m), q, p, v


def test_hand_worked_three_alternatives():
    # f = (10, -5), (8, -6), (2, -1); q = 1, p = 3, v = 8 on the first criterion only.
    # sigma(b, a): first criterion b trails by 2 -> (3 - 2) / 2 = 0.5, second 1 -> C = 0.75.
    # sigma(c, b): C = 0.5, first criterion trails by 6 -> d = 0.6 > C -> 0.5 * 0.4 / 0.5.
    # sigma(c, a): trails by 8 = v -> vetoed.
    r = electre3([[10, 5], [8, 6], [2, 1]], [1, 1], "+-", q=1, p=3, v=[8, None])
    np.testing.assert_array_equal(r.credibility, [[1, 1, 0.5], [0.75, 1, 0.5], [0, 0.4, 1]])
    # Descending: level 1 -> 0.75, only a S b; then b and c tie at level 0.
    # Ascending: b is worst, then c (a S c at level 0: 0.5 - 0 > s(0.5) = 0.225).
    assert r.descending.tolist() == [1, 2, 2] and r.ascending.tolist() == [1, 3, 2]
    assert r.relation.tolist() == [["I", "P", "P"], ["-", "I", "-"], ["-", "P", "I"]]
    assert r.rank.tolist() == [1, 3, 2]


# Giannoulis, C. and Ishizaka, A. (2010), "A Web-based decision support system
# with ELECTRE III for a personalised ranking of British universities",
# Decision Support Systems 48, 488-497: Example 1 (Table 1 performances, Table 2
# thresholds and weights), Table 3 (credibility) and Table 5 (final ranking).
# All five criteria are benefits. Its thresholds are fractions of the first
# alternative's own performance (q_i(z_i(A)) in the paper), constant within row
# A, so row A is exactly row A of a call with those constant thresholds.
UNIVERSITIES = np.array([[947, 79, 400, 228, 69.7], [1406, 64, 350, 204, 47.6],
                         [677, 90, 300, 349, 61.8], [561, 65, 247, 188, 52.3],
                         [1006, 88, 352, 437, 65.8], [765, 77, 280, 198, 55.6]])
UNIVERSITY_THRESHOLDS = {"q": [.1, .1, .1, .1, .05], "p": [.2] * 5, "v": [.4, .5, .4, .3, .4]}


def university_credibility(x):
    fractions = {key: np.array(value) for key, value in UNIVERSITY_THRESHOLDS.items()}
    return np.array([electre3(x, [.1, .3, .3, .2, .1], "+++++",
                              **{key: f * x[a] for key, f in fractions.items()}).credibility[a]
                     for a in range(len(x))])


def test_published_university_example():
    sigma = university_credibility(UNIVERSITIES)
    # Table 3 as printed, to its two decimals (0.0053 to four), but for
    # sigma(U4, U6), printed 0.22. By hand: g = (204, 12, 33, 10, 3.3) against
    # U4's q = (56.1, 6.5, 24.7, 18.8, 2.615) and p = (112.2, 13, 49.4, 37.6, 10.46):
    # C = 0.3 * 1/6.5 + 0.3 * 16.4/24.7 + 0.2 + 0.1 * 7.16/7.845 = 0.5366; the first
    # criterion's discordance 91.8/112.2 = 0.818 exceeds it: 0.5366 * 0.182/0.4634.
    # U6's first performance 764 instead of 765 would give the printed 0.22.
    # sigma(U3, U1) checks the veto product: C = 0.5481, d1 = 134.6/135.4 and
    # d3 = 40/60, 0.5481 * (0.8/135.4) / 0.4519 * (1/3) / 0.4519 = 0.0053.
    table3 = np.array([[1, 0, 0, 1, 0, 1], [0, 1, 0, .97, 0, .62], [.0053, 0, 1, 1, 0, .97],
                       [0, 0, 0, 1, 0, .21], [.88, .11, 1, 1, 1, 1], [0, 0, 0, 1, 0, 1]])
    np.testing.assert_allclose(sigma, table3, rtol=0, atol=5e-3)
    assert abs(sigma[2, 0] - .0053) < 5e-5
    modified = UNIVERSITIES.copy()
    modified[5, 0] = 764
    assert round(university_credibility(modified)[3, 5], 2) == 0.22
    # Table 5: U5 is preferred to all, U1 I U3, U2 incomparable to both, those
    # three preferred to U6 and U4, U6 preferred to U4; its P+ counts per row.
    # Example 2: the descending distillation's first distillate is U5 alone.
    down, _, relation, rank = _electre3_exploited(sigma, -0.15, 0.30)
    assert relation.tolist() == [list(row) for row in ("IRIP-P", "RIRP-P", "IRIP-P",
                                                        "---I--", "PPPPIP", "---P-I")]
    assert (relation == "P").sum(axis=1).tolist() == [2, 2, 2, 0, 5, 1]
    assert rank.tolist() == [2, 2, 2, 6, 1, 5] and np.flatnonzero(down == 1).tolist() == [4]


@PROPERTY
@given(problems())
def test_equals_the_plain_model(problem):
    x, w, kinds, q, p, v = problem
    r = electre3(x, w, kinds, q=q, p=p, v=v)
    np.testing.assert_allclose(r.credibility, model_credibility(x, w, kinds, q, p, v),
                               rtol=0, atol=1e-15)
    # The distillations of the model on the same matrix, so that a last-bit
    # difference in sigma cannot decide a cut.
    assert r.descending.tolist() == model_ranks(r.credibility, True).tolist()
    assert r.ascending.tolist() == model_ranks(r.credibility, False).tolist()
    down, up = r.descending, r.ascending
    for a in range(len(x)):
        for b in range(len(x)):
            a_first = down[a] <= down[b] and up[a] <= up[b]
            b_first = down[b] <= down[a] and up[b] <= up[a]
            want = {(True, True): "I", (True, False): "P", (False, True): "-",
                    (False, False): "R"}[a_first, b_first]
            assert r.relation[a, b] == want
    assert r.rank.tolist() == [1 + sum(r.relation[b, a] == "P" for b in range(len(x)))
                               for a in range(len(x))]


@PROPERTY
@given(problems(low=2, high=7), st.data())
def test_a_clearly_better_alternative_is_never_ranked_below(problem, data):
    x, w, kinds, q, p, v = problem
    i = data.draw(st.integers(0, len(x) - 1))
    steps = p + 1 + np.array(data.draw(st.lists(st.integers(0, 3), min_size=len(p),
                                                max_size=len(p))))
    better = x[i] + np.where(kinds == 1, steps, -steps)
    r = electre3(np.vstack([x, better]), w, kinds, q=q, p=p, v=v)
    assert r.descending[-1] < r.descending[i] and r.ascending[-1] < r.ascending[i]
    assert r.relation[-1, i] == "P" and r.rank[-1] < r.rank[i]


@PROPERTY
@given(problems(), st.data())
def test_permuting_alternatives_permutes_every_result(problem, data):
    x, w, kinds, q, p, v = problem
    order = np.array(data.draw(st.permutations(range(len(x)))))
    r, s = (electre3(y, w, kinds, q=q, p=p, v=v) for y in (x, x[order]))
    assert s.credibility.tobytes() == r.credibility[np.ix_(order, order)].tobytes()
    for field in ("descending", "ascending", "rank"):
        assert getattr(s, field).tolist() == getattr(r, field)[order].tolist()
    assert (s.relation == r.relation[np.ix_(order, order)]).all()


@PROPERTY
@given(problems(), st.sampled_from([2.0**-600, 0.5, 3.0, 7.0, 1000.0, 2.0**600]),
       st.sampled_from([1.0, 3.0, 2.0**-40]))
def test_rescaling_data_with_thresholds_and_weights_changes_nothing(problem, factor, weight):
    # On the integer grid every difference and sum is exact before the one
    # division, which then rounds the same ratio: results agree to the bit.
    x, w, kinds, q, p, v = problem
    r = electre3(x, w, kinds, q=q, p=p, v=v)
    s = electre3(x * factor, w * weight, kinds, q=q * factor, p=p * factor, v=v * factor)
    assert s.credibility.tobytes() == r.credibility.tobytes()
    for field in ("descending", "ascending", "rank"):
        assert getattr(s, field).tolist() == getattr(r, field).tolist()
    assert np.isfinite(s.credibility).all() and (0 <= s.credibility).all()
    assert (s.credibility <= 1).all()


def test_extreme_magnitudes_stay_finite():
    big = np.finfo(float).max
    x = np.array([[-big, 1e-300], [big, 2e-300], [0.0, 3e-300]])
    r = electre3(x, [1, 1], "++", q=[0, 0], p=[big, 1e-300], v=[big, None])
    assert np.isfinite(r.credibility).all() and r.rank.min() == 1
    assert r.credibility[0, 1] == 0.0  # trails by twice the largest double: vetoed


def test_batches_labels_and_left_out_rows():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"g": [10, 8, 2, np.nan], "c": [5, 6, 1, 3]}, index=list("abcd"))
    r = electre3(df, {"g": 1, "c": 1}, {"g": "max", "c": "min"}, q=1, p=3, v=[8, None],
                 nan_policy="omit")
    assert list(r.credibility.index) == ["a", "b", "c"] and r.relation.loc["c", "b"] == "P"
    assert r.rank.isna().tolist() == [False, False, False, True] and r.rank["b"] == 3
    x = df.iloc[:3].to_numpy()
    batch = electre3(x, np.array([[1.0, 1.0], [1.0, 0.0]]), "+-", q=1, p=3, v=[8, None])
    one = electre3(x, [1.0, 0.0], "+-", q=1, p=3, v=[8, None])
    assert batch.credibility.shape == (2, 3, 3) and batch.relation.shape == (2, 3, 3)
    assert batch.credibility[1].tobytes() == one.credibility.tobytes()
    assert batch.rank[1].tolist() == one.rank.tolist()


def test_thresholds_by_label_follow_the_criteria_not_their_order():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"g": [10, 8, 2], "c": [5, 6, 1]}, index=list("abc"))
    by_label = electre3(df, [1, 1], "+-", q=pd.Series({"c": 0, "g": 0.5}),
                        p={"c": 1, "g": 2}, v={"c": None, "g": 9})
    by_position = electre3(df, [1, 1], "+-", q=[0.5, 0], p=[2, 1], v=[9, None])
    assert by_label.credibility.equals(by_position.credibility)
    with pytest.raises(InputError, match="no entry for criteria 'c'"):
        electre3(df, [1, 1], "+-", p={"g": 2})
    with pytest.raises(InputError, match="q must be a number"):
        electre3(df, [1, 1], "+-", q="a", p=2)


@pytest.mark.parametrize("options, message", [
    ({"q": 2, "p": 1}, r"criterion 'y': q=2.0, p=1.0"),
    ({"q": -1, "p": 1}, r"criterion 'y': q=-1.0"),
    ({"p": 3, "v": [5, 2]}, r"criterion 'z': .*v=2.0"),
    ({"p": [1, np.nan]}, r"criterion 'z': q=0.0, p=nan"),
    ({"q": np.inf, "p": np.inf}, r"criterion 'y': q=inf"),
    ({"v": [1, float("nan")]}, r"criterion 'z': .*v=nan"),
    ({"p": [1, 2, 3]}, "one per criterion"),
    ({"alpha": -0.5, "beta": 0.3}, "positive on"),
    ({"beta": 0.0}, "positive on"),
    ({"nan_policy": "propagate"}, "omit"),
])
def test_bad_thresholds_are_refused_naming_the_criterion(options, message):
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"y": [1.0, 2.0, 3.0], "z": [3.0, 1.0, 2.0]})
    with pytest.raises(InputError, match=message):
        electre3(df, [1, 1], "++", **options)


@pytest.mark.parametrize("data, weights, kinds", [
    ([[1.0, np.nan], [2.0, 1.0]], [1, 1], "++"),
    ([[1.0, 2.0], [2.0, 1.0]], [1, 1, 1], "++"),
    ([[1.0, 2.0], [2.0, 1.0]], [1, 1], "+"),
    ([[1.0, 2.0]], [1, 1], "++"),
    ([[1.0, np.inf], [2.0, 1.0]], [1, 1], "++"),
    ([[1.0, 2.0], [2.0, 1.0]], [0, 0], "++"),
])
def test_bad_data_is_refused(data, weights, kinds):
    with pytest.raises(InputError):
        electre3(data, weights, kinds)


ANY = st.one_of(st.none(), st.integers(-3, 3), st.floats(allow_nan=True, allow_infinity=True),
                st.lists(st.floats(allow_nan=True, allow_infinity=True), max_size=4),
                st.lists(st.lists(st.floats(-5, 5), min_size=2, max_size=2), max_size=3),
                st.builds(np.full, st.sampled_from([(2,), (3,), (3, 2), (1, 2)]),
                          st.floats(allow_nan=True, allow_infinity=True)))


@settings(max_examples=200, deadline=None)
@given(st.lists(ANY, min_size=0, max_size=7))
def test_fuzzed_entry_point_gives_errors_never_crashes(args):
    try:
        out = _engine.electre3_credibility(*args)
    except (TypeError, ValueError, OverflowError, MemoryError):
        return
    assert out.ndim == 2 and out.shape[0] % out.shape[1] == 0
