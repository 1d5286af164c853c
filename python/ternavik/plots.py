"""Pictures of rankings: methods side by side, and ranks along a weight range.

matplotlib is an optional extra, imported only here. The functions draw on a
new ``matplotlib.figure.Figure`` (no pyplot state, so they work on any
backend and in threads) and return it; save it with ``fig.savefig(path)``.
"""

from typing import Any, Optional, Sequence

import numpy as np

from ._errors import InputError


def _figure(width: float, height: float) -> Any:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError('plots need matplotlib; install it with '
                          'pip install "ternavik[plot]"') from None
    return Figure(figsize=(width, height), layout="constrained")


def _colours(count: int) -> Any:
    from matplotlib import colormaps

    palette = colormaps["tab10" if count <= 10 else "tab20"]
    return [palette(i % palette.N) for i in range(count)]


def plot_ranks(ranks: Any, alternatives: Optional[Sequence[Any]] = None,
               methods: Optional[Sequence[Any]] = None,
               title: Optional[str] = "Ranks by method") -> Any:
    """A bump chart: one line per alternative across the methods, rank 1 on top.

    ``ranks`` is the ``ranks`` DataFrame of :func:`ternavik.compare` (or the
    whole result), alternatives x methods, or a plain array of the same shape
    with ``alternatives`` and ``methods`` as labels.

    Examples
    --------
    >>> import ternavik
    >>> fig = ternavik.plot_ranks([[1, 2], [2, 1], [3, 3]], alternatives=["a", "b", "c"],
    ...                           methods=["topsis", "vikor"])
    >>> type(fig).__name__, len(fig.axes)
    ('Figure', 1)
    >>> fig.savefig("ranks.png")  # doctest: +SKIP
    """
    ranks = getattr(ranks, "ranks", ranks)
    if hasattr(ranks, "columns"):
        alternatives, methods = list(ranks.index), list(ranks.columns)
    values = np.asarray(ranks, dtype=float)
    if values.ndim != 2:
        raise InputError("plot_ranks needs ranks as alternatives x methods")
    n, k = values.shape
    alternatives = list(alternatives) if alternatives is not None else list(range(1, n + 1))
    methods = list(methods) if methods is not None else [f"method {c + 1}" for c in range(k)]
    fig = _figure(max(4.0, 1.6 * k + 3.0), max(3.0, 0.32 * n + 1.2))
    ax = fig.add_subplot()
    x = np.arange(k)
    for i, colour in enumerate(_colours(n)):
        ax.plot(x, values[i], marker="o", color=colour, linewidth=2, markersize=7)
        ax.annotate(str(alternatives[i]), (x[-1], values[i, -1]), xytext=(8, 0),
                    textcoords="offset points", va="center", color=colour, fontsize=9)
    ax.set_xticks(x, [str(c) for c in methods])
    ax.set_yticks(np.arange(1, n + 1))
    ax.set_ylim(n + 0.5, 0.5)
    ax.set_xlim(-0.3, k - 1 + 0.3 + 0.12 * k)
    ax.set_ylabel("rank (1 = best)")
    ax.grid(axis="y", alpha=0.3)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    if title:
        ax.set_title(title)
    return fig


def plot_sensitivity(result: Any, criteria: Optional[Sequence[Any]] = None,
                     columns: int = 3) -> Any:
    """One panel per criterion: each alternative's rank as that weight varies.

    ``result`` comes from :func:`ternavik.sensitivity`. A dotted line marks
    the base weight, a dashed red line the nearest weight at which another
    alternative takes the top rank.

    Examples
    --------
    >>> import ternavik
    >>> report = ternavik.sensitivity([[1.0, 3.0], [2.0, 1.0], [3.0, 2.0]],
    ...                               weights=[1, 1], kinds="++")
    >>> fig = ternavik.plot_sensitivity(report)
    >>> len(fig.axes)  # one panel per criterion
    2
    """
    picked = list(range(len(result.criteria))) if criteria is None else [
        result.criteria.index(c) for c in criteria]
    count = len(picked)
    if count == 0:
        raise InputError("no criteria to plot")
    cols = min(columns, count)
    rows = -(-count // cols)
    n = result.ranks.shape[2]
    fig = _figure(4.2 * cols + 1.8, 3.2 * rows + 0.6)
    colours = _colours(n)
    axes = fig.subplots(rows, cols, squeeze=False, sharey=True)
    for slot, c in enumerate(picked):
        ax = axes[slot // cols][slot % cols]
        for i in range(n):
            ax.step(result.grid, result.ranks[c, :, i], where="mid", color=colours[i],
                    linewidth=1.8, label=str(result.alternatives[i]))
        ax.axvline(result.base_weight[c], color="0.3", linestyle=":", linewidth=1.2)
        if not np.isnan(result.switch_weight[c]):
            ax.axvline(result.switch_weight[c], color="tab:red", linestyle="--", linewidth=1.2)
        ax.set_title(f"weight of {result.criteria[c]}")
        ax.set_ylim(n + 0.5, 0.5)
        ax.set_xlabel("weight")
        ax.grid(alpha=0.3)
    for slot in range(count, rows * cols):
        axes[slot // cols][slot % cols].set_visible(False)
    for r in range(rows):
        axes[r][0].set_ylabel("rank (1 = best)")
    fig.legend(*axes[0][0].get_legend_handles_labels(), loc="outside right center",
               fontsize=8, frameon=False)
    fig.suptitle(f"Sensitivity of the {result.method} ranking to each weight")
    return fig
