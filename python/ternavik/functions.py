"""Standard test functions for optimisers, vectorised over population rows.

Each takes a (pop, dims) float64 array and returns pop values; the minimum of
each is 0.
"""

from typing import Callable, Dict, Tuple

import numpy as np
import numpy.typing as npt

Matrix = npt.NDArray[np.float64]


def sphere(x: Matrix) -> Matrix:
    """Sum of squares; minimum 0 at the origin."""
    value: Matrix = np.sum(x * x, axis=1)
    return value


def rastrigin(x: Matrix) -> Matrix:
    """Many regular local minima; global minimum 0 at the origin."""
    value: Matrix = 10.0 * x.shape[1] + np.sum(x * x - 10.0 * np.cos(2.0 * np.pi * x), axis=1)
    return value


def rosenbrock(x: Matrix) -> Matrix:
    """A curved narrow valley; minimum 0 at (1, ..., 1)."""
    head, tail = x[:, :-1], x[:, 1:]
    value: Matrix = np.sum(100.0 * (tail - head * head) ** 2 + (1.0 - head) ** 2, axis=1)
    return value


def ackley(x: Matrix) -> Matrix:
    """A nearly flat outer region around a deep hole; minimum 0 at the origin."""
    d = max(x.shape[1], 1)
    root_mean_square = np.sqrt(np.sum(x * x, axis=1) / d)
    mean_cos = np.sum(np.cos(2.0 * np.pi * x), axis=1) / d
    value: Matrix = -20.0 * np.exp(-0.2 * root_mean_square) - np.exp(mean_cos) + 20.0 + np.e
    return value


# Name -> (function, usual search box per dimension).
FUNCTIONS: Dict[str, Tuple[Callable[[Matrix], Matrix], Tuple[float, float]]] = {
    "sphere": (sphere, (-5.12, 5.12)),
    "rastrigin": (rastrigin, (-5.12, 5.12)),
    "rosenbrock": (rosenbrock, (-2.048, 2.048)),
    "ackley": (ackley, (-32.768, 32.768)),
}
