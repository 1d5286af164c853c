"""The result of every optimiser in the package, shaped like SciPy's."""

from typing import Any, Dict

import numpy as np
import numpy.typing as npt

__all__ = ["OptimizeResult"]

Vector = npt.NDArray[np.float64]


class OptimizeResult(Dict[str, Any]):
    """Outcome of an optimisation: a dict whose keys are also attributes.

    ``x`` best position, ``fun`` fitness at x, ``success`` whether a finite
    minimum was found, ``message`` why the run ended as it did, ``nfev``
    rows evaluated, ``nit`` generations run. ``differential_evolution`` adds
    SciPy's ``population``, ``population_energies``, ``jac`` after polishing
    and ``constr``, ``constr_violation``, ``maxcv`` with constraints.
    """

    x: Vector
    fun: float
    success: bool
    message: str
    nfev: int
    nit: int

    def __getattr__(self, name: str) -> Any:
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    def __setattr__(self, name: str, value: Any) -> None:
        self[name] = value

    def __delattr__(self, name: str) -> None:
        try:
            del self[name]
        except KeyError:
            raise AttributeError(name) from None

    def __dir__(self) -> Any:
        return list(self.keys())

    def __repr__(self) -> str:
        if not self:
            return f"{type(self).__name__}()"
        width = max(map(len, self.keys())) + 1
        return "\n".join(f"{key.rjust(width)}: {value!r}" for key, value in self.items())


class Scores(np.ndarray):  # type: ignore[type-arg,unused-ignore]
    """A decision method's scores: a float64 array that knows its direction.

    ``higher_is_better`` tells :func:`ternavik.rank` which way to rank, so
    ``rank(methods.mairca(...))`` puts the smallest gap first without the
    caller knowing MAIRCA's sense. Indexing keeps the direction; arithmetic
    gives a plain array (``-scores`` must not claim the old direction).
    """

    higher_is_better: bool

    def __new__(cls, values: Any, higher_is_better: bool) -> "Scores":
        out = np.asarray(values, dtype=np.float64).view(cls)
        out.higher_is_better = bool(higher_is_better)
        return out

    def __array_finalize__(self, obj: Any) -> None:
        self.higher_is_better = getattr(obj, "higher_is_better", True)

    def __array_ufunc__(self, ufunc: Any, method: str, *inputs: Any, **kwargs: Any) -> Any:
        plain = tuple(x.view(np.ndarray) if isinstance(x, Scores) else x for x in inputs)
        if "out" in kwargs:
            kwargs["out"] = tuple(x.view(np.ndarray) if isinstance(x, Scores) else x
                                  for x in kwargs["out"])
        return getattr(ufunc, method)(*plain, **kwargs)

    def __reduce__(self) -> Any:
        return (Scores, (self.view(np.ndarray), self.higher_is_better))


def direction_of(scores: Any) -> Any:
    """The direction a result carries (None when it carries none)."""
    found = getattr(scores, "higher_is_better", None)
    if isinstance(found, (bool, np.bool_)):
        return bool(found)
    attrs = getattr(scores, "attrs", None)
    if isinstance(attrs, dict) and isinstance(attrs.get("higher_is_better"), bool):
        return attrs["higher_is_better"]
    return None
