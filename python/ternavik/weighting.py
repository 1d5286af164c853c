"""Objective criterion weights: derived from the decision matrix alone.

Every weighting runs natively in ``ternavik._engine`` straight from the
caller's matrix, so the weights are identical to the last bit for every
memory layout and thread count. Sums over alternatives take the rows in
blocks of 2048 (more for CRITIC on very wide matrices, so its m x m partial
sums stay within 64 MiB): each block sums its rows in row order from 0, and
the block totals are added in block order from 0 (the blocks run on the
worker pool).
The final c_j / sum(c) sums the m criterion values in order. A criterion
with a NaN value gives NaN weights throughout.

Definitions (n alternatives, m criteria, x a criterion's values):

- ``equal``: 1/m.
- ``sum_entropy``: the textbook entropy weights, as pymcdm and
  scikit-criteria compute them: p = x / sum(x), e = -sum(p ln p) / ln n with
  0 ln 0 = 0, c = 1 - e. Values must not be negative. An all-zero criterion
  gets c = 0.
- ``minmax_entropy``, also ``entropy``: the weights of
  :func:`ternavik.entropy_weight` (p from min-max normalisation by
  direction); ``entropy`` keeps the meaning it has always had here.
- ``standard_deviation``: c = sample standard deviation (n - 1) of x.
- ``variance``: c = sample variance of (x - min) / (max - min).
- ``critic``: y normalised towards the ideal by direction (1 best, 0 worst),
  c_j = s_j * sum_k (1 - r_jk), s the sample standard deviation of y and r
  Pearson's correlation of y. A criterion without spread has c = 0 and
  correlation 0 with every other.
- ``merec``: n_ij = min_j / x_ij (benefit) or x_ij / max_j (cost),
  S_i = ln(1 + (1/m) sum_k |ln n_ik|), S'_ij the same without criterion j,
  c_j = sum_i |S'_ij - S_i|. Values must be positive.
- ``gini``: c = sum_ik |x_i - x_k| / (2 n^2 mean(x)), summed over the sorted
  values as sum over i < n/2 of (n - 1 - 2i)(x_(n-1-i) - x_(i)) (this sum
  and the mean's in eight interleaved lanes, as the coefficients do).
- ``angle``: c = arccos(sum(p) / (sqrt(n) sqrt(sum(p^2)))), p = x / sum(x);
  a constant criterion has angle 0.

Then w = c / sum(c); when every c is 0, no criterion is told apart and the
weights are 1/m.

Agreement with pymcdm 1.4 is to 1e-12 relative. Where the definitions differ:
pymcdm's CRITIC normalises every criterion as a benefit (ignoring
directions), ours follows the method's paper and scikit-criteria; they agree
when every criterion is a benefit. pymcdm refuses zeros in the entropy and
gives NaN weights for a criterion without spread in CRITIC, or for a
constant criterion's angle; ours gives the numbers above.
"""

from typing import Any

from ._errors import InputError
from ._matrix import prepare_matrix
from ._weightings import ALIASES, WEIGHTINGS, Weighting, weighting_table, weights_of

__all__ = ["WEIGHTINGS", "objective_weights"]


def objective_weights(data: Any, weights: str = "critic", kinds: Any = None, *,
                      nan_policy: str = "raise") -> Any:
    """Criterion weights derived from the decision matrix alone.

    Parameters
    ----------
    data : array_like or pandas.DataFrame
        n alternatives (rows) x m criteria (columns).
    weights : str
        The weighting: one of ``WEIGHTINGS`` or "entropy" (the module
        documentation defines each). It stands where the other functions
        take their weights, so the argument order is the same everywhere.
    kinds : str, sequence or mapping, optional
        Each criterion's kind as for :func:`ternavik.topsis`; used by
        "minmax_entropy", "critic" and "merec". All benefits when omitted.
    nan_policy : {"raise", "propagate", "omit"}
        "omit" derives the weights from the alternatives without missing or
        infinite values.

    Returns
    -------
    numpy.ndarray or pandas.Series
        float64 weights that sum to one, or a Series by criterion for a
        DataFrame.

    Examples
    --------
    >>> from ternavik.weighting import objective_weights
    >>> x = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]]
    >>> objective_weights(x, "equal", "-++").tolist()
    [0.3333333333333333, 0.3333333333333333, 0.3333333333333333]
    """
    from ._data import read_table

    if not isinstance(weights, str):
        raise InputError(f"weights must name a weighting, one of {', '.join(WEIGHTINGS)}")
    lazy = _lazy_weights(data, weights, kinds, nan_policy)
    if lazy is not None:
        return lazy
    if kinds is None:
        kinds = [1] * read_table(data).values.shape[1]
    prepared = prepare_matrix(data, kinds, weights, nan_policy)
    return prepared.per_criterion(prepared.weights, "weight")


def _lazy_weights(data: Any, weights: str, kinds: Any, nan_policy: str) -> Any:
    """Weights of a Dask or Dask-backed input: computed, labelled by criterion."""
    from ._dask import is_lazy, lazy_weights

    if not is_lazy(data):
        return None
    return lazy_weights(data, weights, kinds, nan_policy)
