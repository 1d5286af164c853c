"""Ranking methods analysts compare: TOPSIS on any normalisation, VIKOR,
PROMETHEE II, COPRAS, WASPAS, EDAS, MOORA, ARAS, MABAC, CODAS, CoCoSo,
MAIRCA, MARCOS and SPOTIS.

Every method takes ``(data, kinds, weights)`` in the forms ``ternavik.topsis``
accepts (array-like or DataFrame; kinds as 1/0/-1, words or "+-" signs;
weights as numbers, a mapping by criterion, "entropy" or "equal") and
``nan_policy`` as ``ternavik.topsis`` ("raise" by default; "omit" scores
the other alternatives and gives the left-out ones NaN; "propagate"). ``weights`` may also be a (K, m) array of K
weight vectors: the native kernel scores all of them in one call and returns
(K, n) results. Plain input gives float64 arrays; a DataFrame gives a Series
labelled by alternative (a DataFrame with one row per weight vector for a
batch).

The arithmetic runs natively in a fixed operation order, written in each
docstring, so results are identical to the last bit for every memory layout
of ``data`` and every thread count. Cost criteria are turned around by the
normalisation, so every normalised value is "larger is better".

``REGISTRY`` maps each method's name to a :class:`Method`: a callable with the
uniform signature ``(data, kinds, weights, nan_policy="raise") -> scores``
and whether higher scores are better.
"""

import math
from typing import Any, Callable, Dict, NamedTuple

import numpy as np
import numpy.typing as npt

from . import _engine
from ._criteria import Criteria
from ._matrix import PreparedMatrix, prepare_matrix
from ._optional import import_optional
from ._errors import InputError
from .normalization import NORMALIZATIONS, normalization_code

_PREFERENCES = ("usual", "u-shape", "v-shape", "level", "linear", "gaussian")
_PREFERENCE_ALIASES = {"ushape": "u-shape", "vshape": "v-shape", "vshape_2": "linear",
                       "u_shape": "u-shape", "v_shape": "v-shape"}


class _Prepared(NamedTuple):
    """The package's prepared matrix plus the weights as a (K, m) batch."""
    matrix: PreparedMatrix
    weights: npt.NDArray[np.float64]
    batched: bool  # weights came as a (K, m) batch

    @property
    def values(self) -> npt.NDArray[np.float64]:
        return self.matrix.values

    @property
    def codes(self) -> npt.NDArray[np.int64]:
        return self.matrix.codes


def _plain_codes(kinds: Any, m: int) -> Any:
    """Codes of kinds given as an integer array of 1/0/-1 or a "+-" string, else None."""
    if isinstance(kinds, str):
        if len(kinds) != m or set(kinds) - {"+", "-"}:
            return None
        return np.frombuffer(kinds.encode(), dtype=np.uint8).__eq__(ord("+")).astype(np.int64)
    if type(kinds) is np.ndarray and kinds.shape == (m,) and kinds.dtype.kind in "iu":
        if set(kinds.tolist()) <= {1, 0, -1}:
            return (kinds == 1).astype(np.int64)
    return None


def _plain_prepared(data: Any, kinds: Any, weights: Any) -> Any:
    """What prepare_matrix returns for the commonest call, without its
    per-criterion Python loops (they cost more than a 10 x 5 problem): a float
    ndarray with only finite values, kinds as an integer array or "+-" string,
    and a float or integer weight array that prepare_matrix would accept.
    Anything else returns None and takes the full path, which then explains."""
    if not (type(data) is np.ndarray and data.ndim == 2 and data.dtype.kind == "f"
            and type(weights) is np.ndarray and weights.ndim == 1
            and weights.dtype.kind in "fiu"):
        return None
    n, m = data.shape
    codes = _plain_codes(kinds, m)
    if codes is None or n < 2 or weights.shape[0] != m:
        return None
    values = np.ascontiguousarray(data, dtype=np.float64)
    vector = weights.astype(np.float64)
    # One reduction each: a NaN or infinity makes the sum non-finite, and so
    # may an overflowing sum of finite values, which merely takes the full path.
    total = float(vector.sum())
    if not (math.isfinite(float(values.sum())) and math.isfinite(total) and total > 0.0
            and vector.min() >= 0.0):
        return None
    return PreparedMatrix(values, codes, vector, Criteria(list(range(m)), False), None, None)


def _check_batch(weights: npt.NDArray[Any], m: int) -> npt.NDArray[np.float64]:
    """A (K, m) weight batch under the rules for one weight vector."""
    if weights.shape[1] != m:
        raise InputError(f"weights have {weights.shape[1]} columns but data has {m} criteria")
    batch = np.ascontiguousarray(weights, dtype=np.float64)
    if not np.isfinite(batch).all() or (batch < 0.0).any():
        raise InputError("every weight must be finite and not negative")
    if not (batch > 0.0).any(axis=1).all():
        raise InputError("a weight vector is all zero; each needs a positive weight")
    return batch


def _prepared(data: Any, kinds: Any, weights: Any, nan_policy: str) -> _Prepared:
    """The package's one data preparation, with a (K, m) weight batch passed through."""
    if isinstance(weights, np.ndarray) and weights.ndim == 2:
        matrix = prepare_matrix(data, kinds, None, nan_policy)
        return _Prepared(matrix, _check_batch(weights, matrix.values.shape[1]), True)
    plain = _plain_prepared(data, kinds, weights)
    matrix = plain if plain is not None else prepare_matrix(data, kinds, weights, nan_policy)
    return _Prepared(matrix, matrix.weights.reshape(1, -1), False)


def _shaped(scores: npt.NDArray[np.float64], prepared: _Prepared, name: str) -> Any:
    """(K, n) kernel output in the caller's form: NaN for the alternatives left
    out, a Series (a DataFrame with one row per weight vector) for a DataFrame."""
    matrix = prepared.matrix
    if not prepared.batched:
        return matrix.per_alternative(scores[0], name)
    if matrix.kept is not None:
        full = np.full((scores.shape[0], matrix.kept.size), np.nan)
        full[:, matrix.kept] = scores
        scores = full
    if not matrix.labelled:
        return scores
    pandas = import_optional("pandas", "pandas", "labelled results")
    return pandas.DataFrame(scores, columns=matrix.alternatives)


def _per_criterion_floats(value: Any, m: int, what: str) -> npt.NDArray[np.float64]:
    """A scalar or one value per criterion, as m floats."""
    if isinstance(value, (int, float)):
        return np.array([float(value)] * m, dtype=np.float64)
    out = np.asarray(value, dtype=np.float64)
    if out.ndim == 0:
        out = np.array([float(out)] * m, dtype=np.float64)
    if out.shape != (m,):
        raise InputError(f"{what} needs one value or {m} values (one per criterion)")
    return np.ascontiguousarray(out, dtype=np.float64)


def _fraction(value: float, what: str) -> float:
    """A parameter that must lie in [0, 1]."""
    number = float(value)
    if not 0.0 <= number <= 1.0:
        raise InputError(f"{what} must lie in [0, 1], got {value!r}")
    return number


def topsis(data: Any, kinds: Any, weights: Any, *, normalization: str = "vector",
           nan_policy: str = "raise") -> Any:
    """TOPSIS closeness on any normalisation (higher is better).

    r = normalisation of each criterion (cost criteria turned around), v = r * w;
    the ideal and anti-ideal are max_i v_ij and min_i v_ij; D+ and D- are
    sqrt of the squared gaps summed over the criteria in order; the closeness
    is D- / (D+ + D-), or 0.5 when both distances are 0. ``normalization`` is
    one of :data:`ternavik.normalization.NORMALIZATIONS`.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    code = normalization_code(normalization)
    return _shaped(_engine.topsis_scores(p.values, p.weights, p.codes, code), p, "closeness")


class VikorResult(NamedTuple):
    """VIKOR's three measures; lower is better for each."""
    S: Any
    R: Any
    Q: Any


def vikor(data: Any, kinds: Any, weights: Any, *, v: float = 0.5,
          nan_policy: str = "raise") -> VikorResult:
    """VIKOR's group utility S, individual regret R and compromise Q (lower is better).

    f = x (benefit) or max(x) - x (cost); d_ij = (max f - f_ij) / (max f - min f),
    0 for a constant criterion; S_i = sum_j w_j d_ij in criterion order,
    R_i = max_j w_j d_ij, Q_i = v (S_i - min S) / (max S - min S)
    + (1 - v) (R_i - min R) / (max R - min R), each part 0 when its range is 0.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    s, r, q = _engine.vikor_scores(p.values, p.weights, p.codes, _fraction(v, "v"))
    return VikorResult(_shaped(s, p, "S"), _shaped(r, p, "R"), _shaped(q, p, "Q"))


def _preference_codes(preference: Any, m: int) -> npt.NDArray[np.int64]:
    """One preference-function code per criterion from a name or a sequence of names."""
    names = [preference] if isinstance(preference, str) else list(preference)
    if len(names) not in (1, m):
        raise InputError(f"preference needs one name or {m} names (one per criterion)")
    codes = []
    for name in names:
        key = _PREFERENCE_ALIASES.get(str(name).lower(), str(name).lower())
        if key not in _PREFERENCES:
            raise InputError(f"preference function {name!r} is not one of "
                             f"{', '.join(_PREFERENCES)}")
        codes.append(_PREFERENCES.index(key))
    return np.array(codes * m if len(codes) == 1 else codes, dtype=np.int64)


def _check_thresholds(codes: npt.NDArray[np.int64], q: npt.NDArray[np.float64],
                      p: npt.NDArray[np.float64], s: npt.NDArray[np.float64]) -> None:
    """Refuse thresholds that leave a preference function undefined, naming the criterion."""
    for j, (code, qj, pj, sj) in enumerate(zip(codes.tolist(), q.tolist(), p.tolist(),
                                                s.tolist())):
        need = None
        if code in (2, 3, 4) and not pj > 0:
            need = "p > 0"
        elif code in (3, 4) and not 0 <= qj < pj:
            need = "0 <= q < p"
        elif code == 5 and not sj > 0:
            need = "s > 0"
        if need:
            raise InputError(f"the {_PREFERENCES[code]} preference function needs {need} "
                             f"(criterion #{j})")


def promethee2(data: Any, kinds: Any, weights: Any, *, preference: Any = "usual",
               q: Any = 0.0, p: Any = 0.0, s: Any = 1.0,
               nan_policy: str = "raise") -> Any:
    """PROMETHEE II net outranking flows (higher is better).

    ``preference`` names one function for all criteria or one per criterion:
    "usual" (d > 0), "u-shape" (d > q), "v-shape" (d * (1 / p) up to p, then 1),
    "level" (0.5 for q < d <= p, 1 above p), "linear" ((d - q) * (1 / (p - q)) for
    q < d <= p, 1 above p) or "gaussian" (1 - exp(-d^2 / (2 s^2)) for d > 0).
    ``q``, ``p`` and ``s`` are one value or one per criterion. With
    d_ik = x_i - x_k (x_k - x_i on cost criteria), plus_ij = sum_k P_j(d_ik) and
    minus_ij = sum_k P_j(d_ki); the flow is
    (sum_j w_j plus_ij) / (n - 1) - (sum_j w_j minus_ij) / (n - 1), criteria in order.
    Steps are counted exactly (binary search in the sorted criterion); a ramp's
    sum is the count of full preferences plus the ramps added from 0.0 in
    ascending order of x_k. Only the Gaussian compares every pair (n^2 m work).
    """
    prep = _prepared(data, kinds, weights, nan_policy)
    m = prep.values.shape[1]
    codes = _preference_codes(preference, m)
    qs, ps, ss = (_per_criterion_floats(x, m, name) for x, name in ((q, "q"), (p, "p"), (s, "s")))
    _check_thresholds(codes, qs, ps, ss)
    flows = _engine.promethee2_scores(prep.values, prep.weights, prep.codes, codes, qs, ps, ss)
    return _shaped(flows, prep, "net flow")


def copras(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """COPRAS utility degree Q_i / max Q (higher is better); values must be > 0.

    r_ij = x_ij / sum_i x_ij; S+ and S- are the weighted sums over the benefit
    and the cost criteria; Q_i = S+_i + (min S- * sum S-) / (S-_i * sum(min S- / S-)),
    the COPRAS paper's relative significance; Q_i = S+_i without cost criteria.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.copras_scores(p.values, p.weights, p.codes), p, "utility")


def waspas(data: Any, kinds: Any, weights: Any, *, lam: float = 0.5,
           nan_policy: str = "raise") -> Any:
    """WASPAS joint criterion lam * WSM + (1 - lam) * WPM (higher is better).

    On the linear normalisation r: WSM_i = sum_j r_ij w_j, WPM_i = prod_j r_ij^w_j
    computed as exp(sum_j w_j ln r_ij). lam = 1 is WSM alone, lam = 0 WPM alone.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.waspas_scores(p.values, p.weights, p.codes, _fraction(lam, "lam")),
                   p, "score")


def wsm(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """Weighted sum of the linear normalisation (WASPAS with lam = 1)."""
    return waspas(data, kinds, weights, lam=1.0, nan_policy=nan_policy)


def wpm(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """Weighted product of the linear normalisation (WASPAS with lam = 0)."""
    return waspas(data, kinds, weights, lam=0.0, nan_policy=nan_policy)


def edas(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """EDAS appraisal score (higher is better).

    a_j = mean of criterion j; t = (x - a) / a ((a - x) / a on cost criteria);
    SP, SN = weighted sums of max(t, 0) and max(-t, 0);
    score = (SP / max SP + 1 - SN / max SN) / 2.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.edas_scores(p.values, p.weights, p.codes), p, "score")


def moora(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """MOORA ratio system (higher is better).

    r = x / sqrt(sum x^2) per criterion; score = sum of r w over the benefit
    criteria minus the sum of r w over the cost criteria.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.moora_scores(p.values, p.weights, p.codes), p, "score")


def aras(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """ARAS utility degree S_i / S_0 (higher is better); values must be > 0.

    The optimal alternative (max for benefit, min for cost) joins the matrix;
    the sum normalisation runs over the n + 1 values ((1 / x) / sum(1 / x) on
    cost criteria) and S is the weighted sum.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.aras_scores(p.values, p.weights, p.codes), p, "utility")


def mabac(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """MABAC distance from the border approximation area (higher is better).

    On the min-max normalisation r: G_j = w_j * geometric mean of (r_ij + 1);
    score_i = sum_j ((r_ij + 1) w_j - G_j). Weights are taken as non-negative.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.mabac_scores(p.values, p.weights, p.codes), p, "score")


def codas(data: Any, kinds: Any, weights: Any, *, tau: float = 0.02,
          nan_policy: str = "raise") -> Any:
    """CODAS assessment score (higher is better); the work grows with n^2.

    On the linear normalisation, v = r w and nis_j = min_i v_ij; E and T are the
    Euclidean and taxicab distances from nis; H_i = sum_k ((E_i - E_k)
    + psi(E_i - E_k) (T_i - T_k)) with psi(x) = 1 when |x| >= tau, else 0.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.codas_scores(p.values, p.weights, p.codes, float(tau)), p, "score")


def cocoso(data: Any, kinds: Any, weights: Any, *, lam: float = 0.5,
           nan_policy: str = "raise") -> Any:
    """CoCoSo combined compromise score (higher is better).

    On the min-max normalisation r: S_i = sum_j r_ij w_j, P_i = sum_j r_ij^w_j;
    ka = (P + S) / sum(P + S), kb = S / min S + P / min P,
    kc = (lam S + (1 - lam) P) / (lam max S + (1 - lam) max P);
    score = (ka kb kc)^(1/3) + (ka + kb + kc) / 3.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.cocoso_scores(p.values, p.weights, p.codes, _fraction(lam, "lam")),
                   p, "score")


def mairca(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """MAIRCA total gap (lower is better).

    On the min-max normalisation r with T_j = (1 / n) w_j: gap_i = sum_j (T_j - r_ij T_j).
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.mairca_scores(p.values, p.weights, p.codes), p, "gap")


def marcos(data: Any, kinds: Any, weights: Any, *, nan_policy: str = "raise") -> Any:
    """MARCOS utility function (higher is better).

    r = x / max x (cost: min x / x); the ideal scores 1 and the anti-ideal
    min / max on each criterion; with K- = S / S_AAI, K+ = S / S_AI,
    f(K+) = K- / (K+ + K-), f(K-) = K+ / (K+ + K-), the utility is
    (K+ + K-) / (1 + (1 - f(K+)) / f(K+) + (1 - f(K-)) / f(K-)).
    """
    p = _prepared(data, kinds, weights, nan_policy)
    return _shaped(_engine.marcos_scores(p.values, p.weights, p.codes), p, "utility")


def spotis(data: Any, kinds: Any, weights: Any, *, bounds: Any = None, esp: Any = None,
           nan_policy: str = "raise") -> Any:
    """SPOTIS distance to the ideal point (lower is better).

    ``bounds`` is (m, 2): the low and high bound of each criterion, by default
    the data's own minimum and maximum. ``esp`` is the ideal point, by default
    the high bound of benefit and the low bound of cost criteria. Every value
    and ``esp`` must lie within the bounds. score_i = sum_j |(x_ij - esp_j) /
    (low_j - high_j)| w_j.
    """
    p = _prepared(data, kinds, weights, nan_policy)
    m = p.values.shape[1]
    if bounds is None:
        limits = np.empty((m, 2))
        limits[:, 0], limits[:, 1] = p.values.min(axis=0), p.values.max(axis=0)
        if np.isnan(limits).any():  # NaN propagated into the data: bound the rest
            limits[:, 0], limits[:, 1] = np.nanmin(p.values, axis=0), np.nanmax(p.values, axis=0)
    else:
        limits = np.ascontiguousarray(bounds, dtype=np.float64)
        if limits.shape != (m, 2):
            raise InputError(f"bounds must have shape ({m}, 2), got {limits.shape}")
    if esp is None:
        ideal = np.where(p.codes == 1, limits[:, 1], limits[:, 0])
    else:
        ideal = _per_criterion_floats(esp, m, "esp")
    scores = _engine.spotis_scores(p.values, p.weights, p.codes, limits,
                                   np.ascontiguousarray(ideal, dtype=np.float64))
    return _shaped(scores, p, "distance")


class Method(NamedTuple):
    """A registry entry: ``function(data, kinds, weights, nan_policy=...)`` and its sense."""
    function: Callable[..., Any]
    higher_is_better: bool


def _vikor_q(data: Any, kinds: Any, weights: Any, nan_policy: str = "raise") -> Any:
    """VIKOR's compromise Q alone, for side-by-side comparisons."""
    return vikor(data, kinds, weights, nan_policy=nan_policy).Q


REGISTRY: Dict[str, Method] = {
    "topsis": Method(topsis, True),
    "vikor": Method(_vikor_q, False),
    "promethee2": Method(promethee2, True),
    "copras": Method(copras, True),
    "waspas": Method(waspas, True),
    "wsm": Method(wsm, True),
    "wpm": Method(wpm, True),
    "edas": Method(edas, True),
    "moora": Method(moora, True),
    "aras": Method(aras, True),
    "mabac": Method(mabac, True),
    "codas": Method(codas, True),
    "cocoso": Method(cocoso, True),
    "mairca": Method(mairca, False),
    "marcos": Method(marcos, True),
    "spotis": Method(spotis, False),
}
"""Every method by name, with the uniform signature (data, kinds, weights, nan_policy)."""

__all__ = [
    "Method", "NORMALIZATIONS", "REGISTRY", "VikorResult", "aras", "cocoso", "codas", "copras",
    "edas", "mabac", "mairca", "marcos", "moora", "promethee2", "spotis", "topsis", "vikor",
    "waspas", "wpm", "wsm",
]
