"""`differential_evolution` where callers expect SciPy's behaviour, and the
hostile arguments that must end in an ordinary exception."""

import numpy as np
import pytest

from conftest import sphere_point
from ternavik import differential_evolution

BOX3 = [(-5.0, 5.0)] * 3


@pytest.mark.parametrize("mutation", [(1.0, 0.5), (0.5, 1.0), [0.7, 0.7]])
def test_a_dithering_range_is_taken_in_either_order(mutation):
    ordered = tuple(sorted(mutation))
    a = differential_evolution(sphere_point, BOX3, mutation=mutation, rng=5, maxiter=20,
                               polish=False)
    b = differential_evolution(sphere_point, BOX3, mutation=ordered, rng=5, maxiter=20,
                               polish=False)
    assert a.x.tobytes() == b.x.tobytes() and a.nfev == b.nfev


@pytest.mark.parametrize("returned", [
    lambda x: np.sum(x * x, axis=1),  # one value per coordinate instead of per point
    lambda x: np.zeros(2),
    lambda x: np.zeros((3, 15)),
])
def test_a_vectorised_objective_of_the_wrong_shape_is_a_runtime_error(returned):
    with pytest.raises(RuntimeError, match=r"shape \(S,\)") as caught:
        differential_evolution(returned, [(-1, 1)] * 3, vectorized=True, popsize=5,
                               updating="deferred")
    assert isinstance(caught.value, ValueError)  # what this package raised before


@pytest.mark.parametrize("vectorized", [False, True])
@pytest.mark.parametrize("returned", [None, "1.0", [None]])
def test_an_objective_that_returns_no_number_fails_at_the_first_call(returned, vectorized):
    calls = []

    def forgetful(x):
        calls.append(1)
        return returned

    with pytest.raises(TypeError, match="must return real numbers|must return a real number"):
        differential_evolution(forgetful, BOX3, vectorized=vectorized, updating="deferred",
                               rng=1)
    assert len(calls) == 1 if vectorized else len(calls) <= 1


@pytest.mark.parametrize("kwargs, error", [
    (dict(popsize=2 ** 62), MemoryError),
    (dict(popsize=2 ** 40), MemoryError),
    (dict(popsize=-3.5), ValueError),
    (dict(maxiter=-1), ValueError),
    (dict(maxiter=1.5), ValueError),
    (dict(maxiter=np.inf), ValueError),
    (dict(maxfev=-1), ValueError),
    (dict(maxfev=np.nan), ValueError),
    (dict(maxfev="100"), ValueError),
])
def test_counts_out_of_range_are_ordinary_errors(kwargs, error):
    with pytest.raises(error) as caught:
        differential_evolution(sphere_point, BOX3, **kwargs)
    assert type(caught.value).__module__ in ("builtins", "ternavik._errors")


def test_an_infinite_maxfev_is_no_limit():
    limited = differential_evolution(sphere_point, BOX3, rng=2, maxiter=30, polish=False,
                                     maxfev=np.inf)
    free = differential_evolution(sphere_point, BOX3, rng=2, maxiter=30, polish=False)
    assert limited.x.tobytes() == free.x.tobytes() and limited.nfev == free.nfev


@pytest.mark.parametrize("fixed", [1, 3, 4])
def test_fixed_coordinates_do_not_enlarge_the_population(fixed):
    bounds = [(2.0, 2.0)] * fixed + [(-1.0, 1.0)] * (5 - fixed)
    res = differential_evolution(sphere_point, bounds, rng=3, maxiter=2, polish=False,
                                 popsize=6)
    assert res.population.shape == (max(5, 6 * (5 - fixed)), 5)
    assert np.all(res.population[:, :fixed] == 2.0)


@pytest.mark.parametrize("maxfev", [200, 5000])
def test_polishing_stays_within_maxfev(maxfev):
    pytest.importorskip("scipy.optimize")

    def rosen(x):
        return float(np.sum(100.0 * (x[1:] - x[:-1] ** 2) ** 2 + (1 - x[:-1]) ** 2))

    res = differential_evolution(rosen, [(-2, 2)] * 6, rng=1, maxfev=maxfev, tol=0)
    assert res.nfev <= maxfev
    assert res.fun == rosen(res.x)
