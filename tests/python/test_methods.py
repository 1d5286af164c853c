"""Ranking methods and normalisations: agreement with the peer libraries,
hand computations where our definition differs, and the bit-exactness
contract (memory layout, thread count, weight batches, untouched inputs)."""

import math
import os

import numpy as np
import pytest

from ternavik import InputError, methods, normalization, subjective
from conftest import run_python

# The peers are test-only dependencies: without them the agreement table is
# skipped and the contract tests below still run.
try:
    from pymcdm import helpers as mcdm_helpers
    from pymcdm import methods as mcdm
    from pymcdm import normalizations as mcdm_norm
except ImportError:
    mcdm = None
try:
    import skcriteria.datasets as skc_datasets
except ImportError:
    skc_datasets = None


def _datasets():
    """The peers' shipped decision matrices and seeded random ones: (name, X, signs, w)."""
    sets = []
    shipped = () if skc_datasets is None else (skc_datasets.load_simple_stock_selection,
                                               skc_datasets.load_van2021evaluation)
    for load in shipped:
        dm = load()
        w = np.asarray(dm.weights, dtype=float)
        sets.append((load.__name__, np.asarray(dm.matrix, dtype=float),
                     np.asarray([o.value for o in dm.objectives]), w / w.sum()))
    rng = np.random.default_rng(14)
    for n, m in ((12, 4), (60, 7)):
        signs = np.where(rng.random(m) < 0.5, 1, -1)
        signs[:2] = (1, -1)  # MOORA and COPRAS peers need both kinds
        w = rng.uniform(0.1, 1.0, m)
        sets.append((f"random{n}x{m}", rng.uniform(1.0, 50.0, (n, m)), signs, w / w.sum()))
    return sets


DATASETS = _datasets()


def _skc_copras(x, w, signs):
    from skcriteria.agg.copras import copras
    return copras(x / x.sum(axis=0), w, signs)[1] / 100.0


def _pymcdm_vikor(part):
    return lambda x, w, signs: mcdm.VIKOR()._method(x, w, signs)[3 + part]


def _peer(cls, *args, **kw):
    return lambda x, w, signs: cls(*args, **kw)(x, w, signs)


def _cases():
    """(case id, ours(x, w, kinds), peer(x, w, signs)) for every method and normalisation."""
    cases = []
    if mcdm is None:
        return cases
    for name in normalization.NORMALIZATIONS:
        f = getattr(mcdm_norm, f"{name}_normalization")
        cases.append((f"normalize-{name}",
                      lambda x, w, k, name=name: normalization.normalize(x, k, name),
                      lambda x, w, s, f=f: mcdm_helpers.normalize_matrix(x, f, s)))
        cases.append((f"topsis-{name}",
                      lambda x, w, k, name=name: methods.topsis(x, w, k, normalization=name),
                      _peer(mcdm.TOPSIS, f)))
    for part, letter in enumerate("SRQ"):
        cases.append((f"vikor-{letter}", lambda x, w, k, part=part: methods.vikor(x, w, k)[part],
                      _pymcdm_vikor(part)))
    for ours, theirs in (("usual", "usual"), ("u-shape", "ushape"), ("v-shape", "vshape"),
                         ("level", "level"), ("linear", "vshape_2")):
        def promethee(x, w, k, ours=ours):
            spread = x.std(axis=0)
            return methods.promethee2(x, w, k, preference=ours, q=0.25 * spread, p=spread)

        def peer(x, w, s, theirs=theirs):
            spread = x.std(axis=0)
            return mcdm.PROMETHEE_II(theirs, p=spread, q=0.25 * spread)(x, w, s)
        cases.append((f"promethee2-{ours}", promethee, peer))
    lin = mcdm_norm.linear_normalization
    cases += [
        ("copras", methods.copras, _skc_copras),
        ("waspas", lambda x, w, k: methods.waspas(x, w, k, lam=0.3), _peer(mcdm.WASPAS, l=0.3)),
        ("wsm", methods.wsm, _peer(mcdm.WSM, lin)),
        ("wpm", methods.wpm, _peer(mcdm.WPM, lin)),
        ("edas", methods.edas, _peer(mcdm.EDAS)),
        ("moora", methods.moora, _peer(mcdm.MOORA)),
        ("aras", methods.aras, _peer(mcdm.ARAS)),
        ("mabac", methods.mabac, _peer(mcdm.MABAC)),
        ("codas", methods.codas, _peer(mcdm.CODAS)),
        ("cocoso", lambda x, w, k: methods.cocoso(x, w, k, lam=0.4), _peer(mcdm.COCOSO, l=0.4)),
        ("mairca", methods.mairca, _peer(mcdm.MAIRCA)),
        ("marcos", methods.marcos, _peer(mcdm.MARCOS)),
        ("spotis", methods.spotis,
         lambda x, w, s: mcdm.SPOTIS(mcdm.SPOTIS.make_bounds(x))(x, w, s)),
    ]
    return cases


CASES = _cases()


@pytest.mark.parametrize("dataset", DATASETS, ids=[d[0] for d in DATASETS])
@pytest.mark.parametrize("case", CASES, ids=[c[0] for c in CASES])
def test_agrees_with_peer(case, dataset):
    """1e-12 relative, measured against the largest peer value (flows and gaps cross zero)."""
    _, ours, peer = case
    _, x, signs, w = dataset
    if case[0] == "copras" and skc_datasets is None:
        pytest.skip("scikit-criteria is not installed")
    if case[0] == "topsis-logarithmic" and (np.log(x).sum(axis=0) <= 0).any():
        # ln x / sum(ln x) reverses a criterion whose logarithms sum below 0;
        # the peer ranks on regardless, we refuse.
        with pytest.raises(InputError, match="logarithms summing"):
            ours(x, w, (signs == 1).astype(int))
        return
    expected = np.asarray(peer(x, w, signs), dtype=float)
    got = ours(x, w, (signs == 1).astype(int))
    np.testing.assert_allclose(got, expected, rtol=1e-12,
                               atol=1e-12 * np.max(np.abs(expected)))


# Hand computations where our definition differs from a peer's.

def test_copras_follows_the_paper_not_pymcdm():
    """pymcdm's relative significance reduces to S+ + S-; the paper divides."""
    x = np.array([[2.0, 4.0], [4.0, 2.0], [2.0, 2.0]])
    shares = x / x.sum(axis=0)
    s_plus, s_minus = shares[:, 0] * 0.5, shares[:, 1] * 0.5
    q = s_plus + s_minus.min() * s_minus.sum() / (s_minus * np.sum(s_minus.min() / s_minus))
    np.testing.assert_allclose(methods.copras(x, [0.5, 0.5], "+-"), q / q.max(), rtol=1e-15)


def test_logarithmic_normalisation_has_no_product_overflow():
    """ln of the product is the sum of the logs: 400 values of 1e200 stay finite."""
    x = np.full((400, 1), 1e200)
    x[0, 0] = 1e100
    logs = np.log(x[:, 0])
    expected = logs / logs.sum()
    np.testing.assert_allclose(normalization.normalize(x, [1], "logarithmic")[:, 0], expected,
                               rtol=1e-14)


def test_mabac_geometric_mean_does_not_underflow():
    """The peer's product of n weighted values underflows to 0 for large n; ours cannot."""
    rng = np.random.default_rng(3)
    x = rng.uniform(1.0, 2.0, (5000, 2))
    w = np.array([0.01, 0.99])
    r = normalization.normalize(x, [1, 0], "minmax")
    border = w * np.exp(np.mean(np.log(r + 1.0), axis=0))
    expected = ((r + 1.0) * w - border).sum(axis=1)
    got = methods.mabac(x, w, [1, 0])
    assert np.all(np.isfinite(got))
    np.testing.assert_allclose(got, expected, rtol=1e-9, atol=1e-12)


def test_vikor_constant_criterion_contributes_nothing():
    """The peer refuses a constant criterion (0 / 0); it separates no alternative."""
    x = np.array([[1.0, 5.0], [2.0, 5.0], [4.0, 5.0]])
    s, r, q = methods.vikor(x, [0.5, 0.5], "++")
    np.testing.assert_array_equal(s, [0.5, 0.5 * (2.0 / 3.0), 0.0])
    np.testing.assert_array_equal(q, [1.0, 0.5 * (1 / 3) / 0.5 + 0.5 * (1 / 3) / 0.5, 0.0])


def test_promethee_gaussian_by_hand():
    """No peer ships the Gaussian function: P(d) = 1 - exp(-d^2 / (2 s^2)) for d > 0."""
    x = np.array([[0.0], [1.0], [3.0]])
    p = lambda d: 1.0 - math.exp(-d * d / 8.0) if d > 0 else 0.0  # noqa: E731  s = 2
    flows = [sum(p(a - b) - p(b - a) for b in x[:, 0]) / 2.0 for a in x[:, 0]]
    np.testing.assert_allclose(methods.promethee2(x, [1.0], [1], preference="gaussian", s=2.0),
                               flows, rtol=1e-15, atol=1e-16)


def _ramp_sums(column, sign, lower, upper):
    """plus and minus of a ramp function in the stated order: the count of full
    preferences plus the ramps added from 0.0 in ascending order of x_k."""
    ascending = np.sort(column[~np.isnan(column)])
    sums = np.zeros((column.size, 2))
    for i, value in enumerate(column):
        d_ik = sign * (value - ascending)
        for side, d in enumerate((d_ik, -d_ik)):
            ramps = 0.0
            for e in d:
                if lower < e <= upper:
                    ramps = ramps + (e - lower) * (1.0 / (upper - lower))
            sums[i, side] = float(np.count_nonzero(d > upper)) + ramps
    return sums


@pytest.mark.parametrize("preference", ["usual", "u-shape", "level", "v-shape", "linear",
                                        "gaussian"])
def test_promethee_flows_follow_the_stated_order_to_the_bit(preference):
    """Steps are counted and ramps summed over the sorted criterion: same bits as stated."""
    rng = np.random.default_rng(8)
    x = np.round(rng.uniform(0.0, 6.0, (40, 4)) * 4.0) / 4.0  # ties, exact thresholds
    x[5, 1] = np.nan
    signs, w = np.array([1.0, -1.0, 1.0, -1.0]), rng.uniform(0.1, 1.0, 4)
    q, p, s = 1.0, 3.0, 2.0

    def libm_exp(a):  # NumPy's own exp may differ from the C library's in the last bit
        return np.frompyfunc(math.exp, 1, 1)(a).astype(float)
    d = signs * (x[:, None, :] - x[None, :, :])  # d[i, k, j]
    plus, minus = np.zeros((40, 4)), np.zeros((40, 4))
    if preference in ("v-shape", "linear"):
        lower = q if preference == "linear" else 0.0
        for j in range(4):
            sums = _ramp_sums(x[:, j], signs[j], lower, p)
            plus[:, j], minus[:, j] = sums[:, 0], sums[:, 1]
    else:
        table = {
            "usual": lambda d: np.where(d > 0, 1.0, 0.0),
            "u-shape": lambda d: np.where(d > q, 1.0, 0.0),
            "level": lambda d: np.where(d > p, 1.0, np.where(d > q, 0.5, 0.0)),
            "gaussian": lambda d: np.where(d > 0, 1.0 - libm_exp(-(d * d) / (2.0 * s * s)), 0.0),
        }[preference]
        with np.errstate(invalid="ignore"):
            for k in range(40):  # the sums over k, in order
                plus = plus + table(d[:, k, :])
                minus = minus + table(-d[:, k, :])
    outgoing, incoming = np.zeros(40), np.zeros(40)
    unit = w / w.sum()  # flows are taken with the weights divided by their sum
    for j in range(4):
        outgoing, incoming = outgoing + plus[:, j] * unit[j], incoming + minus[:, j] * unit[j]
    expected = outgoing / 39.0 - incoming / 39.0
    expected[np.isnan(x).any(axis=1)] = np.nan  # "propagate": the NaN's holder scores NaN
    got = methods.promethee2(x, w, (signs == 1).astype(int), preference=preference, q=q, p=p,
                             s=s, nan_policy="propagate")
    assert got.tobytes() == expected.tobytes()


def test_topsis_on_identical_alternatives_is_one_half():
    """Both distances 0: the peer returns 0 / 0 = NaN, we return 0.5 like ternavik.topsis."""
    x = np.array([[1.0, 2.0], [1.0, 2.0]])
    np.testing.assert_array_equal(methods.topsis(x, [0.5, 0.5], "+-"), [0.5, 0.5])


# The bit-exactness contract.

def _all_scores(x, kinds, w):
    """Every registry method, both VIKOR extras and every normalisation, for one input."""
    nan = "propagate"
    out = {name: m.function(x, w, kinds, nan_policy=nan) for name, m in methods.REGISTRY.items()}
    out["vikor-all"] = np.stack(methods.vikor(x, w, kinds, nan_policy=nan))
    for name in normalization.NORMALIZATIONS:
        out[name] = normalization.normalize(x, kinds, name, nan_policy=nan)
        out[f"topsis-{name}"] = methods.topsis(x, w, kinds, normalization=name, nan_policy=nan)
    return out


def _layouts(x):
    yield "C", np.ascontiguousarray(x)
    yield "F", np.asfortranarray(x)
    wide = np.zeros((x.shape[0] * 2, x.shape[1] * 3))
    wide[::2, ::3] = x
    yield "strided", wide[::2, ::3]
    yield "reversed", x[::-1, ::-1].copy()[::-1, ::-1]


def test_every_layout_gives_identical_bits_and_inputs_stay_untouched():
    rng = np.random.default_rng(5)
    x = rng.uniform(1.0, 9.0, (700, 9))
    x[3, 2] = np.nan
    kinds, w = [1, 0, 1, 1, 0, 0, 1, 0, 1], rng.uniform(0.1, 1.0, 9)
    reference = _all_scores(np.ascontiguousarray(x), kinds, w)
    for layout, view in _layouts(x):
        before = view.copy()
        got = _all_scores(view, kinds, w)
        np.testing.assert_array_equal(view, before)
        for name, value in reference.items():
            assert got[name].tobytes() == value.tobytes(), (layout, name)


def test_weight_batch_equals_one_call_per_vector():
    rng = np.random.default_rng(6)
    x = rng.uniform(1.0, 9.0, (150, 5))
    kinds, batch = "+-+-+", rng.uniform(0.0, 1.0, (7, 5))
    for name, m in methods.REGISTRY.items():
        together = m.function(x, batch, kinds)
        assert together.shape == (7, 150)
        for k in range(7):
            assert together[k].tobytes() == m.function(x, batch[k], kinds).tobytes(), name


THREAD_SCRIPT = """
import hashlib, numpy as np
from ternavik import methods, normalization
rng = np.random.default_rng(9)
x = rng.uniform(1.0, 9.0, ({n}, 11))
kinds, w = [1, 0] * 5 + [1], rng.uniform(0.1, 1.0, (3, 11))
h = hashlib.sha256()
for name, m in methods.REGISTRY.items():
    h.update(m.function(x if name not in ("promethee2", "codas") else x[:300], w, kinds).tobytes())
for name in normalization.NORMALIZATIONS:
    h.update(normalization.normalize(x, kinds, name).tobytes())
print(h.hexdigest())
"""


def test_thread_count_does_not_change_a_bit():
    """Large enough that every pass splits over the pool."""
    script = THREAD_SCRIPT.format(n=5000)
    digests = {run_python(script, env={"RAYON_NUM_THREADS": str(t)}).stdout.strip()
               for t in (1, 2, 3)}
    assert len(digests) == 1


# Refusals with messages that name the culprit.

@pytest.mark.parametrize("call, match", [
    (lambda: normalization.normalize([[1.0, 0.0], [2.0, 1.0]], "++", "sum"),
     "criterion #1: the sum normalisation needs every value > 0"),
    (lambda: normalization.normalize([[1.0], [2.0]], "+", "softmax"), "normalization 'softmax'"),
    (lambda: methods.aras([[1.0, -1.0], [2.0, 1.0]], "equal", "++"), "criterion #1"),
    (lambda: methods.spotis([[1.0], [2.0]], [1.0], "+", bounds=[[0.0, 1.5]]), "bounds"),
    (lambda: methods.promethee2([[1.0], [2.0]], [1.0], "+", preference="v-shape"), "p > 0"),
    (lambda: methods.promethee2([[1.0], [2.0]], [1.0], "+", preference="sigmoid"), "sigmoid"),
    (lambda: methods.topsis([[1.0], [2.0]], np.ones((2, 3)), "+"), "3 columns"),
    (lambda: methods.vikor([[1.0], [2.0]], [1.0], "+", v=1.5), r"v must lie in \[0, 1\]"),
    (lambda: methods.edas([[1.0], [np.nan]], [1.0], "+"), "alternative #1, criterion #0"),
    # Parameters that are no numbers are named, not left to float()'s message.
    (lambda: methods.waspas([[1.0], [2.0]], [1.0], "+", lam="x"), "lam must be a number"),
    (lambda: methods.codas([[1.0], [2.0]], [1.0], "+", tau=None), "tau must be a number"),
    (lambda: methods.electre1([[1.0], [2.0]], [1.0], "+", c=None), "c must be a number"),
    (lambda: methods.gra([[1.0], [2.0]], [1.0], "+", zeta="x"), "zeta must be a number"),
    (lambda: methods.electre3([[1.0], [2.0]], [1.0], "+", alpha="x"), "alpha must be a"),
    (lambda: methods.promethee1([[1.0], [2.0]], [1.0], "+", preference=3), "preference must"),
    (lambda: methods.topsis([[1.0], [2.0]], [1.0], None), "one entry per criterion"),
])
def test_refusals_name_the_culprit(call, match):
    with pytest.raises(ValueError, match=match):
        call()


def test_nan_policy_omit_and_labels():
    """Left-out alternatives score NaN, the rest as if they were alone; batches too."""
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"a": [1.0, 2.0, np.nan, 4.0], "b": [3.0, 1.0, 2.0, 2.0]},
                         index=list("pqrs"))
    kinds = {"a": "max", "b": "min"}
    alone = methods.edas(frame.drop("r").to_numpy(), [0.5, 0.5], "+-")
    scores = methods.edas(frame, "equal", kinds, nan_policy="omit")
    assert list(scores.index) == list("pqrs") and np.isnan(scores["r"])
    np.testing.assert_array_equal(scores.drop("r").to_numpy(), alone)
    batch = methods.edas(frame, np.array([[0.5, 0.5], [1.0, 0.0]]), kinds, nan_policy="omit")
    assert list(batch.columns) == list("pqrs") and batch["r"].isna().all()
    np.testing.assert_array_equal(batch.drop(columns="r").to_numpy()[0], alone)
    assert list(methods.vikor(frame, "equal", kinds, nan_policy="omit").Q.index) == list("pqrs")


@pytest.mark.parametrize("weights", [np.array([0.2, 0.0, 0.8]), np.array([1, 2, 3]),
                                     np.array([-0.5, 1.0, 0.5]), np.array([0.0, 0.0, 0.0]),
                                     np.array([np.inf, 1.0, 1.0])])
def test_plain_arrays_take_the_same_path_as_any_other_form(weights):
    """The shortcut for plain arrays gives the full preparation's results and refusals."""
    x = np.array([[1.0, 5.0, 2.0], [2.0, 4.0, 9.0], [3.0, 1.0, 4.0]])
    plain = dict(data=x, kinds=np.array([1, 0, -1]), weights=weights)
    general = dict(data=x.tolist(), kinds=[1, 0, -1], weights=weights.tolist())
    try:
        expected = methods.mabac(**general)
    except ValueError as error:
        with pytest.raises(ValueError, match=str(error)[:30]):
            methods.mabac(**plain)
    else:
        assert methods.mabac(**plain).tobytes() == expected.tobytes()


def test_small_problems_never_wake_the_worker_pool():
    """10 x 5 runs on the calling thread: no worker thread is ever started."""
    script = """
import os, numpy as np
from ternavik import methods, normalization
x = np.random.default_rng(1).uniform(1.0, 9.0, (10, 5))
before = len(os.listdir("/proc/self/task"))
for name, m in methods.REGISTRY.items():
    m.function(x, np.full(5, 0.2), "+-++-")
for name in normalization.NORMALIZATIONS:
    normalization.normalize(x, "+-++-", name)
methods.promethee2(x, np.full(5, 0.2), "+-++-", preference="gaussian")
print(len(os.listdir("/proc/self/task")) - before)
"""
    if not os.path.isdir("/proc/self/task"):
        pytest.skip("needs /proc to count threads")
    assert run_python(script).stdout.strip() == "0"


@pytest.mark.skipif(mcdm is None, reason="pymcdm is not installed")
def test_registry_sense_matches_the_peers_ranking_direction():
    """compare() ranks by this flag; pymcdm says the same through _reverse_ranking."""
    peers = {"topsis": mcdm.TOPSIS, "vikor": mcdm.VIKOR, "promethee2": mcdm.PROMETHEE_II,
             "copras": mcdm.COPRAS, "waspas": mcdm.WASPAS, "wsm": mcdm.WSM, "wpm": mcdm.WPM,
             "edas": mcdm.EDAS, "moora": mcdm.MOORA, "aras": mcdm.ARAS, "mabac": mcdm.MABAC,
             "codas": mcdm.CODAS, "cocoso": mcdm.COCOSO, "mairca": mcdm.MAIRCA,
             "marcos": mcdm.MARCOS, "spotis": mcdm.SPOTIS}
    assert set(peers) <= set(methods.REGISTRY)
    for name in peers:
        assert methods.REGISTRY[name].higher_is_better == peers[name]._reverse_ranking, name


_X = np.array([[1.0, 2.0], [3.0, 1.0], [2.0, 4.0]])
_K = np.array([1, 0], dtype=np.int64)
_W = np.array([[0.5, 0.5]])


@pytest.mark.parametrize("call, error, match", [
    (lambda e: e.topsis_scores(_X, _W[0], _K, 0), TypeError, "weights"),
    (lambda e: e.topsis_scores(_X, _W, _K.astype(float), 0), TypeError, "kinds"),
    (lambda e: e.topsis_scores(_X, _W, _K, 9), ValueError, "unknown normalization"),
    (lambda e: e.topsis_scores(_X[:1], _W, _K, 0), ValueError, "more than one row"),
    (lambda e: e.mabac_scores(_X, np.ones((1, 3)), _K), ValueError, "3 entries per row"),
    (lambda e: e.moora_scores(_X, _W, _K[:1]), ValueError, "kinds have 1 entries"),
    (lambda e: e.vikor_scores(_X, _W, _K, "half"), TypeError, "v"),
    (lambda e: e.promethee2_scores(_X, _W, _K, np.array([0, 7]), np.zeros(2), np.ones(2),
                                   np.ones(2)), ValueError, "unknown preference"),
    (lambda e: e.spotis_scores(_X, _W, _K, np.ones((2, 3)), np.ones(2)), ValueError, r"\(m, 2\)"),
    (lambda e: e.normalize(_X, _K, -1), OverflowError, "negative"),
])
def test_engine_refuses_malformed_arguments(call, error, match):
    """The native entry points check what the front ends normally guarantee."""
    from ternavik import _engine
    before = _X.copy()
    with pytest.raises(error, match=match):
        call(_engine)
    np.testing.assert_array_equal(_X, before)


@pytest.mark.parametrize("labelled", [False, True])
def test_a_subjective_result_stands_for_its_weights(labelled):
    pd = pytest.importorskip("pandas")
    judgements = [[1, 3, 2], [1 / 3, 1, 1 / 2], [1 / 2, 2, 1]]
    if labelled:  # weights by criterion label, in another order than the data's
        judgements = pd.DataFrame(judgements, index=list("cab"), columns=list("cab"))
    result = subjective.ahp(judgements)
    frame = pd.DataFrame([[250.0, 16, 12], [200, 16, 8], [300, 32, 16]], columns=list("abc"))
    for method in (methods.topsis, methods.vikor, methods.gra):
        given, plain = method(frame, result, "-++"), method(frame, result.weights, "-++")
        assert np.asarray(getattr(given, "Q", given)).tobytes() == \
            np.asarray(getattr(plain, "Q", plain)).tobytes()
