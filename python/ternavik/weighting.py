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

from typing import Any, Callable, Dict, Optional

import numpy as np
import numpy.typing as npt

from . import _engine
from ._errors import InputError

Vector = npt.NDArray[np.float64]
Codes = npt.NDArray[np.int64]
# A weighting by name: (matrix, kind codes, optional criterion namer) -> weights.
Weighting = Callable[..., Vector]

# Names in the order of the native method codes.
WEIGHTINGS = ("equal", "sum_entropy", "minmax_entropy", "standard_deviation", "variance",
              "critic", "merec", "gini", "angle")
# "entropy" has always meant the weights of entropy_weight; it keeps that meaning.
ALIASES = {"entropy": "minmax_entropy"}
_CODE = {name: code for code, name in enumerate(WEIGHTINGS)}
_CODE.update({alias: _CODE[name] for alias, name in ALIASES.items()})


def _check_domain(name: str, values: npt.NDArray[np.float64], label: Callable[[int], str]) -> None:
    """Entropy takes logarithms of shares, MEREC of ratios: refuse what they cannot."""
    if name == "sum_entropy":
        bad = np.nonzero((values < 0).any(axis=0))[0]
        if bad.size:
            raise InputError(f"entropy weights need values of at least 0; criterion "
                             f"{label(int(bad[0]))} has a negative value")
    elif name == "merec":
        bad = np.nonzero((values <= 0).any(axis=0))[0]
        if bad.size:
            raise InputError(f"MEREC weights need positive values; criterion "
                             f"{label(int(bad[0]))} has a value of at most 0")


def weights_of(name: str, values: npt.NDArray[np.float64], codes: Codes,
               label: Optional[Callable[[int], str]] = None) -> Vector:
    """Weights by weighting ``name`` of a prepared C-ordered matrix and its kind codes."""
    key = name.strip().lower()
    if key not in _CODE:
        raise InputError(f"unknown weighting {name!r}; choose one of {', '.join(_CODE)}")
    _check_domain(key, values, label or (lambda j: f"#{j}"))
    result: Vector = _engine.objective_weights(values, codes, _CODE[key])
    return result


def weighting_table() -> Dict[str, Weighting]:
    """Each weighting as a function of (matrix, kind codes, criterion namer), by name."""
    def bind(name: str) -> Weighting:
        def derive(values: npt.NDArray[np.float64], codes: Codes,
                   label: Optional[Callable[[int], str]] = None) -> Vector:
            return weights_of(name, values, codes, label)
        return derive
    return {name: bind(name) for name in _CODE}


def objective_weights(data: Any, method: str = "critic", kinds: Any = None,
                      nan_policy: str = "raise") -> Any:
    """Criterion weights derived from the matrix by ``method``.

    ``method`` is one of ``WEIGHTINGS`` or "entropy" (see the module documentation for each
    definition). ``data`` is any array-like or a pandas DataFrame (criteria =
    columns); ``kinds`` (used by "minmax_entropy", "critic" and "merec"; all
    benefits when omitted) and ``nan_policy`` are as for
    :func:`ternavik.topsis`; "omit" derives the weights from the alternatives
    without missing or infinite values.

    Returns float64 weights that sum to one, or a Series by criterion for a
    DataFrame.
    """
    # Imported here: the preparation's table of weightings is built from this module.
    from ._data import read_table
    from ._matrix import prepare_matrix

    if not isinstance(method, str):
        raise InputError(f"method must name a weighting, one of {', '.join(WEIGHTINGS)}")
    if kinds is None:
        kinds = [1] * read_table(data).values.shape[1]
    prepared = prepare_matrix(data, kinds, method, nan_policy)
    return prepared.per_criterion(prepared.weights, "weight")
