"""Rank the same alternatives with several methods and see how far they agree.

    result = ternavik.compare(df, kinds, "critic", methods=["topsis", "vikor"])
    result.scores        # alternatives x methods
    result.ranks         # 1 = best under each method
    result.correlation   # methods x methods, the chosen coefficient
"""

import importlib
from typing import Any, Callable, Dict, List, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _engine
from ._errors import InputError
from ._matrix import PreparedMatrix, prepare_matrix
from .correlation import coefficient_code

Matrix = npt.NDArray[np.float64]
Codes = npt.NDArray[np.int64]
Vector = npt.NDArray[np.float64]


class Method(NamedTuple):
    """A decision method as compare and sensitivity use it."""

    # (values, codes, weights) -> scores; weights (m,) give (n,), a (K, m)
    # grid gives (K, n) in one native call
    score: Callable[[Matrix, Codes, Any], Any]
    higher_is_better: bool = True


# Methods added by name beside ``ternavik.methods.REGISTRY`` (which they
# shadow); every method there scores a weight grid in one call.
METHODS: Dict[str, Method] = {}


class CompareResult(NamedTuple):
    """Scores and ranks (alternatives x methods) and the coefficient between methods."""

    scores: Any
    ranks: Any
    correlation: Any


def method(name: str) -> Method:
    """The method called ``name``, or InputError listing the names."""
    from .methods import REGISTRY

    key = str(name).strip().lower()
    if key in METHODS:
        return METHODS[key]
    entry = REGISTRY.get(key)
    if entry is None:
        known = sorted(set(REGISTRY) | set(METHODS))
        raise InputError(f"unknown method {name!r}; choose from {', '.join(known)}")
    function = entry.function
    return Method(lambda values, codes, weights: function(values, codes, weights),
                  entry.higher_is_better)


def rank_rows(scores: Matrix, higher_is_better: bool = True) -> npt.NDArray[np.int64]:
    """Rank every row of scores at once like :func:`ternavik.rank` (1 best).

    Ties share the best rank of their group; NaN ranks last, after every real
    score of its row.
    """
    keys = -scores if higher_is_better else scores
    k, n = keys.shape
    order = np.argsort(keys, axis=1, kind="stable")
    ordered = np.take_along_axis(keys, order, axis=1)
    starts = np.ones((k, n), dtype=bool)
    starts[:, 1:] = ordered[:, 1:] != ordered[:, :-1]
    position = np.where(starts, np.arange(n), 0)
    ranked = np.maximum.accumulate(position, axis=1) + 1
    ranks = np.empty((k, n), dtype=np.int64)
    np.put_along_axis(ranks, order, ranked, axis=1)
    missing = np.isnan(keys)
    if missing.any():
        real = n - missing.sum(axis=1, keepdims=True)
        ranks = np.where(missing, real + 1, ranks)
    return ranks


def prepared(data: Any, kinds: Any, weights: Any, nan_policy: str = "raise") -> PreparedMatrix:
    """The checked matrix, kind codes and weights (named weightings resolved), with labels."""
    return prepare_matrix(data, kinds, weights, nan_policy)


def _kept_labels(p: PreparedMatrix) -> List[Any]:
    """Labels of the alternatives the missing-value policy kept."""
    n = p.values.shape[0] if p.kept is None else p.kept.size
    labels = list(p.alternatives) if p.alternatives is not None else list(range(n))
    return labels if p.kept is None else [a for a, keep in zip(labels, p.kept) if keep]


def _pandas() -> Any:
    try:
        return importlib.import_module("pandas")
    except ImportError:
        raise ImportError('ternavik.compare returns DataFrames and needs pandas; install it '
                          'with pip install "ternavik[pandas]"') from None


def method_names(methods: Union[str, Sequence[str]]) -> List[str]:
    """Method names from a list or one comma-separated string, checked."""
    names = ([s.strip() for s in methods.split(",")] if isinstance(methods, str)
             else [str(s).strip() for s in methods])
    if not names or not all(names):
        raise InputError(f"methods must name at least one method, got {methods!r}")
    if len(set(names)) != len(names):
        raise InputError(f"methods names a method twice: {', '.join(names)}")
    for name in names:
        method(name)
    return names


def compare_arrays(values: Matrix, codes: Codes, weights: Vector, names: Sequence[str],
                   coefficient: str = "spearman") -> Tuple[Matrix, npt.NDArray[np.int64], Matrix]:
    """Scores and ranks (n x methods) and the coefficient matrix, from prepared arrays."""
    code = coefficient_code(coefficient)
    chosen = [method(name) for name in names]
    scores = np.column_stack([np.asarray(m.score(values, codes, weights), dtype=np.float64)
                              for m in chosen])
    ranks = np.column_stack([rank_rows(scores[:, [c]].T, m.higher_is_better)[0]
                             for c, m in enumerate(chosen)])
    matrix: Matrix = _engine.rank_coefficients(np.ascontiguousarray(ranks.T, dtype=np.float64),
                                               code)
    return scores, ranks, matrix


def compare(data: Any, kinds: Any, weights: Any,
            methods: Union[str, Sequence[str]] = ("topsis",),
            coefficient: str = "spearman", nan_policy: str = "raise") -> CompareResult:
    """Score and rank the alternatives with several methods, and compare the rankings.

    ``data``, ``kinds``, ``weights`` and ``nan_policy`` are as for
    :func:`ternavik.topsis`; ``weights`` may name any weighting of
    ``ternavik.weighting.WEIGHTINGS`` ("critic", "entropy", ...), computed once
    and given to every method. ``methods`` lists names from
    ``ternavik.methods.REGISTRY`` (or is one comma-separated string).
    ``coefficient`` is one of ``ternavik.correlation.COEFFICIENTS``.

    Returns ``CompareResult(scores, ranks, correlation)``: two DataFrames of
    alternatives x methods (scores as each method gives them; ranks with 1
    for the best, whichever way the method's scores point) and the methods x
    methods DataFrame of the coefficient, entry (a, b) comparing b against a.
    Alternatives left out by ``nan_policy="omit"`` get NaN scores, rank last
    and do not enter the coefficient.
    """
    pandas = _pandas()
    names = method_names(methods)
    coefficient_code(coefficient)
    p = prepared(data, kinds, weights, nan_policy)
    kept_scores, kept_ranks, between = compare_arrays(p.values, p.codes, p.weights, names,
                                                      coefficient)
    scores, ranks = kept_scores, kept_ranks
    if p.kept is not None:
        scores = np.full((p.kept.size, len(names)), np.nan)
        scores[p.kept] = kept_scores
        ranks = np.full((p.kept.size, len(names)), kept_ranks.shape[0] + 1, dtype=np.int64)
        ranks[p.kept] = kept_ranks
    index = p.alternatives if p.alternatives is not None else pandas.RangeIndex(len(scores))
    return CompareResult(pandas.DataFrame(scores, index=index, columns=names),
                         pandas.DataFrame(ranks, index=index, columns=names),
                         pandas.DataFrame(between, index=names, columns=names))
