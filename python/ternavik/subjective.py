"""Criterion weights from an analyst's judgements rather than from the data.

    import ternavik
    r = ternavik.subjective.ahp([[1, 3, 5], [1/3, 1, 2], [1/5, 1/2, 1]])
    r.weights, r.consistency_ratio          # CR above 0.1 also warns
    ternavik.subjective.bwm([2, 1, 4, 8], [4, 8, 2, 1]).weights
    ternavik.subjective.rank_order([2, 1, 3], method="roc")
    ternavik.subjective.hierarchy({"cost": (0.6, {"price": 3, "fuel": 1}), "comfort": 0.4})

Every function returns plain float64 arrays for plain input and pandas
Series labelled by criterion when the judgements came labelled (a DataFrame
of pairwise comparisons, Series or mappings of comparisons or ranks), so the
weights can go straight into ``ternavik.topsis`` or any of
``ternavik.methods``.
"""

import math
import warnings
from typing import Any, Dict, List, Mapping, Optional, Tuple

import numpy as np
import numpy.typing as npt

from ._data import check_unique
from ._errors import InputError
from ._optional import import_optional, is_dataframe, is_series

__all__ = ["AHPResult", "BWMResult", "ConsistencyWarning", "RANDOM_INDEX", "ahp", "bwm",
           "hierarchy", "rank_order"]

Vector = npt.NDArray[np.float64]

RANDOM_INDEX: Dict[int, float] = {1: 0.0, 2: 0.0, 3: 0.58, 4: 0.90, 5: 1.12, 6: 1.24,
                                  7: 1.32, 8: 1.41, 9: 1.45, 10: 1.49}
"""Saaty's random consistency index by matrix order; orders 1 and 2 are always consistent."""

_CONSISTENT_RATIO = 0.1
# Largest |a_ij a_ji - 1| accepted by default: 0.333 typed for 1/3 passes.
_RECIPROCAL_TOLERANCE = 1e-3


class ConsistencyWarning(UserWarning):
    """Pairwise judgements whose consistency ratio is above 0.1."""


def _labelled(values: Vector, labels: Optional[List[Any]], name: str) -> Any:
    """values as a Series by criterion label when the input had labels."""
    if labels is None:
        return values
    pandas = import_optional("pandas", "pandas", "labelled weights")
    return pandas.Series(values, index=pandas.Index(labels), name=name)


class AHPResult:
    """Weights from a pairwise comparison matrix and how consistent it was.

    ``weights`` sum to 1 (a Series by criterion for a labelled matrix);
    ``lambda_max`` is the principal eigenvalue (for the geometric-mean method
    the mean of (A w)_i / w_i); ``consistency_index`` is
    (lambda_max - n) / (n - 1); ``consistency_ratio`` divides it by Saaty's
    random index (0 for n <= 2, NaN for n > 10 unless a random index was
    given); ``consistent`` is CR <= 0.1.
    """

    __slots__ = ("weights", "lambda_max", "consistency_index", "consistency_ratio", "method")

    def __init__(self, weights: Any, lambda_max: float, consistency_index: float,
                 consistency_ratio: float, method: str) -> None:
        self.weights = weights
        self.lambda_max = lambda_max
        self.consistency_index = consistency_index
        self.consistency_ratio = consistency_ratio
        self.method = method

    @property
    def consistent(self) -> bool:
        """Whether the judgements pass Saaty's rule CR <= 0.1 (unknown CR passes)."""
        return not self.consistency_ratio > _CONSISTENT_RATIO

    def __repr__(self) -> str:
        values = np.asarray(self.weights, dtype=np.float64)
        labels = list(self.weights.index) if is_series(self.weights) else range(values.size)
        shown = ", ".join(f"{label}: {value:.4f}" for label, value in zip(labels, values))
        verdict = "consistent" if self.consistent else "INCONSISTENT (CR > 0.1)"
        return (f"AHPResult(method={self.method!r}, weights={{{shown}}}, "
                f"lambda_max={self.lambda_max:.4f}, CI={self.consistency_index:.4f}, "
                f"CR={self.consistency_ratio:.4f}: {verdict})")


class BWMResult:
    """Weights of the linear best-worst model and its optimal deviation ``xi``.

    ``best`` and ``worst`` are the positions (labels for labelled input) of
    the criteria the comparisons were made against.
    """

    __slots__ = ("weights", "xi", "best", "worst")

    def __init__(self, weights: Any, xi: float, best: Any, worst: Any) -> None:
        self.weights = weights
        self.xi = xi
        self.best = best
        self.worst = worst

    def __repr__(self) -> str:
        values = np.round(np.asarray(self.weights, dtype=np.float64), 4).tolist()
        return f"BWMResult(weights={values}, xi={self.xi:.4f}, best={self.best!r}, " \
               f"worst={self.worst!r})"


def _pairwise_matrix(pairwise: Any) -> Tuple[Vector, Optional[List[Any]]]:
    """The comparison matrix as float64 with its criterion labels, if any."""
    labels = None
    if is_dataframe(pairwise):
        labels = list(pairwise.columns)
        if list(pairwise.index) != labels:
            raise InputError("a pairwise DataFrame needs the same criteria, in the same "
                             "order, as its index and its columns")
        check_unique(labels)
        pairwise = pairwise.to_numpy()
    try:
        a = np.array(pairwise, dtype=np.float64)
    except (TypeError, ValueError):
        raise InputError("pairwise comparisons must be a square matrix of numbers") from None
    if a.ndim != 2 or a.shape[0] != a.shape[1] or a.shape[0] == 0:
        raise InputError(f"pairwise comparisons must be a non-empty square matrix, "
                         f"got shape {a.shape}")
    return a, labels


def _check_reciprocal(a: Vector, tolerance: float, labels: Optional[List[Any]] = None) -> None:
    """Refuse a matrix that is not positive and reciprocal, naming the first bad pair
    (by criterion label when the matrix is labelled)."""
    def pair(i: int, j: int) -> str:
        return f"({labels[i]!r}, {labels[j]!r})" if labels is not None else f"({i}, {j})"

    def value(i: int, j: int) -> str:
        return repr(float(a[i, j]))

    if not np.isfinite(a).all() or not (a > 0.0).all():
        i, j = np.argwhere(~(np.isfinite(a) & (a > 0.0)))[0]
        raise InputError(f"pairwise comparison {pair(i, j)} is {value(i, j)}; every judgement "
                         f"must be a finite positive number")
    # a_ij * a_ji is 1 for a reciprocal matrix; its distance from 1 is the
    # relative error of a_ji against 1 / a_ij, whichever way it was typed.
    error = np.abs(a * a.T - 1.0)
    if (np.abs(np.diag(a) - 1.0) > tolerance).any():
        i = int(np.argmax(np.abs(np.diag(a) - 1.0)))
        raise InputError(f"pairwise comparison {pair(i, i)} is {value(i, i)}; a criterion "
                         f"compared with itself must be 1")
    if (error > tolerance).any():
        i, j = np.argwhere(error > tolerance)[0]
        raise InputError(f"pairwise comparisons are not reciprocal: {pair(i, j)} is "
                         f"{value(i, j)} but {pair(j, i)} is {value(j, i)}, not "
                         f"1/{value(i, j)} (tolerance {tolerance:g}; write fractions such "
                         f"as 1/3 exactly)")


def _principal_eigenvector(a: Vector) -> Tuple[Vector, float]:
    """Perron vector (sum 1) and root of a positive matrix by power iteration.

    A positive matrix has a simple, real, dominant eigenvalue with a positive
    vector (Perron), so repeated products converge to it from any positive
    start; squaring the matrix between steps makes the error fall
    quadratically in the number of steps.
    """
    power = a / a.sum()
    w = np.full(a.shape[0], 1.0 / a.shape[0])
    for _ in range(64):
        nxt = power @ w
        nxt /= nxt.sum()
        if np.max(np.abs(nxt - w)) <= 4.0 * np.finfo(np.float64).eps * np.max(nxt):
            w = nxt
            break
        w = nxt
        power = power @ power
        power /= power.sum()
    # A few plain steps with the original matrix polish the vector after
    # the squared powers, whose rounding is larger.
    for _ in range(4):
        w = a @ w
        w /= w.sum()
    return w, float(np.mean((a @ w) / w))


def _random_index(n: int, given: Optional[float]) -> float:
    if given is not None:
        value = float(given)
        if not (math.isfinite(value) and value > 0.0):
            raise InputError(f"random_index must be a positive number, got {given!r}")
        return value
    return RANDOM_INDEX.get(n, math.nan)


def ahp(pairwise: Any, *, method: str = "eigenvector", tolerance: float = _RECIPROCAL_TOLERANCE,
        random_index: Optional[float] = None) -> AHPResult:
    """Criterion weights from a matrix of pairwise comparisons (AHP).

    Parameters
    ----------
    pairwise : array_like or DataFrame, shape (n, n)
        ``pairwise[i][j]`` says how much more important criterion i is than
        criterion j (Saaty's 1 to 9 scale, or any positive ratio). The matrix
        must be positive with ones on the diagonal and reciprocal:
        ``pairwise[j][i] == 1 / pairwise[i][j]`` within ``tolerance``. A
        DataFrame with the criteria as index and columns labels the weights.
    method : {"eigenvector", "geometric_mean"}
        Saaty's principal right eigenvector, or the normalised geometric means
        of the rows.
    tolerance : float
        Largest relative error accepted in a reciprocal pair
        (|a_ij a_ji - 1|), so that 0.333 for 1/3 passes at the default 1e-3.
    random_index : float, optional
        Random index to divide the consistency index by; by default Saaty's
        value for n = 3 to 10 (0.58, 0.90, 1.12, 1.24, 1.32, 1.41, 1.45,
        1.49), 0 for n <= 2 (CR = 0) and unknown (CR = NaN) above 10.

    Returns
    -------
    AHPResult
        ``weights`` (sum 1), ``lambda_max``, ``consistency_index``
        CI = (lambda_max - n) / (n - 1), ``consistency_ratio`` CR = CI / RI
        and ``consistent`` (CR <= 0.1). For the geometric-mean method
        lambda_max is the mean of (A w)_i / w_i.

    Raises
    ------
    InputError
        The matrix is not square, not positive, has a diagonal other than 1
        or is not reciprocal.

    Warns
    -----
    ConsistencyWarning
        CR is above 0.1: the weights are still given, but the judgements
        contradict each other more than Saaty's rule accepts.

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.subjective.ahp([[1, 2, 4], [1/2, 1, 2], [1/4, 1/2, 1]])
    >>> r.weights.round(4).tolist()
    [0.5714, 0.2857, 0.1429]
    >>> round(r.consistency_ratio, 12)
    0.0
    """
    a, labels = _pairwise_matrix(pairwise)
    if not (math.isfinite(tolerance) and tolerance >= 0.0):
        raise InputError(f"tolerance must be a non-negative number, got {tolerance!r}")
    _check_reciprocal(a, tolerance, labels)
    n = a.shape[0]
    if method == "eigenvector":
        # Ratios near the ends of binary64 underflow in the products; the
        # result is checked below and refused whole, without a warning first.
        with np.errstate(all="ignore"):
            w, lam = _principal_eigenvector(a)
    elif method in ("geometric_mean", "geometric-mean"):
        g = np.exp(np.log(a).mean(axis=1))
        w = g / g.sum()
        lam = float(np.mean((a @ w) / w))
        method = "geometric_mean"
    else:
        raise InputError(f"method must be 'eigenvector' or 'geometric_mean', got {method!r}")
    if not (np.isfinite(w).all() and (w > 0.0).all() and math.isfinite(lam)):
        # Ratios near the ends of binary64 underflow in the products: say so
        # rather than return NaN weights labelled consistent.
        raise InputError(f"the pairwise comparisons span too many orders of magnitude to "
                         f"solve in double precision (up to {float(a.max()):.3g}); AHP's "
                         f"scale runs from 1/9 to 9")
    # lambda_max >= n for any positive reciprocal matrix; rounding can put a
    # consistent one a few ulps below, which would give a negative CI.
    lam = max(lam, float(n))
    ci = (lam - n) / (n - 1) if n > 1 else 0.0
    ri = _random_index(n, random_index)
    cr = 0.0 if n <= 2 and random_index is None else (ci / ri if ri > 0.0 else math.nan)
    result = AHPResult(_labelled(w, labels, "weight"), lam, ci, cr, method)
    if cr > _CONSISTENT_RATIO:
        warnings.warn(f"pairwise comparisons are inconsistent: consistency ratio {cr:.3f} "
                      f"is above 0.1; revise the judgements that disagree most",
                      ConsistencyWarning, stacklevel=2)
    return result


def _numbers(values: Any, what: str) -> Tuple[Vector, Optional[List[Any]]]:
    """Numbers given per criterion, as float64 in their order, with the
    criteria's labels when they came as a mapping or a Series."""
    labels = None
    if isinstance(values, Mapping) or is_series(values):
        labels = list(values.keys())
        values = list(values.values()) if isinstance(values, Mapping) else values.to_numpy()
    try:
        return np.array(values, dtype=np.float64), labels
    except (TypeError, ValueError):
        raise InputError(f"{what} must be a vector of numbers") from None


def _judgement_vector(values: Any, what: str) -> Tuple[Vector, Optional[List[Any]]]:
    """A vector of comparisons (>= 1) with its labels, if any."""
    v, labels = _numbers(values, what)
    if v.ndim != 1 or v.size < 2:
        raise InputError(f"{what} must be a vector with one comparison per criterion "
                         f"(at least two)")
    if not np.isfinite(v).all() or (v < 1.0).any():
        j = int(np.argmax(~np.isfinite(v) | (v < 1.0)))
        name = labels[j] if labels is not None else f"#{j}"
        raise InputError(f"{what}: comparison for criterion {name} is {float(v[j])!r}; every "
                         f"comparison must be a finite number >= 1")
    return v, labels


def _anchor(values: Vector, given: Any, labels: Optional[List[Any]], what: str) -> int:
    """Position of the best (or worst) criterion: the given one or the only 1."""
    if given is not None:
        if labels is not None and given in labels:
            j = labels.index(given)
        elif isinstance(given, (int, np.integer)) and 0 <= int(given) < values.size:
            j = int(given)
        else:
            raise InputError(f"{what} criterion {given!r} is not one of the criteria")
        if values[j] != 1.0:
            raise InputError(f"the {what} criterion compared with itself must be 1, "
                             f"got {float(values[j])!r}")
        return j
    ones = np.flatnonzero(values == 1.0)
    if ones.size != 1:
        raise InputError(f"the {what} criterion is the one compared as 1; found "
                         f"{ones.size} such criteria, pass {what}= to say which")
    return int(ones[0])


def _linprog() -> Any:
    optimize = import_optional("scipy.optimize", "scipy", "the best-worst method")
    return optimize.linprog


def bwm(best_to_others: Any, others_to_worst: Any, *, best: Any = None,
        worst: Any = None) -> BWMResult:
    """Criterion weights by the linear best-worst method.

    The analyst names the most and the least important criterion and
    compares the best with every criterion and every criterion with the
    worst. The weights solve the linear programme

        minimise xi  subject to  |w_B - a_Bj w_j| <= xi,  |w_j - a_jW w_W| <= xi,
                                 sum_j w_j = 1,  w_j >= 0,

    which has one optimum for any comparisons. It is solved exactly with
    SciPy's HiGHS (``pip install "ternavik[scipy]"``).

    Parameters
    ----------
    best_to_others : array_like, Series or mapping
        a_Bj: how much more important the best criterion is than criterion j
        (1 for the best itself), each >= 1.
    others_to_worst : array_like, Series or mapping
        a_jW: how much more important criterion j is than the worst (1 for
        the worst itself), each >= 1.
    best, worst : int or label, optional
        The best and worst criteria; by default the one criterion compared
        as 1 in each vector.

    Returns
    -------
    BWMResult
        ``weights`` (sum 1; a Series when the comparisons were labelled),
        ``xi`` (0 for perfectly consistent comparisons; the larger, the less
        consistent), ``best`` and ``worst``.

    Raises
    ------
    InputError
        Vectors of different lengths or labels, comparisons below 1, no or
        several candidates for the best or the worst criterion, or a_BW
        stated differently in the two vectors.

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.subjective.bwm([1, 2, 4], [4, 2, 1])
    >>> r.weights.round(4).tolist(), round(r.xi, 12)
    ([0.5714, 0.2857, 0.1429], 0.0)
    """
    a_best, labels = _judgement_vector(best_to_others, "best_to_others")
    a_worst, worst_labels = _judgement_vector(others_to_worst, "others_to_worst")
    if a_best.size != a_worst.size:
        raise InputError(f"best_to_others has {a_best.size} comparisons but "
                         f"others_to_worst has {a_worst.size}")
    if labels is not None and worst_labels is not None and labels != worst_labels:
        if set(labels) != set(worst_labels):
            raise InputError("best_to_others and others_to_worst name different criteria")
        a_worst = a_worst[[worst_labels.index(label) for label in labels]]
    labels = labels if labels is not None else worst_labels
    b = _anchor(a_best, best, labels, "best")
    w_ = _anchor(a_worst, worst, labels, "worst")
    n = a_best.size
    if b == w_:
        raise InputError("the best and the worst criterion must differ")
    if a_best[w_] != a_worst[b]:
        raise InputError(f"the best criterion against the worst is {float(a_best[w_])!r} in "
                         f"best_to_others but {float(a_worst[b])!r} in others_to_worst")
    # Variables: w_0 .. w_{n-1}, xi. Each |expression| <= xi becomes two rows.
    rows = []
    for j in range(n):
        if j != b:
            row = np.zeros(n + 1)
            row[b] += 1.0
            row[j] -= a_best[j]
            rows.append(row)
        if j != w_:
            row = np.zeros(n + 1)
            row[j] += 1.0
            row[w_] -= a_worst[j]
            rows.append(row)
    expression = np.array(rows)
    xi_column = np.zeros((2 * len(rows), n + 1))
    xi_column[:, n] = -1.0
    a_ub = np.vstack([expression, -expression]) + xi_column
    cost = np.zeros(n + 1)
    cost[n] = 1.0
    a_eq = np.ones((1, n + 1))
    a_eq[0, n] = 0.0
    solved = _linprog()(cost, A_ub=a_ub, b_ub=np.zeros(a_ub.shape[0]), A_eq=a_eq, b_eq=[1.0],
                        bounds=[(0.0, None)] * (n + 1), method="highs")
    if not solved.success:
        # The programme is always feasible (w = 1/n with a large xi), so only
        # comparisons the solver cannot represent make it fail: the caller's
        # input, not an internal fault.
        raise InputError(f"the best-worst linear programme cannot be solved for comparisons "
                         f"as large as {float(max(a_best.max(), a_worst.max())):.3g} "
                         f"({solved.message}); BWM's scale runs from 1 to 9")
    w = np.clip(np.asarray(solved.x[:n], dtype=np.float64), 0.0, None)
    w /= w.sum()
    names = (labels[b], labels[w_]) if labels is not None else (b, w_)
    return BWMResult(_labelled(w, labels, "weight"), float(max(solved.x[n], 0.0)), *names)


_RANK_ORDER = ("roc", "rs", "rr")


def _position_weights(n: int, method: str) -> Vector:
    """Weight of the criterion at each position 1..n of the importance order."""
    positions = np.arange(1, n + 1, dtype=np.float64)
    if method == "roc":
        # w_r = (1/n) sum_{k=r}^{n} 1/k, summed from the smallest term up.
        tail = np.cumsum((1.0 / positions)[::-1])[::-1]
        return tail / n
    if method == "rs":
        return 2.0 * (n + 1 - positions) / (n * (n + 1))
    reciprocal = 1.0 / positions
    out: Vector = reciprocal / reciprocal.sum()
    return out


def rank_order(ranks: Any, *, method: str = "roc") -> Any:
    """Weights from an importance order of the criteria.

    Parameters
    ----------
    ranks : array_like, Series or mapping
        The rank of each criterion, 1 for the most important, in the
        criteria's own order (so ``[2, 1, 3]`` makes the second criterion
        the most important). Equal ranks tie: the tied criteria share
        equally the weights of the places they occupy together, whether the
        ranks were written 1, 2, 2, 4 or 1, 2, 2, 3.
    method : {"roc", "rs", "rr"}
        Rank-order centroid w_r = (1/n) sum_{k=r}^{n} 1/k, rank sum
        w_r = 2 (n + 1 - r) / (n (n + 1)) or rank reciprocal
        w_r = (1/r) / sum_k (1/k), for the criterion in place r.

    Returns
    -------
    ndarray or Series
        Weights summing to 1, in the criteria's order (a Series by label for
        a Series or mapping).

    Examples
    --------
    >>> import ternavik
    >>> ternavik.subjective.rank_order([2, 1, 3]).round(4).tolist()
    [0.2778, 0.6111, 0.1111]
    >>> ternavik.subjective.rank_order([1, 2], method="rs").tolist()
    [0.6666666666666666, 0.3333333333333333]
    """
    r, labels = _numbers(ranks, "ranks")
    if r.ndim != 1 or r.size == 0:
        raise InputError("ranks must be a non-empty vector, one rank per criterion")
    if not np.isfinite(r).all() or (r < 1.0).any() or (r != np.floor(r)).any():
        raise InputError("every rank must be a whole number >= 1 (1 = most important)")
    key = method.lower() if isinstance(method, str) else method
    if key not in _RANK_ORDER:
        raise InputError(f"method must be one of {', '.join(map(repr, _RANK_ORDER))}, "
                         f"got {method!r}")
    place = _position_weights(r.size, key)
    order = np.argsort(r, kind="stable")
    weights = np.empty(r.size)
    weights[order] = place
    # Tied criteria share the weights of the places they hold together.
    for value in np.unique(r):
        tied = r == value
        if tied.sum() > 1:
            weights[tied] = weights[tied].mean()
    return _labelled(weights, labels, "weight")


def _local_weights(level: Mapping[Any, Any]) -> List[Tuple[Any, float, Any]]:
    """(name, weight within its level, subtree or None) with the level's weights summing to 1."""
    entries = []
    for name, node in level.items():
        if isinstance(node, tuple):
            if len(node) != 2:
                raise InputError(f"node {name!r} must be a weight or (weight, sub-criteria)")
            weight, children = node
            if not (isinstance(children, Mapping) or is_series(children)):
                raise InputError(f"the sub-criteria of {name!r} must be a mapping")
        else:
            weight, children = node, None
        try:
            value = float(weight)
        except (TypeError, ValueError):
            value = math.nan
        if not (math.isfinite(value) and value >= 0.0):
            raise InputError(f"the weight of {name!r} must be finite and not negative, "
                             f"got {weight!r}")
        entries.append((name, value, children))
    if not entries or not max(value for _, value, _ in entries) > 0.0:
        raise InputError("every level of a hierarchy needs a positive weight")
    try:
        total = math.fsum(value for _, value, _ in entries)
    except OverflowError:
        # Weights near the largest double: only their ratios matter.
        top = max(value for _, value, _ in entries)
        entries = [(name, value / top, children) for name, value, children in entries]
        total = math.fsum(value for _, value, _ in entries)
    return [(name, value / total, children) for name, value, children in entries]


def hierarchy(tree: Mapping[Any, Any]) -> Dict[Any, float]:
    """Global weights of the leaf criteria of a tree of local weights.

    AHP is usually run level by level: the top criteria are weighed against
    each other, then the sub-criteria of each against each other. A leaf's
    global weight is the product of the local weights on its path. Each
    level's weights are normalised to sum 1 first, so they may be given as
    any relative importances (for example an :func:`ahp` result's weights,
    or raw judgements such as 3 and 1).

    Parameters
    ----------
    tree : mapping
        ``{name: weight}`` for a leaf, ``{name: (weight, subtree)}`` for a
        criterion with sub-criteria, where ``subtree`` is a mapping (or a
        Series of weights) of the same form.

    Returns
    -------
    dict
        Global weight of every leaf in depth-first order, summing to 1; ready
        to pass as ``weights`` to any method (leaf names must be the
        criteria's labels).

    Examples
    --------
    >>> import ternavik
    >>> tree = {"cost": (0.6, {"price": 3, "fuel": 1}), "comfort": 0.4}
    >>> {k: round(v, 4) for k, v in ternavik.subjective.hierarchy(tree).items()}
    {'price': 0.45, 'fuel': 0.15, 'comfort': 0.4}
    """
    if not (isinstance(tree, Mapping) or is_series(tree)):
        raise InputError("a hierarchy is a mapping of names to weights or (weight, subtree)")
    leaves: Dict[Any, float] = {}

    def walk(level: Mapping[Any, Any], above: float) -> None:
        for name, local, children in _local_weights(level):
            if children is None:
                if name in leaves:
                    raise InputError(f"criterion {name!r} appears twice in the hierarchy")
                leaves[name] = above * local
            else:
                walk(children, above * local)

    walk(tree, 1.0)
    return leaves
