"""topsis and entropy_weight over Dask arrays, Dask DataFrames and xarray
DataArrays backed by Dask: lazy results of the input's kind, computed on
any Dask scheduler.

Rows are alternatives and may be spread over many blocks; the criteria of a
row must fit in one block (they are rechunked into one when they are not).

The column passes (sums of squares, extremes, the entropy sums) run as a
chain of small tasks, one per row block in row order, each continuing the
state of the block before it. Every column sum is then added in the same
order as in memory, and the results are identical to the in-memory ones bit
for bit. A tree reduction would run the blocks in parallel but add their
partial sums in another order; over 1e7 rows that moves the closeness
coefficients by a few hundred ulp. Only the column passes are serial, and
they are the cheap part: the passes over alternatives run as map_blocks over
the native kernels, in parallel.

The functions take prepared inputs: weights and kind codes as float64 and
int64 NumPy vectors with one element per criterion.
"""

import importlib
from typing import Any, Callable, List, Optional, Tuple

import numpy as np

from . import _engine  # type: ignore[attr-defined]  # an extension module without stubs

ROW_MESSAGE = "Data must have more than one row"


def _kind_of(data: Any) -> Optional[str]:
    """'array', 'frame' or 'xarray' for the lazy inputs handled here, else None."""
    for cls in type(data).__mro__:
        module, name = cls.__module__, cls.__name__
        if name == "Array" and module.startswith("dask.array"):
            return "array"
        if name == "DataFrame" and module.startswith("dask"):
            return "frame"
        if name == "DataArray" and module.startswith("xarray"):
            return "xarray" if _is_dask_backed(data) else None
    return None


def _is_dask_backed(data: Any) -> bool:
    return any(c.__name__ == "Array" and c.__module__.startswith("dask.array")
               for c in type(getattr(data, "data", None)).__mro__)


def is_lazy(data: Any) -> bool:
    """Whether `data` is an input of this module (checked without importing Dask)."""
    return _kind_of(data) is not None


def _modules():
    try:
        import dask
        import dask.array as da
    except ImportError:
        raise ImportError('Dask inputs need Dask: pip install "ternavik[dask]"') from None
    return dask, da


# ------------------------------------------------------------ row blocks

def _block_values(block: Any) -> np.ndarray:
    """A block's values as a float64 matrix (a pandas partition or an array)."""
    values = block.to_numpy(dtype=np.float64) if hasattr(block, "to_numpy") else block
    return np.asarray(values, dtype=np.float64)


def _step(kernel: Callable, *constants: Any) -> Callable:
    """One link of a column-scan chain: continues (state, rows) over a block."""
    def run(block: Any, carried: Tuple[np.ndarray, int], *late: Any) -> Tuple[np.ndarray, int]:
        state, rows = carried
        values = _block_values(block)
        return kernel(values, *late, *constants, state), rows + len(values)
    return run


def _chain(blocks: List[Any], kernel: Callable, start: np.ndarray, *late: Any,
           constants: Tuple[Any, ...] = ()) -> Any:
    """(state, rows) after the scan of every block in row order, as a Delayed."""
    dask, _ = _modules()
    step = dask.delayed(_step(kernel, *constants), pure=True)
    carried = (start, 0)
    for block in blocks:
        carried = step(block, carried, *late)
    return carried


def _checked_rows(carried: Tuple[np.ndarray, int]) -> Tuple[np.ndarray, int]:
    if carried[1] < 2:
        raise ValueError(ROW_MESSAGE)
    return carried


# ------------------------------------------------------------ the methods on row blocks

def _topsis_ideals(carried, weights, codes):
    state, _ = _checked_rows(carried)
    weights = np.asarray(getattr(weights, "values", weights), dtype=np.float64)
    return _engine.topsis_ideals(state, weights, codes)


def _topsis_closeness(block, ideals):
    return _engine.topsis_closeness(_block_values(block), ideals)


def _entropy_weights(extremes, sums):
    (low_high, rows), (s_t, _) = _checked_rows(extremes), sums
    return _engine.entropy_weights(low_high, s_t, rows)


def _entropy_scores(block, extremes, weights, codes):
    return _engine.entropy_scores(_block_values(block), extremes[0], weights, codes)


def _topsis_graph(blocks, m, weights, codes):
    """Delayed ideals of a matrix given by its row blocks."""
    dask, _ = _modules()
    start = np.array([[0.0] * m, [np.inf] * m, [-np.inf] * m]).reshape(3, m)
    scanned = _chain(blocks, _engine.topsis_scan, start)
    return dask.delayed(_topsis_ideals, pure=True)(scanned, weights, codes)


def _entropy_graph(blocks, m, codes):
    """Delayed (extremes with the row count, weights) of a matrix's row blocks."""
    dask, _ = _modules()
    start = np.array([[np.inf] * m, [-np.inf] * m]).reshape(2, m)
    extremes = _chain(blocks, _engine.entropy_extremes, start)
    low_high = dask.delayed(lambda c: _checked_rows(c)[0], pure=True)(extremes)
    sums = _chain(blocks, _engine.entropy_sums, np.zeros((2, m)), low_high,
                  constants=(codes,))
    weights = dask.delayed(_entropy_weights, pure=True)(extremes, sums)
    return extremes, weights


# ------------------------------------------------------------ inputs by kind

def _criteria_last(array: Any, m: int):
    """A 2-D float64 Dask array with one block across the criteria."""
    array = array.astype(np.float64) if array.dtype != np.float64 else array
    if array.ndim != 2:
        array = array.reshape(-1, m)
    return array.rechunk({1: -1}) if array.numblocks[1] != 1 else array


def _check_lengths(m: int, weights: Optional[np.ndarray], codes: np.ndarray) -> None:
    for name, vector in (("weights", weights), ("indicator_type", codes)):
        length = getattr(vector, "shape", (None,))[0] if vector is not None else m
        if isinstance(length, (int, np.integer)) and length != m:
            raise ValueError(f"{name} has {length} elements but data has {m} criteria")


def _array_topsis(array, weights, codes):
    _, da = _modules()
    m = array.shape[-1]
    matrix = _criteria_last(array, m)
    ideals = _topsis_graph(list(matrix.to_delayed().ravel()), m, weights, codes)
    closeness = da.map_blocks(_topsis_closeness, matrix, ideals, dtype=np.float64,
                              drop_axis=1, meta=np.empty(0))
    return closeness.reshape(array.shape[:-1]) if array.ndim != 2 else closeness


def _array_entropy(array, codes):
    _, da = _modules()
    m = array.shape[-1]
    matrix = _criteria_last(array, m)
    extremes, weights = _entropy_graph(list(matrix.to_delayed().ravel()), m, codes)
    scores = da.map_blocks(_entropy_scores, matrix, extremes, weights, codes,
                           dtype=np.float64, drop_axis=1, meta=np.empty(0))
    weights = da.from_delayed(weights, shape=(m,), dtype=np.float64)
    return weights, (scores.reshape(array.shape[:-1]) if array.ndim != 2 else scores)


def _frame_topsis(frame, weights, codes):
    pd = importlib.import_module("pandas")
    ideals = _topsis_graph(list(frame.to_delayed()), len(frame.columns), weights, codes)
    return frame.map_partitions(
        lambda part, found: pd.Series(_topsis_closeness(part, found), index=part.index,
                                      name="closeness"),
        ideals, meta=pd.Series(dtype=np.float64, name="closeness"))


def _frame_entropy(frame, codes):
    dd = importlib.import_module("dask.dataframe")
    pd = importlib.import_module("pandas")
    m, columns = len(frame.columns), list(frame.columns)
    extremes, weights = _entropy_graph(list(frame.to_delayed()), m, codes)
    scores = frame.map_partitions(
        lambda part, e, w: pd.Series(_entropy_scores(part, e, w, codes), index=part.index,
                                     name="score"),
        extremes, weights, meta=pd.Series(dtype=np.float64, name="score"))
    series = _modules()[0].delayed(
        lambda w: pd.Series(w, index=pd.Index(columns), name="weight"), pure=True)(weights)
    return dd.from_delayed([series], meta=pd.Series(dtype=np.float64, name="weight")), scores


def _xarray_layout(data, criteria_dim):
    """The DataArray with its criteria dimension last, and that dimension's name."""
    dim = data.dims[-1] if criteria_dim is None else criteria_dim
    if dim not in data.dims:
        raise ValueError(f"criteria dimension {dim!r} is not one of {data.dims}")
    others = [d for d in data.dims if d != dim]
    return data.transpose(*others, dim), dim, others


def _xarray_topsis(data, weights, codes, criteria_dim):
    xr = importlib.import_module("xarray")
    data, dim, others = _xarray_layout(data, criteria_dim)
    closeness = _array_topsis(data.data, weights, codes)
    coords = {k: v for k, v in data.coords.items() if dim not in v.dims}
    return xr.DataArray(closeness, dims=others, coords=coords, name="closeness")


def _xarray_entropy(data, codes, criteria_dim):
    xr = importlib.import_module("xarray")
    data, dim, others = _xarray_layout(data, criteria_dim)
    weights, scores = _array_entropy(data.data, codes)
    alt_coords = {k: v for k, v in data.coords.items() if dim not in v.dims}
    crit_coords = {k: v for k, v in data.coords.items() if v.dims == (dim,)}
    return (xr.DataArray(weights, dims=[dim], coords=crit_coords, name="weight"),
            xr.DataArray(scores, dims=others, coords=alt_coords, name="score"))


# ------------------------------------------------------------ entry points

def _criteria_count(data: Any, kind: str, criteria_dim: Optional[str]) -> int:
    if kind == "frame":
        return len(data.columns)
    if kind == "xarray":
        return data.sizes[data.dims[-1] if criteria_dim is None else criteria_dim]
    if data.ndim < 2:
        raise ValueError("data needs at least two dimensions (alternatives x criteria)")
    return data.shape[-1]


def criteria_count(data: Any, criteria_dim: Optional[str] = None) -> int:
    """The number of criteria of a lazy input."""
    kind = _kind_of(data)
    if kind is None:
        raise TypeError(f"not a Dask or Dask-backed xarray input: {type(data).__name__}")
    return _criteria_count(data, kind, criteria_dim)


def criteria_labels(data: Any, criteria_dim: Optional[str] = None) -> Optional[List[Any]]:
    """The criteria's labels (DataFrame columns, DataArray coordinate), or
    None when the criteria are known only by position."""
    kind = _kind_of(data)
    if kind == "frame":
        return list(data.columns)
    if kind == "xarray":
        dim = data.dims[-1] if criteria_dim is None else criteria_dim
        return list(data.coords[dim].values) if dim in data.coords else None
    return None


def topsis(data: Any, weights: np.ndarray, indicator_type: np.ndarray,
           criteria_dim: Optional[str] = None) -> Any:
    """Lazy closeness coefficients of a Dask or xarray input, one per alternative.

    ``weights`` may itself be lazy, such as the weights of entropy_weight.

    A Dask array gives a Dask array over its leading axes, a Dask DataFrame a
    Dask Series on its index, a DataArray a DataArray over its other
    dimensions. ``criteria_dim`` names the criteria dimension of a DataArray
    (default: its last one).
    """
    kind = _kind_of(data)
    if kind is None:
        raise TypeError(f"not a Dask or Dask-backed xarray input: {type(data).__name__}")
    if not hasattr(weights, "__dask_graph__"):  # lazy weights (entropy ones) stay lazy
        weights = np.ascontiguousarray(weights, dtype=np.float64)
    codes = np.ascontiguousarray(indicator_type, dtype=np.int64)
    _check_lengths(_criteria_count(data, kind, criteria_dim), weights, codes)
    if kind == "frame":
        return _frame_topsis(data, weights, codes)
    if kind == "xarray":
        return _xarray_topsis(data, weights, codes, criteria_dim)
    return _array_topsis(data, weights, codes)


def entropy_weight(data: Any, indicator_type: np.ndarray,
                   criteria_dim: Optional[str] = None) -> Tuple[Any, Any]:
    """Lazy (weights, scores) of a Dask or xarray input.

    Weights have one element per criterion (a Series on the column names for
    a DataFrame, a DataArray over the criteria dimension for a DataArray);
    scores have one per alternative, shaped like topsis' result.
    """
    kind = _kind_of(data)
    if kind is None:
        raise TypeError(f"not a Dask or Dask-backed xarray input: {type(data).__name__}")
    codes = np.ascontiguousarray(indicator_type, dtype=np.int64)
    _check_lengths(_criteria_count(data, kind, criteria_dim), None, codes)
    if kind == "frame":
        return _frame_entropy(data, codes)
    if kind == "xarray":
        return _xarray_entropy(data, codes, criteria_dim)
    return _array_entropy(data, codes)
