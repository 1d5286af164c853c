"""Friendly front ends for entropy weights and TOPSIS, plus ranking.

The native functions take only C-compatible float64/int64 arrays and integer
kind codes. These front ends accept what people have at hand (lists, NumPy
arrays, pandas DataFrames, kinds as words or signs, weights by criterion
label), check it with messages that name the offending alternative or
criterion, and then call the native functions unchanged.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Optional, Tuple, overload

import numpy as np
import numpy.typing as npt

from ._backend import native
from ._dask import eager_xarray, front_entropy_weight, front_topsis, is_lazy, is_xarray
from ._errors import InputError
from ._magnitude import column_exponents, scaled, tamed_weights
from ._matrix import prepare_matrix
from ._optional import import_optional, is_series
from ._result import direction_of
from ._typing import KindsLike, MatrixLike, NanPolicy, Vector, WeightsLike

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["entropy_weight", "rank", "topsis"]


@overload
def entropy_weight(data: pd.DataFrame, kinds: KindsLike, *,
                   nan_policy: NanPolicy = ..., criteria_dim: Any = ...) -> Tuple[pd.Series[float], pd.Series[float]]:
    ...


@overload
def entropy_weight(data: MatrixLike, kinds: KindsLike, *,
                   nan_policy: NanPolicy = ..., criteria_dim: Any = ...) -> Tuple[Vector, Vector]:
    ...


def entropy_weight(data: Any, kinds: KindsLike, *, nan_policy: NanPolicy = "raise",
                   criteria_dim: Any = None) -> Any:
    """Entropy weights of the criteria and entropy scores of the alternatives.

    ``data`` has one row per alternative and one column per criterion: any
    array-like, or a pandas DataFrame (criteria = columns, alternatives =
    index). ``kinds`` gives one kind per criterion as 1/0/-1, "benefit"/"cost",
    "max"/"min" or "+"/"-": a sequence (by position), a string of signs such
    as "+-+", or a mapping or Series by criterion label.

    Each criterion is first rescaled by min-max in its direction (the best
    value becomes 1, the worst 0), then weighted by one minus the normalised
    entropy of the rescaled values. This differs from the textbook form that
    takes proportions p = x / sum(x) of the raw values: with two alternatives
    every criterion that is not constant gets weight 1/m.

    ``nan_policy`` says what to do with missing (NaN, None, pd.NA) and
    infinite values: "raise" (default) names the first one; "omit" leaves out
    the alternatives holding any, computes on the rest and gives them a NaN
    score; "propagate" passes them on, so a criterion holding a NaN gets
    weight 0 and the alternative holding it a NaN score.

    Returns ``(weights, scores)``: float64 arrays, or pandas Series labelled by
    criterion and by alternative when a DataFrame went in. Values are exactly
    those of ``_ternavik.entropy_weight`` on the kept alternatives.

    Dask arrays and DataFrames and xarray DataArrays backed by Dask give lazy
    results of the same kind, with the same values; ``criteria_dim`` names a
    DataArray's criteria dimension (default: the last one).

    Examples
    --------
    Four phones on price (a cost), storage and camera (benefits):

    >>> import ternavik
    >>> weights, scores = ternavik.entropy_weight(
    ...     [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]], "-++")
    >>> weights.round(4)
    array([0.2298, 0.37  , 0.4002])
    >>> scores.round(4)
    array([0.315 , 0.2298, 0.7702, 0.4274])
    """
    if is_lazy(data):
        return front_entropy_weight(data, kinds, nan_policy, criteria_dim)
    if is_xarray(data):
        frame, back = eager_xarray(data, criteria_dim)
        weights, scores = entropy_weight(frame, kinds, nan_policy=nan_policy)
        return weights, back(scores, "score")
    prepared = prepare_matrix(data, kinds, None, nan_policy)
    weights, scores = native.entropy_weight(prepared.values, prepared.codes)
    return (prepared.per_criterion(weights, "weight"),
            prepared.per_alternative(scores, "score"))


@overload
def topsis(data: pd.DataFrame, weights: WeightsLike, kinds: KindsLike, *,
           nan_policy: NanPolicy = ..., criteria_dim: Any = ...) -> pd.Series[float]:
    ...


@overload
def topsis(data: MatrixLike, weights: WeightsLike, kinds: KindsLike, *,
           nan_policy: NanPolicy = ..., criteria_dim: Any = ...) -> Vector:
    ...


def topsis(data: Any, weights: WeightsLike, kinds: KindsLike, *,
           nan_policy: NanPolicy = "raise", criteria_dim: Any = None) -> Any:
    """TOPSIS closeness of every alternative to the ideal (1 best, 0 worst).

    The arguments come in the same order as ``_ternavik.topsis``. ``data``,
    ``kinds`` and ``nan_policy`` are as for :func:`entropy_weight`.
    ``weights`` is a sequence of numbers (by position), a mapping or Series by
    criterion label, "entropy" (entropy weights of the same matrix) or
    "equal" (1/m each). Weights are used as given, not normalised; they must
    not be negative nor all zero. Closeness does not depend on the weights'
    scale; criteria or weights of extreme magnitude (beyond 2^400 or below
    2^-400) are first brought into range by an exact power of two, which
    changes no bit of ordinary results.

    With ``nan_policy="propagate"`` a NaN anywhere makes every closeness NaN,
    and an infinite value makes its whole criterion NaN after normalisation,
    which likewise makes every closeness NaN. With "omit" the left-out
    alternatives get NaN, which :func:`rank` puts last.

    Returns a float64 array in row order, or a pandas Series labelled by
    alternative when a DataFrame went in. Values are exactly those of
    ``_ternavik.topsis`` on the kept alternatives. Dask and xarray inputs: as
    for :func:`entropy_weight`.

    Examples
    --------
    >>> import ternavik
    >>> phones = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]]
    >>> closeness = ternavik.topsis(phones, [0.4, 0.3, 0.3], "-++")
    >>> closeness.round(4)
    array([0.361 , 0.3538, 0.6462, 0.4477])
    >>> ternavik.rank(closeness)
    array([3, 4, 1, 2])
    """
    if is_lazy(data):
        return front_topsis(data, weights, kinds, nan_policy, criteria_dim)
    if is_xarray(data):
        frame, back = eager_xarray(data, criteria_dim)
        return back(topsis(frame, weights, kinds, nan_policy=nan_policy), "closeness")
    prepared = prepare_matrix(data, kinds, weights, nan_policy)
    closeness = native_topsis(prepared.values, prepared.weights, prepared.codes)
    return prepared.per_alternative(closeness, "closeness")


def native_topsis(values: Vector, weights: Vector, codes: Any) -> Vector:
    """``_ternavik.topsis`` with extreme criteria and weights first brought into
    range by exact powers of two: closeness does not change when a criterion
    or all weights are multiplied by a positive constant, and these factors
    change no bit, so ordinary input gives exactly the native result while
    squares that would overflow or vanish no longer turn it into NaN or 0.5."""
    tamed = scaled(values, column_exponents(values))
    vector = tamed_weights(weights.reshape(1, -1))[0] if weights.size else weights
    result: Vector = native.topsis(tamed, np.ascontiguousarray(vector), codes)
    return result


RANK_METHODS = ("min", "max", "average", "dense", "ordinal")
"""How :func:`rank` numbers tied scores, named as ``pandas.Series.rank`` names them."""


@overload
def rank(scores: pd.Series[Any], *, higher_is_better: Optional[bool] = ...,
         method: str = ...) -> pd.Series[Any]:
    ...


@overload
def rank(scores: Any, *, higher_is_better: Optional[bool] = ...,
         method: str = ...) -> npt.NDArray[Any]:
    ...


def rank(scores: Any, *, higher_is_better: Optional[bool] = None, method: str = "min") -> Any:
    """Rank scores so that 1 is the best.

    Parameters
    ----------
    scores : array_like, pandas.Series, or a method's result
        One score per alternative. A decision method's own result carries
        its direction (``ternavik.Scores.higher_is_better``, a Series'
        ``attrs``, a ``VikorResult`` ranked by its ``Q``), so the best comes
        first whichever way the method's scores point.
    higher_is_better : bool, optional
        Which scores are best; by default the direction the scores carry,
        else True.
    method : {"min", "max", "average", "dense", "ordinal"}
        How ties are numbered, as pandas names it: "min" (the default,
        competition ranking: 0.9, 0.7, 0.7, 0.5 rank 1, 2, 2, 4), "max"
        (1, 3, 3, 4), "average" (1, 2.5, 2.5, 4), "dense" (1, 2, 2, 3) or
        "ordinal" (1, 2, 3, 4, ties in order of appearance).

    Returns
    -------
    numpy.ndarray or pandas.Series
        int64 ranks (float64 for "average"); NaN scores rank last, all
        sharing the rank after every real score (under "ordinal" in order of
        appearance). A Series keeps its index.

    Examples
    --------
    >>> import ternavik
    >>> ternavik.rank([0.9, 0.7, 0.7, 0.5])
    array([1, 2, 2, 4])
    >>> ternavik.rank([0.9, 0.7, 0.7, 0.5], method="average")
    array([1. , 2.5, 2.5, 4. ])
    >>> ternavik.rank([3.0, 1.0, 2.0], higher_is_better=False)
    array([3, 1, 2])
    """
    if method not in RANK_METHODS:
        raise InputError(f"method must be one of {', '.join(map(repr, RANK_METHODS))}, "
                         f"got {method!r}")
    if type(scores).__name__ == "VikorResult":
        scores = scores.Q
    if higher_is_better is None:
        found = direction_of(scores)
        higher_is_better = True if found is None else found
    values = np.asarray(scores, dtype=np.float64)
    if values.ndim != 1:
        raise InputError(f"scores must be one-dimensional, got {values.ndim} dimension(s)")
    ranks = _ranks(-values if higher_is_better else values, method)
    if is_series(scores):
        pandas = import_optional("pandas", "pandas", "labelled ranks")
        return pandas.Series(ranks, index=scores.index, name="rank")
    return ranks


def _ranks(keys: npt.NDArray[np.float64], method: str) -> npt.NDArray[Any]:
    """Ranks of ``keys`` with the smallest first; NaN after every real key."""
    real = ~np.isnan(keys)
    count = int(real.sum())
    order = np.argsort(np.where(real, keys, np.inf), kind="stable")
    order = np.concatenate([order[real[order]], order[~real[order]]])
    ordered = keys[order[:count]]
    starts = np.r_[True, ordered[1:] != ordered[:-1]] if count else np.zeros(0, bool)
    group = np.cumsum(starts) - 1
    first = np.flatnonzero(starts)
    last = np.r_[first[1:], count] - 1
    by_position = {
        "min": first[group] + 1,
        "max": last[group] + 1,
        "average": (first[group] + last[group]) / 2.0 + 1.0,
        "dense": group + 1,
        "ordinal": np.arange(1, count + 1),
    }[method]
    out = np.empty(keys.size, dtype=np.float64 if method == "average" else np.int64)
    out[order[:count]] = by_position
    missing = order[count:]
    if method == "ordinal":
        out[missing] = np.arange(count + 1, keys.size + 1)
    else:
        out[missing] = (int(group[-1]) + 2 if count else 1) if method == "dense" else count + 1
    return out
