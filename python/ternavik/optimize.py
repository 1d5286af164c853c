"""`minimize`: differential evolution with a result object.

`_ternavik._DE` takes the fitness function as a vectorised Python callable or
as the bare integer address of a native
``void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness)``.
People compile such functions with numba, ctypes, cffi or hand them over as a
scipy LowLevelCallable; this module takes the address out of each of those and
keeps the object alive while the optimiser calls into it.
"""

import ctypes
import importlib
import re
from dataclasses import dataclass
from typing import Any, Callable, Sequence, Tuple, Union, cast

import numpy as np
import numpy.typing as npt

import _ternavik

from ._errors import InputError

Vector = npt.NDArray[np.float64]
Fitness = Union[Callable[[Vector], Any], int, Any]


@dataclass(frozen=True)
class OptimizeResult:
    """Outcome of one :func:`minimize` run."""

    x: Vector      # best position found
    fun: float     # fitness at x
    nfev: int      # rows evaluated: pop * (iters + 1)
    nit: int       # generations run


def _capsule_pointer(capsule: Any) -> int:
    """Read the pointer out of a PyCapsule, whatever name it carries."""
    api = ctypes.pythonapi
    api.PyCapsule_GetName.restype = ctypes.c_char_p
    api.PyCapsule_GetName.argtypes = [ctypes.py_object]
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    return int(api.PyCapsule_GetPointer(capsule, api.PyCapsule_GetName(capsule)) or 0)


# void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness), as
# spelled by a capsule's name, e.g. "void (ulong, ulong, double *, double *)".
_NATIVE_SIGNATURE = re.compile(r"void \((\w+ ?)+, (\w+ ?)+, double \*, double \*\)")


def _is_low_level_callable(fun: Any) -> bool:
    """True for a scipy.LowLevelCallable, without importing scipy."""
    return any(c.__name__ == "LowLevelCallable" and c.__module__.startswith("scipy")
               for c in type(fun).__mro__)


def _cffi_address(fun: Any) -> int:
    """Address of a cffi function pointer."""
    ffi = importlib.import_module("cffi").FFI()
    if ffi.typeof(fun).kind != "function":
        raise InputError(f"cffi object of type {ffi.typeof(fun).cname!r} is not a "
                         f"function pointer")
    return int(ffi.cast("uintptr_t", fun))


def native_address(fun: Any) -> Union[int, None]:
    """The native address behind ``fun``, or None when it is a plain callable.

    Accepts an int, a numba cfunc (``.address``), a ctypes function pointer, a
    cffi function pointer and a scipy.LowLevelCallable.
    """
    if isinstance(fun, (bool, np.bool_)):
        raise InputError("fun must be a callable or a native function, not a bool")
    if isinstance(fun, (int, np.integer)):
        return int(fun)
    if _is_low_level_callable(fun):
        if fun.user_data is not None:
            raise InputError("a LowLevelCallable's user_data cannot reach the fitness "
                             "function, whose signature has no place for it")
        if not _NATIVE_SIGNATURE.fullmatch(" ".join(str(fun.signature).split())):
            raise InputError(f"a LowLevelCallable with signature {fun.signature!r} cannot be "
                             f"a fitness function: it must be void (uint64_t, uint64_t, "
                             f"double *, double *)")
        return _capsule_pointer(tuple.__getitem__(fun, 0))
    if isinstance(fun, ctypes._CFuncPtr):  # type: ignore[attr-defined]
        return int(ctypes.cast(fun, ctypes.c_void_p).value or 0)
    if type(fun).__module__ == "_cffi_backend":
        return _cffi_address(fun)
    address = getattr(fun, "address", None)  # numba cfunc
    if isinstance(address, int) and not isinstance(address, bool):
        return address
    if callable(fun):
        return None
    raise InputError(f"fun must be a callable or a native function, "
                     f"got {type(fun).__name__}")


def _bounds_arrays(bounds: Any) -> Tuple[Vector, Vector]:
    """Split (low, high) pairs, one per dimension, into two float64 vectors."""
    if hasattr(bounds, "lb") and hasattr(bounds, "ub"):  # scipy.optimize.Bounds
        pairs = np.column_stack([np.atleast_1d(bounds.lb), np.atleast_1d(bounds.ub)])
    else:
        try:
            pairs = np.asarray(bounds, dtype=np.float64)
        except (TypeError, ValueError):
            raise InputError("bounds must be (low, high) pairs of numbers, "
                             "one per dimension") from None
    if pairs.ndim != 2 or pairs.shape[1] != 2:
        raise InputError(f"bounds must be (low, high) pairs, one per dimension; "
                         f"got shape {pairs.shape}")
    pairs = pairs.astype(np.float64)
    for j, (low, high) in enumerate(pairs):
        if not (np.isfinite(low) and np.isfinite(high) and low <= high):
            raise InputError(f"bounds of dimension {j} are ({low}, {high}); "
                             f"they must be finite with low <= high")
    return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])


def _as_float64_result(fun: Callable[[Vector], Any]) -> Callable[[Vector], Vector]:
    """Let a callable return any array-like; float64 arrays pass through as they are."""
    def fitness(population: Vector) -> Vector:
        return np.asarray(fun(population), dtype=np.float64)
    return fitness


def minimize(fun: Fitness, bounds: Union[Sequence[Tuple[float, float]], Any], *,
             pop: int, iters: int, F: float = 0.5, CR: float = 0.7) -> OptimizeResult:
    """Minimise ``fun`` over a box by differential evolution (DE/rand/1/bin).

    ``fun`` evaluates a whole population at once: a Python callable taking a
    (pop, dims) float64 array and returning pop values, or a native function
    ``void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness)``
    given as an int address, a numba cfunc, a ctypes or cffi function pointer
    or a scipy.LowLevelCallable. Native functions run without the GIL.

    ``bounds`` holds one (low, high) pair per dimension. The run makes
    ``pop * (iters + 1)`` evaluations; there is no early stop and no seed.
    """
    low, high = _bounds_arrays(bounds)
    optimizer = _ternavik._DE(pop, low.size, {"F": float(F), "CR": float(CR)}, (low, high))
    address = native_address(fun)
    # `fun` stays referenced by this frame until optimize returns, so the code
    # behind `address` cannot be freed while the optimiser calls it.
    target: Any = (_as_float64_result(cast(Callable[[Vector], Any], fun))
                   if address is None else address)
    best, position = optimizer.optimize(target, iters)
    return OptimizeResult(x=position, fun=best, nfev=pop * (iters + 1), nit=iters)
