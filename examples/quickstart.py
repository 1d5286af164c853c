"""
ternavik in a dozen lines
=========================

Entropy weights, then TOPSIS, then ranks; and differential evolution on a sphere.
"""

import numpy as np
import numpy.typing as npt

import ternavik

# Four laptops on price (lower is better), battery hours and rating (higher is better).
laptops = [[999.0, 10.0, 4.2], [1299.0, 14.0, 4.6], [799.0, 7.0, 3.9], [1099.0, 12.0, 4.4]]
kinds = ["min", "max", "max"]

weights, _ = ternavik.entropy_weight(laptops, kinds)
closeness = ternavik.topsis(laptops, weights, kinds)
print("weights  ", np.round(weights, 3))
print("closeness", np.round(closeness, 3))
print("ranks    ", ternavik.rank(closeness))


def sphere(x: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Vectorised: one row per individual, one value per row."""
    value: npt.NDArray[np.float64] = np.sum(x * x, axis=1)
    return value


result = ternavik.minimize(sphere, [(-5.0, 5.0)] * 3, pop=20, iters=200)
if not result.success:
    raise SystemExit(result.message)
print(f"sphere minimum {result.fun:.3g} at {np.round(result.x, 4)} "
      f"after {result.nfev} evaluations")
