"""_DE.optimize: evaluations, population, selection, trial rows and native functions."""
import ctypes
import itertools
import shutil
import subprocess
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import _ternavik

INF = float("inf")
NAN = float("nan")


from conftest import is_panic


def row_sums(x):
    """Sphere with a left-to-right sum per row, as a native loop computes it."""
    out = np.zeros(x.shape[0])
    for j in range(x.shape[1]):
        out += x[:, j] * x[:, j]
    return out


class Recorder:
    """A fitness callable that keeps a copy of every matrix and value vector,
    then scribbles over the array it was given."""

    def __init__(self, objective=row_sums):
        self.objective = objective
        self.arrays, self.seen, self.returned = [], [], []

    def __call__(self, x):
        self.arrays.append(x)
        self.seen.append(x.copy())
        values = np.asarray(self.objective(x), dtype=np.float64)
        self.returned.append(values.copy())
        x[...] = 1e300
        return values


def make_de(pop, low, high, F=None, CR=None):
    options = {} if F is None else {"F": F, "CR": CR}
    low, high = np.asarray(low, float), np.asarray(high, float)
    return _ternavik._DE(pop, len(low), options, (low, high))


def clipped_mutant(x, r1, r2, r3, F, low, high):
    v = (x[r2] - x[r3]) * F + x[r1]
    return np.where(low > v, low, np.where(high < v, high, v))


def same(a, b):
    return np.array_equal(a, b, equal_nan=True)


def explaining_triples(trial, target, x, F, low, high):
    """Donor triples of mutually distinct rows under which every component of
    `trial` is the target's or the clipped mutant's."""
    found = []
    for r1, r2, r3 in itertools.permutations(range(len(x)), 3):
        mutant = clipped_mutant(x, r1, r2, r3, F, low, high)
        ok = (trial == target) | (trial == mutant) | (np.isnan(trial) & np.isnan(mutant))
        if ok.all():
            found.append((r1, r2, r3, mutant))
    return found


def replay(seen, returned):
    """Populations at the start of every generation and the best found, by
    greedy selection over what the fitness function saw and returned."""
    x, f = seen[0].copy(), returned[0].copy()
    best, position = INF, np.zeros(x.shape[1])
    for i in range(len(f)):
        if f[i] < best:
            best, position = f[i], x[i].copy()
    populations = [x.copy()]
    for trial, tf in zip(seen[1:], returned[1:]):
        for i in range(len(f)):
            if tf[i] < f[i]:
                f[i], x[i] = tf[i], trial[i]
                if tf[i] < best:
                    best, position = tf[i], x[i].copy()
        populations.append(x.copy())
    return populations, best, position


def check_trial_rows(seen, populations, F, CR, low, high):
    for k in range(1, len(seen)):
        x = populations[k - 1]
        for i, trial in enumerate(seen[k]):
            triples = explaining_triples(trial, x[i], x, F, low, high)
            assert triples, f"generation {k} row {i} is no DE/rand/1/bin trial"
            if not CR > 0:
                assert np.count_nonzero(trial != x[i]) <= 1
            if F == 0 and CR >= 1:
                assert any(same(trial, m) for _, _, _, m in triples)


@pytest.mark.parametrize("iters", [0, 1, 6])
def test_callable_gets_fresh_contiguous_copies(iters):
    recorder = Recorder()
    de = make_de(5, [-1.0] * 3, [1.0] * 3)
    best, position = de.optimize(recorder, iters)
    assert len(recorder.arrays) == iters + 1
    for a in recorder.arrays:
        assert type(a) is np.ndarray and a.dtype == np.float64 and a.shape == (5, 3)
        assert a.flags.c_contiguous and a.flags.writeable
    for a, b in itertools.combinations(recorder.arrays, 2):
        assert not np.shares_memory(a, b)
    assert type(best) is float and position.dtype == np.float64 and position.shape == (3,)


@pytest.mark.parametrize("low, high", [
    ([-2.0, 0.0, 5.0], [3.0, 1e-9, 6.0]),
    ([4.0, 1.0, -1.0], [-4.0, 0.0, -2.0]),
    ([1.5, -7.0, 0.0], [1.5, -7.0, 0.0]),
])
def test_initial_population_lies_in_the_box(low, high):
    recorder = Recorder()
    make_de(8, low, high).optimize(recorder, 0)
    x = recorder.seen[0]
    lower, upper = np.minimum(low, high), np.maximum(low, high)
    assert ((x >= lower) & (x <= upper)).all()
    assert np.unique(x, axis=0).shape[0] == 8 or lower.tolist() == upper.tolist()


@pytest.mark.parametrize("F, CR, low, high", [
    (0.5, 0.7, [-3.0, -3.0, 0.0, 1.0], [3.0, 3.0, 0.5, 2.0]),
    (0.9, 0.0, [-1.0] * 4, [1.0] * 4),
    (0.0, 1.0, [-1.0] * 4, [1.0] * 4),
    (-1.5, 2.0, [2.0, -1.0, 0.0, 4.0], [-2.0, 1.0, 0.0, 3.0]),
    (0.7, NAN, [-1.0] * 4, [1.0] * 4),
])
def test_every_trial_row_follows_the_rule(F, CR, low, high):
    recorder = Recorder()
    best, position = make_de(6, low, high, F, CR).optimize(recorder, 8)
    populations, expected_best, expected_position = replay(recorder.seen, recorder.returned)
    check_trial_rows(recorder.seen, populations, F, CR, np.array(low), np.array(high))
    assert best == expected_best == min(v.min() for v in recorder.returned)
    assert same(position, expected_position)


def test_only_nan_or_infinity_gives_infinity_and_zeros():
    values = np.array([NAN, INF, NAN, INF, INF])
    best, position = make_de(5, [1.0] * 2, [2.0] * 2).optimize(lambda x: values, 4)
    assert best == INF and position.tolist() == [0.0, 0.0]


def test_ties_keep_the_lower_index():
    recorder = Recorder(lambda x: np.array([3.0, 1.0, 1.0, 1.0, 2.0]))
    best, position = make_de(5, [-1.0] * 2, [1.0] * 2).optimize(recorder, 3)
    assert best == 1.0 and same(position, recorder.seen[0][1])


def test_no_dimensions():
    de = make_de(4, [], [])
    calls = []

    def fitness(x):
        calls.append(x.shape)
        return np.array([5.0, 2.0, 7.0, 2.0])

    best, position = de.optimize(fitness, 0)
    assert best == 2.0 and position.shape == (0,) and calls == [(4, 0)]
    with pytest.raises(BaseException) as caught:
        de.optimize(fitness, 1)
    assert is_panic(caught.value) and str(caught.value) == "cannot sample empty range"
    assert len(calls) == 2


@pytest.mark.parametrize("failing_call", [0, 3])
def test_the_callables_exception_comes_back_unchanged(failing_call):
    error = KeyError("mine")
    calls = []

    def fitness(x):
        calls.append(1)
        if len(calls) > failing_call:
            raise error
        return row_sums(x)

    with pytest.raises(KeyError) as caught:
        make_de(4, [0.0], [1.0]).optimize(fitness, 10)
    assert caught.value is error and len(calls) == failing_call + 1


@pytest.mark.parametrize("returned, kind, message", [
    (lambda x: np.zeros(5), ValueError, "Fitness function returned incorrect shape"),
    (lambda x: np.zeros(3), ValueError, "Fitness function returned incorrect shape"),
    (lambda x: [0.0] * 4, TypeError, "'list' object cannot be converted to 'PyArray<T, D>'"),
    (lambda x: np.zeros((4, 1)), TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (lambda x: np.zeros(4, np.float32), TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
])
@pytest.mark.parametrize("bad_call", [0, 2])
def test_unusable_results_are_refused_at_every_evaluation(returned, kind, message, bad_call):
    calls = []

    def fitness(x):
        calls.append(1)
        return returned(x) if len(calls) > bad_call else row_sums(x)

    with pytest.raises(kind) as caught:
        make_de(4, [0.0], [1.0]).optimize(fitness, 5)
    assert caught.value.args == (message,) and len(calls) == bad_call + 1


def test_strided_results_are_read_in_index_order():
    values = np.array([9.0, 4.0, 7.0, 3.0, 8.0, 1.0, 6.0, 2.0])
    best, _ = make_de(4, [0.0], [1.0]).optimize(lambda x: values[::-2], 0)
    assert best == 1.0


@pytest.mark.parametrize("pop, dimensions, kind, message", [
    (2 ** 62, 4, BaseException, "ndarray: Shape too large, product of non-zero axis lengths overflows isize"),
    (2 ** 40, 2 ** 10, MemoryError, None),
    (2 ** 50, 0, MemoryError, None),
])
def test_impossible_working_state_fails_cleanly(pop, dimensions, kind, message):
    de = _ternavik._DE(pop, dimensions, {}, (np.zeros(dimensions), np.ones(dimensions)))
    with pytest.raises(kind) as caught:
        de.optimize(lambda x: pytest.fail("must not be called"), 1)
    if message is not None:
        assert is_panic(caught.value) and caught.value.args == (message,)
    assert make_de(4, [0.0], [1.0]).optimize(lambda x: row_sums(x), 1)[0] >= 0.0


# --- native fitness functions ------------------------------------------------

NATIVE_SIGNATURE = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
                                    ctypes.POINTER(ctypes.c_double),
                                    ctypes.POINTER(ctypes.c_double))


@pytest.fixture(scope="session")
def native():
    compiler = shutil.which("cc")
    if compiler is None:
        pytest.skip("no C compiler to build the native fitness functions")
    source = Path(__file__).with_name("native_fitness.c")
    build = Path(__import__("tempfile").mkdtemp(prefix="ternavik-native-"))
    library = build / "libnative_fitness.so"
    subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-o", str(library), str(source)],
                   check=True)
    return ctypes.CDLL(str(library))


def address(lib, name):
    return ctypes.cast(getattr(lib, name), ctypes.c_void_p).value


@pytest.mark.parametrize("as_numpy_scalar", [False, True])
def test_ctypes_callback_as_address(as_numpy_scalar):
    seen = []

    @NATIVE_SIGNATURE
    def callback(rows, cols, matrix, fitness):
        x = np.ctypeslib.as_array(matrix, shape=(rows, cols)).copy()
        seen.append(x)
        values = row_sums(x)
        for i in range(rows):
            fitness[i] = values[i]

    addr = ctypes.cast(callback, ctypes.c_void_p).value
    best, position = make_de(5, [-2.0] * 3, [2.0] * 3).optimize(
        np.uint64(addr) if as_numpy_scalar else addr, 4)
    assert len(seen) == 5
    assert best == row_sums(position[None, :])[0]
    assert best == min(row_sums(x).min() for x in seen)


def test_native_run_releases_the_interpreter_lock(native):
    native.set_busy_nanoseconds(ctypes.c_int64(30_000_000))
    inside = ctypes.c_int.in_dll(native, "busy_active")
    observed = []
    stop = threading.Event()

    def watch():
        while not stop.is_set():
            observed.append(inside.value)

    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        make_de(4, [-1.0] * 2, [1.0] * 2).optimize(address(native, "busy_sphere"), 5)
    finally:
        stop.set()
        watcher.join()
    assert observed.count(1) > 10


def test_native_runs_on_one_instance_overlap(native):
    native.set_busy_nanoseconds(ctypes.c_int64(20_000_000))
    ctypes.c_int.in_dll(native, "busy_max_active").value = 0
    de = make_de(4, [-1.0] * 3, [1.0] * 3)
    results = []
    threads = [threading.Thread(target=lambda: results.append(
        de.optimize(address(native, "busy_sphere"), 6))) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 3
    assert ctypes.c_int.in_dll(native, "busy_max_active").value >= 2
    for best, position in results:
        assert best == row_sums(position[None, :])[0]


@pytest.mark.parametrize("pop, dimensions", [(4, 50001), (7, 30000)])
def test_parallel_trials_follow_the_rule(native, pop, dimensions):
    iters, F = 2, 0.8
    low = np.tile([-1.0, 0.25, 3.0], dimensions // 3 + 1)[:dimensions]
    high = np.tile([1.0, 0.25, -3.0], dimensions // 3 + 1)[:dimensions]
    buffer = np.zeros((iters + 1) * pop * dimensions)
    native.set_record_buffer(buffer.ctypes.data_as(ctypes.POINTER(ctypes.c_double)),
                             ctypes.c_uint64(buffer.size))
    de = _ternavik._DE(pop, dimensions, {"F": F, "CR": 0.5}, (low, high))
    best, position = de.optimize(address(native, "recording_sphere"), iters)
    assert ctypes.c_uint64.in_dll(native, "record_used").value == buffer.size
    seen = list(buffer.reshape(iters + 1, pop, dimensions))
    returned = [row_sums(x) for x in seen]
    populations, expected_best, expected_position = replay(seen, returned)
    check_trial_rows(seen, populations, F, 0.5, low, high)
    assert best == expected_best and same(position, expected_position)
