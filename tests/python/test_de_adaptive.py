"""The self-adaptive strategies of `differential_evolution`, the unit-cube
population behind every strategy, callable strategies, and objectives that
write into the points they are given."""

import numpy as np
import pytest

from conftest import fingerprint, seeded_runs_by_threads, sphere_columns, sphere_point
from ternavik import differential_evolution, minimize
from ternavik._de_settings import _generations_for, _schedule_budget

ADAPTIVE = ["jde", "lshade", "jso"]


def rastrigin(x):
    return float(10 * len(x) + np.sum(x * x - 10 * np.cos(2 * np.pi * x)))


@pytest.mark.parametrize("strategy", ADAPTIVE)
def test_adaptive_strategies_solve_rastrigin_within_the_budget(strategy):
    res = differential_evolution(rastrigin, [(-5.12, 5.12)] * 5, strategy=strategy,
                                 maxfev=20000, rng=3, polish=False, tol=0)
    assert res.fun < 1e-6 and res.nfev <= 20000
    assert res.fun == rastrigin(res.x)
    assert np.all(np.abs(res.x) <= 5.12)
    assert np.array_equal(res.population_energies,
                          [rastrigin(row) for row in res.population])
    again = differential_evolution(rastrigin, [(-5.12, 5.12)] * 5, strategy=strategy,
                                   maxfev=20000, rng=3, polish=False, tol=0)
    assert fingerprint(again) == fingerprint(res)


@pytest.mark.parametrize("strategy", ["lshade", "jso"])
@pytest.mark.parametrize("maxfev", [3000, 7777])
def test_the_population_shrinks_to_its_end_over_maxfev(strategy, maxfev):
    res = differential_evolution(sphere_point, [(-2, 2)] * 4, strategy=strategy, popsize=10,
                                 maxfev=maxfev, rng=1, polish=False, tol=0,
                                 atol=-1)  # never converged
    assert res.nfev <= maxfev and res.nfev + res.population.shape[0] > maxfev
    assert res.population.shape[0] <= 5


@pytest.mark.parametrize("pop, maxiter, maxfev", [
    (150, 1000, None), (150, 1000, 100000), (300, 666, 300000), (40, 10, 10 ** 9),
    (40, 5000, 2000), (5, 30, None),
])
def test_the_schedule_budget_lets_maxiter_generations_finish_it(pop, maxiter, maxfev):
    budget = _schedule_budget(pop, maxiter, maxfev)
    assert budget <= (maxfev or budget)
    assert _generations_for(budget, pop, maxiter) <= maxiter
    if maxfev is None or budget < maxfev:  # maxiter binds: a larger budget would not fit
        assert _generations_for(budget + pop, pop, maxiter) > maxiter or budget + pop > (
            maxfev or 1e30)


@pytest.mark.parametrize("maxiter", [10 ** 9, 2 ** 63])
def test_a_huge_maxiter_needs_no_long_planning(maxiter):
    """The schedule's budget comes from an estimate, not a simulation of
    every generation, when maxiter is beyond reach."""
    budget = _schedule_budget(150, maxiter, None)
    assert budget > 10 ** 9
    res = differential_evolution(sphere_point, [(-1, 1)] * 2, strategy="lshade",
                                 maxiter=maxiter, maxfev=600, rng=0, polish=False)
    assert res.nfev <= 600


def test_a_converged_population_stops_the_run_as_scipy_does():
    res = differential_evolution(lambda x: float(np.sum(x * x)), [(-5, 5)] * 5, rng=1)
    assert res.success and res.message.startswith("Optimization terminated successfully")
    assert res.nit < 400 and res.fun == 0.0


def test_adaptive_runs_repeat_for_1_2_3_threads_and_native_or_python(native_library):
    runs = [dict(bounds=[(-3, 3)] * 12, strategy=strategy, maxfev=3000, popsize=3, tol=0,
                 integrality=[j % 4 == 0 for j in range(12)]) for strategy in ADAPTIVE]
    results = seeded_runs_by_threads(native_library, runs)
    assert results[1] == results[2] == results[3]
    runs = results[1]
    for k in range(0, len(runs), 2):
        assert runs[k] == runs[k + 1], "native and Python runs differ"


@pytest.mark.parametrize("strategy", ["best1bin", "lshade"])
def test_a_native_function_that_writes_into_its_points_moves_nothing(strategy):
    numba = pytest.importorskip("numba")
    signature = numba.types.void(numba.types.uint64, numba.types.uint64,
                                 numba.types.CPointer(numba.types.double),
                                 numba.types.CPointer(numba.types.double))

    @numba.cfunc(signature)
    def sphere_then_zero(rows, cols, x, out):
        for i in range(rows):
            total = 0.0
            for j in range(cols):
                total += x[i * cols + j] * x[i * cols + j]
                x[i * cols + j] = 0.0
            out[i] = total

    res = differential_evolution(sphere_then_zero, [(1.0, 2.0)] * 3, strategy=strategy,
                                 maxiter=20, polish=False, rng=3)
    assert np.all(res.population >= 1.0) and np.all(res.x >= 1.0)
    assert np.array_equal(res.population_energies, sphere_columns(res.population.T))
    assert res.fun == sphere_point(res.x)

    short = minimize(sphere_then_zero, [(1.0, 2.0)] * 3, pop=8, iters=10, seed=2)
    assert np.all(short.x >= 1.0) and short.fun == sphere_point(short.x)


def test_a_callable_strategy_is_called_per_trial_in_box_coordinates():
    calls = []

    def wild(candidate, population, rng):
        calls.append((candidate, population.copy()))
        assert np.all(np.abs(population) <= 5)
        r = rng.choice(len(population), 3, replace=False)
        return population[r[0]] + 3.0 * (population[r[1]] - population[r[2]])  # often outside

    runs = [differential_evolution(sphere_point, [(-5, 5)] * 3, strategy=wild, rng=4,
                                   maxiter=30, polish=False, updating=updating)
            for updating in ("immediate", "deferred", "immediate")]
    assert fingerprint(runs[0]) == fingerprint(runs[2])
    for res in runs:
        assert np.all(np.abs(res.population) <= 5) and res.fun == sphere_point(res.x)
        assert res.nfev == res.population.shape[0] * (res.nit + 1)
    size = runs[0].population.shape[0]
    assert [c for c, _ in calls[:size]] == list(range(size))


def test_popsize_sets_the_initial_size_of_an_adaptive_population():
    seen = []

    def recording(x):
        seen.append(x.shape[1])
        return sphere_columns(x)

    differential_evolution(recording, [(-1, 1)] * 4, strategy="lshade", popsize=7,
                           vectorized=True, maxfev=1000, rng=0, polish=False, tol=0)
    assert seen[0] == 28 and seen[1] == 28 and seen[-1] < 28
    assert sorted(seen[1:], reverse=True) == seen[1:]
