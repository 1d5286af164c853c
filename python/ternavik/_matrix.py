"""One preparation for every decision method: data, kinds, weights, missing values.

    prepared = prepare_matrix(data, kinds, weights, nan_policy)
    closeness = native.topsis(prepared.values, prepared.weights, prepared.codes)
    return prepared.per_alternative(closeness, "closeness")

Each front end takes the same forms of data, kinds, weights and nan_policy,
and gets back exactly the arrays the native functions take: the matrix as
C-ordered float64 (only the alternatives the policy keeps), the kinds as
int64 codes, the weights as float64 aligned to the criteria. Results go back
in the caller's form: arrays for arrays, Series labelled like the DataFrame,
NaN in the rows the policy left out.
"""

from typing import Any, List, Optional, Sequence

import numpy as np
import numpy.typing as npt

from ._criteria import Codes, Criteria, Vector, given_weights, kind_codes, weighting
from ._data import Matrix, check_unique, read_table
from ._errors import InputError
from ._optional import import_optional

NAN_POLICIES = ("raise", "propagate", "omit")


class PreparedMatrix:
    """A decision matrix checked and converted once, with its labels."""

    def __init__(self, values: Matrix, codes: Codes, weights: Vector,
                 criteria: Criteria, alternatives: Optional[Any],
                 kept: Optional[npt.NDArray[np.bool_]]) -> None:
        self.values = values              # kept alternatives only, C-ordered float64
        self.codes = codes                # one int64 kind code per criterion
        self.weights = weights            # aligned float64 weights, empty when not asked
        self.criteria = criteria          # labels (column numbers for plain arrays)
        self.alternatives = alternatives  # the DataFrame's index, None for plain arrays
        self.kept = kept                  # rows kept by nan_policy="omit"; None = all

    @property
    def labelled(self) -> bool:
        """Whether results go back as pandas Series."""
        return self.alternatives is not None

    def per_alternative(self, result: Vector, name: str) -> Any:
        """One value per alternative in the caller's form; NaN for omitted rows."""
        full = result
        if self.kept is not None:
            full = np.full(self.kept.size, np.nan, dtype=result.dtype)
            full[self.kept] = result
        if not self.labelled:
            return full
        pandas = import_optional("pandas", "pandas", "labelled results")
        return pandas.Series(full, index=self.alternatives, name=name)

    def per_criterion(self, result: Vector, name: str) -> Any:
        """One value per criterion: a Series by criterion label for a DataFrame."""
        if not self.labelled:
            return result
        pandas = import_optional("pandas", "pandas", "labelled results")
        return pandas.Series(result, index=pandas.Index(self.criteria.labels), name=name)


def _alternative_name(alternatives: Optional[Any], i: int) -> str:
    """How alternative i is named in messages."""
    return repr(alternatives[i]) if alternatives is not None else f"#{i}"


def _describe(value: float) -> str:
    return "missing (NaN)" if np.isnan(value) else f"infinite ({value})"


def _apply_nan_policy(values: Matrix, policy: str, criteria: Criteria,
                      alternatives: Optional[Any],
                      omit_hint: str = "nan_policy='omit'") -> Optional[npt.NDArray[np.bool_]]:
    """The mask of alternatives to keep, or None to keep them all."""
    if policy not in NAN_POLICIES:
        raise InputError(f"nan_policy must be one of {', '.join(map(repr, NAN_POLICIES))}, "
                         f"got {policy!r}")
    bad = ~np.isfinite(values)
    if policy == "propagate" or not bad.any():
        return None
    if policy == "raise":
        i, j = (int(k) for k in np.argwhere(bad)[0])
        raise InputError(f"alternative {_alternative_name(alternatives, i)}, criterion "
                         f"{criteria.name(j)} is {_describe(values[i, j])}; choose "
                         f"{omit_hint} to leave such alternatives out")
    kept: npt.NDArray[np.bool_] = np.logical_not(bad.any(axis=1))
    if np.count_nonzero(kept) < 2:
        raise InputError(f"only {np.count_nonzero(kept)} of {kept.size} alternatives have no "
                         f"missing or infinite values; at least two are needed")
    return kept


def ranked_policy(nan_policy: str) -> str:
    """The policy for results that rank every alternative they keep: a ranking
    cannot pass a missing value on, so "propagate" refuses one as "raise"
    does, naming it; the other policies are unchanged."""
    return "raise" if nan_policy == "propagate" else nan_policy


def prepare_matrix(data: Any, kinds: Any, weights: Any = None, nan_policy: str = "raise",
                   criteria: Optional[Sequence[Any]] = None,
                   alternatives: Optional[Sequence[Any]] = None,
                   omit_hint: str = "nan_policy='omit'") -> PreparedMatrix:
    """Check and convert a decision method's arguments once.

    ``weights`` is None (the method takes none), a name from
    ``_criteria.WEIGHTINGS`` ("equal", "critic", ...), numbers by position, or a
    mapping/Series by criterion label. ``criteria`` and ``alternatives`` name
    the columns and rows of plain array data in messages (the command line
    passes its header and first column); results stay arrays. Named
    weightings are computed on the alternatives that ``nan_policy`` keeps.
    ``omit_hint`` is how the refusal of a missing value tells the caller to
    leave such alternatives out (the command line says --nan-policy omit).
    """
    table = read_table(data)
    labels: List[Any] = table.criteria if table.criteria is not None else (
        list(criteria) if criteria is not None else list(range(table.values.shape[1])))
    named = table.criteria is not None or criteria is not None
    if named:
        check_unique(labels)
    crits = Criteria(labels, named)
    n, m = table.values.shape
    if n < 2:
        raise InputError(f"data needs at least two alternatives (rows), got {n}")
    if m < 1:
        raise InputError("data has no criteria (columns)")
    codes = kind_codes(kinds, crits)
    derive = weighting(weights) if isinstance(weights, str) else None
    given = given_weights(weights, crits) if weights is not None and derive is None else None
    row_names = table.alternatives if table.alternatives is not None else alternatives
    kept = _apply_nan_policy(table.values, nan_policy, crits, row_names, omit_hint)
    values = table.values if kept is None else np.ascontiguousarray(table.values[kept])
    resolved = derive(values, codes, crits.name) if derive is not None else (
        given if given is not None else np.empty(0, dtype=np.float64))
    return PreparedMatrix(values, codes, resolved, crits, table.alternatives, kept)
