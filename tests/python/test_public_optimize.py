"""`minimize` with every kind of fitness function that can be made here."""

import ctypes

import numpy as np
import pytest

import ternavik
from ternavik import InputError

BOUNDS = [(-3.0, 3.0), (-1.0, 2.0)]
SIGNATURE = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
                             ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double))
CALLS = []


def sphere_rows(rows, cols, matrix, fitness):
    """Native-signature sphere, recording the shapes it was called with."""
    CALLS.append((rows, cols))
    for i in range(rows):
        fitness[i] = sum(matrix[i * cols + j] ** 2 for j in range(cols))


def ctypes_pointer():
    return SIGNATURE(sphere_rows)


def address_int():
    pointer = SIGNATURE(sphere_rows)
    address = ctypes.cast(pointer, ctypes.c_void_p).value
    address_int.keep = pointer  # an int alone does not keep the code alive
    return address


def cffi_pointer():
    cffi = pytest.importorskip("cffi")
    ffi = cffi.FFI()
    return ffi.callback("void(uint64_t, uint64_t, double *, double *)", sphere_rows)


def low_level_callable():
    scipy = pytest.importorskip("scipy")
    return scipy.LowLevelCallable(SIGNATURE(sphere_rows))


def numba_cfunc():
    numba = pytest.importorskip("numba")
    from numba import types

    @numba.cfunc(types.void(types.uint64, types.uint64, types.CPointer(types.float64),
                            types.CPointer(types.float64)))
    def sphere(rows, cols, matrix, fitness):
        for i in range(rows):
            total = 0.0
            for j in range(cols):
                total += matrix[i * cols + j] ** 2
            fitness[i] = total
    return sphere


@pytest.mark.parametrize("make", [ctypes_pointer, address_int, cffi_pointer,
                                  low_level_callable, numba_cfunc])
def test_native_functions_find_the_minimum(make):
    fun = make()
    CALLS.clear()
    result = ternavik.minimize(fun, BOUNDS, pop=12, iters=60)
    assert result.fun < 1e-4 and result.nit == 60 and result.nfev == 12 * 61
    assert result.x.shape == (2,) and np.all(np.abs(result.x) < 1e-2)
    if make is not numba_cfunc:
        assert CALLS == [(12, 2)] * 61


def test_callable_gets_matrix_and_may_return_any_array_like():
    shapes = []

    def fitness(x):
        shapes.append(x.shape)
        return list(np.sum(x * x, axis=1))  # a list is converted, not rejected
    result = ternavik.minimize(fitness, BOUNDS, pop=8, iters=5, F=0.6, CR=0.9)
    assert shapes == [(8, 2)] * 6 and result.nfev == 48
    assert np.all((result.x >= [-3.0, -1.0]) & (result.x <= [3.0, 2.0]))
    assert result.fun == pytest.approx(float(np.sum(result.x ** 2)))


def test_native_address_is_read_without_running():
    pointer = SIGNATURE(sphere_rows)
    assert ternavik.native_address(pointer) == ctypes.cast(pointer, ctypes.c_void_p).value
    assert ternavik.native_address(len) is None


@pytest.mark.parametrize("fun, bounds, message", [
    ("sphere", BOUNDS, "callable or a native function, got str"),
    (True, BOUNDS, "not a bool"),
    (len, [(0.0, 1.0, 2.0)], "pairs"),
    (len, [(1.0, 0.0)], "dimension 0"),
    (len, [(0.0, 1.0), (0.0, np.inf)], "dimension 1"),
    (len, [("a", 1.0)], "pairs of numbers"),
])
def test_bad_arguments(fun, bounds, message):
    with pytest.raises(InputError, match=message):
        ternavik.minimize(fun, bounds, pop=4, iters=1)


def test_low_level_callable_of_another_kind_is_refused():
    scipy = pytest.importorskip("scipy")
    other = scipy.LowLevelCallable(ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_double)(abs))
    with pytest.raises(InputError, match="cannot be a fitness function"):
        ternavik.minimize(other, BOUNDS, pop=4, iters=1)
    with_data = scipy.LowLevelCallable(SIGNATURE(sphere_rows), ctypes.c_void_p(1))
    with pytest.raises(InputError, match="user_data"):
        ternavik.minimize(with_data, BOUNDS, pop=4, iters=1)
