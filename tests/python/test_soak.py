"""Soak: every entry point called many thousands of times on its success and
failure paths, with a Python and a native fitness function, while resident
memory, live objects and the reference counts of the inputs stay flat."""
import gc
import os
import sys

import numpy as np
import pytest

from _ternavik import _DE, entropy_weight, topsis
from reliability_report import report
from test_optimize import address, native  # noqa: F401  (session fixture)

ROUNDS = int(os.environ.get("TERNAVIK_SOAK_ROUNDS", "10000"))
WARM_UP = 200
# Under AddressSanitizer freed memory sits in a quarantine, so resident memory
# says nothing about leaks there; references and live objects still do.
SANITIZED = bool(os.environ.get("TERNAVIK_SANITIZED"))


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


def test_soak(native):  # noqa: F811
    rng = np.random.default_rng(7)
    data = rng.random((60, 8))
    data[3, 2] = np.nan
    weights = rng.random(8)
    kinds = np.array([1, 0, 1, 2, -1, 1, 0, 1], dtype=np.int64)
    low, high = np.full(5, -2.0), np.full(5, 2.0)
    bounds = (low, high)
    options = {"F": 0.6, "CR": 0.8}
    de = _DE(12, 5, options, bounds)
    empty = _DE(4, 0, {}, (np.zeros(0), np.zeros(0)))
    sphere = address(native, "sphere")
    squares = lambda x: (x * x).sum(axis=1)  # noqa: E731

    def raising(x):
        raise KeyError("soak")

    successes = [
        lambda: topsis(data, weights, kinds),
        lambda: topsis(data=data[::-1], weights=weights, indicator_type=kinds),
        lambda: entropy_weight(data, kinds),
        lambda: entropy_weight(data.T.copy().T, indicator_type=kinds),
        lambda: _DE(12, 5, options, bounds),
        lambda: de.optimize(squares, 2),
        lambda: de.optimize(sphere, 3),
        lambda: empty.optimize(sphere, 0),
    ]
    failures = [
        lambda: topsis(data[:1], weights, kinds),            # ValueError
        lambda: topsis(data, weights[:3], kinds),            # internal failure
        lambda: topsis(data, weights, kinds, data),          # binding
        lambda: entropy_weight(data.astype(np.float32), kinds),
        lambda: entropy_weight(data, kinds[:-1]),
        lambda: _DE(3, 5, options, bounds),
        lambda: _DE(12, 5, options, (low,)),
        lambda: _DE(12, 4, options, bounds),
        lambda: _DE(-1, 5, options, bounds),
        lambda: de.optimize(raising, 2),
        lambda: de.optimize(lambda x: np.zeros(3), 2),
        lambda: de.optimize(lambda x: [0.0] * 12, 2),
        lambda: de.optimize(None, 2),
        lambda: empty.optimize(sphere, 1),                   # internal failure
    ]

    def round_of_calls():
        for call in successes:
            call()
        for call in failures:
            try:
                call()
            except BaseException:  # noqa: B902 - internal failures are BaseExceptions
                pass

    watched = (data, weights, kinds, low, high, bounds, options, de, empty, squares, raising)
    refs = lambda: [sys.getrefcount(obj) for obj in watched]  # noqa: E731
    for _ in range(WARM_UP):
        round_of_calls()
    gc.collect()
    refs_before, objects_before, rss_before = refs(), len(gc.get_objects()), rss_kib()
    for _ in range(ROUNDS):
        round_of_calls()
    gc.collect()
    refs_after, objects_after, rss_after = refs(), len(gc.get_objects()), rss_kib()
    calls = (WARM_UP + ROUNDS) * (len(successes) + len(failures))
    report(f"soak: {calls} calls ({len(successes)} succeeding and {len(failures)} failing "
           f"per round, {WARM_UP} + {ROUNDS} rounds); VmRSS {rss_before} KiB before, "
           f"{rss_after} KiB after the measured rounds; live objects {objects_before} -> "
           f"{objects_after}; input reference counts {refs_before} -> {refs_after}")

    assert refs_after == refs_before, "a call keeps or drops references to its inputs"
    assert objects_after - objects_before < 50, "calls leave live objects behind"
    if not SANITIZED:
        # The measured rounds make 22 * ROUNDS calls; the smallest thing a call
        # could leak (a float, a tuple, a result array's keeper, a buffer) is
        # at least 24 bytes, so any leak grows memory by more than 5 MiB at
        # 10000 rounds, while allocator noise after the warm-up stays well below.
        bound = max(1024, ROUNDS * 22 * 24 // 1024 // 2)
        assert rss_after - rss_before < bound, (rss_before, rss_after)
