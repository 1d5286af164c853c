"""The engine's own time per generation under the adaptive strategies beside
best1bin: 64 individuals x 32 dimensions, a native (numba) sphere, the
population kept at 64 (an evaluation budget far away, so L-SHADE and jSO do
not shrink it). After a warm-up, the engines take turns running short
chunks of generations (no Python between generations) and each keeps its
quickest chunk: the steady state's cost, which is what a long run pays.
The sphere's own share is about a microsecond.

    python bench/bench_de_adaptive.py [--rounds N] [--generations N] [--warmup N]
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


def chunk(engine, fitness, generations):
    """Seconds per generation of the engine's own run loop over `generations`."""
    start = time.perf_counter()
    engine.run(fitness, generations, math.nan, 0.0, 2 ** 64 - 1, math.inf)
    elapsed = time.perf_counter() - start
    assert engine.state()[0].shape == (64, 32)
    return elapsed / generations


STRATEGIES = ("best1bin", "jde", "lshade", "jso")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=40)
    parser.add_argument("--generations", type=int, default=250)
    parser.add_argument("--warmup", type=int, default=1000)
    options = parser.parse_args()
    engines = {s: engine_for(s) for s in STRATEGIES}
    for engine, fitness in engines.values():
        chunk(engine, fitness, options.warmup)
    # On a shared machine the load moves within seconds, more than the
    # differences measured: the strategies take turns in short chunks, so
    # each sees the same stretches of load, and each keeps its quickest
    # chunk, the one least disturbed.
    best = dict.fromkeys(STRATEGIES, np.inf)
    for _ in range(options.rounds):
        for s in STRATEGIES:
            best[s] = min(best[s], chunk(*engines[s], options.generations))
    base = best["best1bin"]
    print(f"{'strategy':<10}{'us/generation':>15}{'x best1bin':>12}")
    for s in STRATEGIES:
        print(f"{s:<10}{best[s] * 1e6:>15.2f}{best[s] / base:>12.2f}")


if __name__ == "__main__":
    main()
