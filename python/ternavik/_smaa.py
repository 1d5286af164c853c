"""How robust a ranking is when the weights are uncertain (SMAA-2).

    r = ternavik.smaa(df, "-++", method="topsis", samples=10_000, seed=1)
    r.acceptability        # share of weight vectors giving alternative i rank r
    r.central_weights      # the typical weights that make each one best
    r.confidence           # whether those weights do make it best
    r.plot()               # stacked bars, one per alternative

Weight vectors are drawn uniformly from the simplex (optionally within
bounds or following an importance order), scored in blocks by one batched
native call each, and every block's ranks are counted natively.
"""

import math
import numbers
from typing import Any, Mapping, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _engine
from ._criteria import Criteria, align
from ._errors import InputError
from ._matrix import prepare_matrix, ranked_policy
from ._optional import import_optional, is_series

__all__ = ["SMAAResult", "smaa"]

# Weight vectors scored per native call: large enough that the per-call
# preparation is noise, small enough that a (block, n) score array stays
# in cache-friendly megabytes. Fixed, so the draws and the order of the sums
# never depend on anything but the seed and the sample count.
_BLOCK = 8192

# Bounds whose region holds less than this share of the simplex would need
# too many rejected draws; refuse them rather than loop for minutes.
_LEAST_ACCEPTANCE = 1e-4


class SMAAResult:
    """Rank acceptabilities, central weights and confidence factors.

    ``acceptability[i, r]`` is the share of sampled weight vectors that give
    alternative i rank r + 1 (ties share the smallest rank, so with ties a
    column can hold more than its share; every row sums to 1).
    ``central_weights[i]`` is the mean of the weight vectors that rank i
    first (NaN when none does). ``confidence[i]`` is 1 when i is best under
    its own central weights, 0 when it is not, NaN without central weights:
    with exact criterion values the confidence factor of SMAA-2 is this
    indicator. DataFrame input gives DataFrames and a Series labelled by
    alternative and criterion.
    """

    __slots__ = ("acceptability", "central_weights", "confidence", "samples", "method")

    def __init__(self, acceptability: Any, central_weights: Any, confidence: Any,
                 samples: int, method: str) -> None:
        self.acceptability = acceptability
        self.central_weights = central_weights
        self.confidence = confidence
        self.samples = samples
        self.method = method

    def __repr__(self) -> str:
        first = np.asarray(self.acceptability, dtype=np.float64)[:, 0]
        return (f"SMAAResult(method={self.method!r}, samples={self.samples}, "
                f"first-rank acceptability={np.round(first, 4).tolist()})")

    def plot(self, title: Optional[str] = "Rank acceptability") -> Any:
        """Stacked bars of the rank acceptabilities; see :func:`ternavik.plot_acceptability`."""
        from ._pictures import plot_acceptability
        return plot_acceptability(self, title=title)


def _method(method: Any) -> Tuple[Any, bool, str]:
    """The scoring function, its direction and its name."""
    from .methods import REGISTRY
    if isinstance(method, str):
        entry = REGISTRY.get(method.lower())
        if entry is None:
            raise InputError(f"method must be one of {', '.join(sorted(REGISTRY))}, "
                             f"got {method!r}")
        return entry.function, bool(entry.higher_is_better), method.lower()
    if callable(getattr(method, "function", None)) and hasattr(method, "higher_is_better"):
        return method.function, bool(method.higher_is_better), getattr(
            method.function, "__name__", "method")
    raise InputError("method must be a method name or a registry entry "
                     "(with .function and .higher_is_better)")


def _criterion_values(given: Any, criteria: Criteria, named: bool, what: str) -> Any:
    """A mapping by criterion label (or a Series) as a list in criterion order."""
    if not (isinstance(given, Mapping) or is_series(given)):
        return given
    if not named:
        raise InputError(f"{what} given by label needs data with labelled criteria")
    return align(given, criteria, what)


class _Sampler:
    """Draws blocks of weight vectors from one seeded stream."""

    def __init__(self, weights: Any, m: int, rng: np.random.Generator) -> None:
        self.m = m
        self.rng = rng
        self.low: Optional[npt.NDArray[np.float64]] = None
        self.high: Optional[npt.NDArray[np.float64]] = None
        self.order: Optional[npt.NDArray[np.float64]] = None
        if weights is None:
            return
        try:
            spec = np.asarray(weights, dtype=np.float64)
        except (TypeError, ValueError):
            raise InputError(f"weights must be None, ({m}, 2) bounds or {m} importance "
                             f"ranks, got {weights!r}") from None
        if spec.shape == (m, 2):
            self._bounds(spec)
        elif spec.shape == (m,):
            if not (np.isfinite(spec).all() and (spec >= 1).all() and (spec == np.floor(spec)).all()):
                raise InputError("an importance order gives each criterion a whole rank >= 1 "
                                 "(1 = most important)")
            self.order = spec
        else:
            raise InputError(f"weights must be None, ({m}, 2) bounds or {m} importance "
                             f"ranks, got shape {spec.shape}")

    def _bounds(self, spec: npt.NDArray[np.float64]) -> None:
        low, high = spec[:, 0].copy(), spec[:, 1].copy()
        if not (np.isfinite(spec).all() and (low >= 0).all() and (low <= high).all()):
            raise InputError("weight bounds need 0 <= low <= high, finite, for every criterion")
        if low.sum() > 1.0 or high.sum() < 1.0:
            raise InputError(f"weight bounds leave no weights summing to 1: the lows sum to "
                             f"{low.sum():g} and the highs to {high.sum():g}")
        self.low, self.high = low, high

    def _simplex(self, count: int) -> npt.NDArray[np.float64]:
        """count vectors uniform on the simplex: normalised exponential draws."""
        draws = self.rng.standard_exponential((count, self.m))
        out: npt.NDArray[np.float64] = draws / draws.sum(axis=1, keepdims=True)
        return out

    def draw(self, count: int) -> npt.NDArray[np.float64]:
        if self.low is not None and self.high is not None:
            return self._rejected(count)
        w = self._simplex(count)
        if self.order is None:
            return w
        # Uniform on the region w_a >= w_b whenever a ranks before b: sort
        # each vector and hand the largest share to the first criterion.
        # Random keys break the ties of equal ranks, so tied criteria are
        # exchangeable rather than ordered by position.
        ranked = -np.sort(-w, axis=1)
        keys = self.order[np.newaxis, :] + 0.5 * self.rng.random((count, self.m))
        positions = np.argsort(keys, axis=1, kind="stable")
        out = np.empty_like(w)
        np.put_along_axis(out, positions, ranked, axis=1)
        return out

    def _rejected(self, count: int) -> npt.NDArray[np.float64]:
        assert self.low is not None and self.high is not None
        kept = []
        have, tried = 0, 0
        while have < count:
            w = self._simplex(max(count, 1024))
            inside = w[((w >= self.low) & (w <= self.high)).all(axis=1)]
            tried += w.shape[0]
            kept.append(inside)
            have += inside.shape[0]
            if tried >= 1_000_000 and have < _LEAST_ACCEPTANCE * tried:
                raise InputError("the weight bounds cover too small a part of the simplex to "
                                 "sample by rejection; widen them")
        return np.concatenate(kept)[:count]


def _labelled(acceptability: npt.NDArray[np.float64], central: npt.NDArray[np.float64],
              confidence: npt.NDArray[np.float64], prepared: Any) -> Tuple[Any, Any, Any]:
    if not prepared.labelled:
        return acceptability, central, confidence
    pandas = import_optional("pandas", "pandas", "labelled results")
    alternatives = prepared.alternatives
    if prepared.kept is not None:
        alternatives = alternatives[prepared.kept]
    ranks = pandas.Index(range(1, acceptability.shape[1] + 1), name="rank")
    return (pandas.DataFrame(acceptability, index=alternatives, columns=ranks),
            pandas.DataFrame(central, index=alternatives,
                             columns=pandas.Index(prepared.criteria.labels)),
            pandas.Series(confidence, index=alternatives, name="confidence"))


def smaa(data: Any, kinds: Any, *, method: Any = "topsis", samples: int = 10_000,
         seed: Any = None, weights: Any = None, nan_policy: str = "raise",
         **options: Any) -> SMAAResult:
    """Stochastic multicriteria acceptability analysis (SMAA-2) over uncertain weights.

    Parameters
    ----------
    data : array_like or DataFrame, shape (n, m)
        Decision matrix, one row per alternative, as ``ternavik.topsis`` takes it.
    kinds : str, sequence or mapping
        Benefit or cost per criterion, as ``ternavik.topsis`` takes them.
    method : str or registry entry
        A name in ``ternavik.methods.REGISTRY`` ("topsis", "vikor", ...); its
        direction decides which end ranks first.
    samples : int
        Number of weight vectors drawn.
    seed : int, numpy Generator or None
        Seed of the weight draws. The draws come from NumPy's generator in
        fixed blocks and the scores from kernels that are exact for any
        thread count, so the same seed gives the same bits however many
        threads run.
    weights : None, array_like (m, 2), sequence of m ranks, or mapping by criterion
        None draws uniformly from all weight vectors summing to 1. An (m, 2)
        array (or a mapping of (low, high) pairs) keeps the vectors with
        low_j <= w_j <= high_j, uniformly. m ranks (1 = most important; equal
        ranks tie) draw uniformly from the vectors that respect the order.
    nan_policy : {"raise", "omit", "propagate"}
        As ``ternavik.topsis``; with "omit" the results cover the kept
        alternatives only; "propagate" refuses a missing value as "raise"
        does, since no rank can be drawn for it.
    **options
        Passed to the method (for example ``normalization="minmax"``).

    Returns
    -------
    SMAAResult
        ``acceptability`` (n, n), ``central_weights`` (n, m), ``confidence``
        (n); see :class:`SMAAResult`.

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.smaa([[1, 0], [0, 1], [0.4, 0.4]], "++", samples=2000, seed=3)
    >>> r.acceptability.sum(axis=1).tolist()
    [1.0, 1.0, 1.0]
    >>> bool(r.acceptability[0, 0] > 0.4 and r.acceptability[1, 0] > 0.4)
    True
    """
    function, higher, name = _method(method)
    if isinstance(samples, bool) or not isinstance(samples, numbers.Integral) or samples < 1:
        raise InputError(f"samples must be a positive whole number, got {samples!r}")
    prepared = prepare_matrix(data, kinds, None, ranked_policy(nan_policy))
    values, codes = prepared.values, prepared.codes
    n, m = values.shape
    spec = _criterion_values(weights, prepared.criteria, prepared.labelled, "weights")
    try:
        rng = seed if isinstance(seed, np.random.Generator) else np.random.default_rng(seed)
    except (TypeError, ValueError):
        raise InputError(f"seed must be None, a whole number >= 0 or a numpy Generator, "
                         f"got {seed!r}") from None
    sampler = _Sampler(spec, m, rng)
    counts = np.zeros((n, n))
    central = np.zeros((n, m))
    done = 0
    while done < samples:
        size = min(_BLOCK, samples - done)
        block = sampler.draw(size)
        scores = np.asarray(function(data=values, weights=block, kinds=codes, **options),
                            dtype=np.float64)
        block_counts, block_central = _engine.rank_counts(scores, block, int(higher))
        counts += block_counts
        central += block_central
        done += size
    firsts = counts[:, 0]
    with np.errstate(invalid="ignore", divide="ignore"):
        central_weights = central / firsts[:, np.newaxis]
    central_weights[firsts == 0] = np.nan
    confidence = np.full(n, math.nan)
    has = np.flatnonzero(firsts > 0)
    if has.size:
        at_central = np.asarray(function(data=values, weights=central_weights[has], kinds=codes,
                                         **options), dtype=np.float64)
        confidence[has] = _own_first(at_central, has, higher)
    acceptability = counts / float(samples)
    shaped = _labelled(acceptability, central_weights, confidence, prepared)
    return SMAAResult(*shaped, samples=int(samples), method=name)


def _own_first(scores: npt.NDArray[np.float64], rows: npt.NDArray[np.intp],
               higher: bool) -> npt.NDArray[np.float64]:
    """1.0 where alternative rows[k] ranks first in score row k, else 0.0."""
    own = scores[np.arange(rows.size), rows]
    best = np.nanmax(scores, axis=1) if higher else np.nanmin(scores, axis=1)
    out: npt.NDArray[np.float64] = (own == best).astype(np.float64)
    return out
