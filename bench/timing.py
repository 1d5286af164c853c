"""Timing helpers the benchmarks share."""

import time


def per_call(fn, budget, *args, max_repeats=20):
    """Minimum time per call of fn(*args) over repeated batches of calls
    within about `budget` seconds (at least three batches)."""
    start = time.perf_counter()
    fn(*args)
    once = time.perf_counter() - start
    batch = max(1, int(0.02 / max(once, 1e-9)))
    repeats = max(3, min(max_repeats, int(budget / max(once * batch, 1e-9))))
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(batch):
            fn(*args)
        best = min(best, (time.perf_counter() - start) / batch)
    return best


def fmt(seconds):
    """A duration in the largest unit that keeps it at or above one."""
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:8.2f} {unit}"
    return f"{seconds / 1e-9:8.0f} ns"
