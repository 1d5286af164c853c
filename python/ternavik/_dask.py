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

from . import _engine
from ._magnitude import scaled, tamed_weights, top_exponents

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


def _modules() -> Tuple[Any, Any]:
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


class Policy:
    """What to do with missing and infinite values, block by block:
    "propagate" passes them on, "raise" fails naming the first one, "omit"
    leaves out the alternatives holding any (their results are NaN)."""

    def __init__(self, name: str = "propagate", labels: Optional[List[Any]] = None,
                 tame: bool = False) -> None:
        self.name = name
        self.labels = labels  # criterion labels for messages, None = by position
        # Bring extreme magnitudes into range as the package's eager front
        # ends do, rather than give the bare native kernels' bits.
        self.tame = tame

    def kept(self, values: np.ndarray, first_row: int) -> Optional[np.ndarray]:
        """The rows of a block to compute on (None = all of them)."""
        if self.name == "propagate":
            return None
        finite = np.isfinite(values)
        if finite.all():
            return None
        if self.name == "omit":
            return np.asarray(finite.all(axis=1))
        i, j = (int(k) for k in np.argwhere(~finite)[0])
        what = "missing (NaN)" if np.isnan(values[i, j]) else f"infinite ({values[i, j]})"
        criterion = repr(self.labels[j]) if self.labels is not None else f"#{j}"
        from ._errors import InputError
        raise InputError(f"alternative #{first_row + i}, criterion {criterion} is {what}; "
                         f"choose nan_policy='omit' to leave such alternatives out")

    def check_rows(self, rows: int) -> None:
        if rows >= 2:
            return
        if self.name == "propagate":
            raise ValueError(ROW_MESSAGE)
        from ._errors import InputError
        if self.name == "omit":
            raise InputError(f"only {rows} alternatives have no missing or infinite values; "
                             f"at least two are needed")
        raise InputError(f"data needs at least two alternatives (rows), got {rows}")

    def per_row(self, kernel: Callable[..., Any], block: Any, *args: Any) -> Any:
        """kernel(values, *args) on the kept rows, NaN in the others."""
        values = _block_values(block)
        keep = self.kept(values, 0) if self.name == "omit" else None
        if keep is None:
            return np.asarray(kernel(values, *args))
        out = np.full(len(values), np.nan)
        out[keep] = kernel(np.ascontiguousarray(values[keep]), *args)
        return out


def _step(kernel: Callable[..., Any], policy: Policy, *constants: Any) -> Callable[..., Any]:
    """One link of a column-scan chain: continues (state, rows) over a block."""
    def run(block: Any, carried: Tuple[np.ndarray, int, int],
            *late: Any) -> Tuple[np.ndarray, int, int]:
        state, kept_rows, all_rows = carried
        values = _block_values(block)
        keep = policy.kept(values, all_rows)
        if keep is not None:
            values = np.ascontiguousarray(values[keep])
        return (kernel(values, *late, *constants, state), kept_rows + len(values),
                all_rows + len(keep if keep is not None else values))
    return run


def _chain(blocks: List[Any], kernel: Callable[..., Any], start: Any, policy: Policy,
           *late: Any, constants: Tuple[Any, ...] = ()) -> Any:
    """(state, kept rows, all rows) after scanning every block in row order."""
    dask, _ = _modules()
    step = dask.delayed(_step(kernel, policy, *constants), pure=True)
    carried = (start, 0, 0)
    for block in blocks:
        carried = step(block, carried, *late)
    return carried


# ------------------------------------------------------------ the methods on row blocks

def _tamed_topsis_scan(values: np.ndarray, carried: Tuple[np.ndarray, np.ndarray]) -> Any:
    """The TOPSIS column scan on values brought into range as the eager path
    brings whole columns: (scan state in scaled units, the largest magnitude
    seen so far). The scale follows that magnitude as blocks arrive; the
    state is moved to a new scale by a power of two, which is exact, and
    ordinary columns never leave scale 1, so they keep the eager bits."""
    state, top = carried
    with np.errstate(invalid="ignore"):
        seen = np.fmax(top, np.fmax.reduce(np.abs(values), axis=0)) if len(values) else top
    before, after = _exponents_or_zero(top), _exponents_or_zero(seen)
    if (before != after).any():
        shift = before - after
        state = np.ascontiguousarray(np.ldexp(state, np.stack([2 * shift, shift, shift])))
    return _engine.topsis_scan(scaled(values, after if after.any() else None), state), seen


def _plain_topsis_scan(values: np.ndarray, carried: Tuple[np.ndarray, np.ndarray]) -> Any:
    return _engine.topsis_scan(values, carried[0]), carried[1]


def _exponents_or_zero(top: np.ndarray) -> np.ndarray:
    found = top_exponents(top)
    return found if found is not None else np.zeros(top.shape, dtype=np.int64)


def _topsis_ideals(carried: Any, weights: Any, codes: Any, policy: Policy) -> Any:
    """(ideals in scaled units, the columns' scaling exponents)."""
    (state, top), kept_rows, _ = carried
    policy.check_rows(kept_rows)
    weights = np.asarray(getattr(weights, "values", weights), dtype=np.float64)
    if policy.tame and weights.size:
        weights = tamed_weights(weights.reshape(1, -1))[0]
    return (_engine.topsis_ideals(state, np.ascontiguousarray(weights), codes),
            _exponents_or_zero(top))


def _topsis_closeness(block: Any, found: Any, policy: Policy) -> Any:
    ideals, exponents = found
    return policy.per_row(lambda values: _engine.topsis_closeness(
        scaled(values, exponents if exponents.any() else None), ideals), block)


def _entropy_weights(extremes: Any, sums: Any, policy: Policy) -> Any:
    policy.check_rows(extremes[1])
    return _engine.entropy_weights(extremes[0], sums[0], extremes[1])


def _entropy_scores(block: Any, extremes: Any, weights: Any, codes: Any,
                    policy: Policy) -> Any:
    return policy.per_row(_engine.entropy_scores, block, extremes[0], weights, codes)


def _topsis_graph(blocks: List[Any], m: int, weights: Any, codes: Any, policy: Policy) -> Any:
    """Delayed ideals of a matrix given by its row blocks."""
    dask, _ = _modules()
    start = (np.array([[0.0] * m, [np.inf] * m, [-np.inf] * m]).reshape(3, m), np.zeros(m))
    scan = _tamed_topsis_scan if policy.tame else _plain_topsis_scan
    scanned = _chain(blocks, scan, start, policy)
    return dask.delayed(_topsis_ideals, pure=True)(scanned, weights, codes, policy)


def _entropy_graph(blocks: List[Any], m: int, codes: Any,
                   policy: Policy) -> Tuple[Any, Any]:
    """Delayed (extremes with the row counts, weights) of a matrix's row blocks."""
    dask, _ = _modules()
    start = np.array([[np.inf] * m, [-np.inf] * m]).reshape(2, m)
    extremes = _chain(blocks, _engine.entropy_extremes, start, policy)
    low_high = dask.delayed(lambda c: c[0], pure=True)(extremes)
    sums = _chain(blocks, _engine.entropy_sums, np.zeros((2, m)), policy, low_high,
                  constants=(codes,))
    weights = dask.delayed(_entropy_weights, pure=True)(extremes, sums, policy)
    return extremes, weights


# ------------------------------------------------------------ inputs by kind

def _criteria_last(array: Any, m: int) -> Any:
    """A 2-D float64 Dask array with one block across the criteria."""
    array = array.astype(np.float64) if array.dtype != np.float64 else array
    if array.ndim != 2:
        array = array.reshape(-1, m)
    return array.rechunk({1: -1}) if array.numblocks[1] != 1 else array


def _check_lengths(m: int, weights: Any, codes: Any) -> None:
    for name, vector in (("weights", weights), ("indicator_type", codes)):
        length = getattr(vector, "shape", (None,))[0] if vector is not None else m
        if isinstance(length, (int, np.integer)) and length != m:
            raise ValueError(f"{name} has {length} elements but data has {m} criteria")


def _array_topsis(array: Any, weights: Any, codes: Any, policy: Policy) -> Any:
    _, da = _modules()
    m = array.shape[-1]
    matrix = _criteria_last(array, m)
    ideals = _topsis_graph(list(matrix.to_delayed().ravel()), m, weights, codes, policy)
    closeness = da.map_blocks(_topsis_closeness, matrix, ideals, policy, dtype=np.float64,
                              drop_axis=1, meta=np.empty(0))
    return closeness.reshape(array.shape[:-1]) if array.ndim != 2 else closeness


def _array_entropy(array: Any, codes: Any, policy: Policy) -> Tuple[Any, Any]:
    _, da = _modules()
    m = array.shape[-1]
    matrix = _criteria_last(array, m)
    extremes, weights = _entropy_graph(list(matrix.to_delayed().ravel()), m, codes, policy)
    scores = da.map_blocks(_entropy_scores, matrix, extremes, weights, codes, policy,
                           dtype=np.float64, drop_axis=1, meta=np.empty(0))
    weights = da.from_delayed(weights, shape=(m,), dtype=np.float64)
    return weights, (scores.reshape(array.shape[:-1]) if array.ndim != 2 else scores)


def _frame_topsis(frame: Any, weights: Any, codes: Any, policy: Policy) -> Any:
    pd = importlib.import_module("pandas")
    ideals = _topsis_graph(list(frame.to_delayed()), len(frame.columns), weights, codes,
                           policy)
    return frame.map_partitions(
        lambda part, found: pd.Series(_topsis_closeness(part, found, policy), index=part.index,
                                      name="closeness"),
        ideals, meta=pd.Series(dtype=np.float64, name="closeness"))


def _frame_entropy(frame: Any, codes: Any, policy: Policy) -> Tuple[Any, Any]:
    dd = importlib.import_module("dask.dataframe")
    pd = importlib.import_module("pandas")
    m, columns = len(frame.columns), list(frame.columns)
    extremes, weights = _entropy_graph(list(frame.to_delayed()), m, codes, policy)
    scores = frame.map_partitions(
        lambda part, e, w: pd.Series(_entropy_scores(part, e, w, codes, policy),
                                     index=part.index, name="score"),
        extremes, weights, meta=pd.Series(dtype=np.float64, name="score"))
    series = _modules()[0].delayed(
        lambda w: pd.Series(w, index=pd.Index(columns), name="weight"), pure=True)(weights)
    return dd.from_delayed([series], meta=pd.Series(dtype=np.float64, name="weight")), scores


def _xarray_layout(data: Any, criteria_dim: Optional[str]) -> Tuple[Any, Any, List[Any]]:
    """The DataArray with its criteria dimension last, and that dimension's name."""
    dim = data.dims[-1] if criteria_dim is None else criteria_dim
    if dim not in data.dims:
        raise ValueError(f"criteria dimension {dim!r} is not one of {data.dims}")
    others = [d for d in data.dims if d != dim]
    return data.transpose(*others, dim), dim, others


def _xarray_topsis(data: Any, weights: Any, codes: Any, criteria_dim: Optional[str],
                   policy: Policy) -> Any:
    xr = importlib.import_module("xarray")
    data, dim, others = _xarray_layout(data, criteria_dim)
    closeness = _array_topsis(data.data, weights, codes, policy)
    coords = {k: v for k, v in data.coords.items() if dim not in v.dims}
    return xr.DataArray(closeness, dims=others, coords=coords, name="closeness")


def _xarray_entropy(data: Any, codes: Any, criteria_dim: Optional[str],
                    policy: Policy) -> Tuple[Any, Any]:
    xr = importlib.import_module("xarray")
    data, dim, others = _xarray_layout(data, criteria_dim)
    weights, scores = _array_entropy(data.data, codes, policy)
    alt_coords = {k: v for k, v in data.coords.items() if dim not in v.dims}
    crit_coords = {k: v for k, v in data.coords.items() if v.dims == (dim,)}
    return (xr.DataArray(weights, dims=[dim], coords=crit_coords, name="weight"),
            xr.DataArray(scores, dims=others, coords=alt_coords, name="score"))


# ------------------------------------------------------------ entry points

def _criteria_count(data: Any, kind: str, criteria_dim: Optional[str]) -> int:
    if kind == "frame":
        return len(data.columns)
    if kind == "xarray":
        return int(data.sizes[data.dims[-1] if criteria_dim is None else criteria_dim])
    if data.ndim < 2:
        raise ValueError("data needs at least two dimensions (alternatives x criteria)")
    return int(data.shape[-1])


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
           criteria_dim: Optional[str] = None, policy: Optional[Policy] = None) -> Any:
    """Lazy closeness coefficients of a Dask or xarray input, one per alternative.

    ``weights`` may itself be lazy, such as the weights of entropy_weight.

    A Dask array gives a Dask array over its leading axes, a Dask DataFrame a
    Dask Series on its index, a DataArray a DataArray over its other
    dimensions. ``criteria_dim`` names the criteria dimension of a DataArray
    (default: its last one). ``policy`` deals with missing and infinite
    values (default: pass them on, as the native function does).
    """
    policy = policy if policy is not None else Policy()
    kind = _kind_of(data)
    if kind is None:
        raise TypeError(f"not a Dask or Dask-backed xarray input: {type(data).__name__}")
    if not hasattr(weights, "__dask_graph__"):  # lazy weights (entropy ones) stay lazy
        weights = np.ascontiguousarray(weights, dtype=np.float64)
    codes = np.ascontiguousarray(indicator_type, dtype=np.int64)
    _check_lengths(_criteria_count(data, kind, criteria_dim), weights, codes)
    if kind == "frame":
        return _frame_topsis(data, weights, codes, policy)
    if kind == "xarray":
        return _xarray_topsis(data, weights, codes, criteria_dim, policy)
    return _array_topsis(data, weights, codes, policy)


def entropy_weight(data: Any, indicator_type: np.ndarray, criteria_dim: Optional[str] = None,
                   policy: Optional[Policy] = None) -> Tuple[Any, Any]:
    """Lazy (weights, scores) of a Dask or xarray input.

    Weights have one element per criterion (a Series on the column names for
    a DataFrame, a DataArray over the criteria dimension for a DataArray);
    scores have one per alternative, shaped like topsis' result.
    """
    policy = policy if policy is not None else Policy()
    kind = _kind_of(data)
    if kind is None:
        raise TypeError(f"not a Dask or Dask-backed xarray input: {type(data).__name__}")
    codes = np.ascontiguousarray(indicator_type, dtype=np.int64)
    _check_lengths(_criteria_count(data, kind, criteria_dim), None, codes)
    if kind == "frame":
        return _frame_entropy(data, codes, policy)
    if kind == "xarray":
        return _xarray_entropy(data, codes, criteria_dim, policy)
    return _array_entropy(data, codes, policy)


# ------------------------------------------------------------ the package's front ends

def _prepared(data: Any, kinds: Any, nan_policy: str,
              criteria_dim: Optional[str]) -> Tuple[Any, Any, Policy]:
    """Criteria, kind codes and policy of a lazy input, checked like eager ones."""
    from ._criteria import Criteria, kind_codes
    from ._errors import InputError
    from ._matrix import NAN_POLICIES
    if nan_policy not in NAN_POLICIES:
        raise InputError(f"nan_policy must be one of {', '.join(map(repr, NAN_POLICIES))}, "
                         f"got {nan_policy!r}")
    if _kind_of(data) == "frame":
        _check_frame_columns(data)
    if _kind_of(data) == "xarray":
        criteria_dimension(data, criteria_dim)
    labels = criteria_labels(data, criteria_dim)
    m = criteria_count(data, criteria_dim)
    if m < 1:
        raise InputError("data has no criteria (columns)")
    criteria = Criteria(labels if labels is not None else list(range(m)), labels is not None)
    return criteria, kind_codes(kinds, criteria), Policy(nan_policy, labels, tame=True)


def front_entropy_weight(data: Any, kinds: Any, nan_policy: str = "raise",
                         criteria_dim: Optional[str] = None) -> Tuple[Any, Any]:
    """ternavik.entropy_weight for a lazy input."""
    _, codes, policy = _prepared(data, kinds, nan_policy, criteria_dim)
    return entropy_weight(data, codes, criteria_dim, policy)


def front_topsis(data: Any, weights: Any, kinds: Any, nan_policy: str = "raise",
                 criteria_dim: Optional[str] = None) -> Any:
    """ternavik.topsis for a lazy input; "entropy" weights stay lazy too."""
    from ._criteria import given_weights, weighting
    criteria, codes, policy = _prepared(data, kinds, nan_policy, criteria_dim)
    if isinstance(weights, str):
        weighting(weights)  # refuses unknown names
        if weights.strip().lower() == "entropy":
            vector = entropy_weight(data, codes, criteria_dim, policy)[0]
        else:
            # The other weightings need the whole matrix at once (CRITIC its
            # correlations, Gini its sorted columns): they are derived from
            # the computed matrix, on the alternatives the policy keeps.
            vector = np.asarray(lazy_weights(data, weights, codes, nan_policy, criteria_dim),
                                dtype=np.float64)
    else:
        vector = given_weights(weights, criteria)
    return topsis(data, vector, codes, criteria_dim, policy)


def materialised(data: Any, criteria_dim: Optional[str] = None) -> Any:
    """A lazy input computed into memory as the eager functions take it: a
    pandas DataFrame for a Dask DataFrame (labels kept), a DataFrame labelled
    by the coordinates for a 2-D DataArray (criteria along ``criteria_dim``),
    a 2-D array for a Dask array (leading axes flattened)."""
    kind = _kind_of(data)
    if kind == "frame":
        _check_frame_columns(data)
        return data.compute()
    if kind == "xarray":
        return eager_xarray(data.compute(), criteria_dim)[0]
    array = np.asarray(data.compute())
    return array.reshape(-1, array.shape[-1]) if array.ndim > 2 else array


def lazy_weights(data: Any, weights: str, kinds: Any, nan_policy: str,
                 criteria_dim: Optional[str] = None) -> Any:
    """Named weights of a lazy input, from the computed matrix, labelled by criterion."""
    from .weighting import objective_weights
    return objective_weights(materialised(data, criteria_dim), weights, kinds,
                             nan_policy=nan_policy)


def is_xarray(data: Any) -> bool:
    """Whether ``data`` is an xarray DataArray (checked without importing xarray)."""
    return any(c.__name__ == "DataArray" and c.__module__.startswith("xarray")
               for c in type(data).__mro__)


def criteria_dimension(data: Any, criteria_dim: Optional[str]) -> Any:
    """The DataArray's criteria dimension: the one named, else its last."""
    from ._errors import InputError
    dim = data.dims[-1] if criteria_dim is None else criteria_dim
    if dim not in data.dims:
        raise InputError(f"criteria_dim {dim!r} is not a dimension of the data; its "
                         f"dimensions are {', '.join(map(repr, data.dims))}")
    return dim


def eager_xarray(data: Any, criteria_dim: Optional[str]) -> Tuple[Any, Callable[..., Any]]:
    """An in-memory 2-D DataArray as a DataFrame (alternatives x criteria, labelled
    by its coordinates), and a function that turns a per-alternative result
    back into a DataArray over the alternatives' dimension."""
    from ._errors import InputError
    pd = importlib.import_module("pandas")
    dim = criteria_dimension(data, criteria_dim)
    others = [d for d in data.dims if d != dim]
    if len(others) != 1:
        raise InputError(f"an in-memory DataArray needs two dimensions (alternatives and "
                         f"criteria), got {len(data.dims)}; back it with Dask for more")
    ordered = data.transpose(others[0], dim)
    rows = (list(ordered.coords[others[0]].values) if others[0] in ordered.coords
            else list(range(ordered.shape[0])))
    columns = list(ordered.coords[dim].values) if dim in ordered.coords else None
    frame = pd.DataFrame(np.asarray(ordered.values), index=pd.Index(rows),
                         columns=columns if columns is not None else None)

    def back(result: Any, name: str) -> Any:
        xr = importlib.import_module("xarray")
        coords = {k: v for k, v in ordered.coords.items() if dim not in v.dims}
        return xr.DataArray(np.asarray(result), dims=[others[0]], coords=coords, name=name)
    return frame, back


def _check_frame_columns(frame: Any) -> None:
    """Refuse a Dask DataFrame column that is not numeric before anything is computed."""
    from ._errors import InputError
    for label, dtype in frame.dtypes.items():
        if getattr(dtype, "kind", "O") not in "biuf" or type(dtype).__name__ == \
                "CategoricalDtype":
            raise InputError(f"criterion {label!r} is not numeric: its values are {dtype}")
