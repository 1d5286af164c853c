"""Extreme magnitudes made safe by exact powers of two.

Multiplying a binary64 number by 2^k only changes its exponent, so it is
exact (short of overflow or subnormal results). Every decision method but
the logarithmic normalisation is unchanged when one criterion is multiplied
by a positive constant, and TOPSIS is unchanged when every weight is. A
column whose largest magnitude is beyond 2^400 (or below 2^-400), where
sums of squares overflow (or underflow), is therefore brought into range
by a power of two first, and the kernel then gives the bits it would give
in range. Ordinary data is left alone, so its results keep their bits.
"""

from typing import Optional

import numpy as np
import numpy.typing as npt

LARGE = 2.0 ** 400
SMALL = 2.0 ** -400

Matrix = npt.NDArray[np.float64]
Exponents = npt.NDArray[np.int64]


# Where a large magnitude is brought: far from overflow even when squared and
# summed, and as little below the original as that allows, so that the
# column's small values do not underflow needlessly.
_LARGE_TARGET = 301


def top_exponents(top: Matrix) -> Optional[Exponents]:
    """Powers of two taking each extreme magnitude into range (a large one to
    [2^300, 2^301), a small one to [0.5, 1)); None when none is extreme."""
    with np.errstate(invalid="ignore"):
        extreme = np.isfinite(top) & (top > 0.0) & ((top >= LARGE) | (top < SMALL))
    if not extreme.any():
        return None
    _, exponent = np.frexp(np.where(extreme, top, 1.0))
    exponent = np.where(top >= LARGE, exponent - _LARGE_TARGET, exponent)
    return np.where(extreme, exponent, 0).astype(np.int64)


def column_exponents(values: Matrix) -> Optional[Exponents]:
    """Per column, the power of two that tames it (0 for ordinary ones); None if all are."""
    if values.size == 0:
        return None
    return top_exponents(np.fmax.reduce(np.abs(values), axis=0))


def scaled(values: Matrix, exponents: Optional[Exponents], axis: int = -1) -> Matrix:
    """values * 2^-exponent along ``axis`` (the criteria), exactly."""
    if exponents is None:
        return values
    shape = [1] * values.ndim
    shape[axis] = exponents.size
    with np.errstate(over="ignore"):  # a threshold far beyond its column's range
        out = np.ldexp(values, -exponents.reshape(shape))
    # A value some 2^1074 below its column's largest can only vanish against
    # it; it keeps its sign as the smallest subnormal, so a positive value
    # stays positive for the methods that need it so.
    lost = (out == 0.0) & (values != 0.0)
    if lost.any():
        out[lost] = np.copysign(np.nextafter(0.0, 1.0), values[lost])
    return np.ascontiguousarray(out)


def tamed_weights(weights: Matrix) -> Matrix:
    """Each weight row (K, m) with an extreme largest weight brought to [0.5, 1)."""
    rows = top_exponents(np.fmax.reduce(np.abs(weights), axis=1))
    if rows is None:
        return weights
    return np.ascontiguousarray(np.ldexp(weights, -rows[:, np.newaxis]))


def overflow_safe_weights(weights: Matrix) -> Matrix:
    """Each weight row whose largest weight is beyond 2^400 brought to [0.5, 1).

    For the methods whose scores are proportional to the weights: such
    weights would overflow the kernel's sums, whereas a power of two
    scales every score alike and leaves the ranking as it is. Smaller
    weights, however tiny, are kept, so their scores keep the formula's
    values.
    """
    top = np.fmax.reduce(np.abs(weights), axis=1)
    big = np.isfinite(top) & (top >= LARGE)
    if not big.any():
        return weights
    _, exponent = np.frexp(np.where(big, top, 1.0))
    return np.ascontiguousarray(np.ldexp(weights, -np.where(big, exponent, 0)[:, np.newaxis]))


def unit_sum(weights: Matrix) -> Matrix:
    """Each weight row divided by its sum, so a uniform rescaling changes nothing.

    Rows that already sum to exactly 1 are kept as they are (same bits);
    extreme rows are first tamed by a power of two so the sum cannot
    overflow and tiny weights keep their precision.
    """
    with np.errstate(over="ignore"):  # an overflowing sum is tamed below
        totals = weights.sum(axis=1)
    if np.all(totals == 1.0):
        return weights
    tamed = tamed_weights(weights)
    out = tamed / tamed.sum(axis=1, keepdims=True)
    keep = totals == 1.0
    out[keep] = weights[keep]
    return np.ascontiguousarray(out)
