"""Outranking, grey relations, MULTIMOORA and VIKOR's compromise set.

Re-exported from :mod:`ternavik.methods`; each takes ``(data, weights,
kinds)`` in the forms the other methods take, including a (K, m) batch of
weight vectors for the native ones.
"""

from typing import Any, List, NamedTuple

import numpy as np
import numpy.typing as npt

from . import _engine
from ._errors import InputError
from ._optional import import_optional, is_series

__all__ = ["Electre1Result", "MultimooraResult", "Promethee1Result", "electre1", "gra",
           "multimoora", "promethee1", "vikor_compromise"]


def _common() -> Any:
    # methods imports this module at its end; reach back lazily for the
    # preparation helpers every method shares.
    from . import methods
    return methods


def _normalised(weights: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Each weight vector divided by its sum: flows then stay in [0, 1]
    whatever scale the weights were given in."""
    return np.ascontiguousarray(weights / weights.sum(axis=1, keepdims=True))


def _labelled_square(values: Any, prepared: Any) -> Any:
    """An n x n array labelled by the kept alternatives on both axes."""
    matrix = prepared.matrix
    if not matrix.labelled or values.ndim != 2:
        return values
    pandas = import_optional("pandas", "pandas", "labelled results")
    names = matrix.alternatives if matrix.kept is None else matrix.alternatives[matrix.kept]
    return pandas.DataFrame(values, index=names, columns=names)


def gra(data: Any, weights: Any, kinds: Any, *, zeta: float = 0.5,
        nan_policy: str = "raise") -> Any:
    """Grey relational grade (higher is better).

    r = min-max normalisation in each criterion's direction (a constant
    criterion is 1 for everyone), Delta = 1 - r its deviation from the ideal;
    with Delta_min and Delta_max over the whole matrix the coefficient is
    (Delta_min + zeta Delta_max) / (Delta + zeta Delta_max) (1 when nothing
    deviates); the grade is the weighted sum of the coefficients with the
    weights divided by their sum first.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As every method in :mod:`ternavik.methods`.
    zeta : float
        Distinguishing coefficient in (0, 1].

    Returns
    -------
    ndarray or Series
        The grade of every alternative, in [0, 1].

    Examples
    --------
    >>> import ternavik
    >>> ternavik.methods.gra([[1, 2], [2, 4], [3, 3]], [1, 3], "+-").round(4).tolist()
    [0.8333, 0.375, 0.625]
    """
    methods = _common()
    value = float(zeta)
    if not 0.0 < value <= 1.0:
        raise InputError(f"zeta must lie in (0, 1], got {zeta!r}")
    p = methods._prepared(data, weights, kinds, nan_policy, "GRA", methods.ANY)
    return methods._shaped(_engine.gra_scores(p.values, p.weights, p.codes, value), p, "grade",
                           True)


class Promethee1Result(NamedTuple):
    """PROMETHEE I: leaving and entering flows and the partial order they give.

    ``relation[a, b]`` is "P" when a is preferred to b (phi+ not lower and
    phi- not higher, one of them strictly), "-" when b is preferred to a,
    "I" when both flows are equal and "R" when a and b are incomparable.
    """
    positive: Any
    negative: Any
    relation: Any


def _relation(plus: npt.NDArray[np.float64], minus: npt.NDArray[np.float64]) -> Any:
    """The n x n one-letter relation of one pair of flow vectors."""
    at_least = (plus[:, None] >= plus[None, :]) & (minus[:, None] <= minus[None, :])
    same = (plus[:, None] == plus[None, :]) & (minus[:, None] == minus[None, :])
    better = at_least & ~same
    out = np.full(better.shape, "R", dtype="<U1")
    out[better] = "P"
    out[better.T] = "-"
    out[same] = "I"
    return out


def promethee1(data: Any, weights: Any, kinds: Any, *, preference: Any = "usual",
               q: Any = 0.0, p: Any = 0.0, s: Any = 1.0,
               nan_policy: str = "raise") -> Promethee1Result:
    """PROMETHEE I: the leaving and entering flows and the partial order they give.

    The preference functions and thresholds are those of
    :func:`ternavik.methods.promethee2`; the weights are divided by their sum
    first. phi+_i = sum_j w_j sum_k P_j(d_ik) / (n - 1) and
    phi-_i = sum_j w_j sum_k P_j(d_ki) / (n - 1).

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As every method in :mod:`ternavik.methods`.
    preference, q, p, s
        As :func:`ternavik.methods.promethee2`.

    Returns
    -------
    Promethee1Result
        ``positive`` (phi+, higher is better) and ``negative`` (phi-, lower is
        better) per alternative, and ``relation``, an n x n array of "P", "-",
        "I", "R" (a DataFrame for a DataFrame; (K, n, n) for K weight vectors).
        Alternatives left out by ``nan_policy="omit"`` have NaN flows and no
        row in ``relation``.

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.methods.promethee1([[1, 9], [9, 1], [0, 0]], [1, 1], "++")
    >>> r.positive.tolist(), r.negative.tolist()
    ([0.75, 0.75, 0.0], [0.25, 0.25, 1.0])
    >>> r.relation.tolist()
    [['I', 'I', 'P'], ['I', 'I', 'P'], ['-', '-', 'I']]
    """
    methods = _common()
    prep = methods._prepared(data, weights, kinds, nan_policy, "PROMETHEE I", methods.ANY)
    m = prep.values.shape[1]
    codes = methods._preference_codes(preference, m)
    qs, ps, ss = (methods._per_criterion_floats(x, m, name)
                  for x, name in ((q, "q"), (p, "p"), (s, "s")))
    methods._check_thresholds(codes, qs, ps, ss, prep.matrix.criteria.name)
    plus, minus = _engine.promethee1_flows(prep.values, _normalised(prep.weights), prep.codes,
                                           codes, prep.tamed(qs), prep.tamed(ps),
                                           prep.tamed(ss))
    relation = np.stack([_relation(a, b) for a, b in zip(plus, minus)])
    shown = _labelled_square(relation[0], prep) if not prep.batched else relation
    return Promethee1Result(methods._shaped(plus, prep, "positive flow", True),
                            methods._shaped(minus, prep, "negative flow", False), shown)


class Electre1Result(NamedTuple):
    """ELECTRE I: who outranks whom, and the kernel nobody outranks."""
    outranking: Any
    kernel: Any


def electre1(data: Any, weights: Any, kinds: Any, *, c: float = 0.65, d: float = 0.35,
             nan_policy: str = "raise") -> Electre1Result:
    """ELECTRE I outranking and kernel.

    With f_j = x_j on benefit and -x_j on cost criteria, a outranks b
    (a != b) when the concordance, the sum of the weights (divided by their
    total) of the criteria with f_j(a) >= f_j(b), is at least ``c``, and the
    discordance, the largest f_j(b) - f_j(a) over the largest range of any
    criterion, is at most ``d``. The kernel holds the alternatives no other
    alternative outranks.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As every method in :mod:`ternavik.methods`; "propagate" is refused, a
        missing value has no place in a pairwise comparison.
    c, d : float
        Concordance and discordance thresholds in [0, 1].

    Returns
    -------
    Electre1Result
        ``outranking``, an n x n boolean array (a DataFrame for a DataFrame;
        (K, n, n) for K weight vectors), and ``kernel``, the positions (labels
        for a DataFrame) of the unbeaten alternatives (a list per weight
        vector for a batch).

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.methods.electre1([[10, 5], [8, 6], [2, 1]], [1, 1], "+-", c=0.5, d=0.5)
    >>> r.outranking.astype(int).tolist(), r.kernel
    ([[0, 1, 1], [0, 0, 0], [0, 0, 0]], [0])
    """
    methods = _common()
    if nan_policy == "propagate":
        raise InputError("ELECTRE I cannot compare missing values; use nan_policy 'omit'")
    cut, veto = methods._fraction(c, "c"), methods._fraction(d, "d")
    # Not scale_free: the discordance weighs every criterion's loss against
    # the widest range of all, so no criterion may be rescaled on its own.
    prep = methods._prepared(data, weights, kinds, nan_policy, "ELECTRE I", methods.ANY,
                             scale_free=False)
    n = prep.values.shape[0]
    flat = _engine.electre1_outranking(prep.values, prep.weights, prep.codes, cut, veto)
    outranks = flat.reshape(-1, n, n) != 0.0
    matrix = prep.matrix
    names = None
    if matrix.labelled:
        names = list(matrix.alternatives if matrix.kept is None
                     else matrix.alternatives[matrix.kept])
    kernels: List[Any] = []
    for one in outranks:
        unbeaten = np.flatnonzero(~one.any(axis=0)).tolist()
        kernels.append([names[i] for i in unbeaten] if names is not None else unbeaten)
    if prep.batched:
        return Electre1Result(outranks, kernels)
    return Electre1Result(_labelled_square(outranks[0], prep), kernels[0])


class MultimooraResult(NamedTuple):
    """MULTIMOORA's three parts and their combined rank (1 = best).

    ``ratio_system`` (higher better), ``reference_point`` (lower better),
    ``full_multiplicative`` (higher better), ``rank``.
    """
    ratio_system: Any
    reference_point: Any
    full_multiplicative: Any
    rank: Any


def _min_ranks(scores: npt.NDArray[np.float64], higher: bool) -> npt.NDArray[np.int64]:
    keyed = -scores if higher else scores
    out: npt.NDArray[np.int64] = 1 + (keyed[None, :] < keyed[:, None]).sum(axis=1)
    return out


def _dominance_rank(ranks: npt.NDArray[np.int64]) -> npt.NDArray[np.float64]:
    """One rank from three by dominance: a dominates b when it ranks better
    in at least two of the three; alternatives are ordered by how many they
    dominate less how many dominate them, and equal balances share the
    smallest rank."""
    better = (ranks[:, None, :] < ranks[None, :, :]).sum(axis=2) >= 2
    balance = better.sum(axis=1) - better.sum(axis=0)
    return _min_ranks(balance.astype(np.float64), True).astype(np.float64)


def multimoora(data: Any, weights: Any, kinds: Any, *, nan_policy: str = "raise") -> MultimooraResult:
    """MULTIMOORA: ratio system, reference point and full multiplicative form.

    On the vector normalisation r = x / sqrt(sum x^2) with the weights
    divided by their sum: the ratio system is sum_benefit w r - sum_cost w r
    (higher better); the reference point is max_j w_j |r*_j - r_ij| with r*
    the best value of each criterion (lower better); the full multiplicative
    form is prod_benefit x^w / prod_cost x^w, computed as
    exp(sum w ln x) (higher better; values must be > 0). The three rankings
    are combined by dominance (Brauers and Zavadskas): a dominates b when it
    ranks better in at least two of the three; the final order is by the
    number of alternatives each dominates less the number dominating it,
    and equal balances share the smallest rank.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As every method in :mod:`ternavik.methods`.

    Returns
    -------
    MultimooraResult
        The three scores and ``rank`` (1 = best; NaN for left-out rows).

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.methods.multimoora([[10, 5], [8, 6], [2, 1]], [1, 1], "+-")
    >>> r.rank.tolist()
    [1.0, 3.0, 2.0]
    """
    methods = _common()
    # Its own power-of-two scaling below keeps the products it reports in
    # the caller's units, so the preparation leaves the columns alone.
    prep = methods._prepared(data, weights, kinds, nan_policy, "MULTIMOORA",
                             methods.POSITIVE_ONLY, scale_free=False)
    x = prep.values
    if not (x[~np.isnan(x)] > 0.0).all():
        raise InputError("the full multiplicative form needs every value > 0")
    benefit = prep.codes == 1
    # 2^k scaling keeps the norm finite for any finite column and changes
    # no bits of r, since scaling by a power of two is exact.
    scale = np.exp2(-np.floor(np.log2(np.nanmax(np.abs(x), axis=0))))
    scaled = x * scale
    r = scaled / np.sqrt(np.nansum(scaled * scaled, axis=0))
    best = np.where(benefit, np.nanmax(r, axis=0), np.nanmin(r, axis=0))
    # Rows with a missing value (nan_policy="propagate") get NaN and take no
    # part in the ranking of the others.
    whole = ~np.isnan(x).any(axis=1)
    parts = [_multimoora_parts(x, r, best, benefit, w, whole)
             for w in _normalised(prep.weights)]
    ratio, reference, full, final = (np.stack(column) for column in zip(*parts))
    shaped = methods._shaped
    return MultimooraResult(shaped(ratio, prep, "ratio system", True),
                            shaped(reference, prep, "reference point", False),
                            shaped(full, prep, "full multiplicative", True),
                            shaped(final, prep, "rank", False))


def _multimoora_parts(x: npt.NDArray[np.float64], r: npt.NDArray[np.float64],
                      best: npt.NDArray[np.float64], benefit: npt.NDArray[np.bool_],
                      w: npt.NDArray[np.float64], whole: npt.NDArray[np.bool_]) -> Any:
    """The three scores and the dominance rank for one weight vector."""
    ratio = (r[:, benefit] * w[benefit]).sum(axis=1) - (r[:, ~benefit] * w[~benefit]).sum(axis=1)
    reference = (w * np.abs(best - r)).max(axis=1)
    logs = np.log(x) * w
    log_full = logs[:, benefit].sum(axis=1) - logs[:, ~benefit].sum(axis=1)
    # Ranked by the logarithm, which stays finite and ordered where the
    # product itself would overflow or underflow.
    ranks = np.stack([_min_ranks(ratio[whole], True), _min_ranks(reference[whole], False),
                      _min_ranks(log_full[whole], True)], axis=1)
    final = np.full(x.shape[0], np.nan)
    final[whole] = _dominance_rank(ranks)
    return ratio, reference, np.exp(log_full), final


def _compromise_positions(s: npt.NDArray[np.float64], r: npt.NDArray[np.float64],
                          q: npt.NDArray[np.float64]) -> List[int]:
    """VIKOR's compromise solution set from S, R and Q (Opricovic and Tzeng 2004).

    With a1, a2 the first and second alternatives by Q: acceptable advantage
    is Q(a2) - Q(a1) >= 1 / (n - 1); acceptable stability is a1 being also
    best (alone or tied) by S or by R. Both hold: {a1}. Only stability
    fails: {a1, a2}. Advantage fails: every a with Q(a) - Q(a1) < 1 / (n - 1).
    Ties in Q are taken in alternative order; alternatives with NaN are left
    out. Returns positions, in order of Q.
    """
    present = np.flatnonzero(~np.isnan(q))
    if present.size == 0:
        return []
    order = present[np.argsort(q[present], kind="stable")]
    n = order.size
    if n == 1:
        return [int(order[0])]
    threshold = 1.0 / (n - 1)
    a1, a2 = order[0], order[1]
    advantage = q[a2] - q[a1] >= threshold
    stable = s[a1] == np.nanmin(s) or r[a1] == np.nanmin(r)
    if advantage and stable:
        return [int(a1)]
    if advantage:
        return [int(a1), int(a2)]
    return [int(a) for a in order if q[a] - q[a1] < threshold]


def vikor_compromise(s: Any, r: Any, q: Any) -> Any:
    """VIKOR's compromise solution set from its S, R and Q (Opricovic and Tzeng 2004).

    With a1 and a2 the first and second alternatives by Q (ties in Q taken in
    alternative order): acceptable advantage is Q(a2) - Q(a1) >= 1 / (n - 1);
    acceptable stability is a1 being also best (alone or tied) by S or by R.
    Both hold: {a1}. Only stability fails: {a1, a2}. Advantage fails: every
    a with Q(a) - Q(a1) < 1 / (n - 1). Alternatives with NaN are left out.
    ``VikorResult.compromise`` calls this.

    Returns
    -------
    list
        Positions (index labels for Series) in order of Q; one list per row
        for a (K, n) batch.

    Examples
    --------
    >>> from ternavik._outranking import vikor_compromise
    >>> vikor_compromise([0.2, 0.5, 0.9], [0.1, 0.3, 0.5], [0.0, 0.6, 1.0])
    [0]
    """
    labels = list(q.index) if is_series(q) else None
    s_, r_, q_ = (np.asarray(v, dtype=np.float64) for v in (s, r, q))
    if q_.ndim == 2:
        return [_compromise_positions(a, b, c) for a, b, c in zip(s_, r_, q_)]
    chosen = _compromise_positions(s_, r_, q_)
    return [labels[i] for i in chosen] if labels is not None else chosen


def _multimoora_rank(data: Any, weights: Any, kinds: Any, *,
                     nan_policy: str = "raise") -> Any:
    """MULTIMOORA's dominance rank alone (lower is better), for side-by-side comparisons."""
    return multimoora(data, weights, kinds, nan_policy=nan_policy).rank
