"""Reading a decision matrix out of whatever the caller holds.

Lists, NumPy arrays and pandas DataFrames become one C-ordered float64
matrix. Booleans read as 0 and 1; missing cells (None, NaN, pd.NA) become NaN
for the missing-value policy to judge. Anything else that is not a real
number (text, dates, durations, categories, complex numbers) is refused with
the criterion named, never read as a number by accident.
"""

import numbers
from typing import Any, Callable, Dict, List, Optional, Set

import numpy as np
import numpy.typing as npt

from ._errors import InputError
from ._optional import is_dataframe

Matrix = npt.NDArray[np.float64]

_NUMERIC_KINDS = "biuf"
_DTYPE_WORDS = {"M": "datetime", "m": "timedelta", "U": "text", "S": "bytes",
                "c": "complex", "V": "structured"}


class Table:
    """The matrix and the labels it came with (None for plain arrays)."""

    def __init__(self, values: Matrix, criteria: Optional[List[Any]],
                 alternatives: Optional[Any]) -> None:
        self.values = values
        self.criteria = criteria          # column labels of a DataFrame
        self.alternatives = alternatives  # the DataFrame's index


def _is_missing(value: Any) -> bool:
    """None, a float NaN or pandas' NA."""
    if value is None or type(value).__name__ == "NAType":
        return True
    return isinstance(value, float) and value != value


def _cell(value: Any) -> Optional[float]:
    """One cell as a float, or None when it is not a real number."""
    if _is_missing(value):
        return float("nan")
    if isinstance(value, (np.datetime64, np.timedelta64)):  # timedelta64 is an integer type
        return None
    if isinstance(value, (numbers.Real, np.bool_)) and not isinstance(value, np.complexfloating):
        return float(value)
    return None


def _objects_to_floats(cells: npt.NDArray[Any], criterion: Callable[[int], str],
                       alternative: Callable[[int], str]) -> Matrix:
    """Convert a 2-D object array cell by cell, naming the first bad one."""
    out = np.empty(cells.shape, dtype=np.float64)
    for (i, j), value in np.ndenumerate(cells):
        number = _cell(value)
        if number is None:
            raise InputError(f"criterion {criterion(j)} has a non-numeric value {value!r} "
                             f"(alternative {alternative(i)})")
        out[i, j] = number
    return out


def _dtype_word(dtype: Any) -> str:
    """How a non-numeric column type is called in messages."""
    name = type(dtype).__name__
    if name == "CategoricalDtype":
        return "category"
    if name == "StringDtype":
        return "text"
    return _DTYPE_WORDS.get(getattr(dtype, "kind", ""), str(dtype))


def _frame_column(frame: Any, j: int) -> Matrix:
    """Column j of a DataFrame as float64, refusing non-numeric types."""
    column, label = frame.iloc[:, j], frame.columns[j]
    dtype = column.dtype
    if isinstance(dtype, np.dtype) and dtype.kind == "O":
        cells = column.to_numpy(dtype=object).reshape(-1, 1)
        return _objects_to_floats(cells, lambda _: repr(label),
                                  lambda i: repr(frame.index[i]))[:, 0]
    if getattr(dtype, "kind", "") in _NUMERIC_KINDS and _dtype_word(dtype) != "category":
        values: Matrix = column.to_numpy(dtype=np.float64, na_value=np.nan)
        return values
    raise InputError(f"criterion {label!r} is not numeric: its values are "
                     f"{_dtype_word(dtype)} ({dtype})")


def _duplicates(labels: List[Any]) -> List[Any]:
    """Labels that occur more than once, in order of first repetition."""
    seen: Set[Any] = set()
    twice: Dict[Any, None] = {}
    for label in labels:
        if label in seen:
            twice[label] = None
        seen.add(label)
    return list(twice)


def check_unique(labels: List[Any]) -> None:
    """Refuse duplicated criterion labels: keyed weights could not tell them apart."""
    twice = _duplicates(labels)
    if twice:
        raise InputError(f"criterion {', '.join(map(repr, twice))} occurs more than once "
                         f"among the columns; give every criterion its own name")


def _from_frame(frame: Any) -> Table:
    """A DataFrame: criteria = columns, alternatives = index."""
    criteria = list(frame.columns)
    check_unique(criteria)
    columns = [_frame_column(frame, j) for j in range(len(criteria))]
    values = (np.column_stack(columns) if columns
              else np.empty((len(frame.index), 0), dtype=np.float64))
    return Table(np.ascontiguousarray(values, dtype=np.float64), criteria, frame.index)


def _ragged(raw: npt.NDArray[Any]) -> bool:
    """An object vector of rows: what old NumPy makes of a ragged list."""
    return raw.ndim == 1 and raw.dtype.kind == "O" and any(
        isinstance(v, (list, tuple, np.ndarray)) for v in raw)


def _from_array(data: Any) -> Table:
    """Any array-like: rows are alternatives, columns criteria."""
    try:
        raw = np.asarray(data)
    except ValueError:
        raw = np.empty(0, dtype=object)
        raw_ragged = True
    else:
        raw_ragged = _ragged(raw)
    if raw_ragged:
        raise InputError("data must be a rectangular table: every row needs "
                         "the same number of values")
    if raw.ndim != 2:
        raise InputError(f"data must be two-dimensional (alternatives x criteria), "
                         f"got {raw.ndim} dimension(s)")
    if raw.dtype.kind in _NUMERIC_KINDS:
        return Table(np.ascontiguousarray(raw, dtype=np.float64), None, None)
    if raw.dtype.kind in "OUS":
        # Keep the caller's own cells (a list of ints and one string becomes
        # all strings in a NumPy array), so the message shows the bad one.
        cells = raw if raw.dtype.kind == "O" or isinstance(data, np.ndarray) \
            else np.asarray(data, dtype=object)
        return Table(_objects_to_floats(cells, lambda j: f"#{j}", lambda i: f"#{i}"),
                     None, None)
    raise InputError(f"data is not numeric: its values are {_dtype_word(raw.dtype)} "
                     f"({raw.dtype})")


def read_table(data: Any) -> Table:
    """Convert the caller's data to a float64 matrix with its labels."""
    return _from_frame(data) if is_dataframe(data) else _from_array(data)
