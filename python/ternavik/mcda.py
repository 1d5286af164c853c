"""Friendly front ends for entropy weights and TOPSIS, plus ranking.

The native functions take only C-compatible float64/int64 arrays and integer
kind codes. These wrappers accept what people actually have at hand (lists,
NumPy arrays, pandas DataFrames, kinds written as words or signs, weights by
criterion name), convert it once, check it with messages that name the
offending criterion, and then call the native functions unchanged.
"""

import importlib
import collections.abc
from typing import Any, Hashable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

import _ternavik

from ._errors import InputError

Kind = Union[int, str]
KindsLike = Union[Sequence[Kind], Mapping[Hashable, Kind], str, npt.NDArray[Any]]
WeightsLike = Union[Sequence[float], Mapping[Hashable, float], str, npt.NDArray[Any]]

BENEFIT = 1
COST = 0

_KIND_WORDS = {
    "benefit": BENEFIT, "max": BENEFIT, "+": BENEFIT,
    "cost": COST, "min": COST, "-": COST,
}
_KIND_CODES = {1: BENEFIT, 0: COST, -1: COST}


class _Matrix:
    """A decision matrix converted once, with its criterion and alternative labels."""

    def __init__(self, values: npt.NDArray[np.float64], criteria: Optional[List[Hashable]],
                 alternatives: Optional[Any]) -> None:
        self.values = values
        self.named = criteria is not None  # unnamed criteria are known by column number
        self.criteria = criteria if criteria is not None else list(range(values.shape[1]))
        self.alternatives = alternatives  # a pandas Index, or None for plain input

    def label(self, j: int) -> str:
        """How criterion j is named in messages."""
        return repr(self.criteria[j]) if self.named else f"#{j}"


def _is_dataframe(data: Any) -> bool:
    """True for a pandas DataFrame, without importing pandas."""
    return any(c.__name__ == "DataFrame" and c.__module__.startswith("pandas")
               for c in type(data).__mro__)


def _is_series(data: Any) -> bool:
    """True for a pandas Series, without importing pandas."""
    return any(c.__name__ == "Series" and c.__module__.startswith("pandas")
               for c in type(data).__mro__)


def _matrix_from_frame(frame: Any) -> _Matrix:
    """Convert a DataFrame, naming the first column that is not numeric."""
    columns = []
    for name in frame.columns:
        try:
            columns.append(np.asarray(frame[name], dtype=np.float64))
        except (TypeError, ValueError):
            bad = next((v for v in frame[name] if not _is_number(v)), None)
            what = f"a non-numeric value {bad!r}" if bad is not None else "non-numeric values"
            raise InputError(f"criterion {name!r} has {what}") from None
    values = (np.column_stack(columns) if columns
              else np.empty((len(frame.index), 0), dtype=np.float64))
    return _Matrix(np.ascontiguousarray(values, dtype=np.float64),
                   list(frame.columns), frame.index)


def _is_number(value: Any) -> bool:
    """Whether float() accepts the value (strings of digits count as numbers)."""
    try:
        float(value)
    except (TypeError, ValueError):
        return False
    return True


def _matrix_from_array(data: Any) -> _Matrix:
    """Convert any array-like to a C-ordered float64 matrix with a clear error."""
    try:
        values = np.asarray(data, dtype=np.float64)
    except (TypeError, ValueError):
        raw = np.asarray(data, dtype=object)
        if raw.ndim != 2:
            raise InputError("data must be a rectangular table: every row needs "
                             "the same number of values") from None
        for (i, j), v in np.ndenumerate(raw):
            if not _is_number(v):
                raise InputError(f"criterion #{j} has a non-numeric value {v!r} "
                                 f"(alternative #{i})") from None
        raise
    if values.ndim != 2:
        raise InputError(f"data must be two-dimensional (alternatives x criteria), "
                         f"got {values.ndim} dimension(s)")
    return _Matrix(np.ascontiguousarray(values), None, None)


def _as_matrix(data: Any, criteria: Optional[Sequence[Hashable]] = None) -> _Matrix:
    """Turn the caller's data into a checked decision matrix."""
    matrix = _matrix_from_frame(data) if _is_dataframe(data) else _matrix_from_array(data)
    if criteria is not None:
        matrix.criteria, matrix.named = list(criteria), True
    if matrix.values.shape[0] < 2:
        raise InputError(f"data needs at least two alternatives (rows), "
                         f"got {matrix.values.shape[0]}")
    return matrix


def _per_criterion(matrix: _Matrix, given: Any, what: str) -> List[Any]:
    """Spread a sequence or a mapping by criterion name over the criteria."""
    m = len(matrix.criteria)
    if isinstance(given, collections.abc.Mapping):
        unknown = [k for k in given if k not in matrix.criteria]
        if unknown:
            raise InputError(f"{what} names unknown criterion {unknown[0]!r}; "
                             f"criteria are {', '.join(map(str, matrix.criteria))}")
        missing = [c for c in matrix.criteria if c not in given]
        if missing:
            raise InputError(f"{what} has no entry for criterion {missing[0]!r}")
        return [given[c] for c in matrix.criteria]
    items = list(np.asarray(given).ravel()) if isinstance(given, np.ndarray) else list(given)
    if len(items) != m:
        raise InputError(f"{what} has {len(items)} entries but data has {m} criteria")
    return items


def _kind_code(value: Any, matrix: _Matrix, j: int) -> int:
    """Map one kind (word, sign or 1/0/-1 code) to the native code."""
    if isinstance(value, str):
        code = _KIND_WORDS.get(value.strip().lower())
    elif isinstance(value, (bool, np.bool_)):
        code = None
    elif isinstance(value, (int, np.integer)):
        code = _KIND_CODES.get(int(value))
    else:
        code = None
    if code is None:
        raise InputError(f"kind {value!r} of criterion {matrix.label(j)} is not one of "
                         f"1/0/-1, 'benefit'/'cost', 'max'/'min', '+'/'-'")
    return code


def _kind_codes(matrix: _Matrix, kinds: KindsLike) -> npt.NDArray[np.int64]:
    """Convert the kinds to a C-ordered int64 code vector, one per criterion."""
    if isinstance(kinds, str):
        if set(kinds) - {"+", "-"}:
            raise InputError(f"kinds given as one string must be '+'/'-' signs, "
                             f"one per criterion, got {kinds!r}")
        kinds = list(kinds)
    items = _per_criterion(matrix, kinds, "kinds")
    return np.array([_kind_code(v, matrix, j) for j, v in enumerate(items)], dtype=np.int64)


def _weight_vector(matrix: _Matrix, weights: WeightsLike,
                   codes: npt.NDArray[np.int64]) -> npt.NDArray[np.float64]:
    """Convert the weights to a C-ordered float64 vector ("entropy", "equal" derive them)."""
    if isinstance(weights, str):
        word = weights.strip().lower()
        if word == "entropy":
            return _ternavik.entropy_weight(matrix.values, codes)[0]
        if word == "equal":
            m = len(matrix.criteria)
            return np.full(m, 1.0 / m if m else 0.0, dtype=np.float64)
        raise InputError(f"weights must be numbers, a mapping by criterion, "
                         f"'entropy' or 'equal', got {weights!r}")
    items = _per_criterion(matrix, weights, "weights")
    out = np.empty(len(items), dtype=np.float64)
    for j, v in enumerate(items):
        if isinstance(v, (bool, np.bool_)) or not _is_number(v) or isinstance(v, str):
            raise InputError(f"weight {v!r} of criterion {matrix.label(j)} is not a number")
        out[j] = float(v)
        if not np.isfinite(out[j]):
            raise InputError(f"weight of criterion {matrix.label(j)} is {out[j]}, "
                             f"it must be finite")
    return out


def prepare(data: Any, kinds: KindsLike, weights: Optional[WeightsLike] = None,
            criteria: Optional[Sequence[Hashable]] = None) -> Tuple[
                npt.NDArray[np.float64], npt.NDArray[np.int64], npt.NDArray[np.float64]]:
    """Check and convert once: the matrix, the kind codes and the weight vector.

    The results are exactly the C-ordered float64/int64 arrays the native
    functions take. ``criteria`` names the columns of plain array data in
    messages and weight mappings. Without ``weights`` the weight vector is empty.
    """
    matrix = _as_matrix(data, criteria)
    codes = _kind_codes(matrix, kinds)
    vector = (np.empty(0, dtype=np.float64) if weights is None
              else _weight_vector(matrix, weights, codes))
    return matrix.values, codes, vector


def _labelled(values: npt.NDArray[Any], index: Optional[Any], name: str) -> Any:
    """Wrap a result as a pandas Series when labels came in, else leave it."""
    if index is None:
        return values
    return importlib.import_module("pandas").Series(values, index=index, name=name)


def entropy_weight(data: Any, kinds: KindsLike) -> Tuple[Any, Any]:
    """Entropy weights of the criteria and entropy scores of the alternatives.

    ``data`` has one row per alternative and one column per criterion: any
    array-like, or a pandas DataFrame (criteria = columns, alternatives =
    index). ``kinds`` gives one kind per criterion as 1/0/-1, "benefit"/"cost",
    "max"/"min" or "+"/"-", as a sequence, a string of signs such as "+-+",
    or a mapping by criterion name.

    Returns ``(weights, scores)``: float64 arrays, or pandas Series labelled by
    criterion and by alternative when a DataFrame went in. Values are exactly
    those of ``_ternavik.entropy_weight``.
    """
    matrix = _as_matrix(data)
    codes = _kind_codes(matrix, kinds)
    weights, scores = _ternavik.entropy_weight(matrix.values, codes)
    if matrix.alternatives is None:
        return weights, scores
    return (_labelled(weights, matrix.criteria, "weight"),
            _labelled(scores, matrix.alternatives, "score"))


def topsis(data: Any, weights: WeightsLike, kinds: KindsLike) -> Any:
    """TOPSIS closeness of every alternative to the ideal (1 best, 0 worst).

    The arguments come in the same order as ``_ternavik.topsis``. ``data`` and
    ``kinds`` are as for :func:`entropy_weight`. ``weights`` is a sequence of
    numbers, a mapping by criterion name, "entropy" (entropy weights of the
    same matrix) or "equal" (1/m each). Weights are used as given, not
    normalised.

    Returns a float64 array in row order, or a pandas Series labelled by
    alternative when a DataFrame went in. Values are exactly those of
    ``_ternavik.topsis``.
    """
    matrix = _as_matrix(data)
    codes = _kind_codes(matrix, kinds)
    vector = _weight_vector(matrix, weights, codes)
    closeness = _ternavik.topsis(matrix.values, vector, codes)
    return _labelled(closeness, matrix.alternatives, "closeness")


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
    if _is_series(scores):
        return _labelled(ranks, scores.index, "rank")
    return ranks
