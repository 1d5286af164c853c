"""Metamorphic properties of every ranking method in the registry: dominance,
permutation, a rescaled criterion, rescaled weights, finite output from
finite input, and data outside a method's domain refused rather than
ranked upside down."""
import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from ternavik import InputError, methods, rank
from ternavik._domain import ANY, POSITIVE

EXAMPLES = int(os.environ.get("TERNAVIK_DECISION_EXAMPLES", "200"))
PROPERTY = settings(max_examples=EXAMPLES, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
NAMES = sorted(methods.REGISTRY)


@st.composite
def problems(draw, low=1, high=10_000, negative=False):
    """(matrix on an integer grid, positive weights, kinds): ties are exact and
    strict differences are far above rounding."""
    n = draw(st.integers(3, 8))
    m = draw(st.integers(2, 5))
    lo = -high if negative else low
    cells = draw(st.lists(st.integers(lo, high), min_size=n * m, max_size=n * m))
    x = np.array(cells, dtype=np.float64).reshape(n, m)
    w = np.array(draw(st.lists(st.integers(1, 20), min_size=m, max_size=m)), dtype=np.float64)
    kinds = "".join(draw(st.lists(st.sampled_from("+-"), min_size=m, max_size=m)))
    return x, w / w.sum(), kinds


def scores_of(name, x, w, kinds):
    return np.asarray(methods.REGISTRY[name].function(x, w, kinds), dtype=np.float64)


def order_kept(before, after, higher):
    """Every pair clearly ordered before is ordered the same way after."""
    scale = max(np.ptp(before), np.abs(before).max(), 1e-300)
    gap = before[:, None] - before[None, :]
    clear = np.abs(gap) > 1e-9 * scale
    moved = np.sign(after[:, None] - after[None, :])
    return bool(np.all(moved[clear] == np.sign(gap[clear])))


def dominated_copy(x, kinds, data):
    """x with one more row that a chosen row dominates: worse by a grid step or equal."""
    i = data.draw(st.integers(0, x.shape[0] - 1))
    steps = np.array(data.draw(st.lists(st.integers(0, 3), min_size=x.shape[1],
                                        max_size=x.shape[1])), dtype=np.float64)
    steps[data.draw(st.integers(0, x.shape[1] - 1))] += 1.0
    direction = np.array([1.0 if k == "+" else -1.0 for k in kinds])
    worse = x[i] - direction * steps
    return np.vstack([x, worse]), i


def _assert_dominance(name, x, kinds, w, data):
    grown, best = dominated_copy(x, kinds, data)
    try:
        s = scores_of(name, grown, w, kinds)
    except InputError:
        assert methods.REGISTRY[name].domain is not ANY, name
        return
    higher = methods.REGISTRY[name].higher_is_better
    a, b = s[best], s[-1]
    tolerance = 1e-12 * max(abs(a), abs(b), 1.0)
    assert (a >= b - tolerance) if higher else (a <= b + tolerance), (name, a, b)


@pytest.mark.parametrize("name", [n for n in NAMES if n != "codas"])
@PROPERTY
@given(problem=problems(low=2), data=st.data())
def test_a_dominating_alternative_never_ranks_below(name, problem, data):
    """CODAS is left out: its threshold function may, by definition."""
    x, w, kinds = problem
    _assert_dominance(name, x, kinds, w, data)


@pytest.mark.parametrize("name", NAMES)
@PROPERTY
@given(problem=problems(), data=st.data())
def test_reordering_alternatives_reorders_scores(name, problem, data):
    x, w, kinds = problem
    order = np.array(data.draw(st.permutations(range(x.shape[0]))))
    np.testing.assert_allclose(scores_of(name, x[order], w, kinds),
                               scores_of(name, x, w, kinds)[order], rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("name", NAMES)
@PROPERTY
@given(problem=problems(), data=st.data())
def test_rescaling_one_criterion_keeps_the_ranking(name, problem, data):
    """By 1e150 the squares of 1e4-sized values overflow; by 1e-150 they lose digits."""
    x, w, kinds = problem
    j = data.draw(st.integers(0, x.shape[1] - 1))
    factor = data.draw(st.sampled_from([1e150, 1e-150, 1e300, 1e-300]))
    scaled = x.copy()
    scaled[:, j] *= factor
    before, after = scores_of(name, x, w, kinds), scores_of(name, scaled, w, kinds)
    assert np.isfinite(after).all(), name
    assert order_kept(before, after, methods.REGISTRY[name].higher_is_better), name


@pytest.mark.parametrize("name", NAMES)
@PROPERTY
@pytest.mark.filterwarnings("error::RuntimeWarning")  # an overflow on the way is a fault too
@given(problem=problems(), factor=st.sampled_from([1e-3, 7.0, 1e160, 1e-170, 1.5e308]))
def test_rescaling_every_weight_keeps_the_ranking(name, problem, factor):
    x, w, kinds = problem
    before, after = scores_of(name, x, w, kinds), scores_of(name, x, w * factor, kinds)
    assert np.isfinite(after).all(), name
    assert order_kept(before, after, methods.REGISTRY[name].higher_is_better), name


FINITE = st.one_of(st.floats(-1e300, 1e300, allow_nan=False, allow_infinity=False),
                   st.sampled_from([0.0, 1.0, -1.0, 1e-310, 2.0 ** 1023, -(2.0 ** 1023)]))


@pytest.mark.parametrize("name", NAMES)
@PROPERTY
@given(data=st.data())
def test_finite_input_gives_finite_scores_or_refusal(name, data):
    n, m = data.draw(st.integers(2, 6)), data.draw(st.integers(1, 4))
    x = np.array(data.draw(st.lists(FINITE, min_size=n * m, max_size=n * m))).reshape(n, m)
    if data.draw(st.booleans()):  # constant criteria are the commonest degenerate case
        x[:, data.draw(st.integers(0, m - 1))] = data.draw(FINITE)
    w = np.array(data.draw(st.lists(st.floats(1e-3, 1e3), min_size=m, max_size=m)))
    kinds = "".join(data.draw(st.lists(st.sampled_from("+-"), min_size=m, max_size=m)))
    try:
        s = scores_of(name, x, w, kinds)
    except InputError:
        assert methods.REGISTRY[name].domain is not ANY, name
        return
    assert np.isfinite(s).all(), (name, x, w, kinds, s)


@pytest.mark.parametrize("name", NAMES)
@PROPERTY
@given(problem=problems(negative=True), data=st.data())
def test_negative_data_is_refused_or_ranked_consistently(name, problem, data):
    """Outside its domain a method refuses; inside, dominance holds on negative data too."""
    x, w, kinds = problem
    if name == "codas":
        try:
            scores_of(name, x, w, kinds)
        except InputError:
            return
    else:
        _assert_dominance(name, x, kinds, w, data)


@pytest.mark.parametrize("name", NAMES)
def test_an_all_equal_matrix_ties_everyone(name):
    x = np.full((4, 3), 5.0)
    s = scores_of(name, x, np.array([0.2, 0.3, 0.5]), "+-+")
    assert np.isfinite(s).all() and np.all(s == s[0]), (name, s)
    assert (rank(methods.REGISTRY[name].function(x, [1, 1, 1], "+-+")) == 1).all()


# Where a constant criterion adds the same to every alternative (or nothing);
# in the others it still adds a constant to a sum that is then combined
# non-linearly, so only finiteness is asked of them.
ADDITIVE = {"topsis", "vikor", "promethee2", "edas", "moora", "mabac", "mairca", "spotis"}


@pytest.mark.parametrize("name", NAMES)
def test_a_constant_criterion_contributes_nothing(name):
    """Adding a constant column (zero or not) gives finite scores and, where the
    method adds it alike to everyone, the same ranking."""
    rng = np.random.default_rng(4)
    x = np.round(rng.uniform(1.0, 9.0, (6, 3)), 1)
    base = scores_of(name, x, np.array([0.5, 0.3, 0.2]), "+-+")
    for value in (0.0, 3.0):
        if value == 0.0 and methods.REGISTRY[name].domain.benefit is POSITIVE:
            continue
        grown = np.column_stack([x, np.full(6, value)])
        s = scores_of(name, grown, np.array([0.5, 0.3, 0.2, 0.4]), "+-++")
        assert np.isfinite(s).all(), (name, value)
        higher = methods.REGISTRY[name].higher_is_better
        assert name not in ADDITIVE or (rank(s, higher_is_better=higher)
                                        == rank(base, higher_is_better=higher)).all(), \
            (name, value)
