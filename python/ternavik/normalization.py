"""The nine normalisations, each turning cost criteria around so that larger
normalised values are better on every criterion.

==================  ======================================  ===============================
name                benefit criterion                       cost criterion
==================  ======================================  ===============================
minmax              (x - min) / (max - min)                 (max - x) / (max - min)
max                 x / max                                 1 - x / max
sum                 x / sum(x)                              (1 / x) / sum(1 / x)
vector              x / sqrt(sum(x * x))                    1 - x / sqrt(sum(x * x))
logarithmic         ln x / L                                (1 - ln x / L) / (n - 1)
linear              x / max                                 min / x
nonlinear           (x / max) ** 2 as t * t                 (min / x) ** 3 as t * t * t
enhanced_accuracy   1 - (max - x) / sum(max - x)            1 - (x - min) / sum(x - min)
zavadskas_turskis   1 - |(max - x) / max|                   1 - |(min - x) / min|
==================  ======================================  ===============================

Sums run over the alternatives in row order from 0.0; min and max skip NaN.
A constant criterion normalises to 1 under min-max and enhanced accuracy,
to 1 / n under the logarithmic normalisation (also for a criterion of ones),
and an all-zero criterion takes x / max as 1 and x / sqrt(sum(x * x)) as 0:
finite data never normalises to NaN. L = sum(ln x) is the logarithm of the
product of the values, summed so that it never overflows; ln x / L keeps
the order of the values only when L > 0, which the decision methods check
(``ternavik.methods.NORMALIZATION_DOMAINS``) but this function does not.
sum and logarithmic need every value > 0 and linear needs no zero value;
anything else raises ValueError naming the criterion.
"""

from typing import Any

import numpy as np

from . import _engine
from ._errors import InputError
from ._matrix import prepare_matrix
from ._optional import import_optional

NORMALIZATIONS = ("minmax", "max", "sum", "vector", "logarithmic", "linear", "nonlinear",
                  "enhanced_accuracy", "zavadskas_turskis")
"""The names :func:`normalize` and ``topsis(normalization=...)`` accept, in code order."""


def normalization_code(name: str) -> int:
    """The native code of a normalisation name ("min-max" and "minmax" both work).

    Examples
    --------
    >>> from ternavik.normalization import NORMALIZATIONS, normalization_code
    >>> normalization_code("min-max"), normalization_code("Vector")
    (0, 3)
    >>> NORMALIZATIONS[normalization_code("zavadskas_turskis")]
    'zavadskas_turskis'
    """
    key = str(name).lower().replace("-", "").replace(" ", "_")
    key = key[:-len("_normalization")] if key.endswith("_normalization") else key
    if key not in NORMALIZATIONS:
        raise InputError(f"normalization {name!r} is not one of {', '.join(NORMALIZATIONS)}")
    return NORMALIZATIONS.index(key)


def normalize(data: Any, kinds: Any, method: str = "minmax", *,
              nan_policy: str = "raise") -> Any:
    """The decision matrix normalised criterion by criterion.

    ``data``, ``kinds`` and ``nan_policy`` take the forms of ``ternavik.topsis``
    ("omit" normalises the other alternatives and gives the left-out rows NaN).
    Returns a float64 (n, m) array, or a DataFrame with the same labels for a
    DataFrame. Identical to the last bit for every memory layout and thread count.

    Examples
    --------
    A benefit and a cost criterion under min-max: the best value of each
    becomes 1 and the worst 0.

    >>> from ternavik.normalization import normalize
    >>> normalize([[1.0, 20.0], [3.0, 10.0], [2.0, 30.0]], "+-", "minmax")
    array([[0. , 0.5],
           [1. , 1. ],
           [0.5, 0. ]])
    """
    prepared = prepare_matrix(data, kinds, None, nan_policy)
    values = _engine.normalize(prepared.values, prepared.codes, normalization_code(method))
    if prepared.kept is not None:
        full = np.full((prepared.kept.size, values.shape[1]), np.nan)
        full[prepared.kept] = values
        values = full
    if not prepared.labelled:
        return values
    pandas = import_optional("pandas", "pandas", "labelled results")
    return pandas.DataFrame(values, index=prepared.alternatives,
                            columns=prepared.criteria.labels)


__all__ = ["NORMALIZATIONS", "normalization_code", "normalize"]
