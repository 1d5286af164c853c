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
