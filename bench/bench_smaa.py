"""Times ternavik.smaa against a plain NumPy loop (one TOPSIS and one ranking
per weight vector), side by side in one run, and prints the ratio.

    python bench/bench_smaa.py [--quick]

The problem is 100 alternatives x 8 criteria and 10^5 weight vectors. The
NumPy loop is timed on the first 2000 vectors and scaled linearly (its cost
is the same for every vector), and the line says so. Run with
RAYON_NUM_THREADS=1 for the one-core figure.
"""
import os
import sys
import time

import numpy as np

import ternavik

N, M, SAMPLES, LOOP_SAMPLE = 100, 8, 100_000, 2000


def numpy_loop(x, draws):
    """SMAA the straightforward way: vector-normalised TOPSIS and min ranks per vector."""
    n = x.shape[0]
    counts = np.zeros((n, n))
    r = x / np.sqrt((x * x).sum(axis=0))
    for w in draws:
        v = r * w
        plus = np.sqrt(((v - v.max(axis=0)) ** 2).sum(axis=1))
        minus = np.sqrt(((v - v.min(axis=0)) ** 2).sum(axis=1))
        c = minus / (plus + minus)
        ranks = (c[None, :] > c[:, None]).sum(axis=1)
        counts[np.arange(n), ranks] += 1
    return counts


def best_of(fn, repeats, clock=time.perf_counter):
    best = float("inf")
    for _ in range(repeats):
        start = clock()
        fn()
        best = min(best, clock() - start)
    return best


def main():
    quick = "--quick" in sys.argv
    samples = SAMPLES // 10 if quick else SAMPLES
    x = np.random.default_rng(0).random((N, M)) + 0.1
    kinds = "+" * M
    run = lambda: ternavik.smaa(x, kinds, samples=samples, seed=1)  # noqa: E731
    ours = best_of(run, 2 if quick else 5)
    # Processor time too: on a busy machine it is the steadier one-core figure.
    ours_cpu = best_of(run, 2 if quick else 5, time.process_time)
    draws = np.random.default_rng(1).standard_exponential((LOOP_SAMPLE, M))
    draws /= draws.sum(axis=1, keepdims=True)
    loop = best_of(lambda: numpy_loop(x, draws), 1 if quick else 3) * samples / LOOP_SAMPLE
    threads = os.environ.get("RAYON_NUM_THREADS", "all")
    print(f"SMAA-2, TOPSIS, {N} x {M}, {samples} weight vectors, threads={threads}")
    print(f"  ternavik.smaa      {ours:9.3f} s  ({ours_cpu:.3f} s of processor time)")
    print(f"  NumPy loop         {loop:9.3f} s  (timed on {LOOP_SAMPLE} vectors, scaled)")
    print(f"  ratio              {loop / ours:9.1f} x")


if __name__ == "__main__":
    main()
