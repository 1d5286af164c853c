"""Plausible wrong answers the decision methods once gave without a word, each
pinned down: infinite scores, silent reversals, lost magnitudes, NaN from
finite data, weight scale, ties in rank coefficients, direction, and one
calling convention."""
import ast
import inspect
import pathlib

import numpy as np
import pytest

import ternavik
from ternavik import InputError, methods, normalization, rank
from ternavik.compare import compare
from ternavik.correlation import correlation_matrix, rank_correlation
from ternavik.sensitivity import sensitivity
from ternavik.weighting import objective_weights
from conftest import run_python

PHONES = np.array([[250.0, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]])


def test_cocoso_is_finite_when_one_alternative_is_worst_everywhere():
    x = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [310, 8, 4]]
    s = methods.cocoso(x, [1 / 3] * 3, "-++")
    assert np.isfinite(s).all()
    assert rank(s).tolist()[3] == 4 and sorted(rank(s).tolist()) == [1, 2, 3, 4]


@pytest.mark.parametrize("name", ["waspas", "wsm", "wpm", "edas", "codas", "marcos", "copras",
                                  "aras"])
def test_negative_data_is_refused_naming_method_and_label(name):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"profit": [-1.0, -2.0, -3.0], "size": [5.0, 6.0, 5.0]})
    with pytest.raises(InputError, match=r"criterion 'profit'.*shift=True") as caught:
        methods.REGISTRY[name].function(frame, [1, 1], "++")
    assert name.upper().replace("COCOSO", "CoCoSo") in str(caught.value)


@pytest.mark.parametrize("name", ["waspas", "edas", "codas", "marcos", "copras", "aras"])
def test_shift_ranks_negative_data_the_right_way(name):
    s = getattr(methods, name)([[-1, 5], [-2, 6], [-3, 5]], [1, 0.001], "++", shift=True)
    assert rank(s).tolist()[0] == 1


@pytest.mark.parametrize("call", [
    lambda x, w: ternavik.topsis(x, w, "-++"),
    lambda x, w: methods.topsis(x, w, "-++"),
    lambda x, w: methods.topsis(x, w, "-++", normalization="minmax"),
    lambda x, w: methods.moora(x, w, "-++"),
    lambda x, w: methods.copras(x, w, "-++"),
    lambda x, w: methods.edas(x, w, "-++"),
    lambda x, w: methods.aras(x, w, "-++"),
])
@pytest.mark.parametrize("column, factor", [(0, 1e300), (1, 2e306), (2, 1e-300), (0, 5e-320)])
def test_extreme_columns_keep_the_ranking(call, column, factor):
    x = PHONES.copy()
    x[:, column] *= factor
    w = np.array([0.4, 0.3, 0.3])
    got = np.asarray(call(x, w))
    assert np.isfinite(got).all()
    assert (rank(got) == rank(np.asarray(call(PHONES, w)))).all()


@pytest.mark.parametrize("factor", [1e160, 1e-170, 1e300])
def test_extreme_weights_keep_topsis(factor):
    w = np.array([0.4, 0.3, 0.3])
    for call in (ternavik.topsis, methods.topsis):
        base = np.asarray(call(PHONES, w, "-++"))
        got = np.asarray(call(PHONES, w * factor, "-++"))
        np.testing.assert_allclose(got, base, rtol=1e-13)


def test_ordinary_data_keeps_the_native_bits():
    """The taming of magnitudes never touches ordinary input."""
    import _ternavik
    w = np.array([0.4, 0.3, 0.3])
    native = _ternavik.topsis(PHONES, w, np.array([0, 1, 1]))
    assert np.asarray(ternavik.topsis(PHONES, w, "-++")).tobytes() == native.tobytes()


@pytest.mark.parametrize("name, normalize", [("edas", None), ("topsis", None), ("moora", None),
                                             ("logarithmic", True), ("enhanced_accuracy", True),
                                             ("vector", True), ("max", True)])
def test_degenerate_data_gives_defined_results(name, normalize):
    constant = np.array([[3.0, 0.0], [3.0, 0.0], [3.0, 0.0]])
    if normalize:
        for column in ([1.0, 1.0, 1.0], [0.0, 0.0, 0.0], [4.0, 4.0, 4.0]):
            if name == "logarithmic" and column[0] == 0.0:
                continue
            r = normalization.normalize(np.array([column, [1.0, 2.0, 3.0]]).T, "+-", name)
            assert np.isfinite(r).all() and np.all(r[:, 0] == r[0, 0]), (name, column)
        return
    s = methods.REGISTRY[name].function(constant, [0.5, 0.5], "+-")
    assert np.isfinite(s).all() and np.all(s == s[0])
    zero_column = np.array([[1.0, 0.0], [2.0, 0.0], [3.0, 0.0]])
    s = methods.REGISTRY[name].function(zero_column, [0.5, 0.5], "+-")
    assert np.isfinite(s).all() and rank(s).tolist() == [3, 2, 1]


def test_marcos_refuses_an_all_zero_column_instead_of_nan():
    with pytest.raises(InputError, match="MARCOS"):
        methods.marcos([[1.0, 0.0], [2.0, 0.0]], [0.5, 0.5], "++")


@pytest.mark.parametrize("name", ["promethee2", "edas", "topsis", "mabac"])
def test_propagate_gives_the_nan_holder_a_nan_score(name):
    x = np.array([[1.0, 2.0], [np.nan, 3.0], [3.0, 1.0], [2.0, 2.5]])
    s = methods.REGISTRY[name].function(x, [0.5, 0.5], "++", nan_policy="propagate")
    assert np.isnan(s[1])


@pytest.mark.parametrize("name", ["cocoso", "waspas", "codas", "promethee2", "wpm"])
def test_weights_scale_changes_no_ranking(name):
    rng = np.random.default_rng(2)
    x = rng.uniform(1.0, 9.0, (12, 4))
    w = np.array([0.1, 0.2, 0.3, 0.4])
    base = methods.REGISTRY[name].function(x, w, "+-+-")
    for factor in (10.0, 0.01):
        scaled = methods.REGISTRY[name].function(x, w * factor, "+-+-")
        np.testing.assert_allclose(scaled, base, rtol=1e-12, atol=1e-15)
    flows = methods.promethee2(x, w * 10, "+-+-")
    assert np.all(np.abs(flows) <= 1.0)


def _tied_rankings():
    """TOPSIS and VIKOR on a problem with a duplicated alternative."""
    x = np.vstack([PHONES, PHONES[1]])
    result = compare(x, [0.4, 0.3, 0.3], "-++", methods=["topsis", "vikor"],
                     coefficient="spearman")
    return x, result


def test_compare_spearman_with_ties_equals_scipy():
    stats = pytest.importorskip("scipy.stats")
    pytest.importorskip("pandas")
    x, result = _tied_rankings()
    a, b = (result.ranks[c].to_numpy(dtype=float) for c in result.ranks.columns)
    assert len(set(a)) < len(a)  # the duplicate ties
    expected = stats.spearmanr(a, b).statistic
    assert result.correlation.iloc[0, 1] == pytest.approx(expected, abs=1e-12)
    kendall = compare(x, [0.4, 0.3, 0.3], "-++", methods=["topsis", "vikor"],
                      coefficient="kendall_tau").correlation.iloc[0, 1]
    assert kendall == pytest.approx(stats.kendalltau(a, b).statistic, abs=1e-12)


def _random_tied(rng, n):
    return rng.integers(1, max(2, n // 2), n).astype(float)


@pytest.mark.parametrize("seed", range(40))
def test_coefficients_with_ties_equal_the_peers(seed):
    stats = pytest.importorskip("scipy.stats")
    rng = np.random.default_rng(seed)
    n = int(rng.integers(3, 30))
    x, y = _random_tied(rng, n), _random_tied(rng, n)
    if np.ptp(x) == 0 or np.ptp(y) == 0:
        return
    assert rank_correlation(x, y, "spearman") == pytest.approx(
        stats.spearmanr(x, y).statistic, abs=1e-12)
    assert rank_correlation(x, y, "kendall_tau") == pytest.approx(
        stats.kendalltau(x, y).statistic, abs=1e-12)
    try:
        from pymcdm import correlations as pc
    except ImportError:
        return
    ax, ay = stats.rankdata(x), stats.rankdata(y)
    for ours, theirs in (("weighted_spearman", pc.weighted_spearman), ("ws", pc.ws),
                         ("spearman", pc.spearman)):
        assert rank_correlation(x, y, ours) == pytest.approx(theirs(ax, ay), abs=1e-12), ours


def test_untied_rankings_keep_their_coefficients_bit_for_bit():
    from ternavik import _engine
    rng = np.random.default_rng(1)
    rankings = np.array([rng.permutation(9) + 1.0 for _ in range(4)])
    for code in range(5):
        assert correlation_matrix(rankings, ["spearman", "weighted_spearman", "ws",
                                             "kendall_tau", "goodman_kruskal_gamma"][code]
                                  ).tobytes() == _engine.rank_coefficients(rankings, code).tobytes()


@pytest.mark.parametrize("method, expected", [
    ("min", [1, 2, 2, 4, 5]), ("max", [1, 3, 3, 4, 5]), ("dense", [1, 2, 2, 3, 4]),
    ("ordinal", [1, 2, 3, 4, 5]), ("average", [1.0, 2.5, 2.5, 4.0, 5.0]),
])
def test_rank_tie_methods_match_pandas(method, expected):
    pd = pytest.importorskip("pandas")
    scores = [0.9, 0.7, 0.7, 0.5, np.nan]
    assert rank(scores, method=method).tolist() == expected
    theirs = pd.Series(scores).rank(ascending=False, method="first" if method == "ordinal"
                                    else method, na_option="bottom")
    assert theirs.tolist() == expected
    assert rank(pd.Series(scores, index=list("abcde")), method=method).tolist() == expected


def test_rank_reads_a_methods_direction():
    pd = pytest.importorskip("pandas")
    v = methods.vikor(PHONES, [0.4, 0.3, 0.3], "-++")
    assert rank(v).tolist() == rank(v.Q).tolist() == rank(-np.asarray(v.Q)).tolist()
    gap = methods.mairca(PHONES, [0.4, 0.3, 0.3], "-++")
    assert rank(gap).tolist() == rank(np.asarray(gap), higher_is_better=False).tolist()
    assert rank(-gap).tolist() == rank(gap).tolist()  # arithmetic drops the direction
    assert rank(gap, higher_is_better=True).tolist() == rank(np.asarray(gap)).tolist()
    frame = pd.DataFrame(PHONES, index=list("abcd"))
    labelled = methods.spotis(frame, [0.4, 0.3, 0.3], "-++")
    assert rank(labelled).tolist() == rank(np.asarray(labelled), higher_is_better=False).tolist()


def test_one_calling_convention_everywhere():
    functions = [entry.function for entry in methods.REGISTRY.values()]
    functions += [methods.vikor, ternavik.topsis, compare, sensitivity, objective_weights]
    for function in functions:
        assert list(inspect.signature(function).parameters)[:3] == ["data", "weights", "kinds"], \
            function.__name__
    assert all(hasattr(e, "function") and hasattr(e, "higher_is_better")
               for e in methods.REGISTRY.values())


def test_spotis_and_compare_take_a_constant_criterion():
    pytest.importorskip("pandas")
    x = np.column_stack([PHONES, np.full(4, 7.0)])
    s = methods.spotis(x, [0.3, 0.3, 0.2, 0.2], "-+++")
    base = methods.spotis(PHONES, [0.3, 0.3, 0.2], "-++")
    assert (rank(s) == rank(base)).all()
    result = compare(x, "equal", "-+++", methods=sorted(methods.REGISTRY))
    assert np.isfinite(result.scores.to_numpy()).all()


def test_sensitivity_with_one_criterion_is_an_input_error():
    with pytest.raises(InputError, match="one criterion"):
        sensitivity([[1.0], [2.0], [3.0]], "equal", "+")


def test_compare_takes_variants_and_labels_them():
    pytest.importorskip("pandas")
    spec = ["topsis", ("topsis", {"normalization": "minmax"}),
            ("promethee2", {"preference": "v-shape", "p": 50.0}), "mairca"]
    result = compare(PHONES, [0.4, 0.3, 0.3], "-++", methods=spec)
    assert list(result.scores.columns) == [
        "topsis", "topsis(normalization='minmax')", "promethee2(preference='v-shape', p=50.0)",
        "mairca"]
    assert result.higher_is_better.tolist() == [True, True, True, False]
    np.testing.assert_array_equal(result.scores.iloc[:, 1],
                                  methods.topsis(PHONES, [0.4, 0.3, 0.3], "-++",
                                                 normalization="minmax"))
    named = compare(PHONES, [0.4, 0.3, 0.3], "-++",
                    methods={"tv": "topsis", "tm": ("topsis", {"normalization": "minmax"})})
    assert list(named.ranks.columns) == ["tv", "tm"]
    with pytest.raises(InputError, match="takes the options"):
        compare(PHONES, [0.4, 0.3, 0.3], "-++", methods=[("topsis", {"colour": 1})])


def test_the_decision_modules_import_without_a_circle():
    """No module of the package imports, at its top, one that imports it back."""
    root = pathlib.Path(ternavik.__file__).parent
    graph = {}
    for path in root.glob("*.py"):
        tree = ast.parse(path.read_text())
        graph[path.stem] = {node.module.lstrip(".").split(".")[0]
                            for node in tree.body if isinstance(node, ast.ImportFrom)
                            and node.level == 1 and node.module}

    def reaches(start, goal, seen):
        for nxt in graph.get(start, ()):
            if nxt == goal or (nxt not in seen and reaches(nxt, goal, seen | {nxt})):
                return True
        return False
    circles = [name for name in graph if reaches(name, name, {name})]
    assert circles == []


def test_methods_is_an_attribute_straight_after_import():
    out = run_python("import ternavik\nprint(ternavik.methods.topsis.__name__)").stdout
    assert out.strip() == "topsis"
