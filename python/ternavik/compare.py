"""Rank the same alternatives with several methods and see how far they agree.

    result = ternavik.compare(df, "critic", kinds, methods=["topsis", "vikor"])
    result.scores        # alternatives x methods
    result.ranks         # 1 = best under each method
    result.correlation   # methods x methods, the chosen coefficient
    result.higher_is_better   # each method's direction

``weights`` may be an AHP result (:func:`ternavik.subjective.ahp`), and
``methods`` may hold "smaa": SMAA-2's expected rank (or first-rank
acceptability) of another method over sampled weights, as one more column.
"""

import importlib
import inspect
from typing import Any, Callable, Dict, List, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _engine
from ._errors import InputError
from ._matrix import PreparedMatrix, prepare_matrix, ranked_policy
from .correlation import average_ranks, coefficient_code

Matrix = npt.NDArray[np.float64]
Codes = npt.NDArray[np.int64]
Vector = npt.NDArray[np.float64]


class Method(NamedTuple):
    """A decision method as compare and sensitivity use it."""

    # (values, weights, codes) -> scores; weights (m,) give (n,), a (K, m)
    # grid gives (K, n) in one native call
    score: Callable[[Matrix, Any, Codes], Any]
    higher_is_better: bool = True


# Methods added by name beside ``ternavik.methods.REGISTRY`` (which they
# shadow); every method there scores a weight grid in one call.
METHODS: Dict[str, Method] = {}


class CompareResult(NamedTuple):
    """Scores and ranks (alternatives x methods) and the coefficient between methods.

    ``scores.attrs["higher_is_better"]`` (also :attr:`higher_is_better`)
    says each method's direction by column label.
    """

    scores: Any
    ranks: Any
    correlation: Any

    @property
    def higher_is_better(self) -> Any:
        """Each method's direction, a boolean Series by column label."""
        pandas = _pandas()
        return pandas.Series(self.scores.attrs["higher_is_better"], name="higher_is_better",
                             dtype=bool)


class Variant(NamedTuple):
    """A method with its options and the label of its column."""

    label: str
    name: str
    options: Dict[str, Any]


def _label(name: str, options: Dict[str, Any]) -> str:
    if not options:
        return name
    return f"{name}({', '.join(f'{k}={v!r}' for k, v in options.items())})"


# SMAA as a compared method: its own options, the rest go to the ranking method.
_SMAA_OPTIONS = ("method", "samples", "seed", "weights", "measure")
SMAA_MEASURES = ("expected_rank", "first_rank")


def _smaa_method(options: Dict[str, Any]) -> Method:
    """SMAA-2 of ``options["method"]`` (topsis) as a column: each alternative's
    expected rank over the sampled weight vectors (lower is better), or with
    ``measure="first_rank"`` its first-rank acceptability (higher is better).
    The compared weights are not used: SMAA draws its own, from the whole
    simplex or within ``weights`` (bounds or an importance order)."""
    from ._smaa import smaa

    own = {k: options[k] for k in _SMAA_OPTIONS if k in options}
    extra = {k: v for k, v in options.items() if k not in own}
    measure = own.pop("measure", "expected_rank")
    if measure not in SMAA_MEASURES:
        raise InputError(f"the smaa measure must be one of {', '.join(SMAA_MEASURES)}, "
                         f"got {measure!r}")
    inner = str(own.get("method", "topsis"))
    if inner.strip().lower() == "smaa":
        raise InputError("smaa ranks by another method, not by smaa itself")
    method(inner, extra)  # refuses an unknown method or options it does not take

    def score(values: Matrix, weights: Any, codes: Codes) -> Any:
        result = smaa(values, codes, **own, **extra)
        shares = np.asarray(result.acceptability, dtype=np.float64)
        column = shares[:, 0] if measure == "first_rank" else \
            shares @ np.arange(1.0, shares.shape[1] + 1.0)
        weights = np.asarray(weights)
        return np.tile(column, (weights.shape[0], 1)) if weights.ndim == 2 else column

    return Method(score, measure == "first_rank")


def _smaa_weights_in_order(variant: Variant, p: PreparedMatrix) -> Variant:
    """SMAA's bounds or importance ranks given by criterion label, put in the
    criteria's order: its scorer sees the plain matrix, without the labels."""
    from ._criteria import is_keyed
    from ._smaa import _criterion_values

    given = variant.options.get("weights")
    if variant.name.strip().lower() != "smaa" or not is_keyed(given):
        return variant
    ordered = _criterion_values(given, p.criteria, p.criteria.named, "smaa weights")
    return variant._replace(options={**variant.options, "weights": ordered})


def method(name: str, options: Any = None) -> Method:
    """The method called ``name`` with ``options``, or InputError listing the names."""
    from .methods import REGISTRY

    key = str(name).strip().lower()
    options = dict(options or {})
    if key in METHODS and not options:
        return METHODS[key]
    if key == "smaa" and key not in METHODS:
        return _smaa_method(options)
    entry = REGISTRY.get(key)
    if entry is None:
        known = sorted(set(REGISTRY) | set(METHODS) | {"smaa"})
        raise InputError(f"unknown method {name!r}; choose from {', '.join(known)}")
    function = entry.function
    try:
        inspect.signature(function).bind(None, None, None, **options)
    except TypeError:
        accepted = [p for p in inspect.signature(function).parameters
                    if p not in ("data", "weights", "kinds", "nan_policy")]
        raise InputError(f"method {key!r} takes the options {', '.join(accepted) or 'none'}; "
                         f"got {', '.join(map(repr, options))}") from None
    return Method(lambda values, weights, codes: function(values, weights, codes, **options),
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


def prepared(data: Any, weights: Any, kinds: Any, nan_policy: str = "raise") -> PreparedMatrix:
    """The checked matrix, kind codes and weights (named weightings and AHP
    results resolved), with labels."""
    from .subjective import AHPResult

    if isinstance(weights, AHPResult):
        weights = weights.weights
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


MethodsLike = Union[str, Sequence[Any], Dict[str, Any]]


def _variant(item: Any, label: Any = None) -> Variant:
    """One method variant from a name, a (name, options) pair or a mapping with "method"."""
    if isinstance(item, Variant):
        return item
    if isinstance(item, str):
        name, options = item.strip(), {}
    elif isinstance(item, dict):
        options = dict(item)
        name = str(options.pop("method", "")).strip()
    elif isinstance(item, (tuple, list)) and len(item) == 2 and isinstance(item[1], dict):
        name, options = str(item[0]).strip(), dict(item[1])
    else:
        raise InputError(f"a method is a name, a (name, options) pair or a mapping with "
                         f"'method'; got {item!r}")
    if not name:
        raise InputError(f"a method needs a name, got {item!r}")
    return Variant(str(label) if label is not None else _label(name.lower(), options),
                   name, options)


def method_variants(methods: MethodsLike) -> List[Variant]:
    """The methods to compare, checked: names from a list or one comma-separated
    string, (name, options) pairs, or a mapping from column label to either."""
    if isinstance(methods, str):
        variants = [_variant(s) for s in methods.split(",")] if methods.strip() else []
    elif isinstance(methods, dict):
        variants = [_variant(item, label) for label, item in methods.items()]
    else:
        variants = [_variant(item) for item in methods]
    if not variants:
        raise InputError(f"methods must name at least one method, got {methods!r}")
    labels = [v.label for v in variants]
    if len(set(labels)) != len(labels):
        raise InputError(f"methods names a method twice: {', '.join(labels)}")
    for v in variants:
        method(v.name, v.options)
    return variants


def method_names(methods: MethodsLike) -> List[str]:
    """The column labels of the methods to compare, checked."""
    return [v.label for v in method_variants(methods)]


def compare_arrays(values: Matrix, weights: Vector, codes: Codes, methods: MethodsLike,
                   coefficient: str = "spearman"
                   ) -> Tuple[Matrix, npt.NDArray[np.int64], Matrix]:
    """Scores and ranks (n x methods) and the coefficient matrix, from prepared arrays."""
    code = coefficient_code(coefficient)
    variants = method_variants(methods)
    chosen = [method(v.name, v.options) for v in variants]
    scores = np.column_stack([np.asarray(m.score(values, weights, codes), dtype=np.float64)
                              for m in chosen])
    ranks = np.column_stack([rank_rows(scores[:, [c]].T, m.higher_is_better)[0]
                             for c, m in enumerate(chosen)])
    # Coefficients take tied alternatives at the average of their ranks.
    ties = average_ranks(np.ascontiguousarray(ranks.T, dtype=np.float64))
    matrix: Matrix = _engine.rank_coefficients(ties, code)
    return scores, ranks, matrix


def directions(methods: MethodsLike) -> Dict[str, bool]:
    """Each compared method's direction by column label."""
    return {v.label: method(v.name, v.options).higher_is_better
            for v in method_variants(methods)}


def compare(data: Any, weights: Any, kinds: Any, methods: MethodsLike = ("topsis",),
            coefficient: str = "spearman", nan_policy: str = "raise") -> CompareResult:
    """Score and rank the alternatives with several methods, and compare the rankings.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As for :func:`ternavik.topsis`; ``weights`` may name any weighting of
        ``ternavik.weighting.WEIGHTINGS`` ("critic", "entropy", ...), computed
        once and given to every method, or be the result of
        :func:`ternavik.subjective.ahp` (its weights, by criterion label when
        the judgements are labelled).
    methods : str, sequence or mapping
        Names from ``ternavik.methods.REGISTRY`` (a list or one
        comma-separated string); an entry may be a ``(name, options)`` pair
        such as ``("promethee2", {"preference": "v-shape", "p": 2.0})`` or
        ``("topsis", {"normalization": "minmax"})``, labelled
        ``promethee2(preference='v-shape', p=2.0)``; a mapping gives each
        entry its own column label. ``"smaa"`` adds SMAA-2 of a method
        (options ``method`` (topsis), ``samples``, ``seed``, ``weights`` as
        :func:`ternavik.smaa` takes them, and the method's own options): its
        score is each alternative's expected rank over the drawn weight
        vectors (lower is better), or with ``measure="first_rank"`` its
        first-rank acceptability (higher is better). SMAA draws its own
        weights; the compared ``weights`` do not enter it.
    coefficient : str
        One of ``ternavik.correlation.COEFFICIENTS``; tied alternatives
        enter it at the average of their ranks.

    Returns
    -------
    CompareResult
        ``(scores, ranks, correlation)``: two DataFrames of alternatives x
        methods (scores as each method gives them, with each method's
        direction in ``scores.attrs["higher_is_better"]``; ranks with 1 for
        the best, whichever way the method's scores point) and the methods x
        methods DataFrame of the coefficient, entry (a, b) comparing b against
        a. Alternatives left out by ``nan_policy="omit"`` get NaN scores, rank
        last and do not enter the coefficient.

    Examples
    --------
    >>> import ternavik
    >>> phones = [[250, 16, 12], [200, 16, 8], [300, 32, 16], [275, 32, 8]]
    >>> result = ternavik.compare(phones, "equal", "-++",
    ...                           methods=["topsis", ("vikor", {"v": 0.3})])
    >>> result.ranks.columns.tolist()
    ['topsis', 'vikor(v=0.3)']
    >>> result.higher_is_better.tolist()
    [True, False]
    """
    pandas = _pandas()
    variants = method_variants(methods)
    coefficient_code(coefficient)
    from ._dask import is_lazy, materialised
    if is_lazy(data):
        data = materialised(data)
    p = prepared(data, weights, kinds, ranked_policy(nan_policy))
    variants = [_smaa_weights_in_order(v, p) for v in variants]
    kept_scores, kept_ranks, between = compare_arrays(p.values, p.weights, p.codes, variants,
                                                      coefficient)
    scores, ranks = kept_scores, kept_ranks
    if p.kept is not None:
        scores = np.full((p.kept.size, len(variants)), np.nan)
        scores[p.kept] = kept_scores
        ranks = np.full((p.kept.size, len(variants)), kept_ranks.shape[0] + 1, dtype=np.int64)
        ranks[p.kept] = kept_ranks
    index = p.alternatives if p.alternatives is not None else pandas.RangeIndex(len(scores))
    labels = [v.label for v in variants]
    score_table = pandas.DataFrame(scores, index=index, columns=labels)
    score_table.attrs["higher_is_better"] = directions(variants)
    return CompareResult(score_table, pandas.DataFrame(ranks, index=index, columns=labels),
                         pandas.DataFrame(between, index=labels, columns=labels))
