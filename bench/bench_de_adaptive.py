"""The engine's own time per generation under the adaptive strategies beside
best1bin: 64 individuals x 32 dimensions, a native (numba) sphere, the
population kept at 64 (an evaluation budget far away, so L-SHADE and jSO do
not shrink it). Each round times the engine's own run of 4,000
generations (no Python between them), best of several rounds; the sphere's
own share is about a microsecond.

    python bench/bench_de_adaptive.py [--rounds N]
"""
import argparse
import math
import time

import numba
import numpy as np

from ternavik._de_evaluation import make_evaluator
from ternavik._de_settings import EngineHandle, read_settings

SIGNATURE = numba.types.void(numba.types.uint64, numba.types.uint64,
                             numba.types.CPointer(numba.types.double),
                             numba.types.CPointer(numba.types.double))


@numba.cfunc(SIGNATURE)
def sphere(rows, cols, xp, fp):
    x = numba.carray(xp, (rows, cols))
    for i in range(rows):
        total = 0.0
        for j in range(cols):
            total += x[i, j] * x[i, j]
        fp[i] = total


def engine_for(strategy):
    """The package's engine configured as differential_evolution configures it,
    with a budget so far away that the population stays at 64."""
    settings = read_settings(sphere, [(-5.0, 5.0)] * 32, (), strategy, 10 ** 9, 2, 0.0,
                             (0.5, 1.0), 0.7, 1, None, "latinhypercube", -1.0, "deferred", 1,
                             (), None, None, False, "reinitialize", None, None)
    settings.budget = 10 ** 15
    fitness = make_evaluator(settings).fitness
    engine = EngineHandle(settings)
    engine.evaluate(fitness)
    return engine, fitness


def per_generation(strategy, rounds, generations=4000):
    """Seconds per generation of the engine's own run loop, best of `rounds`."""
    best = np.inf
    for _ in range(rounds):
        engine, fitness = engine_for(strategy)
        start = time.perf_counter()
        engine.run(fitness, generations, math.nan, 0.0, 2 ** 64 - 1, math.inf)
        best = min(best, (time.perf_counter() - start) / generations)
        assert engine.state()[0].shape == (64, 32)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=7)
    options = parser.parse_args()
    base = per_generation("best1bin", options.rounds)
    print(f"{'strategy':<10}{'us/generation':>15}{'x best1bin':>12}")
    print(f"{'best1bin':<10}{base * 1e6:>15.2f}{1.0:>12.2f}")
    for strategy in ("jde", "lshade", "jso"):
        t = per_generation(strategy, options.rounds)
        print(f"{strategy:<10}{t * 1e6:>15.2f}{t / base:>12.2f}", flush=True)


if __name__ == "__main__":
    main()
