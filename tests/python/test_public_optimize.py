"""`minimize` with every kind of fitness function that can be made here."""

import ctypes
import ctypes.util

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


@pytest.mark.parametrize("make", [ctypes_pointer, cffi_pointer,
                                  low_level_callable, numba_cfunc])
def test_native_functions_find_the_minimum(make):
    fun = make()
    CALLS.clear()
    result = ternavik.minimize(fun, BOUNDS, pop=12, iters=60, seed=1)
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


@pytest.mark.parametrize("fun, message", [
    ("sphere", "callable or a native function, got str"),
    (True, "not a bool"),
])
def test_fun_that_is_neither_callable_nor_native(fun, message):
    with pytest.raises(TypeError, match=message):
        ternavik.minimize(fun, BOUNDS, pop=4, iters=1)


@pytest.mark.parametrize("fun, bounds, message", [
    (len, [(0.0, 1.0, 2.0)], "pairs"),
    (len, np.empty((0, 2)), "at least one"),
    (len, [(1.0, 0.0)], "dimension 0"),
    (len, [(0.0, 1.0), (0.0, np.inf)], "dimension 1"),
    (len, [("a", 1.0)], "pairs of numbers"),
])
def test_bad_arguments(fun, bounds, message):
    with pytest.raises(InputError, match=message):
        ternavik.minimize(fun, bounds, pop=4, iters=1)


def test_low_level_callable_with_user_data_is_refused():
    scipy = pytest.importorskip("scipy")
    with_data = scipy.LowLevelCallable(SIGNATURE(sphere_rows), ctypes.c_void_p(1))
    with pytest.raises(TypeError, match="user_data"):
        ternavik.minimize(with_data, BOUNDS, pop=4, iters=1)


class CallableWithAddress:
    """A Python callable that happens to carry an integer `address`."""

    address = 1 << 20

    def __call__(self, x):
        return np.sum(x * x, axis=1)


def test_an_address_attribute_does_not_make_a_native_function():
    fun = CallableWithAddress()
    assert ternavik.native_address(fun) is None
    result = ternavik.minimize(fun, BOUNDS, pop=8, iters=20)
    assert result.success and result.fun == pytest.approx(float(np.sum(result.x ** 2)))


def cos_from_libm(libm, _):
    return libm.cos


def getpid_from_libc(_, libc):
    return libc.getpid


def free_from_libc(_, libc):
    return libc.free


def free_declared_void(_, libc):
    libc.free.restype = None
    libc.free.argtypes = [ctypes.c_void_p]
    return libc.free


def ctypes_double_of_double(*_):
    return ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_double)(abs)


def ctypes_signed_rows(*_):
    return ctypes.CFUNCTYPE(None, ctypes.c_int64, ctypes.c_int64, ctypes.POINTER(ctypes.c_double),
                            ctypes.POINTER(ctypes.c_double))(sphere_rows)


def cffi_cos(*_):
    cffi = pytest.importorskip("cffi")
    ffi = cffi.FFI()
    ffi.cdef("double cos(double);")
    return ffi.dlopen(ctypes.util.find_library("m")).cos


def cffi_float_pointers(*_):
    cffi = pytest.importorskip("cffi")
    return cffi.FFI().callback("void(uint64_t, uint64_t, float *, float *)", lambda *a: None)


def numba_double_of_double(*_):
    numba = pytest.importorskip("numba")
    return numba.cfunc("float64(float64)")(lambda x: x)


def low_level_callable_double_of_double(*_):
    scipy = pytest.importorskip("scipy")
    return scipy.LowLevelCallable(ctypes_double_of_double())


@pytest.mark.parametrize("make, found", [
    (cos_from_libm, r"int32_t \(arguments not set\)"),
    (getpid_from_libc, r"int32_t \(arguments not set\)"),
    (free_from_libc, r"int32_t \(arguments not set\)"),
    (free_declared_void, r"void \(c_void_p\)"),
    (ctypes_double_of_double, r"double \(double\)"),
    (ctypes_signed_rows, r"void \(int64_t, int64_t, double \*, double \*\)"),
    (cffi_cos, r"double \(double\)"),
    (cffi_float_pointers, r"void \(uint64_t, uint64_t, float \*, float \*\)"),
    (numba_double_of_double, r"double \(double\)"),
    (low_level_callable_double_of_double, r"double \(double\)"),
])
def test_native_signature_mismatch_is_a_type_error(make, found, libm, libc):
    fun = make(libm, libc)
    expected = r"must have the signature void \(uint64, uint64, double \*, double \*\), found "
    with pytest.raises(TypeError, match=expected + found):
        ternavik.native_address(fun)
    with pytest.raises(TypeError, match=expected + found):
        ternavik.minimize(fun, BOUNDS, pop=4, iters=1)


@pytest.mark.parametrize("fitness", [
    lambda x: np.full(len(x), np.nan),
    lambda x: np.full(len(x), np.inf),
    lambda x: np.where(np.arange(len(x)) % 2 == 0, np.nan, np.inf),
])
def test_a_search_without_finite_fitness_fails_openly(fitness):
    bounds = [(1.0, 2.0), (3.0, 4.0)]  # zero, the optimiser's start, lies outside
    result = ternavik.minimize(fitness, bounds, pop=6, iters=3)
    assert result.success is False and result.fun == np.inf
    assert "no finite fitness value was found" in result.message
    assert result.x.shape == (2,) and np.all(np.isnan(result.x))


def test_minus_infinity_is_no_success_but_keeps_the_point():
    result = ternavik.minimize(lambda x: np.full(len(x), -np.inf), [(1.0, 2.0)], pop=4, iters=2)
    assert result.success is False and "-inf" in result.message
    assert 1.0 <= result.x[0] <= 2.0


def test_result_is_a_dict_with_attributes():
    result = ternavik.minimize(lambda x: np.sum(x * x, axis=1), BOUNDS, pop=6, iters=4)
    assert isinstance(result, dict) and result.success is True and result.message
    assert set(result) == {"x", "fun", "success", "message", "nfev", "nit"}
    assert result["fun"] is result.fun and result.nfev == 30 and result.nit == 4
    result.extra = 1
    assert result["extra"] == 1 and "success:" in repr(result)
    with pytest.raises(AttributeError):
        result.missing


@pytest.mark.parametrize("options, message", [
    ({"F": 0.0}, r"F must lie in \(0, 2\], got 0.0"),
    ({"F": 2.5}, r"F must lie in \(0, 2\]"),
    ({"F": -0.5}, "F must lie"),
    ({"F": np.nan}, "F must lie"),
    ({"F": np.inf}, "F must lie"),
    ({"CR": -0.1}, r"CR must lie in \[0, 1\], got -0.1"),
    ({"CR": 1.5}, "CR must lie"),
    ({"CR": np.nan}, "CR must lie"),
    ({"F": "x"}, "F must be a number"),
    ({"pop": 3}, "pop must be at least 4"),
    ({"pop": 4.0}, "pop must be an integer"),
    ({"pop": 2 ** 62}, r"pop x dimensions = .* is too large"),
    ({"pop": 10 ** 7, "bounds": [(0.0, 1.0)] * 10 ** 4}, "GiB of working memory"),
    ({"iters": -1}, "iters must be at least 0"),
    ({"iters": 10 ** 20}, "iters must be at least 0 and below 18446744073709551616"),
    ({"iters": True}, "iters must be an integer"),
])
def test_bad_run_settings_are_input_errors(options, message):
    settings = {"pop": 4, "iters": 1, "bounds": BOUNDS, **options}
    with pytest.raises(InputError, match=message):
        ternavik.minimize(len, settings.pop("bounds"), **settings)


@pytest.mark.parametrize("F, CR", [(2.0, 0.0), (1e-9, 1.0)])
def test_control_settings_at_the_edges_run(F, CR):
    result = ternavik.minimize(lambda x: np.sum(x * x, axis=1), BOUNDS, pop=5, iters=3, F=F, CR=CR)
    assert result.success and result.nfev == 20
