"""_DE(pop, dimensions, options, bounds): order of checks, messages, private copies of the bounds."""
import numpy as np
import pytest

from _ternavik import _DE

B3 = (np.zeros(3), np.ones(3))


class ExplodingKey(str):
    def __hash__(self):
        return hash("F")

    def __eq__(self, other):
        raise RuntimeError("compared")


@pytest.mark.parametrize("args, kind, message", [
    ((3, 3, {}, B3), ValueError, "Population size must be at least 4 for DE"),
    ((0, 3, {}, B3), ValueError, "Population size must be at least 4 for DE"),
    # the population check comes before anything in options or bounds is read
    ((3, 2, {}, (1, 2, 3)), ValueError, "Population size must be at least 4 for DE"),
    ((3, 2, {ExplodingKey("F"): 1}, B3), ValueError, "Population size must be at least 4 for DE"),
    ((4, 3, {}, (1, 2, 3)), ValueError, "Bounds must be a tuple of (min_bound, max_bound)"),
    ((4, 3, {}, (np.zeros(3),)), ValueError, "Bounds must be a tuple of (min_bound, max_bound)"),
    ((4, 2, {}, B3), ValueError, "Bounds dimensions must match problem dimensions"),
    ((4, 3, {}, (np.zeros(3), np.ones(2))), ValueError, "Bounds dimensions must match problem dimensions"),
    # items of bounds are not arguments: no argument prefix
    ((4, 2, {}, ([0.0, 0.0], [1.0, 1.0])), TypeError, "'list' object cannot be converted to 'PyArray<T, D>'"),
    ((4, 2, {}, (np.zeros(2, np.int64), np.ones(2))), TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ((4, 2, {}, (np.zeros(2), np.ones((1, 2)))), TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ((4, 2, {ExplodingKey("F"): 1}, B3), RuntimeError, "compared"),
])
def test_construction_failures(args, kind, message):
    with pytest.raises(kind) as info:
        _DE(*args)
    assert type(info.value) is kind
    assert info.value.args == (message,)


class SneakyDict(dict):
    def __getitem__(self, key):
        raise AssertionError("the dictionary's own lookup must be used")

    def __missing__(self, key):
        raise AssertionError("the dictionary's own lookup must be used")


@pytest.mark.parametrize("options", [
    {}, {"F": "x", "c1": 0.9}, {"F": 1, "CR": True}, {"CR": None}, {"F": "0.9"},
    {"F": -3.0, "CR": 5.0, "w": 0.9}, {"c1": 0.9, "c2": 0.2}, SneakyDict(F=0.3),
])
def test_any_option_values_are_accepted(options):
    assert isinstance(_DE(4, 3, options, B3), _DE)


@pytest.mark.parametrize("bounds", [
    (np.ones(3), np.zeros(3)),
    (np.arange(6.0)[::2], np.arange(6.0)[::-2]),
    (B3[0], B3[0]),
    (np.full(3, np.nan), np.full(3, np.inf)),
])
def test_unusual_bounds_are_accepted(bounds):
    assert isinstance(_DE(4, 3, {}, bounds), _DE)


def test_zero_dimensions_with_empty_bounds():
    assert isinstance(_DE(4, 0, {}, (np.zeros(0), np.zeros(0))), _DE)


def test_bounds_are_copied_at_construction():
    low, high = np.zeros(3), np.ones(3)
    de = _DE(6, 3, {}, (low, high))
    low[:] = 100.0
    high[:] = 200.0
    seen = []
    de.optimize(lambda x: seen.append(x.copy()) or x.sum(axis=1), 0)
    assert ((seen[0] >= 0.0) & (seen[0] <= 1.0)).all()


@pytest.mark.parametrize("fitness", [-1, 1.5, None, "f", 0, 1, True, False, 4095, np.int64(3)])
def test_values_that_are_neither_address_nor_callable(fitness):
    # integers in the first page of memory can never be functions: calling
    # one would end the process, so they are refused like any non-callable
    with pytest.raises(TypeError) as info:
        _DE(4, 3, {}, B3).optimize(fitness, 1)
    assert info.value.args == ("Fitness function must be a callable or an address int",)


def test_iters_is_converted_before_the_fitness_function_is_looked_at():
    de = _DE(4, 3, {}, B3)
    with pytest.raises(TypeError, match="^argument 'iters': 'float' object cannot be interpreted as an integer$"):
        de.optimize(None, 1.0)
    with pytest.raises(OverflowError):
        de.optimize(None, -1)
