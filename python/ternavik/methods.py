"""Ranking methods analysts compare: TOPSIS on any normalisation, VIKOR,
PROMETHEE II, COPRAS, WASPAS, EDAS, MOORA, ARAS, MABAC, CODAS, CoCoSo,
MAIRCA, MARCOS and SPOTIS.

Every method takes ``(data, weights, kinds)``, in that order as
:func:`ternavik.topsis` does, in the forms it accepts (array-like or
DataFrame; weights as numbers, a mapping by criterion, or a weighting name
such as "entropy" or "equal"; kinds as 1/0/-1, words or "+-" signs) and
``nan_policy`` ("raise" by default; "omit" scores the other alternatives and
gives the left-out ones NaN; "propagate"). ``weights`` may also be a (K, m)
array of K weight vectors: the native kernel scores all of them in one call
and returns (K, n) results.

Results know their direction: plain input gives a float64 array of type
:class:`ternavik.Scores` whose ``higher_is_better`` :func:`ternavik.rank`
reads; a DataFrame gives a Series labelled by alternative (a DataFrame with
one row per weight vector for a batch) with the direction in ``.attrs``.

Each method declares the data it accepts (its domain: any real value,
values of at least 0, values above 0, per kind of criterion) and refuses
data outside it with an InputError naming the method, the criterion and
the rule, rather than ranking in a silently reversed order. Methods with a
positive domain take ``shift=True`` to move offending criteria up first.
Constant criteria contribute nothing and an all-equal matrix ties every
alternative; finite input never gives NaN or infinite scores. A uniform
rescaling of the weights never changes a ranking: methods whose formula
is not invariant to it (PROMETHEE II, WASPAS, WSM, WPM, CODAS, CoCoSo)
divide the weights by their sum first. Criteria beyond 2^400 or below
2^-400 in magnitude are brought into range by an exact power of two.

The arithmetic runs natively in a fixed operation order, written in each
docstring, so results are identical to the last bit for every memory layout
of ``data`` and every thread count. Cost criteria are turned around by the
normalisation, so every normalised value is "larger is better".

``REGISTRY`` maps each method's name to a :class:`Method`: a callable with
the uniform signature ``(data, weights, kinds, nan_policy="raise")``,
whether higher scores are better, and its domain.

Adding a method: write its kernel in ``src/core/mcda`` and its entry point
in ``ternavik._engine``; then a front end here that calls
``_prepared(data, weights, kinds, nan_policy, "NAME", domain, ...)`` (which
checks the domain, tames magnitudes and, with ``unit_weights=True``,
normalises the weights) and returns ``_shaped(scores, prepared, label,
higher_is_better)``; finally one ``REGISTRY`` entry
``Method(function, higher_is_better, domain)``. The property tests pick it
up from the registry.
"""

import math
from typing import Any, Callable, Dict, NamedTuple, Optional, Protocol

import numpy as np
import numpy.typing as npt

from . import _engine
from ._criteria import Criteria, align, is_keyed
from ._domain import (ANY, LOGARITHMIC, POSITIVE_ONLY, ZAVADSKAS_TURSKIS, Domain,
                      NONNEGATIVE_ONLY, check as check_domain)
from ._errors import InputError
from ._magnitude import column_exponents, overflow_safe_weights, scaled, tamed_weights, unit_sum
from ._matrix import PreparedMatrix, prepare_matrix
from ._optional import import_optional
from ._result import Scores
from .normalization import NORMALIZATIONS, normalization_code

_PREFERENCES = ("usual", "u-shape", "v-shape", "level", "linear", "gaussian")
_PREFERENCE_ALIASES = {"ushape": "u-shape", "vshape": "v-shape", "vshape_2": "linear",
                       "u_shape": "u-shape", "v_shape": "v-shape"}

# The domain of TOPSIS under each normalisation, in code order.
NORMALIZATION_DOMAINS: Dict[str, Domain] = dict(zip(NORMALIZATIONS, (
    ANY,                # minmax
    NONNEGATIVE_ONLY,   # max: x / max reverses a column whose maximum is negative
    POSITIVE_ONLY,      # sum
    ANY,                # vector: x / norm keeps the order of any real values
    LOGARITHMIC,        # logarithmic: ln x / sum(ln x) needs that sum above 0
    POSITIVE_ONLY,      # linear: x / max, min / x
    POSITIVE_ONLY,      # nonlinear
    ANY,                # enhanced_accuracy
    ZAVADSKAS_TURSKIS,  # zavadskas_turskis divides by the best value
)))


class _Prepared(NamedTuple):
    """The package's prepared matrix plus what the kernel takes: checked,
    tamed values and the weights as a (K, m) batch."""
    matrix: PreparedMatrix
    values: npt.NDArray[np.float64]
    weights: npt.NDArray[np.float64]
    batched: bool  # weights came as a (K, m) batch
    exponents: Optional[npt.NDArray[np.int64]]  # column i was multiplied by 2^-exponents[i]
    method: str  # how messages name the method

    @property
    def codes(self) -> npt.NDArray[np.int64]:
        return self.matrix.codes

    def tamed(self, per_criterion: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        """Thresholds in data units, scaled like their criteria."""
        return scaled(per_criterion, self.exponents, axis=0)


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


def _plain_prepared(data: Any, weights: Any, kinds: Any) -> Any:
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
    with np.errstate(over="ignore", invalid="ignore"):
        total = float(vector.sum())
        finite = math.isfinite(float(values.sum()))
    if not (finite and math.isfinite(total) and total > 0.0 and vector.min() >= 0.0):
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


def _prepared(data: Any, weights: Any, kinds: Any, nan_policy: str, method: str,
              domain: Domain, *, shift: Optional[bool] = None, unit_weights: bool = False,
              scale_free: bool = True, weight_free: bool = False) -> _Prepared:
    """The package's one data preparation for a method: the matrix checked
    against the method's domain, extreme criteria tamed when the method is
    ``scale_free`` (unchanged by a positive factor on one criterion), and the
    weights as a (K, m) batch, divided by their sum when ``unit_weights``, or
    tamed when the scores are ``weight_free`` (unchanged by a positive factor
    on every weight) and the weights extreme, and otherwise (scores in
    proportion to the weights) divided by a power of two where they would
    overflow."""
    if isinstance(weights, np.ndarray) and weights.ndim == 2:
        matrix = prepare_matrix(data, kinds, None, nan_policy)
        batch, batched = _check_batch(weights, matrix.values.shape[1]), True
    else:
        plain = _plain_prepared(data, weights, kinds)
        matrix = plain if plain is not None else prepare_matrix(data, kinds, weights,
                                                                nan_policy)
        batch, batched = matrix.weights.reshape(1, -1), False
    values = check_domain(method, domain, matrix.values, matrix.codes, matrix.criteria.name,
                          shift)
    exponents = column_exponents(values) if scale_free else None
    batch = (unit_sum(batch) if unit_weights else tamed_weights(batch) if weight_free
             else overflow_safe_weights(batch))
    return _Prepared(matrix, scaled(values, exponents), batch, batched, exponents, method)


def _check_finite(scores: npt.NDArray[np.float64], prepared: _Prepared) -> None:
    """Finite data must give finite scores: where binary64 cannot hold a
    method's intermediate values (a criterion spanning more than its range,
    some 600 orders of magnitude), refuse rather than return NaN or inf."""
    if np.isfinite(scores).all() or not np.isfinite(prepared.values).all():
        return
    with np.errstate(divide="ignore", invalid="ignore"):
        magnitude = np.log2(np.abs(prepared.values))
        finite = np.where(np.isfinite(magnitude), magnitude, np.nan)
        spans = np.nan_to_num(np.nanmax(finite, axis=0) - np.nanmin(finite, axis=0))
    j = int(np.argmax(spans))
    raise InputError(f"{prepared.method} cannot rank these data in double precision: criterion "
                     f"{prepared.matrix.criteria.name(j)} spans about "
                     f"{spans[j] * 0.30103:.0f} orders of magnitude; rescale or clip it")


def _shaped(scores: npt.NDArray[np.float64], prepared: _Prepared, name: str,
            higher_is_better: bool) -> Any:
    """(K, n) kernel output in the caller's form: NaN for the alternatives left
    out, a Series (a DataFrame with one row per weight vector) for a DataFrame;
    either way carrying the method's direction."""
    matrix = prepared.matrix
    _check_finite(scores, prepared)
    holes = np.isnan(prepared.values).any(axis=1)
    if holes.any():  # nan_policy="propagate": NaN in, NaN out, whatever the kernel made
        scores = np.array(scores, copy=True)
        scores[:, holes] = np.nan
    if not prepared.batched:
        out = matrix.per_alternative(scores[0], name)
    else:
        out = scores
        if matrix.kept is not None:
            out = np.full((scores.shape[0], matrix.kept.size), np.nan)
            out[:, matrix.kept] = scores
        if matrix.labelled:
            pandas = import_optional("pandas", "pandas", "labelled results")
            out = pandas.DataFrame(out, columns=matrix.alternatives)
    if hasattr(out, "attrs"):
        out.attrs["higher_is_better"] = higher_is_better
        return out
    return Scores(out, higher_is_better)


def _per_criterion_floats(value: Any, criteria: Criteria, what: str) -> npt.NDArray[np.float64]:
    """A scalar or one value per criterion, as m floats; a mapping or Series
    is matched to the criteria by label, as weights and kinds are."""
    m = len(criteria)
    if isinstance(value, (int, float)):
        return np.array([float(value)] * m, dtype=np.float64)
    if is_keyed(value):
        value = align(value, criteria, what)
    try:
        out = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise InputError(f"{what} must be a number or one number per criterion, "
                         f"got {value!r}") from None
    if out.ndim == 0:
        out = np.array([float(out)] * m, dtype=np.float64)
    if out.shape != (m,):
        raise InputError(f"{what} needs one value or {m} values (one per criterion)")
    return np.ascontiguousarray(out, dtype=np.float64)


def _real(value: Any, what: str) -> float:
    """A numeric parameter as a float, or InputError naming it."""
    try:
        return float(value)
    except (TypeError, ValueError):
        raise InputError(f"{what} must be a number, got {value!r}") from None


def _fraction(value: float, what: str) -> float:
    """A parameter that must lie in [0, 1]."""
    number = _real(value, what)
    if not 0.0 <= number <= 1.0:
        raise InputError(f"{what} must lie in [0, 1], got {value!r}")
    return number


_EXAMPLE = """
    >>> import ternavik
    >>> from ternavik import methods
    >>> phones = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]]
"""


def _example(call: str, ranks: str) -> str:
    """The Examples section every method shares: rank four phones (price, storage, camera)."""
    return (f"\n    Examples\n    --------{_EXAMPLE}    >>> ternavik.rank({call})\n"
            f"    {ranks}\n")


def _documented(call: str, ranks: str) -> Callable[[Callable[..., Any]], Callable[..., Any]]:
    """Fill in the shared parameter texts and append the shared example."""
    def attach(function: Callable[..., Any]) -> Callable[..., Any]:
        # A blank line before "Parameters" ends the paragraph above it.
        text = (function.__doc__ or "").replace("    {common}", _COMMON)
        text = text.replace("{shift}", _SHIFT)
        function.__doc__ = text.rstrip() + "\n" + _example(call, ranks)
        return function
    return attach


_COMMON = """
    Parameters
    ----------
    data : array_like or pandas.DataFrame
        n alternatives (rows) x m criteria (columns).
    weights : array_like, mapping, str or (K, m) ndarray
        One weight per criterion (by position, or by label for a mapping or
        Series), a weighting name such as "equal" or "entropy", the result of
        :func:`ternavik.subjective.ahp` or :func:`~ternavik.subjective.bwm`,
        or K weight vectors scored in one call. Weights beyond 2^400 (about 1e120) are
        first divided by a power of two, as a uniform rescaling leaves every
        ranking unchanged and they would otherwise overflow.
    kinds : str, sequence or mapping
        Each criterion's kind: 1/0/-1, "benefit"/"cost", "max"/"min" or a
        string of "+"/"-" signs.
    nan_policy : {"raise", "propagate", "omit"}
        What missing or infinite values do.
"""


_SHIFT = """    shift : bool
        Move every criterion holding a value outside the method's domain up
        by a constant, so that its smallest value is 1, instead of refusing it.
"""


@_documented('methods.topsis(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def topsis(data: Any, weights: Any, kinds: Any, *, normalization: str = "vector",
           shift: bool = False, nan_policy: str = "raise") -> Any:
    """TOPSIS closeness on any normalisation (higher is better).

    r = normalisation of each criterion (cost criteria turned around), v = r * w;
    the ideal and anti-ideal are max_i v_ij and min_i v_ij; D+ and D- are
    sqrt of the squared gaps summed over the criteria in order; the closeness
    is D- / (D+ + D-), or 0.5 when both distances are 0. ``normalization`` is
    one of :data:`ternavik.normalization.NORMALIZATIONS`; the accepted data
    depends on it (:data:`NORMALIZATION_DOMAINS`: any real value for "vector",
    "minmax" and "enhanced_accuracy"). Closeness does not change when every
    weight is multiplied by one constant; extreme weights are brought into
    range by a power of two so that their squares neither overflow nor vanish.
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One closeness per alternative in [0, 1]; (K, n) for K weight vectors.
    """
    key = NORMALIZATIONS[normalization_code(normalization)]
    p = _prepared(data, weights, kinds, nan_policy, f"TOPSIS ({key} normalisation)",
                  NORMALIZATION_DOMAINS[key], shift=shift, scale_free=key != "logarithmic",
                  weight_free=True)
    scores = _engine.topsis_scores(p.values, p.weights, p.codes, normalization_code(key))
    return _shaped(scores, p, "closeness", True)


class VikorResult(NamedTuple):
    """VIKOR's three measures; lower is better for each.

    :func:`ternavik.rank` ranks a VikorResult by its compromise ``Q``.
    """
    S: Any
    R: Any
    Q: Any

    @property
    def higher_is_better(self) -> bool:
        """VIKOR's measures are all better when lower."""
        return False

    @property
    def compromise(self) -> Any:
        """The compromise solution set (Opricovic and Tzeng 2004): positions,
        or labels for a DataFrame, in order of Q; a list per weight vector
        for a batch. See :func:`vikor_compromise` for the rule."""
        from ._outranking import vikor_compromise
        return vikor_compromise(self.S, self.R, self.Q)


@_documented('methods.vikor(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 1, 3, 2])")
def vikor(data: Any, weights: Any, kinds: Any, *, v: float = 0.5,
          nan_policy: str = "raise") -> VikorResult:
    """VIKOR's group utility S, individual regret R and compromise Q (lower is better).

    f = x (benefit) or max(x) - x (cost); d_ij = (max f - f_ij) / (max f - min f),
    0 for a constant criterion; S_i = sum_j w_j d_ij in criterion order,
    R_i = max_j w_j d_ij, Q_i = v (S_i - min S) / (max S - min S)
    + (1 - v) (R_i - min R) / (max R - min R), each part 0 when its range is 0.
    Any real data. S and R are in the units of the weights; Q is unchanged
    when every weight is multiplied by one constant.
    {common}
    Returns
    -------
    VikorResult
        ``(S, R, Q)``, each one value per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "VIKOR", ANY)
    s, r, q = _engine.vikor_scores(p.values, p.weights, p.codes, _fraction(v, "v"))
    return VikorResult(_shaped(s, p, "S", False), _shaped(r, p, "R", False),
                       _shaped(q, p, "Q", False))


def _preference_codes(preference: Any, m: int) -> npt.NDArray[np.int64]:
    """One preference-function code per criterion from a name or a sequence of names."""
    try:
        names = [preference] if isinstance(preference, str) else list(preference)
    except TypeError:
        raise InputError(f"preference must be a name or one name per criterion, "
                         f"got {preference!r}") from None
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
                      p: npt.NDArray[np.float64], s: npt.NDArray[np.float64],
                      name: Callable[[int], str]) -> None:
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
        elif not (math.isfinite(qj) and math.isfinite(pj) and math.isfinite(sj)):
            need = "finite thresholds"
        if need:
            raise InputError(f"the {_PREFERENCES[code]} preference function needs {need} "
                             f"(criterion {name(j)})")


@_documented('methods.promethee2(phones, [0.4, 0.3, 0.3], "-++")', "array([2, 3, 1, 4])")
def promethee2(data: Any, weights: Any, kinds: Any, *, preference: Any = "usual",
               q: Any = 0.0, p: Any = 0.0, s: Any = 1.0,
               nan_policy: str = "raise") -> Any:
    """PROMETHEE II net outranking flows in [-1, 1] (higher is better).

    ``preference`` names one function for all criteria or one per criterion:
    "usual" (d > 0), "u-shape" (d > q), "v-shape" (d * (1 / p) up to p, then 1),
    "level" (0.5 for q < d <= p, 1 above p), "linear" ((d - q) * (1 / (p - q)) for
    q < d <= p, 1 above p) or "gaussian" (1 - exp(-d^2 / (2 s^2)) for d > 0).
    ``q``, ``p`` and ``s`` are one value or one per criterion (by label for a
    mapping or Series), in the criterion's units. The weights are divided by their sum first. With
    d_ik = x_i - x_k (x_k - x_i on cost criteria), plus_ij = sum_k P_j(d_ik) and
    minus_ij = sum_k P_j(d_ki); the flow is
    (sum_j w_j plus_ij) / (n - 1) - (sum_j w_j minus_ij) / (n - 1), criteria in order.
    Steps are counted exactly (binary search in the sorted criterion); a ramp's
    sum is the count of full preferences plus the ramps added from 0.0 in
    ascending order of x_k. Only the Gaussian compares every pair (n^2 m work).
    Any real data.
    {common}
    Returns
    -------
    Scores or pandas.Series
        One net flow per alternative.
    """
    prep = _prepared(data, weights, kinds, nan_policy, "PROMETHEE II", ANY, unit_weights=True)
    m = prep.values.shape[1]
    codes = _preference_codes(preference, m)
    qs, ps, ss = (_per_criterion_floats(x, prep.matrix.criteria, name)
                  for x, name in ((q, "q"), (p, "p"), (s, "s")))
    _check_thresholds(codes, qs, ps, ss, prep.matrix.criteria.name)
    flows = _engine.promethee2_scores(prep.values, prep.weights, prep.codes, codes,
                                      prep.tamed(qs), prep.tamed(ps), prep.tamed(ss))
    return _shaped(flows, prep, "net flow", True)




@_documented('methods.copras(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def copras(data: Any, weights: Any, kinds: Any, *, shift: bool = False,
           nan_policy: str = "raise") -> Any:
    """COPRAS utility degree Q_i / max Q (higher is better); values must be > 0.

    r_ij = x_ij / sum_i x_ij; S+ and S- are the weighted sums over the benefit
    and the cost criteria; Q_i = S+_i + (min S- * sum S-) / (S-_i * sum(min S- / S-)),
    the COPRAS paper's relative significance; Q_i = S+_i without cost criteria.
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One utility degree per alternative in (0, 1].
    """
    p = _prepared(data, weights, kinds, nan_policy, "COPRAS", POSITIVE_ONLY, shift=shift,
                  weight_free=True)
    return _shaped(_engine.copras_scores(p.values, p.weights, p.codes), p, "utility", True)


@_documented('methods.waspas(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def waspas(data: Any, weights: Any, kinds: Any, *, lam: float = 0.5, shift: bool = False,
           nan_policy: str = "raise") -> Any:
    """WASPAS joint criterion lam * WSM + (1 - lam) * WPM (higher is better).

    On the linear normalisation r (x / max, cost min / x; values must be > 0):
    WSM_i = sum_j r_ij w_j, WPM_i = prod_j r_ij^w_j computed as
    exp(sum_j w_j ln r_ij). lam = 1 is WSM alone, lam = 0 WPM alone. The
    weights are divided by their sum first: WPM raised to scaled weights
    would otherwise weigh differently against WSM.
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One joint criterion per alternative in (0, 1].
    """
    return _waspas(data, weights, kinds, lam, shift, nan_policy, "WASPAS")


def _waspas(data: Any, weights: Any, kinds: Any, lam: float, shift: bool, nan_policy: str,
            name: str) -> Any:
    p = _prepared(data, weights, kinds, nan_policy, name, POSITIVE_ONLY, shift=shift,
                  unit_weights=True)
    return _shaped(_engine.waspas_scores(p.values, p.weights, p.codes, _fraction(lam, "lam")),
                   p, "score", True)


class _WaspasEnd(Protocol):
    def __call__(self, data: Any, weights: Any, kinds: Any, *, shift: bool = False,
                 nan_policy: str = "raise") -> Any: ...


_WASPAS_END_DOC = (
    "Weighted {combination} of the linear normalisation (WASPAS with lam = {lam:g}); values "
    "must be > 0." """
    {{common}}{{shift}}
    Returns
    -------
    Scores or pandas.Series
        One weighted {combination} per alternative (weights divided by their sum).
    """)


def _waspas_end(lam: float, name: str, combination: str, ranks: str) -> _WaspasEnd:
    """WASPAS at one end (lam 1 or 0) as a method of its own: WSM or WPM."""
    def method(data: Any, weights: Any, kinds: Any, *, shift: bool = False,
               nan_policy: str = "raise") -> Any:
        return _waspas(data, weights, kinds, lam, shift, nan_policy, name)

    method.__name__ = method.__qualname__ = name.lower()
    method.__doc__ = _WASPAS_END_DOC.format(combination=combination, lam=lam)
    example = f'methods.{method.__name__}(phones, [0.4, 0.3, 0.3], "-++")'
    return _documented(example, ranks)(method)


wsm = _waspas_end(1.0, "WSM", "sum", "array([4, 3, 1, 2])")
wpm = _waspas_end(0.0, "WPM", "product", "array([3, 4, 1, 2])")


@_documented('methods.edas(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def edas(data: Any, weights: Any, kinds: Any, *, shift: bool = False,
         nan_policy: str = "raise") -> Any:
    """EDAS appraisal score (higher is better); values must be at least 0.

    a_j = mean of criterion j; t = (x - a) / a ((a - x) / a on cost criteria),
    0 on an all-zero criterion; SP, SN = weighted sums of max(t, 0) and
    max(-t, 0); score = (SP / max SP + 1 - SN / max SN) / 2, a part taken as
    0 when its maximum is 0 (an all-equal matrix scores 0.5 throughout).
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One appraisal score per alternative in [0, 1].
    """
    p = _prepared(data, weights, kinds, nan_policy, "EDAS", NONNEGATIVE_ONLY, shift=shift,
                  weight_free=True)
    return _shaped(_engine.edas_scores(p.values, p.weights, p.codes), p, "score", True)


@_documented('methods.moora(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def moora(data: Any, weights: Any, kinds: Any, *, nan_policy: str = "raise") -> Any:
    """MOORA ratio system (higher is better); any real data.

    r = x / sqrt(sum x^2) per criterion (0 on an all-zero criterion); score =
    sum of r w over the benefit criteria minus the sum of r w over the cost
    criteria.
    {common}
    Returns
    -------
    Scores or pandas.Series
        One ratio-system score per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "MOORA", ANY)
    return _shaped(_engine.moora_scores(p.values, p.weights, p.codes), p, "score", True)


@_documented('methods.aras(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def aras(data: Any, weights: Any, kinds: Any, *, shift: bool = False,
         nan_policy: str = "raise") -> Any:
    """ARAS utility degree S_i / S_0 (higher is better); values must be > 0.

    The optimal alternative (max for benefit, min for cost) joins the matrix;
    the sum normalisation runs over the n + 1 values ((1 / x) / sum(1 / x) on
    cost criteria) and S is the weighted sum.
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One utility degree per alternative in (0, 1].
    """
    p = _prepared(data, weights, kinds, nan_policy, "ARAS", POSITIVE_ONLY, shift=shift,
                  weight_free=True)
    return _shaped(_engine.aras_scores(p.values, p.weights, p.codes), p, "utility", True)


@_documented('methods.mabac(phones, [0.4, 0.3, 0.3], "-++")', "array([4, 2, 1, 3])")
def mabac(data: Any, weights: Any, kinds: Any, *, nan_policy: str = "raise") -> Any:
    """MABAC distance from the border approximation area (higher is better); any real data.

    On the min-max normalisation r: G_j = w_j * geometric mean of (r_ij + 1);
    score_i = sum_j ((r_ij + 1) w_j - G_j).
    {common}
    Returns
    -------
    Scores or pandas.Series
        One distance per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "MABAC", ANY)
    return _shaped(_engine.mabac_scores(p.values, p.weights, p.codes), p, "score", True)


@_documented('methods.codas(phones, [0.4, 0.3, 0.3], "-++")', "array([4, 3, 1, 2])")
def codas(data: Any, weights: Any, kinds: Any, *, tau: float = 0.02, shift: bool = False,
          nan_policy: str = "raise") -> Any:
    """CODAS assessment score (higher is better); values must be > 0; the work grows with n^2.

    On the linear normalisation, v = r w (weights divided by their sum, since
    ``tau`` is measured on that scale) and nis_j = min_i v_ij; E and T are the
    Euclidean and taxicab distances from nis; H_i = sum_k ((E_i - E_k)
    + psi(E_i - E_k) (T_i - T_k)) with psi(x) = 1 when |x| >= tau, else 0.
    Its threshold can rank an alternative that dominates another just below
    it, as the method's definition allows.
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One assessment score per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "CODAS", POSITIVE_ONLY, shift=shift,
                  unit_weights=True)
    return _shaped(_engine.codas_scores(p.values, p.weights, p.codes, _real(tau, "tau")), p,
                   "score", True)


@_documented('methods.cocoso(phones, [0.4, 0.3, 0.3], "-++")', "array([3, 4, 1, 2])")
def cocoso(data: Any, weights: Any, kinds: Any, *, lam: float = 0.5,
           nan_policy: str = "raise") -> Any:
    """CoCoSo combined compromise score (higher is better); any real data.

    On the min-max normalisation r, with the weights divided by their sum:
    S_i = sum_j r_ij w_j, P_i = sum_j r_ij^w_j; ka = (P + S) / sum(P + S),
    kb = S / min S + P / min P, kc = (lam S + (1 - lam) P) / (lam max S + (1 - lam) max P);
    score = (ka kb kc)^(1/3) + (ka + kb + kc) / 3. When an alternative is
    worst on every criterion its S and P are 0, and kb would be infinite for
    everyone else: whenever min S (min P) is below max S * 2^-52 (max P *
    2^-52), kb divides by the smallest S (P) not below that, instead.
    {common}
    Returns
    -------
    Scores or pandas.Series
        One combined score per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "CoCoSo", ANY, unit_weights=True)
    return _shaped(_engine.cocoso_scores(p.values, p.weights, p.codes, _fraction(lam, "lam")),
                   p, "score", True)


@_documented('methods.mairca(phones, [0.4, 0.3, 0.3], "-++")', "array([4, 2, 1, 3])")
def mairca(data: Any, weights: Any, kinds: Any, *, nan_policy: str = "raise") -> Any:
    """MAIRCA total gap (lower is better); any real data.

    On the min-max normalisation r with T_j = (1 / n) w_j: gap_i = sum_j (T_j - r_ij T_j).
    {common}
    Returns
    -------
    Scores or pandas.Series
        One total gap per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "MAIRCA", ANY)
    return _shaped(_engine.mairca_scores(p.values, p.weights, p.codes), p, "gap", False)


@_documented('methods.marcos(phones, [0.4, 0.3, 0.3], "-++")', "array([4, 3, 1, 2])")
def marcos(data: Any, weights: Any, kinds: Any, *, shift: bool = False,
           nan_policy: str = "raise") -> Any:
    """MARCOS utility function (higher is better); values must be > 0.

    r = x / max x (cost: min x / x); the ideal scores 1 and the anti-ideal
    min / max on each criterion; with K- = S / S_AAI, K+ = S / S_AI,
    f(K+) = K- / (K+ + K-), f(K-) = K+ / (K+ + K-), the utility is
    (K+ + K-) / (1 + (1 - f(K+)) / f(K+) + (1 - f(K-)) / f(K-)).
    {common}{shift}
    Returns
    -------
    Scores or pandas.Series
        One utility per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "MARCOS", POSITIVE_ONLY, shift=shift,
                  weight_free=True)
    return _shaped(_engine.marcos_scores(p.values, p.weights, p.codes), p, "utility", True)


@_documented('methods.spotis(phones, [0.4, 0.3, 0.3], "-++")', "array([4, 2, 1, 3])")
def spotis(data: Any, weights: Any, kinds: Any, *, bounds: Any = None, esp: Any = None,
           nan_policy: str = "raise") -> Any:
    """SPOTIS distance to the ideal point (lower is better); any real data.

    ``bounds`` is (m, 2): the low and high bound of each criterion, by default
    the data's own minimum and maximum. ``esp`` is the ideal point, by default
    the high bound of benefit and the low bound of cost criteria. Every value
    and ``esp`` must lie within the bounds. score_i = sum_j |(x_ij - esp_j) /
    (low_j - high_j)| w_j. With the default bounds a constant criterion
    contributes nothing (every alternative sits at its ideal).
    {common}    bounds : (m, 2) array_like, optional
        Low and high bound of each criterion.
    esp : array_like, optional
        The ideal point.

    Returns
    -------
    Scores or pandas.Series
        One distance per alternative.
    """
    p = _prepared(data, weights, kinds, nan_policy, "SPOTIS", ANY)
    m = p.values.shape[1]
    values, weights_used, codes = p.values, p.weights, p.codes
    if bounds is None:
        limits = np.empty((m, 2))
        with np.errstate(invalid="ignore"):
            limits[:, 0], limits[:, 1] = np.fmin.reduce(values), np.fmax.reduce(values)
    else:
        limits = np.ascontiguousarray(bounds, dtype=np.float64)
        if limits.shape != (m, 2):
            raise InputError(f"bounds must have shape ({m}, 2), got {limits.shape}")
        limits = p.tamed(limits)
    ideal = (np.where(codes == 1, limits[:, 1], limits[:, 0]) if esp is None
             else p.tamed(_per_criterion_floats(esp, p.matrix.criteria, "esp")))
    if bounds is None and esp is None:
        # A constant criterion has no range to measure in: it separates
        # nobody, so it is left out rather than divided by zero.
        varies = limits[:, 0] != limits[:, 1]
        if not varies.all():
            if not varies.any():
                return _shaped(np.zeros((weights_used.shape[0], values.shape[0])), p,
                               "distance", False)
            values = np.ascontiguousarray(values[:, varies])
            weights_used = np.ascontiguousarray(weights_used[:, varies])
            codes, limits, ideal = codes[varies], limits[varies], ideal[varies]
    scores = _engine.spotis_scores(values, weights_used, np.ascontiguousarray(codes),
                                   np.ascontiguousarray(limits),
                                   np.ascontiguousarray(ideal, dtype=np.float64))
    return _shaped(scores, p, "distance", False)


class Method(NamedTuple):
    """A registry entry: ``function(data, weights, kinds, nan_policy=...)``, its
    direction and the data it accepts (for TOPSIS: with vector normalisation;
    :data:`NORMALIZATION_DOMAINS` gives the others)."""
    function: Callable[..., Any]
    higher_is_better: bool
    domain: Domain = ANY


def _vikor_q(data: Any, weights: Any, kinds: Any, *, v: float = 0.5,
             nan_policy: str = "raise") -> Any:
    """VIKOR's compromise Q alone, for side-by-side comparisons."""
    return vikor(data, weights, kinds, v=v, nan_policy=nan_policy).Q


REGISTRY: Dict[str, Method] = {
    "topsis": Method(topsis, True, ANY),
    "vikor": Method(_vikor_q, False, ANY),
    "promethee2": Method(promethee2, True, ANY),
    "copras": Method(copras, True, POSITIVE_ONLY),
    "waspas": Method(waspas, True, POSITIVE_ONLY),
    "wsm": Method(wsm, True, POSITIVE_ONLY),
    "wpm": Method(wpm, True, POSITIVE_ONLY),
    "edas": Method(edas, True, NONNEGATIVE_ONLY),
    "moora": Method(moora, True, ANY),
    "aras": Method(aras, True, POSITIVE_ONLY),
    "mabac": Method(mabac, True, ANY),
    "codas": Method(codas, True, POSITIVE_ONLY),
    "cocoso": Method(cocoso, True, ANY),
    "mairca": Method(mairca, False, ANY),
    "marcos": Method(marcos, True, POSITIVE_ONLY),
    "spotis": Method(spotis, False, ANY),
}
"""Every method by name, with the uniform signature (data, weights, kinds, nan_policy)."""

# Outranking, grey relations and MULTIMOORA live beside these and are part
# of this module's namespace.
from ._outranking import (Electre1Result, MultimooraResult, Promethee1Result,  # noqa: E402
                          electre1, gra, multimoora, promethee1, vikor_compromise)
from ._outranking import _multimoora_rank  # noqa: E402
from ._outranking import Electre3Result, electre3  # noqa: E402

REGISTRY["gra"] = Method(gra, True, ANY)
REGISTRY["multimoora"] = Method(_multimoora_rank, False, POSITIVE_ONLY)

__all__ = [
    "Domain", "Electre1Result", "MultimooraResult", "Promethee1Result", "electre1", "gra",
    "multimoora", "promethee1", "vikor_compromise", "Method", "NORMALIZATIONS", "NORMALIZATION_DOMAINS", "REGISTRY", "VikorResult",
    "aras", "cocoso", "codas", "copras", "edas", "mabac", "mairca", "marcos", "moora",
    "Electre3Result", "electre3",
    "promethee2", "spotis", "topsis", "vikor", "waspas", "wpm", "wsm",
]
