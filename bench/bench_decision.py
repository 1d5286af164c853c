"""Times _ternavik.topsis and _ternavik.entropy_weight against whole-array
NumPy versions of the same formulas, side by side in one run.

    python bench/bench_decision.py [--quick]
"""
import sys
import time

import numpy as np

import _ternavik

SHAPES = [(10, 5), (1000, 8), (100000, 16), (1000000, 16)]


def numpy_topsis(x, w, codes):
    benefit = codes == 1
    v = x / np.sqrt((x * x).sum(axis=0)) * w
    high, low = v.max(axis=0), v.min(axis=0)
    ideal, anti = np.where(benefit, high, low), np.where(benefit, low, high)
    plus = np.sqrt(((v - ideal) ** 2).sum(axis=1))
    minus = np.sqrt(((v - anti) ** 2).sum(axis=1))
    return minus / (plus + minus)


def numpy_entropy_weight(x, codes):
    low, high = x.min(axis=0), x.max(axis=0)
    r = high - low
    y = np.where(codes == 1, (x - low) / r, (high - x) / r)
    p = y / y.sum(axis=0)
    with np.errstate(divide="ignore", invalid="ignore"):
        plogp = np.where(p > 0, p * np.log(p), 0.0)
    e = -plogp.sum(axis=0) / np.log(len(x))
    d = 1.0 - e
    w = d / d.sum()
    return w, y @ w


def per_call(fn, args, budget):
    """Minimum time per call over several repeats of a batch of calls."""
    start = time.perf_counter()
    fn(*args)
    once = time.perf_counter() - start
    batch = max(1, int(0.02 / max(once, 1e-9)))
    repeats = max(3, min(20, int(budget / max(once * batch, 1e-9))))
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(batch):
            fn(*args)
        best = min(best, (time.perf_counter() - start) / batch)
    return best


def fmt(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:8.2f} {unit}"
    return f"{seconds / 1e-9:8.0f} ns"


def main():
    budget = 0.2 if "--quick" in sys.argv else 1.0
    rng = np.random.default_rng(1)
    print(f"{'function':15} {'n x m':>13} {'_ternavik':>12} {'numpy':>12} {'numpy/ours':>11}")
    for n, m in SHAPES:
        x = rng.normal(size=(n, m)) + 5.0
        w = rng.random(m)
        codes = rng.integers(0, 2, size=m).astype(np.int64)
        pairs = [("topsis", _ternavik.topsis, numpy_topsis, (x, w, codes)),
                 ("entropy_weight", _ternavik.entropy_weight, numpy_entropy_weight, (x, codes))]
        for name, ours, theirs, args in pairs:
            t_ours = per_call(ours, args, budget)
            t_np = per_call(theirs, args, budget)
            print(f"{name:15} {f'{n}x{m}':>13} {fmt(t_ours):>12} {fmt(t_np):>12} "
                  f"{t_np / t_ours:10.2f}x")


if __name__ == "__main__":
    main()
