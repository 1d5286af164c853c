"""Times _ternavik.topsis and _ternavik.entropy_weight side by side in one run
against whole-array NumPy versions of the same formulas and against plain C
loops on two threads in the same operation order (decision_floor.c), then
the speed-up from one to two threads, the peak extra memory, and the time of
a small call back to back and after the process was idle.

    python bench/bench_decision.py [--quick]
"""
import ctypes
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

import numpy as np

import _ternavik
from timing import fmt, per_call

SHAPES = [(10, 5), (1000, 8), (100000, 16), (1000000, 16)]
BIG = (1000000, 16)


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


def build_floor():
    """Compiles decision_floor.c with the module's floating-point flags."""
    compiler = shutil.which("cc") or sys.exit("bench needs a C compiler (cc)")
    library = Path(tempfile.mkdtemp(prefix="ternavik-bench-")) / "libdecision_floor.so"
    subprocess.run([compiler, "-O3", "-ffp-contract=off", "-shared", "-fPIC", "-pthread",
                    "-o", str(library), str(Path(__file__).with_name("decision_floor.c")), "-lm"],
                   check=True)
    lib = ctypes.CDLL(str(library))
    pointer, size = ctypes.c_void_p, ctypes.c_size_t
    lib.topsis_floor.argtypes = [pointer, size, size, pointer, pointer, pointer]
    lib.entropy_floor.argtypes = [pointer, size, size, pointer, pointer, pointer]
    return lib


def floor_functions(lib):
    """The C loops as Python callables with the module's signatures."""
    def topsis(x, w, codes):
        out = np.empty(len(x))
        lib.topsis_floor(x.ctypes.data, x.shape[0], x.shape[1], w.ctypes.data,
                         codes.ctypes.data, out.ctypes.data)
        return out

    def entropy_weight(x, codes):
        weights, out = np.empty(x.shape[1]), np.empty(len(x))
        lib.entropy_floor(x.ctypes.data, x.shape[0], x.shape[1], codes.ctypes.data,
                          weights.ctypes.data, out.ctypes.data)
        return weights, out
    return topsis, entropy_weight






def case(n, m, seed=1):
    rng = np.random.default_rng(seed)
    return (rng.normal(size=(n, m)) + 5.0, rng.random(m),
            rng.integers(0, 2, size=m).astype(np.int64))


def same_bits(a, b):
    flat = [np.concatenate([np.ravel(v) for v in (r if isinstance(r, tuple) else (r,))])
            for r in (a, b)]
    return flat[0].tobytes() == flat[1].tobytes()


def speed_table(budget, floors):
    print(f"{'function':15} {'n x m':>13} {'_ternavik':>11} {'numpy':>11} {'C floor':>11} "
          f"{'ours/numpy':>11} {'ours/floor':>11}")
    for n, m in SHAPES:
        x, w, codes = case(n, m)
        rows = [("topsis", _ternavik.topsis, numpy_topsis, floors[0], (x, w, codes)),
                ("entropy_weight", _ternavik.entropy_weight, numpy_entropy_weight, floors[1],
                 (x, codes))]
        for name, ours, theirs, floor, args in rows:
            if not same_bits(ours(*args), floor(*args)):
                sys.exit(f"{name}: the C floor and the module disagree at {n}x{m}")
            t_ours, t_np, t_floor = (per_call(f, budget, *args) for f in (ours, theirs, floor))
            print(f"{name:15} {f'{n}x{m}':>13} {fmt(t_ours):>11} {fmt(t_np):>11} "
                  f"{fmt(t_floor):>11} {t_ours / t_np:10.3f}x {t_ours / t_floor:10.3f}x")


def in_child(code, threads=None):
    """Runs a measuring script in a fresh interpreter; returns its JSON answer."""
    env = dict(os.environ)
    if threads is not None:
        env["RAYON_NUM_THREADS"] = str(threads)
    env["PYTHONPATH"] = os.pathsep.join([str(Path(__file__).parent)] + sys.path)
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out.splitlines()[-1])


THREAD_TIMES = """
    import json, _ternavik
    from bench_decision import case, BIG
    from timing import per_call
    x, w, c = case(*BIG)
    print(json.dumps([per_call(_ternavik.topsis, {budget}, x, w, c),
                      per_call(_ternavik.entropy_weight, {budget}, x, c)]))
"""


def thread_speedup(budget):
    """1 -> 2 threads at 1e6 x 16, alternating fresh processes, best of each."""
    best = {1: [float("inf")] * 2, 2: [float("inf")] * 2}
    for _ in range(2):
        for threads in (1, 2):
            times = in_child(THREAD_TIMES.format(budget=budget), threads)
            best[threads] = [min(a, b) for a, b in zip(best[threads], times)]
    print("\nspeed-up from 1 to 2 worker threads at 1000000x16 (fresh process each):")
    for k, name in enumerate(("topsis", "entropy_weight")):
        print(f"  {name:15} 1 thread {fmt(best[1][k])}, 2 threads {fmt(best[2][k])}: "
              f"{best[1][k] / best[2][k]:.2f}x")


PEAK_MEMORY = """
    import json, numpy as np, _ternavik
    from bench_decision import case, numpy_topsis, numpy_entropy_weight, BIG
    x, w, c = case(*BIG)
    calls = {{"topsis": lambda: _ternavik.topsis(x, w, c),
             "entropy_weight": lambda: _ternavik.entropy_weight(x, c),
             "numpy topsis": lambda: numpy_topsis(x, w, c),
             "numpy entropy_weight": lambda: numpy_entropy_weight(x, c)}}
    def kib(field):
        for line in open("/proc/self/status"):
            if line.startswith(field):
                return int(line.split()[1])
    calls["{name}"]()  # warm: the pool and the allocator are set up
    before = kib("VmRSS:")
    open("/proc/self/clear_refs", "w").write("5")  # restart the peak from here
    result = calls["{name}"]()
    print(json.dumps((kib("VmHWM:") - before) * 1024 / x.nbytes))
"""


def peak_memory():
    """Peak resident memory a call adds, as a multiple of the input's size."""
    print("\npeak extra resident memory at 1000000x16, as a multiple of the 128 MB input:")
    for name in ("topsis", "entropy_weight"):
        ours = in_child(PEAK_MEMORY.format(name=name))
        theirs = in_child(PEAK_MEMORY.format(name="numpy " + name))
        print(f"  {name:15} ours {ours:6.3f}x   numpy {theirs:6.3f}x")


def latency(call):
    """Median ns of a call back to back, and after 50 ms of sleep."""
    for _ in range(1000):
        call()
    clock = time.perf_counter_ns
    back_to_back, idle = [], []
    for _ in range(20000):
        start = clock()
        call()
        back_to_back.append(clock() - start)
    for _ in range(40):
        time.sleep(0.05)
        start = clock()
        call()
        idle.append(clock() - start)
    return statistics.median(back_to_back), statistics.median(idle)


def small_call_latency():
    """10 x 5 topsis, with np.add on the same matrix as the machine's own
    cost of waking up after idling (cold caches, a slower clock)."""
    x, w, codes = case(10, 5)
    print("\n10x5, median per call:")
    for name, call in (("topsis", lambda: _ternavik.topsis(x, w, codes)),
                       ("np.add (baseline)", lambda: np.add(x, x))):
        hot, cold = latency(call)
        print(f"  {name:18} {hot / 1e3:6.2f} us back to back, {cold / 1e3:6.2f} us after 50 ms "
              f"idle ({(cold - hot) / 1e3:+.2f} us)")


def main():
    budget = 0.2 if "--quick" in sys.argv else 1.0
    floors = floor_functions(build_floor())
    speed_table(budget, floors)
    thread_speedup(budget)
    peak_memory()
    small_call_latency()
    # The other ranking methods and weightings beside pymcdm, in the same run.
    try:
        import bench_methods
        import bench_weights
    except (ImportError, SystemExit) as missing:  # pymcdm absent
        print(f"\nmethods and weightings skipped: {missing}")
        return
    print()
    bench_methods.main()
    print()
    bench_weights.main()


if __name__ == "__main__":
    main()
