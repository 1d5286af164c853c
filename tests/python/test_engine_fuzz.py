"""Every entry point of ternavik._engine, called the way a hostile program
would: wrong types and dtypes, shapes of 0 and 2**40, one array passed for
several parameters, and scalars whose __index__ or __float__ resize the
arrays of the same call. Nothing may crash, hang or raise anything but
TypeError, ValueError, OverflowError or MemoryError.

The calls run in a child interpreter per entry point (a crash there is a
failed test, not a lost suite). TERNAVIK_FUZZ_EXAMPLES sets how many calls
each entry point gets."""
import ctypes
import os
import sys
import textwrap
from pathlib import Path

import numpy as np
import pytest

from conftest import run_python

EXAMPLES = int(os.environ.get("TERNAVIK_FUZZ_EXAMPLES", "60"))
CHILD_SECONDS = 600

N, M, K = 5, 3, 2
rng = np.random.default_rng(0)

# Valid arguments of every entry point, by parameter, as functions so that
# each call gets arrays of its own.
def data():
    return rng.random((N, M)) + 0.5


def kinds():
    return np.array([1, -1, 1], np.int64)


def vector():
    return np.full(M, 1.0 / M)


def batch():
    return np.full((K, M), 1.0 / M)


def state(rows):
    return lambda: np.zeros((rows, M))


def value(v):
    return lambda: v


def sphere_rows(x):
    return (x * x).sum(axis=1)


_PROTOTYPE = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
                              ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double))


@_PROTOTYPE
def _native_zero(rows, cols, matrix, out):
    for i in range(rows):
        out[i] = 0.0


def native():
    from ternavik._native import native_function
    return native_function(_native_zero)


def engine():
    from ternavik import _engine
    handle = _engine.de_engine_create(np.zeros(2), np.ones(2), 6, 1, 0, 0, 0.5, 0.5, 0.7, 0,
                                      False, 1, 2, np.empty(0), False, 1000)
    _engine.de_engine_init(handle, 1, None)
    return handle


def method(*extra):
    return [("data", data), ("weights", batch), ("kinds", kinds), *extra]


# (parameter, valid value); the kind of hostile values a parameter gets
# follows from its valid value. Limits of de_engine_run are kept finite so
# that no call can run for ever.
ENTRY_POINTS = {
    "entropy_weight": [("data", data), ("indicator_type", kinds)],
    "topsis": [("data", data), ("weights", vector), ("indicator_type", kinds)],
    "topsis_scan": [("block", data), ("state", state(3))],
    "topsis_ideals": [("state", state(3)), ("weights", vector), ("indicator_type", kinds)],
    "topsis_closeness": [("block", data), ("ideals", state(3))],
    "entropy_extremes": [("block", data), ("state", state(2))],
    "entropy_sums": [("block", data), ("extremes", state(2)), ("indicator_type", kinds),
                     ("state", state(2))],
    "entropy_weights": [("extremes", state(2)), ("sums", state(2)), ("rows", value(N))],
    "entropy_scores": [("block", data), ("extremes", state(2)), ("weights", vector),
                       ("indicator_type", kinds)],
    "objective_weights": [("data", data), ("indicator_type", kinds), ("method", value(1))],
    "rank_coefficients": [("rankings", data), ("coefficient", value(0))],
    "normalize": [("data", data), ("kinds", kinds), ("method", value(0))],
    "topsis_scores": method(("normalization", value(0))),
    "vikor_scores": method(("v", value(0.5))),
    "promethee2_scores": method(("functions", lambda: np.array([0, 5, 3], np.int64)),
                                ("q", vector), ("p", vector), ("s", vector)),
    "copras_scores": method(),
    "waspas_scores": method(("lam", value(0.5))),
    "edas_scores": method(),
    "moora_scores": method(),
    "aras_scores": method(),
    "mabac_scores": method(),
    "codas_scores": method(("tau", value(0.02))),
    "cocoso_scores": method(("lam", value(0.5))),
    "mairca_scores": method(),
    "marcos_scores": method(),
    "spotis_scores": method(("bounds", lambda: np.array([[0.0, 2.0]] * M)), ("esp", vector)),
    "promethee1_flows": method(("functions", lambda: np.array([0, 5, 3], np.int64)),
                               ("q", vector), ("p", vector), ("s", vector)),
    "electre1_outranking": method(("c", value(0.6)), ("d", value(0.4))),
    "electre3_credibility": method(("q", lambda: np.zeros(M)), ("p", vector), ("v", vector)),
    "gra_scores": method(("zeta", value(0.5))),
    "rank_counts": [("scores", lambda: rng.random((4, N))), ("weights", lambda: rng.random((4, M))),
                    ("higher_is_better", value(1))],
    "de_engine_create": [
        ("low", lambda: np.zeros(2)), ("high", lambda: np.ones(2)), ("pop", value(6)),
        ("mutation", value(1)), ("crossover", value(0)), ("bounds_handling", value(0)),
        ("F", value(0.5)), ("F_high", value(0.5)), ("CR", value(0.7)), ("selection", value(0)),
        ("immediate", value(False)), ("key0", value(1)), ("key1", value(2)),
        ("integrality", lambda: np.empty(0)), ("constrained", value(False)),
        ("parallel_threshold", value(1000))],
    "de_engine_configure": [("engine", engine), ("adaptation", value(1)), ("budget", value(100)),
                            ("scale_low", lambda: np.empty(0)), ("scale_high", lambda: np.empty(0)),
                            ("objective_copy", value(True))],
    "de_engine_init": [("engine", engine), ("kind", value(0)),
                       ("rows", lambda: np.full((6, 2), 0.5))],
    "de_engine_evaluate": [("engine", engine), ("fitness", lambda: sphere_rows)],
    "de_engine_run": [("engine", engine), ("fitness", lambda: sphere_rows),
                      ("generations", value(2)), ("tol", value(0.0)), ("atol", value(0.0)),
                      ("max_evaluations", value(30)), ("max_seconds", value(5.0))],
    "de_engine_state": [("engine", engine)],
    "evaluate_native": [("address", native), ("rows", lambda: np.full((3, 2), 0.5))],
}
MODULE_FUNCTIONS = ("entropy_weight", "topsis")
LENGTH_ASSERTION = "assertion failed: part.equal_dim(dimension)"
BOUNDED = {("de_engine_run", "generations"), ("de_engine_run", "max_evaluations"),
           ("de_engine_run", "max_seconds")}


def test_every_entry_point_is_fuzzed():
    from ternavik import _engine
    public = {name for name in dir(_engine) if not name.startswith("_")}
    assert public == set(ENTRY_POINTS)


class Resizing:
    """A scalar whose conversion resizes another argument of the same call
    (freeing the memory the array had), then converts as `value` does."""

    def __init__(self, value, victim, shape):
        self.value, self.victim, self.shape = value, victim, shape

    def _resize(self):
        if isinstance(self.victim, np.ndarray) and self.victim.base is None:
            self.victim.resize(self.shape, refcheck=False)

    def __index__(self):
        self._resize()
        return int(self.value)

    def __float__(self):
        self._resize()
        return float(self.value)


class IntWithFloat(int):
    """An int whose float() runs Python code (read through __float__)."""

    def __float__(self):
        Resizing.__index__  # noqa: B018  (any Python code will do)
        return 0.5


def hostile_values(strategies, valid, bounded):
    """Values a parameter whose valid value is `valid` should refuse or survive."""
    st = strategies
    common = [None, "x", [1.0, 2.0], object(), float("nan"), -1, 2**64, 2**200, True]
    if isinstance(valid, np.ndarray):
        shapes = [(0,), (0, 0), (1,), (N,), (N, M), (M, N), (2**40, 0), (0, 2**40), (1, 1, 1)]
        arrays = st.one_of(
            st.builds(lambda s, d: np.zeros(s, d), st.sampled_from(shapes),
                      st.sampled_from([np.float64, np.int64, np.float32, np.int32, bool,
                                       object, ">f8"])),
            st.just(np.broadcast_to(1.0, (2**40,))),
            st.just(valid.T if valid.ndim == 2 else valid[::-1]),
            st.just(np.full_like(valid, np.nan)),
            st.just(np.full_like(valid, np.inf)))
        return st.one_of(arrays, st.sampled_from(common))
    if bounded:
        return st.sampled_from([None, "x", -1, float("nan"), 0, 0.0, 1, True, 2**64])
    numbers = st.one_of(st.integers(-2**70, 2**70), st.floats(allow_nan=True),
                        st.sampled_from([IntWithFloat(3), np.int64(1), np.float32(0.25),
                                         np.uint64(2**63)]))
    return st.one_of(numbers, st.sampled_from(common + [sphere_rows, len]))


def fuzz(name, examples):
    """Runs `examples` hostile calls of _engine.<name> (in the child)."""
    from hypothesis import HealthCheck, given, settings, strategies as st
    from ternavik import _engine

    function = getattr(_engine, name)
    parameters = ENTRY_POINTS[name]
    # OverflowError: an integer argument outside its C type, as the
    # interpreter's own conversion reports it
    allowed = (TypeError, ValueError, OverflowError, MemoryError)

    @st.composite
    def calls(draw):
        valid = [make() for _, make in parameters]
        arguments = list(valid)
        for k, (parameter, _) in enumerate(parameters):
            if draw(st.booleans()):
                arguments[k] = draw(hostile_values(st, valid[k], (name, parameter) in BOUNDED))
        arrays = [k for k, a in enumerate(valid) if isinstance(a, np.ndarray)]
        scalars = [k for k, a in enumerate(valid) if not isinstance(a, np.ndarray)
                   and (name, parameters[k][0]) not in BOUNDED]
        if arrays and len(arrays) > 1 and draw(st.booleans()):
            # one array for two parameters
            first, second = draw(st.permutations(arrays))[:2]
            arguments[second] = arguments[first]
        if arrays and scalars and draw(st.booleans()):
            k = draw(st.sampled_from(scalars))
            victim = arguments[draw(st.sampled_from(arrays))]
            # the larger one is past the allocator's threshold for a mapping
            # of its own, which is unmapped when it is freed
            shape = draw(st.sampled_from([(0,), (2, 2), (300, 200)]))
            if isinstance(valid[k], (int, float)) and not isinstance(valid[k], bool):
                arguments[k] = Resizing(valid[k], victim, shape)
        keywords = draw(st.booleans())
        return arguments, keywords

    @settings(max_examples=examples, deadline=None, database=None, derandomize=True,
              suppress_health_check=list(HealthCheck))
    @given(calls())
    def run(call):
        arguments, keywords = call
        print(name, [type(a).__name__ for a in arguments], file=sys.stderr, flush=True)
        try:
            if keywords:
                function(**{p: a for (p, _), a in zip(parameters, arguments)})
            else:
                function(*arguments)
        except allowed:
            pass
        except BaseException as e:
            # entropy_weight and topsis fail as _ternavik's own do, whose
            # mismatched lengths are an internal failure by contract
            if name not in MODULE_FUNCTIONS or str(e) != LENGTH_ASSERTION:
                raise

    run()


# Sizes drawn at random may be large enough to allocate for real: the child
# gets a few GiB, so those fail as MemoryError instead of paging the machine.
# The sanitizer reserves terabytes of address space, so there its allocator
# gets the limit instead.
MEMORY_LIMIT_MB = 4096

CHILD = """
import os, resource, sys
if not os.environ.get("TERNAVIK_SANITIZED"):
    limit = {limit_mb} << 20
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
sys.path.insert(0, {tests!r})
import test_engine_fuzz
test_engine_fuzz.fuzz({name!r}, {examples})
print("ok")
"""


@pytest.mark.parametrize("name", sorted(ENTRY_POINTS))
def test_hostile_calls(name):
    code = CHILD.format(tests=str(Path(__file__).parent), name=name, examples=EXAMPLES,
                        limit_mb=MEMORY_LIMIT_MB)
    env = {}
    if os.environ.get("TERNAVIK_SANITIZED"):
        env["ASAN_OPTIONS"] = (os.environ.get("ASAN_OPTIONS", "")
                               + f":max_allocation_size_mb={MEMORY_LIMIT_MB // 4}")
    done = run_python(textwrap.dedent(code), env=env, check=False, timeout=CHILD_SECONDS)
    tail = "\n".join(done.stderr.splitlines()[-40:])
    assert done.returncode == 0 and done.stdout.rstrip().endswith("ok"), (
        f"{name}: exit {done.returncode}\n{done.stdout}\n{tail}")
