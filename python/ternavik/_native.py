"""Recognising native fitness functions and checking their signatures.

A native fitness function is called as
``void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness)``
without the interpreter lock. Calling anything else there crashes the
process or returns rubbish, so native functions are recognised by their type
only (never by an attribute any object could have), and wherever the object
carries a signature it must be exactly this one.
"""

import ctypes
import importlib
import re
from typing import Any, Optional, Sequence

import numpy as np

from ._optional import is_instance

EXPECTED = "void (uint64, uint64, double *, double *)"

# Spellings of an unsigned 64-bit integer in C, cffi and scipy's signatures.
_UINT64_NAMES = {"uint64_t", "uint64", "unsigned long", "ulong", "unsigned long long",
                 "ulonglong", "size_t", "uintptr_t", "npy_uint64", "npy_uintp"}
_DOUBLE_POINTER = re.compile(r"double ?\*")


def _mismatch(found: str) -> TypeError:
    return TypeError(f"a native fitness function must have the signature {EXPECTED}, "
                     f"found {found}")


def _check_text(result: str, args: Sequence[str]) -> None:
    """Compare a signature spelled as C type names with the expected one."""
    texts = [" ".join(a.split()) for a in args]
    ok = (result.strip() == "void" and len(texts) == 4
          and all(t in _UINT64_NAMES for t in texts[:2])
          and all(_DOUBLE_POINTER.fullmatch(t) for t in texts[2:]))
    if not ok:
        raise _mismatch(f"{result.strip()} ({', '.join(texts)})")


def _ctypes_name(kind: Any) -> str:
    """A ctypes type as a C type name."""
    if kind is None:
        return "void"
    if isinstance(kind, type) and issubclass(kind, ctypes._Pointer):
        return _ctypes_name(getattr(kind, "_type_")) + " *"
    if kind is ctypes.c_double:
        return "double"
    if isinstance(kind, type) and issubclass(kind, ctypes._SimpleCData):
        code = getattr(kind, "_type_")
        unsigned = "u" if code in "BHILQ" else ""
        if code in "bBhHiIlLqQ":
            return f"{unsigned}int{8 * ctypes.sizeof(kind)}_t"
        return kind.__name__
    return getattr(kind, "__name__", repr(kind))


def check_ctypes(restype: Any, argtypes: Optional[Sequence[Any]]) -> None:
    """A ctypes prototype; argument types unset (None) cannot be checked."""
    if argtypes is None:
        if restype is not None:
            raise _mismatch(f"{_ctypes_name(restype)} (arguments not set)")
        return
    _check_text(_ctypes_name(restype), [_ctypes_name(a) for a in argtypes])


def _cffi_check(fun: Any) -> int:
    """A cffi function pointer: its declared type, then its address."""
    ffi = importlib.import_module("cffi").FFI()  # loaded already: a cffi object exists
    ctype = ffi.typeof(fun)
    if ctype.kind != "function":
        raise TypeError(f"a cffi object of type {ctype.cname!r} is not a function pointer")
    if ctype.ellipsis:
        raise _mismatch(ctype.cname)
    _check_text(ctype.result.cname, [a.cname for a in ctype.args])
    return int(ffi.cast("uintptr_t", fun))


def _capsule_pointer(capsule: Any) -> int:
    """Read the pointer out of a PyCapsule, whatever name it carries."""
    api = ctypes.pythonapi
    api.PyCapsule_GetName.restype = ctypes.c_char_p
    api.PyCapsule_GetName.argtypes = [ctypes.py_object]
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    return int(api.PyCapsule_GetPointer(capsule, api.PyCapsule_GetName(capsule)) or 0)


def _low_level_callable_check(fun: Any) -> int:
    """A scipy.LowLevelCallable: no user data, the expected signature."""
    if fun.user_data is not None:
        raise TypeError("a LowLevelCallable's user_data cannot reach the fitness function, "
                        "whose signature has no place for it")
    signature = " ".join(str(fun.signature).split())
    match = re.fullmatch(r"(.+?) ?\((.*)\)", signature)
    if match is None:
        raise _mismatch(signature)
    _check_text(match.group(1), [a for a in match.group(2).split(",")])
    return _capsule_pointer(tuple.__getitem__(fun, 0))


def _numba_check(fun: Any) -> int:
    """A numba cfunc: its compiled signature, then its address."""
    try:
        prototype = fun.ctypes
    except Exception:  # a signature with no ctypes spelling cannot be ours
        raise _mismatch(str(fun._sig)) from None
    check_ctypes(prototype.restype, prototype.argtypes)
    address: int = fun.address
    return address


BARE_INT = ("a bare int cannot be called as a native function: nothing can check what it "
            "points to; pass a numba cfunc, a ctypes or cffi function pointer, or a "
            "scipy.LowLevelCallable, which carry their signature")


def native_address(fun: Any) -> Optional[int]:
    """The address of a recognised native function, None for anything else.

    Recognised, by type only: a numba cfunc, a ctypes function pointer, a
    cffi function pointer and a scipy.LowLevelCallable. Raises TypeError
    when such an object declares a signature other than
    ``void (uint64, uint64, double *, double *)``, and for a bare int or
    bool, whose target nothing can check. Anything else, callable or not,
    gives None.

    Examples
    --------
    >>> import ctypes
    >>> import ternavik
    >>> ternavik.native_address(lambda population: population.sum(axis=1)) is None
    True
    >>> kind = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
    ...                         ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double))
    >>> def fill(rows, cols, x, out):
    ...     for i in range(rows):
    ...         out[i] = 0.0
    >>> pointer = kind(fill)
    >>> ternavik.native_address(pointer) == ctypes.cast(pointer, ctypes.c_void_p).value
    True
    """
    if isinstance(fun, (bool, np.bool_)):
        raise TypeError("fun must be a callable or a native function, not a bool")
    if isinstance(fun, (int, np.integer)):
        raise TypeError(BARE_INT)
    if is_instance(fun, "scipy._lib._ccallback", "LowLevelCallable"):
        return _low_level_callable_check(fun)
    if is_instance(fun, "numba.core.ccallback", "CFunc"):
        return _numba_check(fun)
    if isinstance(fun, ctypes._CFuncPtr):  # type: ignore[attr-defined]
        check_ctypes(fun.restype, fun.argtypes)
        return int(ctypes.cast(fun, ctypes.c_void_p).value or 0)
    if is_instance(fun, "_cffi_backend", "_CDataBase"):
        return _cffi_check(fun)
    return None



# The capsule name the engine looks for; kept alive here for as long as any
# capsule that points at it.
_CAPSULE_NAME = ctypes.c_char_p(b"ternavik.native_fitness")


def native_function(fun: Any) -> Any:
    """A recognised native function as the engine takes it, None otherwise.

    The engine never calls a bare int: it takes the address in a capsule
    made here, after native_address has checked the function's signature.
    The caller keeps ``fun`` alive while the engine may call it.
    """
    address = native_address(fun)
    if address is None:
        return None
    if address == 0:
        raise TypeError("a native function cannot be a null pointer")
    # A prototype of our own: setting restype on ctypes.pythonapi's shared
    # function object would change it for every other user in the process.
    new = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.c_void_p, ctypes.c_char_p,
                            ctypes.c_void_p)(("PyCapsule_New", ctypes.pythonapi))
    return new(address, _CAPSULE_NAME, None)
