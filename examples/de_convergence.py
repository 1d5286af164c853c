"""
Differential evolution, generation by generation
================================================

The best value after each generation on the 10-dimensional Rastrigin function for
three strategies, recorded with SciPy's ``callback(intermediate_result)`` form.
Every run uses the same seed, so the curves are the same on any machine and for any
number of threads.
"""

from typing import List

import matplotlib.pyplot as plt
import numpy as np
import numpy.typing as npt

import ternavik
from ternavik.functions import rastrigin

bounds = [(-5.12, 5.12)] * 10
fig, ax = plt.subplots(figsize=(7, 4), layout="constrained")
for strategy in ("best1bin", "rand1bin", "currenttobest1bin"):
    history: List[float] = []

    def record(intermediate_result: ternavik.OptimizeResult) -> None:
        history.append(intermediate_result.fun)

    def population_rastrigin(x: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        return rastrigin(x.T)  # SciPy's vectorised form: one column per individual

    result = ternavik.differential_evolution(
        population_rastrigin, bounds, strategy=strategy, maxiter=600, tol=0, rng=3, polish=False,
        vectorized=True, callback=record)
    print(f"{strategy:18s} best {result.fun:.3g} after {result.nit} generations, "
          f"{result.nfev} evaluations")
    ax.semilogy(np.arange(1, len(history) + 1), np.maximum(history, 1e-16), label=strategy)
ax.set_xlabel("generation")
ax.set_ylabel("best value so far")
ax.set_title("Rastrigin, 10 dimensions")
ax.legend()
