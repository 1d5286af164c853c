"""Objective weightings and rank coefficients: agreement with the peer
libraries, the definitions where we differ, and identical bits for every
layout and thread count."""
import os
import sys

import numpy as np
import pytest

import _ternavik
from conftest import run_python
from ternavik import _engine
from ternavik.correlation import COEFFICIENTS, correlation_matrix, rank_correlation
from ternavik.weighting import WEIGHTINGS, objective_weights, weights_of

pm_weights = pytest.importorskip("pymcdm.weights")
pm_corr = pytest.importorskip("pymcdm.correlations")
pm_helpers = pytest.importorskip("pymcdm.helpers")


def _suppliers():
    import ternavik
    path = os.path.join(ternavik.__path__[0], "data", "suppliers.csv")
    values = np.loadtxt(path, delimiter=",", skiprows=1, usecols=range(1, 6))
    return values, np.array([0, 0, 0, 1, 1], dtype=np.int64)


def _skcriteria(loader):
    datasets = pytest.importorskip("skcriteria.datasets")
    dm = getattr(datasets, loader)()
    codes = np.array([o.value == 1 for o in dm.objectives], dtype=np.int64)
    return np.ascontiguousarray(dm.matrix.to_numpy(dtype=float)), codes


def _random(seed, n, m):
    rng = np.random.default_rng(seed)
    return rng.uniform(1.0, 100.0, (n, m)), rng.integers(0, 2, m).astype(np.int64)


DATASETS = {
    "suppliers": _suppliers,
    "stock_selection": lambda: _skcriteria("load_simple_stock_selection"),
    "van2021": lambda: _skcriteria("load_van2021evaluation"),
    "random_10x5": lambda: _random(1, 10, 5),
    "random_57x9": lambda: _random(2, 57, 9),
    "random_200x3": lambda: _random(3, 200, 3),
}


def _types(codes):
    return np.where(codes == 1, 1, -1)


def _skc_critic(x, codes):
    weighters = pytest.importorskip("skcriteria.preprocessing.weighters")
    return weighters.critic_weights(x, _types(codes))


# weighting -> peer(x, codes). CRITIC follows its paper (normalised by
# direction) like scikit-criteria; pymcdm's ignores directions, so it is the
# peer on the same data with every criterion a benefit (row "critic_benefit").
WEIGHT_PEERS = {
    "equal": lambda x, c: pm_weights.equal_weights(x),
    "sum_entropy": lambda x, c: pm_weights.entropy_weights(x),
    "standard_deviation": lambda x, c: pm_weights.standard_deviation_weights(x),
    "variance": lambda x, c: pm_weights.variance_weights(x),
    "critic": _skc_critic,
    "merec": lambda x, c: pm_weights.merec_weights(x, _types(c)),
    "gini": lambda x, c: pm_weights.gini_weights(x),
    "angle": lambda x, c: pm_weights.angle_weights(x),
}

COEFFICIENT_PEERS = {
    "spearman": pm_corr.spearman,
    "weighted_spearman": pm_corr.weighted_spearman,
    "ws": pm_corr.rank_similarity_coef,
    # tau-b, which SciPy computes; pymcdm's kendall_tau is tau-a and so
    # differs as soon as a ranking has ties.
    "kendall_tau": lambda a, b: __import__("scipy.stats").stats.kendalltau(a, b).statistic,
    "goodman_kruskal_gamma": pm_corr.goodman_kruskal_gamma,
}


def _rankings(x):
    """Rankings of the alternatives by each criterion, with average ranks for ties."""
    rounded = np.round(x / x.max(axis=0) * 4)  # coarse values: many ties
    return np.array([pm_helpers.rrankdata(col) for col in np.column_stack([x, rounded]).T])


@pytest.mark.parametrize("dataset", sorted(DATASETS))
@pytest.mark.parametrize("name", sorted(WEIGHT_PEERS) + ["critic_benefit"] + list(COEFFICIENT_PEERS))
def test_agrees_with_peer(name, dataset):
    x, codes = DATASETS[dataset]()
    if name in COEFFICIENT_PEERS:
        r = _rankings(x)
        peer = np.array([[COEFFICIENT_PEERS[name](a, b) for b in r] for a in r])
        np.testing.assert_allclose(correlation_matrix(r, name), peer, rtol=1e-12, atol=1e-15)
        return
    if name == "critic_benefit":
        name, codes, peer = "critic", np.ones_like(codes), pm_weights.critic_weights(x)
    else:
        peer = WEIGHT_PEERS[name](x, codes)
    np.testing.assert_allclose(weights_of(name, x, codes), peer, rtol=1e-12, atol=0)


@pytest.mark.parametrize("name", ["minmax_entropy", "entropy"])
def test_minmax_entropy_is_entropy_weight(name):
    x, codes = _random(4, 30, 6)
    assert weights_of(name, x, codes).tobytes() == _ternavik.entropy_weight(x, codes)[0].tobytes()


# Hand computations where a peer refuses the input or returns NaN.
@pytest.mark.parametrize("name, x, expected", [
    # 0 ln 0 = 0: p = (0, 1/4, 3/4) and (1/3, 1/3, 1/3) -> c = (1 - e, 0).
    ("sum_entropy", [[0, 1], [1, 1], [3, 1]],
     [1.0, 0.0]),
    # A constant criterion: no spread, no conflict; the others split the rest.
    ("critic", [[1, 5, 2], [2, 5, 4], [3, 5, 3]], None),
    ("angle", [[1, 5], [2, 5], [4, 5]], [1.0, 0.0]),
    # Nothing tells the criteria apart: equal weights, not 0 / 0.
    ("standard_deviation", [[2, 7], [2, 7]], [0.5, 0.5]),
    ("gini", [[3, 3, 3], [3, 3, 3]], [1 / 3, 1 / 3, 1 / 3]),
])
def test_definitions_where_peers_fail(name, x, expected):
    x = np.array(x, dtype=float)
    w = weights_of(name, x, np.ones(x.shape[1], dtype=np.int64))
    if name == "critic":
        y = (x[:, [0, 2]] - x[:, [0, 2]].min(0)) / np.ptp(x[:, [0, 2]], axis=0)
        r = np.corrcoef(y.T)[0, 1]
        # 1 - r with the other, 1 - 0 with the constant one, 1 - 1 with itself
        c = y.std(axis=0, ddof=1) * ((1 - r) + 1.0)
        expected = [c[0] / c.sum(), 0.0, c[1] / c.sum()]
    np.testing.assert_allclose(w, expected, rtol=1e-14, atol=1e-15)
    assert np.isclose(w.sum(), 1.0)


@pytest.mark.parametrize("name, bad", [("sum_entropy", -1.0), ("merec", 0.0)])
def test_refuses_values_outside_the_domain(name, bad):
    x = np.array([[1.0, 2.0], [3.0, bad], [2.0, 5.0]])
    with pytest.raises(ValueError, match="criterion #1"):
        weights_of(name, x, np.ones(2, dtype=np.int64))


def test_nan_gives_nan_weights_and_coefficients():
    x, codes = _random(5, 12, 4)
    x[3, 2] = np.nan
    for name in set(WEIGHTINGS) - {"equal", "minmax_entropy"}:  # the latter keeps its own rule
        assert np.isnan(weights_of(name, x, codes)).all(), name
    assert np.isnan(rank_correlation([1, 2, np.nan], [1, 2, 3], "kendall_tau"))


def test_labels_and_names():
    pd = pytest.importorskip("pandas")
    x, codes = _suppliers()
    frame = pd.DataFrame(x, columns=list("abcde"), index=list("ABCDEFGHIJ"))
    w = objective_weights(frame, "critic", "--+++")
    assert list(w.index) == list("abcde") and w.name == "weight"
    ranks = pd.DataFrame(_rankings(x)[:3].T, columns=["p", "q", "r"])
    matrix = correlation_matrix(ranks, "rw")
    assert list(matrix.index) == ["p", "q", "r"] and matrix.loc["p", "p"] == 1.0
    with pytest.raises(ValueError, match="'critic', .*got 'critics'"):
        objective_weights(x, "critics")
    with pytest.raises(ValueError, match="unknown coefficient"):
        correlation_matrix(ranks, "pearson")


def test_kendall_and_gamma_count_every_pair_exactly():
    rng = np.random.default_rng(7)
    x = rng.integers(1, 6, 300).astype(float)  # heavy ties
    y = rng.integers(1, 6, 300).astype(float)
    s = np.sign(x[:, None] - x[None, :]) * np.sign(y[:, None] - y[None, :])
    concordant_minus_discordant = s.sum() / 2
    untied = np.abs(s).sum() / 2
    tied_x = (np.sum(x[:, None] == x[None, :]) - 300) / 2
    tied_y = (np.sum(y[:, None] == y[None, :]) - 300) / 2
    pairs = 300 * 299 / 2
    tau_b = concordant_minus_discordant / np.sqrt((pairs - tied_x) * (pairs - tied_y))
    assert rank_correlation(x, y, "kendall_tau") == pytest.approx(tau_b, rel=1e-15)
    assert rank_correlation(x, y, "gamma") == concordant_minus_discordant / untied


# --- identical bits for every layout and thread count, inputs untouched ---

def _layouts(x):
    f = np.asfortranarray(x)
    wide = np.zeros((x.shape[0] * 2, x.shape[1] * 3))
    wide[::2, ::3] = x
    rev = np.ascontiguousarray(x[::-1, ::-1])[::-1, ::-1]
    return [x, f, wide[::2, ::3], rev]


def _family_results(x, codes):
    """Every kernel of the two families on one matrix, as bytes."""
    ranks = np.argsort(np.argsort(-x, axis=0), axis=0).T.astype(float) + 1
    return {
        "weights": b"".join(_engine.objective_weights(x, codes, c).tobytes()
                            for c in range(len(WEIGHTINGS))),
        "coefficients": b"".join(_engine.rank_coefficients(ranks, c).tobytes()
                                 for c in range(len(COEFFICIENTS))),
    }


@pytest.mark.parametrize("family", ["weights", "coefficients"])
def test_layouts_give_identical_bits(family):
    x, codes = _random(8, 301, 11)
    expected = _family_results(x, codes)[family]
    for view in _layouts(x):
        before = view.copy()
        view.flags.writeable = False
        assert _family_results(view, codes)[family] == expected
        assert np.array_equal(view, before)


def test_thread_counts_give_identical_bits():
    x, codes = _random(9, 2003, 17)
    here = _family_results(x, codes)
    for threads in ("1", "3"):
        out = run_python(f"""
            import sys; sys.path.insert(0, {os.path.dirname(__file__)!r})
            from test_weighting import _family_results, _random
            x, codes = _random(9, 2003, 17)
            r = _family_results(x, codes)
            print(" ".join(r[k].hex() for k in ("weights", "coefficients")))
            """, env={"RAYON_NUM_THREADS": threads, "PYTHONPATH": os.pathsep.join(sys.path)})
        assert out.stdout.split() == [here[k].hex() for k in ("weights", "coefficients")]


@pytest.mark.parametrize("name", ["critic", "sum_entropy", "gini"])
@pytest.mark.parametrize("method", ["topsis", "vikor", "promethee2", "mabac", "spotis"])
def test_every_method_takes_weights_by_name(method, name):
    from ternavik.methods import REGISTRY

    x, codes = _random(12, 15, 4)
    function = REGISTRY[method].function
    by_name = np.asarray(function(x, name, codes))
    assert by_name.tobytes() == np.asarray(function(x, weights_of(name, x, codes), codes)).tobytes()
