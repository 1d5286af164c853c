"""`differential_evolution`: SciPy's interface, reproducibility, stopping rules,
constraints, integrality, workers and native functions."""

import signal
import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest

from conftest import (fingerprint, native_function, run_python, seeded_runs_by_threads,
                      sphere_columns, sphere_point)
from ternavik._de_settings import ALL_STRATEGIES
from ternavik import differential_evolution

BOX3 = [(-5.0, 5.0)] * 3


@pytest.mark.parametrize("strategy", ALL_STRATEGIES)
@pytest.mark.parametrize("updating", ["immediate", "deferred"])
def test_every_strategy_minimises_and_repeats_with_a_seed(strategy, updating):
    kwargs = dict(strategy=strategy, updating=updating, rng=7, polish=False, maxiter=300,
                  atol=1e-9)
    first = differential_evolution(sphere_point, BOX3, **kwargs)
    assert first.fun < 1e-6 and first.success, first.message
    assert fingerprint(differential_evolution(sphere_point, BOX3, **kwargs)) == fingerprint(first)


@pytest.mark.parametrize("seed_kind", ["int", "SeedSequence", "Generator", "seed="])
def test_seed_forms(seed_kind):
    make = {"int": lambda: {"rng": 11}, "SeedSequence": lambda: {"rng": np.random.SeedSequence(11)},
            "Generator": lambda: {"rng": np.random.default_rng(11)},
            "seed=": lambda: {"seed": 11}}[seed_kind]
    runs = [differential_evolution(sphere_point, BOX3, maxiter=20, polish=False, **make())
            for _ in range(2)]
    assert fingerprint(runs[0]) == fingerprint(runs[1])
    if seed_kind != "Generator":
        assert fingerprint(runs[0]) == fingerprint(
            differential_evolution(sphere_point, BOX3, maxiter=20, polish=False, rng=11))
    unseeded = [differential_evolution(sphere_point, BOX3, maxiter=2, polish=False)
                for _ in range(2)]
    assert fingerprint(unseeded[0]) != fingerprint(unseeded[1])


def test_same_seed_same_result_for_1_2_3_threads_native_or_python(native_library):
    runs = [dict(bounds=[(-3, 3)] * 40, updating=updating, maxiter=15, popsize=2,
                 integrality=[j % 4 == 0 for j in range(40)])
            for updating in ("deferred", "immediate")]
    results = seeded_runs_by_threads(native_library, runs)
    assert results[1] == results[2] == results[3]
    native_deferred, python_deferred, native_immediate, python_immediate = results[1]
    assert native_deferred == python_deferred, "native and Python deferred runs differ"
    assert native_immediate != native_deferred
    assert python_immediate == python_deferred  # vectorized forces deferred


def test_native_function_gives_the_python_result(native_library):
    native = native_function(native_library, "sphere")
    for updating in ("immediate", "deferred"):
        a = differential_evolution(native, BOX3, rng=3, updating=updating, maxiter=50)
        b = differential_evolution(sphere_point, BOX3, rng=3, updating=updating, maxiter=50)
        assert fingerprint(a) == fingerprint(b)


@pytest.mark.parametrize("rule, kwargs, message, success", [
    ("maxiter", dict(maxiter=7, tol=0), "Maximum number of iterations", False),
    ("tol", dict(tol=0.5), "Optimization terminated successfully.", True),
    ("atol", dict(tol=0, atol=1.0), "Optimization terminated successfully.", True),
    ("maxfev", dict(maxfev=100, tol=0), "Maximum number of function evaluations", False),
    ("maxtime", dict(maxtime=0.0, tol=0), "Maximum time", False),
])
def test_each_stopping_rule_says_it_ended_the_run(rule, kwargs, message, success):
    res = differential_evolution(sphere_point, BOX3, rng=1, polish=False, **kwargs)
    assert res.message.startswith(message) and res.success is success
    e = res.population_energies
    if rule == "maxiter":
        assert res.nit == 7 and res.nfev == res.population.shape[0] * 8
    if rule in ("tol", "atol"):
        assert np.std(e) <= kwargs["atol"] if "atol" in kwargs else True
        assert np.std(e) <= kwargs.get("atol", 0) + kwargs["tol"] * abs(np.mean(e)) * (1 + 1e-12)
        assert res.nit < 1000
    if rule == "maxfev":
        assert res.nfev <= 100 and res.nfev + len(e) > 100
    if rule == "maxtime":
        assert res.nit == 0


def test_callback_forms_and_stop_requests():
    seen = []

    def new_style(intermediate_result):
        seen.append((intermediate_result.nit, intermediate_result.fun,
                     intermediate_result.convergence))
        return intermediate_result.nit == 4

    res = differential_evolution(sphere_point, BOX3, rng=2, callback=new_style, polish=False)
    assert res.nit == 4 and not res.success
    assert res.message == "callback function requested stop early"
    assert [s[0] for s in seen] == [1, 2, 3, 4]
    assert all(b[1] <= a[1] for a, b in zip(seen, seen[1:]))

    old = []

    def old_style(xk, convergence):
        old.append((xk.copy(), convergence))
        if len(old) == 3:
            raise StopIteration

    res = differential_evolution(sphere_point, BOX3, rng=2, callback=old_style, polish=False)
    assert res.nit == 3 and len(old) == 3 and not res.success
    assert np.array_equal(old[-1][0], res.x) and old[0][1] == pytest.approx(seen[0][2])

    # A callback that never stops leaves the result of a run without one.
    quiet = differential_evolution(sphere_point, BOX3, rng=2, polish=False, maxiter=30)
    watched = differential_evolution(sphere_point, BOX3, rng=2, polish=False, maxiter=30,
                                     callback=lambda xk, convergence: False, disp=True)
    assert fingerprint(quiet) == fingerprint(watched)


def test_disp_prints_scipys_lines(capsys):
    differential_evolution(sphere_point, BOX3, rng=2, polish=False, maxiter=3, tol=0, disp=True)
    lines = capsys.readouterr().out.splitlines()
    assert [line.split(":")[0] for line in lines] == [
        f"differential_evolution step {k}" for k in (1, 2, 3)]


def test_progress_bar_shows_the_best_value():
    pytest.importorskip("tqdm")
    import io
    from unittest import mock
    stream = io.StringIO()
    with mock.patch("sys.stderr", stream):
        differential_evolution(sphere_point, BOX3, rng=2, polish=False, maxiter=5, tol=0,
                               progress=True)
    assert "best=" in stream.getvalue() and "5/5" in stream.getvalue()


INTERRUPT = """
import ctypes, os, signal, sys, threading, time
# Started from a background job, SIGINT would be ignored; a terminal's
# Ctrl-C reaches Python's own handler, so install it.
signal.signal(signal.SIGINT, signal.default_int_handler)
sys.path.insert(0, {tests!r})
from conftest import native_function
from ternavik import differential_evolution
lib = ctypes.CDLL({library!r})
# A call of 20 ms keeps the run far from converging before the signal:
# with 1 ms a call a 4-D sphere collapses exactly within the half second
# and the run ends on its own.
lib.set_busy_nanoseconds(ctypes.c_int64(20000000))
{fun}
def interrupt():
    time.sleep(0.5)
    global sent
    sent = time.monotonic()
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt, daemon=True).start()
try:
    differential_evolution(fun, [(-1, 1)] * 4, maxiter=10**9, tol=0, polish=False,
                           updating="deferred")
except KeyboardInterrupt:
    print("interrupted after", time.monotonic() - sent)
"""


@pytest.mark.parametrize("fun", [
    'fun = native_function(lib, "busy_sphere")',
    'import numpy as np\nfun = lambda x: (time.sleep(0.001), float(np.sum(x * x)))[1]',
])
def test_ctrl_c_stops_a_run(native_library, fun):
    code = INTERRUPT.format(tests=str(__import__("pathlib").Path(__file__).parent),
                            library=native_library._name, fun=fun)
    done = run_python(code)
    assert done.stdout.startswith("interrupted after"), done.stdout + done.stderr


def test_nan_counts_as_infinity_and_never_finite_is_no_success():
    def half_nan(x):
        return float("nan") if x[0] > 0 else float(np.sum(x * x))
    res = differential_evolution(half_nan, BOX3, rng=4, polish=False, maxiter=100)
    assert res.fun < 1e-3 and np.all(np.isfinite(res.population_energies) |
                                     np.isinf(res.population_energies))
    assert not np.isnan(res.population_energies).any()

    res = differential_evolution(lambda x: float("nan"), BOX3, rng=4, polish=False, maxiter=5)
    assert not res.success and "No finite function value" in res.message
    assert np.all(res.x >= -5) and np.all(res.x <= 5) and res.fun == np.inf


@pytest.mark.parametrize("returned, expected", [
    (lambda x: np.sum(x * x, axis=1), r"must return shape \(15,\)"),
    (lambda x: np.zeros(3), r"must return shape \(15,\)"),
])
def test_vectorized_shape_errors_say_what_was_expected(returned, expected):
    with pytest.raises(ValueError, match=expected):
        differential_evolution(returned, [(-1, 1)] * 3, vectorized=True, popsize=5)


@pytest.mark.parametrize("keep", ["view", "base", "weakref"])
def test_a_population_array_the_function_kept_is_never_overwritten(keep):
    """The engine reuses a generation's array only when nothing else holds it."""
    import weakref

    seen = []  # (what the function saw, how to look at the array later)

    def unchanged():
        return all(later() is None or np.array_equal(later(), copy) for copy, later in seen)

    def sphere_keeping(x):
        assert x.shape == (3, 12) and unchanged()
        if keep == "view":
            later = lambda x=x: x
        elif keep == "base":
            later = lambda base=x.base: base.T
        else:
            later = lambda ref=weakref.ref(x.base): None if ref() is None else ref().T
        seen.append((x.copy(), later))
        return np.sum(x * x, axis=0)

    differential_evolution(sphere_keeping, BOX3, vectorized=True, popsize=4, maxiter=5,
                           polish=False, rng=2)
    assert unchanged()


@pytest.mark.parametrize("vectorized", [False, True])
def test_a_function_that_writes_into_its_points_does_not_move_the_population(vectorized):
    """As with SciPy, func gets the points to look at: what it writes there
    never becomes an individual."""
    def sphere_then_zero(x):
        value = np.sum(x * x, axis=0)
        x[...] = 0.0
        return value

    res = differential_evolution(sphere_then_zero, [(1.0, 2.0)] * 3, vectorized=vectorized,
                                 popsize=4, maxiter=5, polish=False, rng=3)
    assert np.all(res.population >= 1.0) and np.all(res.x >= 1.0)
    assert np.array_equal(res.population_energies, np.sum(res.population ** 2, axis=1))


def test_scalar_function_must_return_one_value():
    with pytest.raises(ValueError, match="scalar"):
        differential_evolution(lambda x: x, BOX3)


def test_rejected_arguments():
    with pytest.raises(RuntimeError, match="strategy must have signature"):
        differential_evolution(sphere_point, BOX3, strategy=lambda *a, **k: np.zeros(2))
    with pytest.raises(ValueError, match="valid mutation strategy"):
        differential_evolution(sphere_point, BOX3, strategy="best3bin")
    with pytest.raises(ValueError, match="mutation constant"):
        differential_evolution(sphere_point, BOX3, mutation=(1.0, 2.5))
    with pytest.raises(ValueError, match="finite"):
        differential_evolution(sphere_point, [(0, np.inf)])
    with pytest.raises(ValueError, match="outside the specified bounds"):
        differential_evolution(sphere_point, BOX3, x0=[9, 0, 0])


def test_bounds_object_x0_init_array_and_args():
    optimize = pytest.importorskip("scipy.optimize")
    bounds = optimize.Bounds([-5, -5, -5], [5, 5, 5])
    init = np.random.default_rng(0).uniform(-5, 5, (9, 3))
    seen = []

    def shifted(x, shift):
        seen.append(x.copy())
        return sphere_point(x, shift)
    res = differential_evolution(shifted, bounds, args=(1.5,), init=init, x0=[1, 1, 1],
                                 rng=0, polish=False, tol=1e-8)
    assert np.allclose(res.x, 1.5, atol=1e-4) and res.population.shape == (9, 3)
    # The population lives in the unit cube, as in SciPy, so given points come
    # back through the scaling within a rounding error.
    np.testing.assert_allclose(seen[0], [1, 1, 1], rtol=1e-15)
    np.testing.assert_allclose(seen[1], init[1], rtol=1e-15, atol=1e-15)


@pytest.mark.parametrize("init", ["sobol", "halton", "random", "latinhypercube"])
def test_init_methods(init):
    if init in ("sobol", "halton"):
        pytest.importorskip("scipy.stats")
    res = differential_evolution(sphere_point, BOX3, init=init, rng=3, polish=False)
    assert res.fun < 1e-6
    if init == "sobol":
        assert res.population.shape[0] == 64  # 45 rounded up to a power of two


def test_bounds_handling_clip_and_reinitialize_stay_in_the_box():
    for handling in ("clip", "reinitialize"):
        res = differential_evolution(lambda x: -float(np.sum(x)), [(0, 1)] * 4, rng=1,
                                     bounds_handling=handling, polish=False, maxiter=50)
        assert np.all((res.population >= 0) & (res.population <= 1))
        assert res.fun <= -3.9


def test_constraints_follow_the_feasibility_rule():
    optimize = pytest.importorskip("scipy.optimize")
    seen = []

    def objective(x):
        seen.append(x.copy())
        return float(np.sum(x * x))
    circle = optimize.NonlinearConstraint(lambda x: x[0] + x[1], 1.0, np.inf)
    line = optimize.LinearConstraint([[1.0, -1.0]], -np.inf, 0.2)
    res = differential_evolution(objective, [(-2, 2)] * 2, constraints=[circle, line], rng=5)
    assert res.success and res.maxcv == 0 and len(res.constr) == 2
    assert res.x[0] + res.x[1] >= 1 - 1e-9 and res.x[0] - res.x[1] <= 0.2 + 1e-9
    assert abs(res.fun - 0.5) < 1e-4
    # Infeasible trials are never evaluated.
    seen.clear()
    res = differential_evolution(objective, [(-2, 2)] * 2, constraints=[circle, line], rng=5,
                                 polish=False)
    assert len(seen) == res.nfev < res.population.shape[0] * (res.nit + 1)
    assert all(x[0] + x[1] >= 1 and x[0] - x[1] <= 0.2 for x in seen)

    impossible = optimize.NonlinearConstraint(lambda x: x[0], 5, 6)
    res = differential_evolution(objective, [(-2, 2)] * 2, constraints=impossible, rng=5,
                                 maxiter=20, polish=False)
    assert not res.success and "does not satisfy the constraints" in res.message
    assert res.maxcv == pytest.approx(3.0, abs=1e-3)


def test_integrality():
    seen = []

    def objective(x):
        seen.append(x.copy())
        return float((x[0] - 2.4) ** 2 + (x[1] + 0.7) ** 2 + (x[2] - 0.3) ** 2)
    res = differential_evolution(objective, [(-3.5, 3.9), (-2, 2), (-1, 1)],
                                 integrality=[True, True, False], rng=6, tol=1e-10)
    assert res.x[0] == 2 and res.x[1] == -1 and abs(res.x[2] - 0.3) < 1e-6
    xs = np.array(seen)
    assert np.all(xs[:, :2] == np.round(xs[:, :2]))
    assert xs[:, 0].min() == -3 and xs[:, 0].max() == 3
    assert np.all(res.population[:, :2] == np.round(res.population[:, :2]))
    with pytest.raises(ValueError, match="integrality"):
        differential_evolution(objective, [(0.2, 0.8)] * 3, integrality=[True, False, False])


def test_polish_adds_jac_or_warns_without_scipy(monkeypatch):
    pytest.importorskip("scipy.optimize")
    res = differential_evolution(sphere_point, BOX3, rng=8, maxiter=5, tol=0)
    assert "jac" in res and res.fun < 1e-10
    import ternavik._differential_evolution as module
    monkeypatch.setitem(sys.modules, "scipy.optimize", None)
    monkeypatch.setattr(module, "_polish_warned", False)
    with pytest.warns(RuntimeWarning, match="not polished"):
        differential_evolution(sphere_point, BOX3, rng=8, maxiter=5)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        res = differential_evolution(sphere_point, BOX3, rng=8, maxiter=5)
    assert "jac" not in res


@pytest.mark.parametrize("vectorized", [False, True])
def test_workers_process_pool_executor_and_map(vectorized):
    from concurrent.futures import ThreadPoolExecutor
    fun = sphere_columns if vectorized else sphere_point
    kwargs = dict(rng=9, polish=False, maxiter=20, updating="deferred", vectorized=vectorized)
    alone = fingerprint(differential_evolution(fun, BOX3, **kwargs))
    with pytest.warns(UserWarning, match="updating"):
        pooled = differential_evolution(sphere_point, BOX3, workers=2,
                                        **dict(kwargs, vectorized=False, updating="immediate"))
    assert fingerprint(pooled) == alone
    with ThreadPoolExecutor(2) as executor:
        assert fingerprint(differential_evolution(sphere_point, BOX3, workers=executor,
                                                  **dict(kwargs, vectorized=False))) == alone
    assert fingerprint(differential_evolution(sphere_point, BOX3, workers=map,
                                              **dict(kwargs, vectorized=False))) == alone


@pytest.mark.parametrize("vectorized", [False, True])
def test_workers_dask_local_cluster(vectorized):
    distributed = pytest.importorskip("distributed")
    cloudpickle = pytest.importorskip("cloudpickle")
    import conftest
    cloudpickle.register_pickle_by_value(conftest)
    fun = sphere_columns if vectorized else sphere_point
    kwargs = dict(rng=9, polish=False, maxiter=10, updating="deferred", vectorized=vectorized)
    alone = fingerprint(differential_evolution(fun, BOX3, **kwargs))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        assert fingerprint(differential_evolution(fun, BOX3, workers=client, **kwargs)) == alone


SCIPY_SCRIPT = """
import numpy as np
from {module} import differential_evolution
from scipy.optimize import Bounds, NonlinearConstraint, rosen

def ackley(x, a, b):
    return (-a * np.exp(-b * np.sqrt(0.5 * (x[0] ** 2 + x[1] ** 2)))
            - np.exp(0.5 * (np.cos(2 * np.pi * x[0]) + np.cos(2 * np.pi * x[1]))) + np.e + a)

steps = []
result = differential_evolution(ackley, [(-5, 5), (-5, 5)], args=(20, 0.2), seed=1,
                                callback=lambda intermediate_result: steps.append(1))
assert result.success and abs(result.fun) < 1e-6 and len(steps) == result.nit, result
result = differential_evolution(rosen, Bounds([0] * 4, [2] * 4), strategy="rand2exp", rng=2,
                                maxiter=3000, tol=1e-8, updating="deferred", workers=1,
                                init="halton", mutation=0.6, recombination=0.9)
assert result.x.shape == (4,) and result.fun < 1e-6, result
cons = NonlinearConstraint(lambda x: x[0] ** 2 + x[1] ** 2, 0, 1)
result = differential_evolution(lambda x: x[0] + x[1], [(-2, 2)] * 2, constraints=cons,
                                rng=np.random.default_rng(3), integrality=[False, False],
                                vectorized=False, x0=[0, 0])
assert abs(result.fun + np.sqrt(2)) < 1e-4 and result.maxcv < 1e-8, result
vec = differential_evolution(lambda x: np.sum(x ** 2, axis=0), [(-1, 1)] * 3, vectorized=True,
                             polish=False, rng=4, popsize=10, atol=1e-12, tol=0)
assert vec.population.shape == (30, 3) and vec.population_energies.shape == (30,)
print(sorted(k for k in vec if k in ("x", "fun", "nfev", "nit", "success", "message",
                                     "population", "population_energies")))
"""


def test_a_scipy_script_runs_unchanged_after_swapping_the_import():
    pytest.importorskip("scipy.optimize")
    outputs = [run_python(SCIPY_SCRIPT.format(module=module)).stdout
               for module in ("scipy.optimize", "ternavik")]
    assert outputs[0] == outputs[1]


def test_minimize_short_form_gains_a_seed(native_library):
    import ternavik
    rows = lambda x: np.sum(x * x, axis=1)  # noqa: E731
    runs = [ternavik.minimize(rows, BOX3, pop=12, iters=40, seed=21) for _ in range(2)]
    assert runs[0].x.tobytes() == runs[1].x.tobytes() and runs[0].fun == runs[1].fun
    assert runs[0].nfev == 12 * 41 and runs[0].nit == 40 and runs[0].success
    native = ternavik.minimize(native_function(native_library, "sphere"), BOX3, pop=12,
                               iters=40, seed=21)
    assert native.x.tobytes() == runs[0].x.tobytes()
    unseeded = [ternavik.minimize(rows, BOX3, pop=12, iters=3).x.tobytes() for _ in range(2)]
    assert unseeded[0] != unseeded[1]


@pytest.mark.parametrize("options, summary", [
    ("--pop 20 --iters 100", "evaluations  2020 (20 x 101)"),
    ("--popsize 5 --maxiter 50 --strategy best2exp", "evaluations  1020 (20 x 51)"),
    ("--pop 20 --iters 10000 --tol 0.5", "Optimization terminated successfully."),
])
def test_cli_optimize_seed_and_engine_options(capsys, options, summary):
    from ternavik.cli import main
    argv = ["optimize", "sphere", "--dims", "4", "--seed", "4"] + options.split()
    outputs = []
    for _ in range(2):
        assert main(argv) == 0
        outputs.append(capsys.readouterr().out)
    assert outputs[0] == outputs[1] and summary in outputs[0]


def test_the_package_keeps_one_worker_pool(native_library):
    """Decision functions and the optimiser share _engine's pool: with three
    workers they add three threads to the process, not six."""
    code = f"""
import ctypes, os, sys
import numpy as np
sys.path.insert(0, {str(__import__("pathlib").Path(__file__).parent)!r})
from conftest import native_function
import ternavik, ternavik._de_settings as settings
settings.PARALLEL_THRESHOLD = 0
lib = ctypes.CDLL({native_library._name!r})
print(len(os.listdir("/proc/self/task")))
ternavik.topsis(np.random.default_rng(0).random((40, 4)), [0.25] * 4, "+-+-")
ternavik.differential_evolution(native_function(lib, "sphere"), [(-1, 1)] * 8, maxiter=3,
                                polish=False, rng=1)
print(len(os.listdir("/proc/self/task")))
"""
    done = run_python(code, env={"RAYON_NUM_THREADS": "3"})
    before, after = map(int, done.stdout.split())
    assert after - before == 3, done.stdout + done.stderr
