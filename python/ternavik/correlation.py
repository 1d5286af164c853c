"""How far two rankings agree: rank-correlation and similarity coefficients.

Computed natively in ``ternavik._engine``. For rankings x and y of the same
n alternatives (1 = best; ties may share a rank). The rankings are first
re-ranked with ties at the average of their ranks (1, 2, 2, 4 becomes
1, 2.5, 2.5, 4), as SciPy's ``rankdata`` does, so "spearman" and "kendall_tau"
equal ``scipy.stats.spearmanr`` and ``scipy.stats.kendalltau`` with ties, and
a ranking that only differs in how it writes its ties gives the same value.
Rankings without ties (a permutation of 1..n) are used as they are.

- ``spearman``: Pearson's correlation of the ranks.
- ``weighted_spearman`` (r_w): 1 - 6 sum (x - y)^2 ((n - x + 1) + (n - y + 1))
  / (n^4 + n^3 - n^2 - n); disagreement near the top counts more.
- ``ws``: the WS similarity 1 - sum 2^-x |x - y| / max(|1 - x|, |n - x|).
  Not symmetric: x is the reference ranking.
- ``kendall_tau``: tau-b, (concordant - discordant) / sqrt((n0 - t_x) (n0 - t_y))
  with n0 = n (n - 1) / 2 and t_x, t_y the pairs tied in x and in y;
  without ties it is tau-a, (concordant - discordant) / n0.
- ``goodman_kruskal_gamma``: (concordant - discordant) / (concordant +
  discordant), pairs tied in either ranking left out.

Pair counts are exact integers (O(n log n)). Sums over alternatives use
eight partial sums (index modulo 8) folded as ((p0 + p4) + (p1 + p5)) +
((p2 + p6) + (p3 + p7)), then the remaining terms in order. A NaN rank or an
undefined quotient (a ranking without spread, no untied pair) gives NaN.
Agreement with pymcdm 1.4 is to 1e-12 relative.
"""

from typing import Any

import numpy as np

from . import _engine
from ._errors import InputError
from ._optional import is_dataframe

# Names in the order of the native coefficient codes.
COEFFICIENTS = ("spearman", "weighted_spearman", "ws", "kendall_tau", "goodman_kruskal_gamma")
_ALIASES = {"rs": "spearman", "rw": "weighted_spearman", "tau": "kendall_tau",
            "gamma": "goodman_kruskal_gamma"}


def coefficient_code(coefficient: str) -> int:
    """The native code of a coefficient name (or alias), else InputError."""
    key = str(coefficient).strip().lower()
    key = _ALIASES.get(key, key)
    if key not in COEFFICIENTS:
        raise InputError(f"unknown coefficient {coefficient!r}; choose one of "
                         f"{', '.join(COEFFICIENTS)}")
    return COEFFICIENTS.index(key)


def average_ranks(rows: Any) -> Any:
    """Each row re-ranked from 1 (smallest) with ties at the average of their
    ranks; NaN stays NaN. A row that is already a permutation of 1..n comes
    back with the same values."""
    out = np.array(rows, dtype=np.float64, copy=True)
    for row in out:
        real = ~np.isnan(row)
        values = row[real]
        order = np.argsort(values, kind="stable")
        ordered = values[order]
        starts = np.flatnonzero(np.r_[True, ordered[1:] != ordered[:-1]])
        ends = np.r_[starts[1:], ordered.size]
        ranked = np.empty(ordered.size)
        for a, b in zip(starts.tolist(), ends.tolist()):
            ranked[a:b] = (a + 1 + b) / 2.0
        placed = np.empty(ordered.size)
        placed[order] = ranked
        row[real] = placed
    return np.ascontiguousarray(out)


def _as_rankings(rankings: Any) -> Any:
    values = np.ascontiguousarray(rankings, dtype=np.float64)
    if values.ndim != 2:
        raise InputError(f"rankings must be two-dimensional (one ranking per row), "
                         f"got {values.ndim} dimension(s)")
    # The K x K result is refused before the rows are re-ranked one by one:
    # otherwise billions of empty rankings keep the loop busy for hours before
    # the allocation fails.
    count = values.shape[0]
    if count * count > np.iinfo(np.intp).max // 8:
        raise MemoryError(f"a {count} x {count} matrix of coefficients does not fit in memory")
    return average_ranks(values)


def correlation_matrix(rankings: Any, coefficient: str = "spearman") -> Any:
    """The coefficient between every pair of rankings.

    ``rankings`` holds one ranking per row (K x n); a pandas DataFrame holds
    one ranking per column (alternatives x methods, as
    :func:`ternavik.compare` returns them) and gives a labelled K x K
    DataFrame. Entry (a, b) is coefficient(ranking a, ranking b).

    Examples
    --------
    >>> import ternavik
    >>> ternavik.correlation_matrix([[1, 2, 3, 4], [2, 1, 3, 4], [4, 3, 2, 1]])
    array([[ 1. ,  0.8, -1. ],
           [ 0.8,  1. , -0.8],
           [-1. , -0.8,  1. ]])
    """
    code = coefficient_code(coefficient)
    if is_dataframe(rankings):
        values = _as_rankings(rankings.to_numpy(dtype=np.float64).T)
        matrix = _engine.rank_coefficients(values, code)
        return type(rankings)(matrix, index=rankings.columns, columns=rankings.columns)
    return _engine.rank_coefficients(_as_rankings(rankings), code)


def rank_correlation(x: Any, y: Any, coefficient: str = "spearman") -> float:
    """The coefficient of ranking ``y`` against ranking ``x``.

    Examples
    --------
    Two rankings that swap the first two alternatives:

    >>> import ternavik
    >>> round(ternavik.rank_correlation([1, 2, 3, 4], [2, 1, 3, 4]), 12)
    0.8
    >>> round(ternavik.rank_correlation([1, 2, 3, 4], [2, 1, 3, 4], "kendall_tau"), 12)
    0.666666666667
    """
    a = np.asarray(x, dtype=np.float64)
    b = np.asarray(y, dtype=np.float64)
    if a.ndim != 1 or a.shape != b.shape:
        raise InputError(f"rankings must be one-dimensional and of equal length, got "
                         f"shapes {a.shape} and {b.shape}")
    return float(correlation_matrix(np.stack([a, b]), coefficient)[0, 1])
