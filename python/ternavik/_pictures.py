"""Pictures of rank acceptabilities and of outranking relations.

Like ``ternavik.plots``: matplotlib is imported only here, every function
draws on a new Figure (no pyplot state) and returns it.
"""

from typing import Any, Callable, List, Optional, Sequence, Tuple, TypeVar

import numpy as np
import numpy.typing as npt

from ._errors import InputError
from .plots import _colours, _figure

__all__ = ["plot_acceptability", "plot_outranking"]


_COMMON = """alternatives : sequence, optional
        {labels} labels; by default the {source}'s index or 0..n-1.
    title : str, optional
        Figure title.

    Returns
    -------
    matplotlib.figure.Figure

    Examples
    --------
    >>> import ternavik"""

_Picture = TypeVar("_Picture", bound=Callable[..., Any])


def _documented(labels: str, source: str) -> Callable[[_Picture], _Picture]:
    """Fill in the parameters, the Returns section and the opening of the
    Examples every picture shares, naming what it labels and from what."""
    def attach(function: _Picture) -> _Picture:
        common = _COMMON.format(labels=labels, source=source)
        function.__doc__ = (function.__doc__ or "").replace("{common}", common)
        return function
    return attach


def _square(result: Any, attribute: str, dtype: Any, what: str,
            alternatives: Optional[Sequence[Any]]) -> Tuple[npt.NDArray[Any], List[Any]]:
    """The n x n matrix a picture draws (a result's `attribute`, or the matrix
    itself) and its n labels: the given ones, else its index, else 0..n-1."""
    matrix = getattr(result, attribute, result)
    values = np.asarray(matrix, dtype=dtype)
    if values.ndim != 2 or values.shape[0] != values.shape[1]:
        raise InputError(what)
    n = values.shape[0]
    if alternatives is not None:
        return values, list(alternatives)
    index = getattr(matrix, "index", None)
    return values, list(index) if index is not None else list(range(n))


@_documented("Bar", "matrix")
def plot_acceptability(result: Any, alternatives: Optional[Sequence[Any]] = None,
                       title: Optional[str] = "Rank acceptability") -> Any:
    """Stacked bars of rank acceptabilities: one bar per alternative, one band per rank.

    Parameters
    ----------
    result : SMAAResult or array_like (n, n)
        A :func:`ternavik.smaa` result or its ``acceptability`` matrix.
    {common}
    >>> r = ternavik.smaa([[1, 0], [0, 1], [0.4, 0.4]], "++", samples=500, seed=1)
    >>> fig = ternavik.plot_acceptability(r)        # doctest: +SKIP
    >>> fig.savefig("acceptability.png")           # doctest: +SKIP
    """
    values, names = _square(result, "acceptability", np.float64,
                            "plot_acceptability needs an n x n acceptability matrix", alternatives)
    n = values.shape[0]
    fig = _figure(max(4.0, 0.5 * n + 2.5), 3.6)
    ax = fig.add_subplot()
    bottom = np.zeros(n)
    colours = _colours(n) if n <= 20 else None
    for r in range(n):
        colour = colours[r] if colours is not None else None
        ax.bar(range(n), values[:, r], bottom=bottom, color=colour,
               label=f"rank {r + 1}" if r < 10 else None)
        bottom += values[:, r]
    ax.set_xticks(range(n))
    ax.set_xticklabels([str(name) for name in names], rotation=45 if n > 8 else 0, ha="right"
                       if n > 8 else "center")
    ax.set_ylim(0.0, 1.0)
    ax.set_ylabel("share of weight vectors")
    ax.legend(loc="upper left", bbox_to_anchor=(1.0, 1.0), fontsize="small")
    if title:
        ax.set_title(title)
    return fig


def _layers(prefers: np.ndarray) -> np.ndarray:
    """Depth of every alternative: the longest chain of preferred ones above it."""
    n = prefers.shape[0]
    depth = np.zeros(n, dtype=np.int64)
    for _ in range(n):
        above = np.where(prefers, depth[:, None] + 1, 0).max(axis=0)
        if (above == depth).all():
            break
        depth = np.maximum(depth, above)
    return depth


@_documented("Node", "relation")
def plot_outranking(result: Any, alternatives: Optional[Sequence[Any]] = None,
                    title: Optional[str] = "PROMETHEE I partial ranking") -> Any:
    """The partial order of a PROMETHEE I result as a graph.

    Alternatives are drawn in layers (the unbeaten on top); an arrow a -> b
    says a is preferred to b, drawn only where no third alternative lies
    between them (the order is transitive). Incomparable alternatives have
    no path between them; indifferent ones are joined by a dashed line.

    Parameters
    ----------
    result : Promethee1Result or array_like (n, n) of "P", "I", "R", "-"
        A :func:`ternavik.methods.promethee1` result or its ``relation``.
    {common}
    >>> r = ternavik.methods.promethee1([[1, 9], [9, 1], [0, 0]], [1, 1], "++")  # doctest: +SKIP
    >>> ternavik.plot_outranking(r).savefig("promethee1.png")                  # doctest: +SKIP
    """
    codes, names = _square(result, "relation", object,
                           "plot_outranking needs an n x n relation of 'P', 'I', 'R', '-'",
                           alternatives)
    n = codes.shape[0]
    prefers = codes == "P"
    indifferent = (codes == "I") & ~np.eye(n, dtype=bool)
    # Keep a -> b only when no c has a -> c -> b.
    through = (prefers.astype(np.int64) @ prefers.astype(np.int64)) > 0
    direct = prefers & ~through
    depth = _layers(prefers)
    position = np.zeros((n, 2))
    for level in np.unique(depth):
        members = np.flatnonzero(depth == level)
        position[members, 0] = np.arange(members.size) - (members.size - 1) / 2.0
        position[members, 1] = -float(level)
    fig = _figure(max(4.0, 1.2 * max(np.bincount(depth)) + 2.0), max(3.0, 1.1 * depth.max() + 2.0))
    ax = fig.add_subplot()
    for a, b in zip(*np.nonzero(direct)):
        ax.annotate("", xy=position[b], xytext=position[a],
                    arrowprops=dict(arrowstyle="-|>", color="0.3", shrinkA=14, shrinkB=14))
    for a, b in zip(*np.nonzero(np.triu(indifferent))):
        ax.plot(*zip(position[a], position[b]), linestyle="--", color="0.5")
    for i in range(n):
        ax.text(*position[i], str(names[i]), ha="center", va="center",
                bbox=dict(boxstyle="round", facecolor="white", edgecolor="0.3"))
    ax.set_xlim(position[:, 0].min() - 1.0, position[:, 0].max() + 1.0)
    ax.set_ylim(position[:, 1].min() - 0.7, 0.7)
    ax.axis("off")
    if title:
        ax.set_title(title)
    return fig
