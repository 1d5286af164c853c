"""Per-generation time of _DE.optimize beside SciPy's differential evolution
configured as the same DE/rand/1/bin, and beside a plain single-threaded C
loop doing the serial generation with a native sphere (the floor). Then
ternavik.differential_evolution (the engine) beside SciPy's with the same
settings, and the engine's overhead beside _DE.optimize.

    python bench/bench_de.py [--quick]

Each time per generation is (t(K) - t(1)) / (K - 1), the best of a few
rounds, so set-up, the initial population and call overhead drop out."""
import argparse
import ctypes
import math
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
from scipy.optimize import differential_evolution

import _ternavik
from ternavik import differential_evolution as engine_de

F, CR = 0.5, 0.7
LOW, HIGH = -5.12, 5.12
TWO_PI = 2.0 * math.pi


def build_floor():
    """Compiles de_floor.c; it also provides the C objectives for optimize."""
    compiler = shutil.which("cc") or sys.exit("bench needs a C compiler (cc)")
    library = Path(tempfile.mkdtemp(prefix="ternavik-bench-")) / "libde_floor.so"
    subprocess.run([compiler, "-O3", "-march=native", "-ffp-contract=off", "-shared", "-fPIC",
                    "-o", str(library), str(Path(__file__).with_name("de_floor.c")), "-lm"],
                   check=True)
    lib = ctypes.CDLL(str(library))
    lib.de_floor_seconds_per_generation.restype = ctypes.c_double
    lib.de_floor_seconds_per_generation.argtypes = [ctypes.c_uint64] * 3 + [ctypes.c_double] * 4 \
        + [ctypes.c_uint64]
    lib.objective_seconds_per_call.restype = ctypes.c_double
    lib.objective_seconds_per_call.argtypes = [ctypes.c_void_p] + [ctypes.c_uint64] * 3
    lib.trial_traffic_seconds_per_generation.restype = ctypes.c_double
    lib.trial_traffic_seconds_per_generation.argtypes = [ctypes.c_uint64] * 3
    return lib


def numba_objectives():
    """Native sphere and Rastrigin compiled by numba, or None without numba."""
    try:
        from numba import carray, cfunc, types
    except ImportError:
        return None
    signature = types.void(types.uint64, types.uint64, types.CPointer(types.double),
                           types.CPointer(types.double))

    @cfunc(signature)
    def sphere(rows, cols, xp, fp):
        x, f = carray(xp, (rows * cols,)), carray(fp, (rows,))
        for i in range(rows):
            s = 0.0
            for j in range(cols):
                v = x[i * cols + j]
                s += v * v
            f[i] = s

    @cfunc(signature)
    def rastrigin(rows, cols, xp, fp):
        x, f = carray(xp, (rows * cols,)), carray(fp, (rows,))
        for i in range(rows):
            s = 10.0 * cols
            for j in range(cols):
                v = x[i * cols + j]
                s += v * v - 10.0 * math.cos(TWO_PI * v)
            f[i] = s

    return {"sphere": sphere.address, "rastrigin": rastrigin.address}


def numpy_objective(name, axis):
    """Vectorised NumPy objective over rows (axis=1) or columns (axis=0)."""
    if name == "sphere":
        return lambda x: (x * x).sum(axis=axis)
    return lambda x: 10.0 * x.shape[axis] + (x * x - 10.0 * np.cos(TWO_PI * x)).sum(axis=axis)


def per_generation(run, iters):
    """Times of a 1-generation and an `iters`-generation run, adjacent; see
    measure_in_rounds for how they become a time per generation."""
    start = time.perf_counter()
    run(1)
    middle = time.perf_counter()
    run(iters)
    return middle - start, time.perf_counter() - middle, iters


def measure_in_rounds(runners, rounds):
    """Best time per column; every round runs each column once in turn, so a
    burst of load on this shared machine hits all columns alike. For a
    per-generation column the best t(1) and the best t(K) are kept apart and
    give (t(K) - t(1)) / (K - 1): the best of the differences would reward a
    round whose t(1) alone was slowed."""
    best = {}
    for _ in range(rounds):
        for key, measure in runners.items():
            value = measure()
            if isinstance(value, tuple):
                old = best.get(key, (math.inf, math.inf, value[2]))
                best[key] = (min(old[0], value[0]), min(old[1], value[1]), value[2])
            else:
                best[key] = min(best.get(key, math.inf), value)
    return {key: (v[1] - v[0]) / (v[2] - 1) if isinstance(v, tuple) else v
            for key, v in best.items()}


def scipy_run(objective, pop, dims, iters):
    init = np.random.default_rng(1).uniform(LOW, HIGH, size=(pop, dims))
    differential_evolution(objective, [(LOW, HIGH)] * dims, strategy="rand1bin", maxiter=iters,
                           init=init, mutation=F, recombination=CR, tol=0, atol=0,
                           polish=False, vectorized=True, updating="deferred")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer generations and rounds")
    quick = parser.parse_args().quick
    floor_lib = build_floor()
    native_c = {name: ctypes.cast(getattr(floor_lib, name), ctypes.c_void_p).value
                for name in ("sphere", "rastrigin")}
    native_c["__library__"] = floor_lib._name
    numba_native = numba_objectives()
    if numba_native is None:
        print("numba is not installed: the numba cfunc column is skipped")
    rounds = 2 if quick else 5

    print(f"{'problem':<22}{'floor':>10}{'opt C':>10}{'opt numba':>11}{'opt numpy':>11}"
          f"{'scipy':>10}{'C/floor':>9}{'numba/scipy':>12}{'numpy/scipy':>12}")
    for pop, dims, fast_iters, slow_iters in [(64, 32, 2001, 101), (1000, 1000, 21, 4)]:
        if quick:
            fast_iters, slow_iters = max(fast_iters // 5, 3), max(slow_iters // 2, 3)
        de = _ternavik._DE(pop, dims, {"F": F, "CR": CR},
                           (np.full(dims, LOW), np.full(dims, HIGH)))
        for name in ("sphere", "rastrigin"):
            runners = {}
            if name == "sphere":
                runners["floor"] = lambda: floor_lib.de_floor_seconds_per_generation(
                    pop, dims, fast_iters, F, CR, LOW, HIGH, 7)
            runners["opt C"] = lambda: per_generation(
                lambda k: de.optimize(native_c[name], k), fast_iters)
            if numba_native:
                runners["opt numba"] = lambda: per_generation(
                    lambda k: de.optimize(numba_native[name], k), fast_iters)
            by_rows, by_columns = numpy_objective(name, 1), numpy_objective(name, 0)
            runners["opt numpy"] = lambda: per_generation(
                lambda k: de.optimize(by_rows, k), fast_iters)
            runners["scipy"] = lambda: per_generation(
                lambda k: scipy_run(by_columns, pop, dims, k), slow_iters)
            print(format_row(f"{name} {pop}x{dims}", measure_in_rounds(runners, rounds)))
    print("times are microseconds per generation; ratios below 1 favour optimize")
    engine_tables(floor_lib, native_c, numba_native, rounds, quick)


# ternavik's engine takes native functions with their signature only, never
# as a bare address (_DE.optimize still takes the address).
NATIVE = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
                          ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double))


def typed(fun):
    return NATIVE(fun) if isinstance(fun, int) else fun


def engine_run(fun, pop, dims, iters, strategy, vectorized, **kwargs):
    """ternavik.differential_evolution with no early stop and no polish."""
    res = engine_de(typed(fun), [(LOW, HIGH)] * dims, strategy=strategy, maxiter=iters,
                    popsize=max(1, pop // dims), init="random", tol=0, atol=0, polish=False,
                    vectorized=vectorized, updating="deferred", rng=1, **kwargs)
    assert res.nit == iters, res.message


def scipy_engine_run(fun, pop, dims, iters, strategy):
    differential_evolution(fun, [(LOW, HIGH)] * dims, strategy=strategy, maxiter=iters,
                           popsize=max(1, pop // dims), init="random", tol=0, atol=0,
                           polish=False, vectorized=True, updating="deferred", rng=1)


def numpy_seconds_per_call(objective, pop, dims, calls):
    """The NumPy objective alone on (dims, pop) matrices, as both optimisers pass
    them, cycling through several as de_floor.c's objective_seconds_per_call does."""
    count = min(64, max(1, (1 << 19) // (pop * dims)))
    rng = np.random.default_rng(1)
    xs = [rng.uniform(LOW, HIGH, size=(pop, dims)).T for _ in range(count)]
    objective(xs[0])
    start = time.perf_counter()
    for c in range(calls):
        objective(xs[c % count])
    return (time.perf_counter() - start) / calls


def engine_tables(floor_lib, native_c, numba_native, rounds, quick):
    """The issue's targets: native <= 1/50 and the same NumPy function <= 1/10 of
    SciPy's time; engine <= 1.2 x _DE.optimize per generation at 64 x 32.
    Beside each ratio, in brackets, the objective's own time over SciPy's: no
    optimiser that evaluates every trial once can get below it. Beside the
    native ratio also the memory traffic of making the trials with no draws:
    with the objective, what a generation costs before any random number."""
    print("\ndifferential_evolution (deferred, no polish) beside SciPy's, "
          "microseconds per generation; [objective alone / SciPy]; "
          "{trial traffic alone / SciPy}, one thread each")
    print(f"{'problem':<30}{'native C':>10}{'numba':>10}{'numpy':>10}{'scipy':>10}"
          f"{'C/scipy':>27}{'numba/sp':>10}{'numpy/sp':>18}")
    for pop, dims, fast_iters, slow_iters in [(64, 32, 1001, 101), (1000, 1000, 11, 4)]:
        if quick:
            fast_iters, slow_iters = max(fast_iters // 5, 3), max(slow_iters // 2, 3)
        for strategy in ("best1bin", "rand1bin"):
            for name in ("sphere", "rastrigin"):
                columns = numpy_objective(name, 0)
                runners = {
                    "native C": lambda: per_generation(lambda k: engine_run(
                        native_c[name], pop, dims, k, strategy, False), fast_iters),
                    "numpy": lambda: per_generation(lambda k: engine_run(
                        columns, pop, dims, k, strategy, True), fast_iters),
                    "scipy": lambda: per_generation(lambda k: scipy_engine_run(
                        columns, pop, dims, k, strategy), slow_iters),
                    "objective C": lambda: floor_lib.objective_seconds_per_call(
                        native_c[name], pop, dims, fast_iters),
                    "objective numpy": lambda: numpy_seconds_per_call(
                        columns, pop, dims, fast_iters),
                    "traffic C": lambda: floor_lib.trial_traffic_seconds_per_generation(
                        pop, dims, 5),
                }
                if numba_native:
                    runners["numba"] = lambda: per_generation(lambda k: engine_run(
                        numba_native[name], pop, dims, k, strategy, False), fast_iters)
                row = measure_in_rounds(runners, rounds)
                cell = lambda k: f"{row[k] * 1e6:>10.1f}" if k in row else f"{'-':>10}"
                ratio = lambda k, w: (f"{row[k] / row['scipy']:>{w}.4f}" if k in row
                                      else f"{'-':>{w}}")
                alone = lambda k: f" [{row[k] / row['scipy']:.4f}]"
                traffic = lambda k: f" {{{row[k] / row['scipy']:.4f}}}"
                print(f"{f'{name} {pop}x{dims} {strategy}':<30}{cell('native C')}{cell('numba')}"
                      f"{cell('numpy')}{cell('scipy')}{ratio('native C', 9)}"
                      f"{alone('objective C')}{traffic('traffic C')}"
                      f"{ratio('numba', 10)}{ratio('numpy', 9)}"
                      f"{alone('objective numpy')}")
    overhead_table(native_c["sphere"], rounds, quick)
    interrupt_table(native_c["__library__"], rounds)


INTERRUPTED_RUN = """
import ctypes, os, signal, sys, threading, time
from ternavik import differential_evolution
# A background job of a non-interactive shell starts with SIGINT ignored;
# a terminal user's Ctrl-C reaches Python's handler, so install it.
signal.signal(signal.SIGINT, signal.default_int_handler)
lib = ctypes.CDLL(sys.argv[1])
pop, dims, native = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "native"
def python_rastrigin(x):
    import numpy as np
    return float(10.0 * x.size + (x * x - 10.0 * np.cos(6.283185307179586 * x)).sum())
lib.rastrigin.restype = None
lib.rastrigin.argtypes = [ctypes.c_uint64, ctypes.c_uint64, ctypes.POINTER(ctypes.c_double),
                          ctypes.POINTER(ctypes.c_double)]
fun = lib.rastrigin if native else python_rastrigin
sent = []
def interrupt():
    time.sleep(1.0)
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt, daemon=True).start()
try:
    # A negative atol never counts as converged: a population that collapses
    # onto one point would otherwise end the run before the signal arrives.
    differential_evolution(fun, [(-5.12, 5.12)] * dims, popsize=max(1, pop // dims),
                           maxiter=10**9, tol=0, atol=-1.0, polish=False, updating="deferred",
                           rng=1)
except KeyboardInterrupt:
    print(time.monotonic() - sent[0])
"""


def interrupt_table(library, rounds):
    """Seconds from SIGINT to KeyboardInterrupt (target: 0.1 s)."""
    print("\nCtrl-C: milliseconds from SIGINT to KeyboardInterrupt, worst of", rounds)
    for pop, dims, kind in [(64, 32, "native"), (1000, 1000, "native"), (64, 32, "python")]:
        latencies = []
        for _ in range(rounds):
            done = subprocess.run([sys.executable, "-c", INTERRUPTED_RUN, library, str(pop),
                                   str(dims), kind], capture_output=True, text=True, timeout=120)
            latencies.append(float(done.stdout.strip() or "nan"))
        print(f"rastrigin {pop}x{dims} {kind:<8} worst {max(latencies) * 1e3:7.1f} ms  "
              f"median {sorted(latencies)[len(latencies) // 2] * 1e3:7.1f} ms")


def overhead_table(sphere, rounds, quick):
    """Engine time per generation over _DE.optimize's at 64 x 32, native sphere."""
    pop, dims, iters = 64, 32, 401 if quick else 2001
    de = _ternavik._DE(pop, dims, {"F": F, "CR": CR}, (np.full(dims, LOW), np.full(dims, HIGH)))
    print("\nengine overhead at 64 x 32, native sphere (ratio target <= 1.2)")
    configs = {
        "rand1bin clip F=0.5 (as _DE)": dict(strategy="rand1bin", bounds_handling="clip",
                                             mutation=F, recombination=CR),
        "best1bin reinitialize dithered": dict(strategy="best1bin"),
    }
    for label, kwargs in configs.items():
        runners = {
            "_DE": lambda: per_generation(lambda k: de.optimize(sphere, k), iters),
            "engine": lambda: per_generation(lambda k: engine_de(
                typed(sphere), [(LOW, HIGH)] * dims, maxiter=k, popsize=2, tol=0, polish=False,
                updating="deferred", rng=1, **kwargs), iters),
        }
        row = measure_in_rounds(runners, rounds)
        print(f"{label:<34}_DE {row['_DE'] * 1e6:8.2f}  engine {row['engine'] * 1e6:8.2f}"
              f"  ratio {row['engine'] / row['_DE']:.3f}")


def format_row(label, row):
    def cell(key, width):
        return f"{row[key] * 1e6:>{width}.1f}" if key in row else f"{'-':>{width}}"

    def ratio(a, b, width):
        return f"{row[a] / row[b]:>{width}.3f}" if a in row and b in row else f"{'-':>{width}}"

    return (f"{label:<22}{cell('floor', 10)}{cell('opt C', 10)}{cell('opt numba', 11)}"
            f"{cell('opt numpy', 11)}{cell('scipy', 10)}{ratio('opt C', 'floor', 9)}"
            f"{ratio('opt numba', 'scipy', 12)}{ratio('opt numpy', 'scipy', 12)}")


if __name__ == "__main__":
    main()
