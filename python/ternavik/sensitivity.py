"""How the ranking moves as one criterion's weight changes.

For each criterion j in turn its weight runs over a grid of values t while
the other weights keep their proportions and share the rest:
w_k(t) = w_k (1 - t) / (1 - w_j) (equal shares of 1 - t when the others
were all zero). The whole grid, every criterion and every t, is one K x m
weight matrix scored by one native call; ranks then follow for all K rows
at once.
"""

from typing import Any, List, NamedTuple, Optional, Sequence

import numpy as np
import numpy.typing as npt

from ._errors import InputError
from ._magnitude import unit_sum
from .compare import _kept_labels, method as registered_method, method_variants, prepared, rank_rows

Matrix = npt.NDArray[np.float64]


class SensitivityResult(NamedTuple):
    """Ranks along each criterion's weight range.

    ``grid``: the t values (points,). ``scores``/``ranks``: (criteria,
    points, alternatives), ranks 1 = best. ``weights``: all base weights
    (normalised to sum to one); ``base_weight``: those of the varied criteria.
    ``base_ranks``: ranks at the base weights.
    ``switch_weight``: per criterion, the grid weight nearest to its base
    weight at which the top-ranked alternative is another one (NaN when the
    winner never changes over the range). ``criteria``/``alternatives``: labels.
    """

    grid: Matrix
    scores: Matrix
    ranks: npt.NDArray[np.int64]
    weights: Matrix
    base_weight: Matrix
    base_ranks: npt.NDArray[np.int64]
    switch_weight: Matrix
    criteria: List[Any]
    alternatives: List[Any]
    method: str

    def top(self) -> npt.NDArray[np.int64]:
        """Index of the top-ranked alternative at each (criterion, t)."""
        top: npt.NDArray[np.int64] = np.argmin(self.ranks, axis=2)
        return top

    def summary(self) -> Any:
        """A DataFrame by criterion: base weight, switch weight and who wins there."""
        from .compare import _pandas

        winner = self.alternatives[int(np.argmin(self.base_ranks))]
        top = self.top()
        after = []
        for c, t in enumerate(self.switch_weight):
            at = np.flatnonzero(self.grid == t)
            after.append(self.alternatives[int(top[c, at[0]])] if at.size else None)
        return _pandas().DataFrame({
            "base_weight": self.base_weight, "switch_weight": self.switch_weight,
            "top_at_base": [winner] * len(self.criteria), "top_at_switch": after,
        }, index=self.criteria)


def weight_grid(base: Matrix, criteria: Sequence[int], grid: Matrix) -> Matrix:
    """The (len(criteria) * points) x m weights: criterion j set to t, the rest rescaled."""
    m = base.size
    rows = []
    for j in criteria:
        others = base.copy()
        others[j] = 0.0
        rest = others.sum()
        share = others / rest if rest > 0 else np.where(np.arange(m) == j, 0.0, 1.0 / (m - 1))
        block = np.outer(1.0 - grid, share)
        block[:, j] = grid
        rows.append(block)
    return np.ascontiguousarray(np.concatenate(rows)) if rows else np.empty((0, m))


def _switch_weights(grid: Matrix, top: npt.NDArray[np.int64], winner: int,
                    base: Matrix) -> Matrix:
    """Per criterion, the changed-winner grid value nearest to the base weight."""
    out = np.full(top.shape[0], np.nan)
    for c in range(top.shape[0]):
        changed = grid[top[c] != winner]
        if changed.size:
            out[c] = changed[np.argmin(np.abs(changed - base[c]))]
    return out


def sensitivity(data: Any, weights: Any, kinds: Any, method: Any = "topsis",
                criteria: Optional[Sequence[Any]] = None, points: int = 41,
                span: Sequence[float] = (0.0, 1.0),
                nan_policy: str = "raise") -> SensitivityResult:
    """Rank the alternatives while each criterion's weight runs over ``span``.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As for :func:`ternavik.compare` (named weightings allowed); weights
        are normalised to sum to one first. Alternatives left out by "omit"
        are left out of the result too.
    method : str or (str, dict)
        A name from ``ternavik.methods.REGISTRY``, or a name with options
        such as ``("topsis", {"normalization": "minmax"})``.
    criteria : sequence, optional
        Criteria to vary, by label or position (all by default).
    points : int
        Grid values from ``span[0]`` to ``span[1]`` (within [0, 1]).

    Returns
    -------
    SensitivityResult

    Examples
    --------
    >>> import ternavik
    >>> phones = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]]
    >>> result = ternavik.sensitivity(phones, "equal", "-++", points=5)
    >>> result.ranks.shape
    (3, 5, 4)
    """
    variant = method_variants([method])[0]
    chosen = registered_method(variant.name, variant.options)
    low, high = (float(v) for v in span)
    if not 0.0 <= low <= high <= 1.0:
        raise InputError(f"span must satisfy 0 <= low <= high <= 1, got {tuple(span)}")
    if int(points) < 2:
        raise InputError(f"points must be at least 2, got {points}")
    p = prepared(data, weights, kinds, nan_policy)
    if p.values.shape[1] < 2:
        raise InputError("sensitivity moves one weight against the others; data has only "
                         "one criterion, whose weight cannot change any ranking")
    vector = p.weights
    if not vector.sum() > 0:
        raise InputError("weights must have a positive sum")
    base = unit_sum(vector.reshape(1, -1))[0]
    picked = _criterion_positions(p.criteria.labels, criteria)
    grid = np.linspace(low, high, int(points))
    all_weights = np.vstack([base[np.newaxis, :], weight_grid(base, picked, grid)])
    scores = np.asarray(chosen.score(p.values, all_weights, p.codes), dtype=np.float64)
    ranks = rank_rows(scores, chosen.higher_is_better)
    n = scores.shape[1]
    shaped_scores = scores[1:].reshape(len(picked), grid.size, n)
    shaped_ranks = ranks[1:].reshape(len(picked), grid.size, n)
    winner = int(np.argmin(ranks[0]))
    switch = _switch_weights(grid, np.argmin(shaped_ranks, axis=2), winner, base[picked])
    return SensitivityResult(grid, shaped_scores, shaped_ranks, base, base[picked], ranks[0],
                             switch,
                             [p.criteria.labels[j] for j in picked], _kept_labels(p),
                             variant.label)


def _criterion_positions(labels: List[Any], criteria: Optional[Sequence[Any]]) -> List[int]:
    if criteria is None:
        return list(range(len(labels)))
    positions = []
    for c in criteria:
        if c in labels:
            positions.append(labels.index(c))
        elif isinstance(c, (int, np.integer)) and 0 <= int(c) < len(labels):
            positions.append(int(c))
        else:
            raise InputError(f"unknown criterion {c!r}; criteria are "
                             f"{', '.join(map(str, labels))}")
    return positions
