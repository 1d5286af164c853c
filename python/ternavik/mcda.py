"""Friendly front ends for entropy weights and TOPSIS, plus ranking.

The native functions take only C-compatible float64/int64 arrays and integer
kind codes. These front ends accept what people have at hand (lists, NumPy
arrays, pandas DataFrames, kinds as words or signs, weights by criterion
label), check it with messages that name the offending alternative or
criterion, and then call the native functions unchanged.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from ._backend import native
from ._dask import front_entropy_weight, front_topsis, is_lazy
from ._errors import InputError
from ._matrix import prepare_matrix
from ._optional import import_optional, is_series
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
    """
    if is_lazy(data):
        return front_entropy_weight(data, kinds, nan_policy, criteria_dim)
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
    not be negative nor all zero.

    With ``nan_policy="propagate"`` a NaN anywhere makes every closeness NaN,
    and an infinite value makes its whole criterion NaN after normalisation,
    which likewise makes every closeness NaN. With "omit" the left-out
    alternatives get NaN, which :func:`rank` puts last.

    Returns a float64 array in row order, or a pandas Series labelled by
    alternative when a DataFrame went in. Values are exactly those of
    ``_ternavik.topsis`` on the kept alternatives. Dask and xarray inputs: as
    for :func:`entropy_weight`.
    """
    if is_lazy(data):
        return front_topsis(data, weights, kinds, nan_policy, criteria_dim)
    prepared = prepare_matrix(data, kinds, weights, nan_policy)
    closeness = native.topsis(prepared.values, prepared.weights, prepared.codes)
    return prepared.per_alternative(closeness, "closeness")


@overload
def rank(scores: pd.Series[Any]) -> pd.Series[int]:
    ...


@overload
def rank(scores: Union[npt.NDArray[Any], Sequence[float]]) -> npt.NDArray[np.int64]:
    ...


def rank(scores: Any) -> Any:
    """Rank scores so that 1 is the best (highest) score.

    Ties share the best rank of their group and leave a gap after it
    ("competition ranking": scores 0.9, 0.7, 0.7, 0.5 rank 1, 2, 2, 4).
    NaN scores rank last, all sharing the rank after every real score.
    Returns an int64 array, or a Series with the same index for a Series.
    """
    values = np.asarray(scores, dtype=np.float64)
    if values.ndim != 1:
        raise InputError(f"scores must be one-dimensional, got {values.ndim} dimension(s)")
    real = np.sort(values[~np.isnan(values)])
    # Rank = 1 + how many real scores are strictly greater.
    greater = real.size - np.searchsorted(real, values, side="right")
    ranks = np.where(np.isnan(values), real.size + 1, greater + 1).astype(np.int64)
    if is_series(scores):
        pandas = import_optional("pandas", "pandas", "labelled ranks")
        return pandas.Series(ranks, index=scores.index, name="rank")
    return ranks
