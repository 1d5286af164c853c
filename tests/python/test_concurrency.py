"""Eight interpreter threads at once running native optimisations, some large
enough for the worker pool, beside four more calling topsis and
entropy_weight on shared arrays. Run
in a child interpreter under a time limit, so a deadlock fails the test
instead of hanging the run."""
import os
import subprocess
import sys

from reliability_report import report
from test_optimize import native  # noqa: F401  (session fixture)

TIMEOUT = int(os.environ.get("TERNAVIK_CONCURRENCY_TIMEOUT", "240"))

WORKLOAD = r"""
import ctypes, sys, threading
import numpy as np
from _ternavik import _DE, entropy_weight, topsis

lib = ctypes.CDLL(sys.argv[1])
sphere = ctypes.cast(lib.sphere, ctypes.c_void_p).value
rng = np.random.default_rng(3)
data = rng.random((300, 40))
data[::7, 5] = np.inf
weights = rng.random(40)
kinds = (np.arange(40) % 3).astype(np.int64)
expected_topsis = topsis(data, weights, kinds).tobytes()
expected_entropy = [a.tobytes() for a in entropy_weight(data, kinds)]

large = _DE(20000, 11, {}, (np.full(11, -1.0), np.ones(11)))    # 220000 elements: pool
wide = _DE(5, 50000, {}, (np.full(50000, -1.0), np.ones(50000)))  # 250000 elements: pool
small = _DE(30, 6, {"F": 0.7}, (np.full(6, -1.0), np.ones(6)))
failures, calls = [], [0] * 12

def sphere_of(position):
    total = 0.0
    for v in position:
        total += v * v
    return total

def optimiser(slot, de, runs, iters):
    for _ in range(runs):
        best, position = de.optimize(sphere, iters)
        calls[slot] += 1
        if not (np.all(np.abs(position) <= 1.0) and best == sphere_of(position)):
            failures.append(f"thread {slot}: invalid optimum {best}")

def decisions(slot, rounds):
    for _ in range(rounds):
        if topsis(data, weights, kinds).tobytes() != expected_topsis:
            failures.append(f"thread {slot}: topsis differs")
        if [a.tobytes() for a in entropy_weight(data, kinds)] != expected_entropy:
            failures.append(f"thread {slot}: entropy_weight differs")
        calls[slot] += 2

def guarded(target, *args):
    def run():
        try:
            target(*args)
        except BaseException as e:
            failures.append(f"thread {args[0]}: {type(e).__name__}: {e}")
    return threading.Thread(target=run)

threads = ([guarded(optimiser, k, large, 8, 8) for k in range(3)]       # one shared instance
           + [guarded(optimiser, 3, wide, 6, 6)]
           + [guarded(optimiser, k, small, 300, 30) for k in range(4, 8)]
           + [guarded(decisions, k, 400) for k in range(8, 12)])
for t in threads:
    t.start()
for t in threads:
    t.join()
print("calls per thread:", calls, "total", sum(calls))
if failures:
    print("\n".join(failures[:20]))
    sys.exit(1)
"""


def test_eight_threads_at_once(native):  # noqa: F811
    try:
        done = subprocess.run([sys.executable, "-c", WORKLOAD, native._name],
                              capture_output=True, text=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired as expired:
        raise AssertionError(f"no end within {TIMEOUT} s: deadlock or starvation\n"
                             f"{expired.stdout}\n{expired.stderr}") from None
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
    report(f"concurrency: 12 threads at once (8 optimising natively, 4 of them above the "
           f"pool threshold; 4 on topsis/entropy_weight); {done.stdout.strip()}")
