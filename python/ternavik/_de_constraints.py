"""SciPy's NonlinearConstraint, LinearConstraint and Bounds as total violations.

Recognised by their attributes, so SciPy is needed only by whoever made them.
"""

from typing import Any, List

import numpy as np

from ._errors import InputError


class WrappedConstraint:
    """One constraint lb <= c(x) <= ub evaluated on rows of points."""

    def __init__(self, original: Any, n: int, vectorized: bool) -> None:
        self.original = original
        self._vectorized = vectorized
        if hasattr(original, "fun"):
            self._values = self._nonlinear
        elif hasattr(original, "A"):
            self._A = np.atleast_2d(np.asarray(original.A, dtype=np.float64))
            if self._A.shape[1] != n:
                raise InputError(f"LinearConstraint A has {self._A.shape[1]} columns; "
                                 f"x has {n} variables")
            self._values = self._linear
        elif hasattr(original, "lb") and hasattr(original, "ub"):
            self._values = self._bounds
        else:
            raise InputError("constraints must be NonlinearConstraint, LinearConstraint or "
                             f"Bounds objects; got {type(original).__name__}")
        self._lb = np.atleast_1d(np.asarray(original.lb, dtype=np.float64))
        self._ub = np.atleast_1d(np.asarray(original.ub, dtype=np.float64))

    def _nonlinear(self, rows: np.ndarray) -> np.ndarray:
        if self._vectorized:
            values: np.ndarray = np.asarray(self.original.fun(rows.T), dtype=np.float64)
            return values.reshape(-1, rows.shape[0])
        return np.column_stack([np.atleast_1d(np.asarray(self.original.fun(x), dtype=float))
                                for x in rows])

    def _linear(self, rows: np.ndarray) -> np.ndarray:
        values: np.ndarray = self._A @ rows.T
        return values

    def _bounds(self, rows: np.ndarray) -> np.ndarray:
        values: np.ndarray = rows.T
        return values

    def excess(self, rows: np.ndarray) -> np.ndarray:
        """(M, S): how far each component of c lies outside [lb, ub] for each row."""
        values = self._values(rows)
        lb, ub = self._lb[:, None], self._ub[:, None]
        excess: np.ndarray = np.maximum(lb - values, 0.0) + np.maximum(values - ub, 0.0)
        return excess

    def violation_of(self, x: np.ndarray) -> np.ndarray:
        """Per-component violation at one point."""
        return self.excess(np.asarray(x, dtype=np.float64)[None, :])[:, 0]


def wrap_constraints(constraints: Any, n: int, vectorized: bool) -> List[WrappedConstraint]:
    if constraints is None:
        return []
    if not isinstance(constraints, (list, tuple)):
        constraints = [constraints]
    return [WrappedConstraint(c, n, vectorized) for c in constraints]


def total_violation(constraints: List[WrappedConstraint], rows: np.ndarray) -> np.ndarray:
    """Sum of all components' violations, one value per row."""
    total = np.zeros(rows.shape[0])
    for c in constraints:
        total += c.excess(rows).sum(axis=0)
    return total
