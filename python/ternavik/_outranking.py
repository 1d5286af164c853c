"""Outranking (PROMETHEE I, ELECTRE I and III), grey relations, MULTIMOORA
and VIKOR's compromise set.

Re-exported from :mod:`ternavik.methods`; each takes ``(data, weights,
kinds)`` in the forms the other methods take, including a (K, m) batch of
weight vectors for the native ones.
"""

import math
from typing import Any, List, NamedTuple

import numpy as np
import numpy.typing as npt

from . import _engine
from ._criteria import align, is_keyed
from ._errors import InputError
from ._optional import import_optional, is_dataframe, is_series

__all__ = ["Electre1Result", "Electre3Result", "MultimooraResult", "Promethee1Result",
           "electre1", "electre3", "gra", "multimoora", "promethee1", "vikor_compromise"]


def _common() -> Any:
    # methods imports this module at its end; reach back lazily for the
    # preparation helpers every method shares.
    from . import methods
    return methods


def _normalised(weights: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Each weight vector divided by its sum: flows then stay in [0, 1]
    whatever scale the weights were given in."""
    return np.ascontiguousarray(weights / weights.sum(axis=1, keepdims=True))


def _stacked(rows: List[Any], *empty: Any) -> Any:
    """The per-weight-vector results stacked part by part, or ``empty`` for
    an empty (0, m) batch of weights, which the other methods answer with
    (0, n) scores."""
    return tuple(np.stack(part) for part in zip(*rows)) if rows else empty


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
    value = methods._real(zeta, "zeta")
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
    qs, ps, ss = (methods._per_criterion_floats(x, prep.matrix.criteria, name)
                  for x, name in ((q, "q"), (p, "p"), (s, "s")))
    methods._check_thresholds(codes, qs, ps, ss, prep.matrix.criteria.name)
    plus, minus = _engine.promethee1_flows(prep.values, _normalised(prep.weights), prep.codes,
                                           codes, prep.tamed(qs), prep.tamed(ps),
                                           prep.tamed(ss))
    n = prep.values.shape[0]
    relation, = _stacked([(_relation(a, b),) for a, b in zip(plus, minus)],
                         np.empty((0, n, n), dtype="<U1"))
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
    none = np.empty((0, x.shape[0]))
    ratio, reference, full, final = _stacked(parts, none, none, none, none)
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
        Positions (index labels for Series, column labels for a DataFrame
        batch) in order of Q; one list per row for a (K, n) batch.

    Examples
    --------
    >>> from ternavik._outranking import vikor_compromise
    >>> vikor_compromise([0.2, 0.5, 0.9], [0.1, 0.3, 0.5], [0.0, 0.6, 1.0])
    [0]
    """
    labels = list(q.index) if is_series(q) else list(q.columns) if is_dataframe(q) else None
    s_, r_, q_ = (np.asarray(v, dtype=np.float64) for v in (s, r, q))
    if not (s_.shape == r_.shape == q_.shape and q_.ndim in (1, 2)):
        raise InputError(f"S, R and Q need one value per alternative each (a row per weight "
                         f"vector for a batch), got shapes {s_.shape}, {r_.shape}, {q_.shape}")
    if q_.ndim == 2:
        chosen_rows = [_compromise_positions(a, b, c) for a, b, c in zip(s_, r_, q_)]
        return [[labels[i] for i in chosen] if labels is not None else chosen
                for chosen in chosen_rows]
    chosen = _compromise_positions(s_, r_, q_)
    return [labels[i] for i in chosen] if labels is not None else chosen


def _multimoora_rank(data: Any, weights: Any, kinds: Any, *,
                     nan_policy: str = "raise") -> Any:
    """MULTIMOORA's dominance rank alone (lower is better), for side-by-side comparisons."""
    return multimoora(data, weights, kinds, nan_policy=nan_policy).rank


class Electre3Result(NamedTuple):
    """ELECTRE III: credibility, the two distillations and the final partial preorder.

    ``credibility[a, b]`` is sigma(a, b) in [0, 1], how credible "a is at
    least as good as b" is (1 on the diagonal). ``descending`` and
    ``ascending`` are each alternative's rank in the descending and the
    ascending distillation (1 = best). ``relation[a, b]`` is "P" when a is
    preferred to b (ranked at least as well by both distillations and better
    by one), "-" when b is preferred to a, "I" when both distillations rank
    them alike and "R" when they disagree (incomparable). ``rank`` is one
    plus the number of alternatives preferred to it in that final preorder.
    """
    credibility: Any
    descending: Any
    ascending: Any
    relation: Any
    rank: Any


def _veto_values(v: Any, criteria: Any) -> npt.NDArray[np.float64]:
    """Veto thresholds as m floats: None (for all or for one criterion) is +inf, no veto."""
    if v is None:
        return np.full(len(criteria), np.inf)
    if is_keyed(v):
        v = align(v, criteria, "v")
    if isinstance(v, (list, tuple)):
        v = [np.inf if x is None else x for x in v]
    out: npt.NDArray[np.float64] = _common()._per_criterion_floats(v, criteria, "v")
    return out


def _pseudo_criteria(q: Any, p: Any, v: Any, criteria: Any) -> Any:
    """q, p and v as m floats each, checked criterion by criterion."""
    methods = _common()
    qs = methods._per_criterion_floats(q, criteria, "q")
    ps = methods._per_criterion_floats(p, criteria, "p")
    vs = _veto_values(v, criteria)
    name = criteria.name
    for j, (qj, pj, vj) in enumerate(zip(qs.tolist(), ps.tolist(), vs.tolist())):
        if not (math.isfinite(qj) and math.isfinite(pj) and 0.0 <= qj <= pj <= vj):
            raise InputError(f"ELECTRE III needs 0 <= q <= p <= v with q and p finite "
                             f"(criterion {name(j)}: q={qj!r}, p={pj!r}, v={vj!r}; "
                             f"v=None or inf means no veto)")
    return qs, ps, vs


def _threshold_units(prep: Any, values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Thresholds scaled like their tamed criteria; one that only the scaling
    pushed past the largest double stays the largest double."""
    tamed = prep.tamed(values)
    return np.ascontiguousarray(np.where(np.isinf(tamed) & np.isfinite(values),
                                         np.finfo(np.float64).max, tamed))


def _distillate(sigma: npt.NDArray[np.float64], members: npt.NDArray[np.intp], alpha: float,
                beta: float, best: bool) -> npt.NDArray[np.intp]:
    """One distillate of ``members``: the alternatives of best (or worst) qualification.

    The cut level starts at the largest credibility between members; each
    round lowers it to the largest credibility below level - s(level),
    s(x) = alpha x + beta (0 when none is), keeps a S b when
    sigma(a, b) > level and sigma(a, b) - sigma(b, a) > s(sigma(a, b)), and
    keeps the members whose qualification (how many they outrank less how
    many outrank them) is largest (smallest). It stops at one member or at
    level 0.
    """
    chosen = members
    if chosen.size == 1:
        return chosen
    level = float(sigma[np.ix_(chosen, chosen)][~np.eye(chosen.size, dtype=bool)].max())
    while True:
        sub = sigma[np.ix_(chosen, chosen)]
        other = ~np.eye(chosen.size, dtype=bool)
        below = sub[other & (sub < level - (alpha * level + beta))]
        level = float(below.max()) if below.size else 0.0
        outranks = other & (sub > level) & (sub - sub.T > alpha * sub + beta)
        qualification = outranks.sum(axis=1) - outranks.sum(axis=0)
        target = qualification.max() if best else qualification.min()
        chosen = np.asarray(chosen[qualification == target], dtype=np.intp)
        if chosen.size == 1 or level == 0.0:
            return chosen


def _distillation_ranks(sigma: npt.NDArray[np.float64], alpha: float, beta: float,
                        descending: bool) -> npt.NDArray[np.float64]:
    """Rank of every alternative (1 = best) in the descending or ascending distillation:
    distillates are taken from the top (bottom) of what remains until nothing does."""
    n = sigma.shape[0]
    ranks = np.zeros(n)
    remaining = np.arange(n)
    step = 0
    while remaining.size:
        step += 1
        chosen = _distillate(sigma, remaining, alpha, beta, descending)
        ranks[chosen] = step
        remaining = remaining[~np.isin(remaining, chosen)]
    return ranks if descending else step + 1 - ranks


def _electre3_exploited(sigma: npt.NDArray[np.float64], alpha: float, beta: float) -> Any:
    """Both distillations, the final preorder and its rank for one credibility matrix."""
    down = _distillation_ranks(sigma, alpha, beta, True)
    up = _distillation_ranks(sigma, alpha, beta, False)
    relation = _relation(-down, up)
    final = 1.0 + (relation == "P").sum(axis=0)
    return down, up, relation, final


def electre3(data: Any, weights: Any, kinds: Any, *, q: Any = 0.0, p: Any = 0.0,
             v: Any = None, alpha: float = -0.15, beta: float = 0.30,
             nan_policy: str = "raise") -> Electre3Result:
    """ELECTRE III: fuzzy outranking of pseudo-criteria and its two distillations.

    With g = f_j(b) - f_j(a) (f_j = x_j on benefit, -x_j on cost criteria),
    the partial concordance is 1 for g <= q_j, 0 for g >= p_j and
    (p_j - g) / (p_j - q_j) between; the discordance is 0 for g <= p_j, 1 for
    g >= v_j and (g - p_j) / (v_j - p_j) between. The concordance C(a, b) is
    the weighted sum of the partial ones with the weights divided by their
    sum; the credibility is sigma(a, b) = C(a, b) times (1 - d_j) / (1 - C)
    for every criterion j whose discordance d_j exceeds C (a criterion of
    weight 0 can still veto). The thresholds are constant per criterion
    (not affine functions of the performance).

    The descending distillation takes the best qualified alternatives first,
    the ascending one the worst first (see ``Electre3Result``); both use the
    discrimination threshold s(x) = alpha x + beta: at cut level lambda, a
    outranks b when sigma(a, b) > lambda and sigma(a, b) - sigma(b, a) >
    s(sigma(a, b)), and the next level is the largest credibility below
    lambda - s(lambda). (Some texts evaluate s at lambda in the first test;
    the published examples we checked give the same preorders either way.)
    The final partial preorder is their intersection.

    Parameters
    ----------
    data, weights, kinds, nan_policy
        As every method in :mod:`ternavik.methods`; "propagate" is refused, a
        missing value has no place in a pairwise comparison.
    q, p : float or array-like
        Indifference and preference thresholds, one value or one per
        criterion (by label for a mapping or Series), in the criterion's
        units, 0 <= q <= p.
    v : float, array-like or None
        Veto thresholds (v >= p); None, or None or inf for one criterion,
        means no veto there.
    alpha, beta : float
        The discrimination threshold s(x) = alpha x + beta; it must be
        positive on [0, 1] (beta > 0, alpha + beta > 0).

    Returns
    -------
    Electre3Result
        ``credibility`` (n x n; a DataFrame for a DataFrame), ``descending``,
        ``ascending`` and ``rank`` (1 = best, per alternative; NaN for the
        alternatives ``nan_policy="omit"`` left out) and ``relation`` (n x n
        of "P", "-", "I", "R"). For K weight vectors: (K, n, n) and (K, n).

    Examples
    --------
    >>> import ternavik
    >>> r = ternavik.methods.electre3([[10, 5], [8, 6], [2, 1]], [1, 1], "+-",
    ...                               q=[1, 1], p=[3, 3], v=[8, None])
    >>> r.credibility.tolist()
    [[1.0, 1.0, 0.5], [0.75, 1.0, 0.5], [0.0, 0.4, 1.0]]
    >>> r.descending.tolist(), r.ascending.tolist(), r.rank.tolist()
    ([1.0, 2.0, 2.0], [1.0, 3.0, 2.0], [1.0, 3.0, 2.0])
    >>> r.relation[2].tolist()
    ['-', 'P', 'I']
    """
    methods = _common()
    if nan_policy == "propagate":
        raise InputError("ELECTRE III cannot compare missing values; use nan_policy 'omit'")
    a, b = methods._real(alpha, "alpha"), methods._real(beta, "beta")
    if not (math.isfinite(a) and math.isfinite(b) and b > 0.0 and a + b > 0.0):
        raise InputError(f"the discrimination threshold alpha x + beta must be positive on "
                         f"[0, 1]; got alpha={alpha!r}, beta={beta!r}")
    prep = methods._prepared(data, weights, kinds, nan_policy, "ELECTRE III", methods.ANY)
    n = prep.values.shape[0]
    qs, ps, vs = _pseudo_criteria(q, p, v, prep.matrix.criteria)
    flat = _engine.electre3_credibility(prep.values, prep.weights, prep.codes,
                                        _threshold_units(prep, qs), _threshold_units(prep, ps),
                                        _threshold_units(prep, vs))
    sigma = flat.reshape(-1, n, n)
    none = np.empty((0, n))
    down, up, relation, final = _stacked([_electre3_exploited(s, a, b) for s in sigma], none,
                                         none, np.empty((0, n, n), dtype="<U1"), none)
    shaped = methods._shaped
    descending = shaped(down, prep, "descending", False)
    ascending = shaped(up, prep, "ascending", False)
    rank = shaped(final, prep, "rank", False)
    if prep.batched:
        return Electre3Result(sigma, descending, ascending, relation, rank)
    return Electre3Result(_labelled_square(sigma[0], prep), descending, ascending,
                          _labelled_square(relation[0], prep), rank)
