"""How failures reach Python: exception types, the internal-failure type, no leaks."""
import os
import resource
import sys

import numpy as np
import pytest

from _ternavik import _DE, entropy_weight, topsis
from conftest import is_panic

D = np.array([[1.0, 2.0], [3.0, 5.0], [4.0, 1.0]])
W = np.array([0.5, 0.5])
K = np.array([1, 0], dtype=np.int64)
BOUNDS = (np.zeros(2), np.ones(2))


def test_internal_failure_is_a_base_exception_only():
    with pytest.raises(BaseException) as info:
        try:
            topsis(D, W, K[:1])
        except Exception:  # must not catch it
            pytest.fail("internal failure caught as Exception")
    assert is_panic(info.value)
    assert type(info.value).__qualname__ == "PanicException"
    assert info.value.args == ("assertion failed: part.equal_dim(dimension)",)


def test_checks_raise_with_the_message_as_only_argument():
    with pytest.raises(ValueError) as info:
        topsis(D[:1], W, K)
    assert info.value.args == ("Data must have more than one row",)


def test_exception_from_fitness_function_comes_back_unchanged():
    raised = KeyError("x")

    def fitness(population):
        raise raised

    with pytest.raises(KeyError) as info:
        _DE(4, 2, {}, BOUNDS).optimize(fitness, 3)
    assert info.value is raised
    frames = []
    tb = info.value.__traceback__
    while tb is not None:
        frames.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    assert "fitness" in frames


def test_internal_failure_coming_back_through_python_is_resumed(capfd):
    def fitness(population):
        try:
            topsis(D, W, K[:1])
        except BaseException as e:
            caught.append(e)
            raise

    caught = []
    with pytest.raises(BaseException) as info:
        _DE(4, 2, {}, BOUNDS).optimize(fitness, 0)
    assert is_panic(info.value) and info.value is not caught[0]
    assert info.value.args == ("assertion failed: part.equal_dim(dimension)",)
    err = capfd.readouterr().err
    assert "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n" \
           "Python stack trace below:\n" in err
    assert "Traceback" in err


def test_a_failed_call_leaves_no_trace():
    expected = topsis(D, W, K).tobytes()
    for bad in ((D[:1], W, K), (D, W[:1], K), (D.tolist(), W, K)):
        with pytest.raises(BaseException):
            topsis(*bad)
        assert topsis(D, W, K).tobytes() == expected


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def test_thousands_of_calls_keep_memory_and_references_flat():
    data = np.random.default_rng(1).random((50, 6))
    weights, kinds = np.ones(6), np.array([1, 0, 1, 0, 1, 0], dtype=np.int64)
    bounds = (np.zeros(6), np.ones(6))
    de = _DE(8, 6, {}, bounds)

    def calls():
        topsis(data, weights, kinds)
        entropy_weight(data, kinds)
        de.optimize(lambda x: x.sum(axis=1), 1)
        for bad in (lambda: topsis(data[:1], weights, kinds), lambda: topsis(data, weights[:2], kinds),
                    lambda: entropy_weight(data, [1]), lambda: _DE(3, 6, {}, bounds),
                    lambda: de.optimize(lambda x: x[0], 1), lambda: de.optimize(None, 1)):
            try:
                bad()
            except BaseException:
                pass

    counts = lambda: [sys.getrefcount(a) for a in (data, weights, kinds, *bounds, de)]
    for _ in range(200):
        calls()
    refs, rss = counts(), rss_kib()
    for _ in range(3000):
        calls()
    assert counts() == refs
    if os.environ.get("TERNAVIK_SANITIZED"):
        return  # freed memory sits in the sanitizer's quarantine: RSS says nothing there
    # 3000 rounds of ~10 calls; a leak of even one small buffer per call would show as megabytes
    assert rss_kib() - rss < 4096
