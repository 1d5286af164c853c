"""The borrow registry shared by native extensions through NumPy's core module."""
import ctypes
import textwrap

import numpy as np
import pytest

import _ternavik
from conftest import REGISTRY_PRELUDE, run_python

NAME = b"_RUST_NUMPY_BORROW_CHECKING_API"
BORROW = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
RELEASE = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class Record(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("state", ctypes.c_void_p),
                ("borrow_shared", BORROW), ("borrow_exclusive", BORROW),
                ("release_shared", RELEASE), ("release_exclusive", RELEASE)]


def core_multiarray():
    major = int(np.__version__.split(".")[0])
    return np._core.multiarray if major >= 2 else np.core.multiarray


def registry():
    _ternavik.topsis(np.ones((2, 1)), np.ones(1), np.ones(1, np.int64))  # installs it if needed
    capsule = getattr(core_multiarray(), NAME.decode())
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    return Record.from_address(get_pointer(capsule, NAME))


def test_registry_is_installed_with_version_1():
    assert registry().version >= 1


def test_exclusive_borrow_makes_a_call_fail_until_released(raises_panic):
    record = registry()
    data = np.arange(6.0).reshape(3, 2)
    assert record.borrow_exclusive(record.state, data) == 0
    try:
        with raises_panic("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"):
            _ternavik.topsis(data, np.ones(2), np.ones(2, np.int64))
        # a view of the same memory counts too
        with raises_panic("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"):
            _ternavik.entropy_weight(data[1:], np.ones(2, np.int64))
    finally:
        record.release_exclusive(record.state, data)
    assert _ternavik.topsis(data, np.ones(2), np.ones(2, np.int64)).shape == (3,)


def test_exclusive_borrow_is_refused_while_a_view_is_held():
    record = registry()
    data = np.arange(6.0).reshape(3, 2)
    seen = []

    def fitness(population):
        # during optimize nothing of `data` is borrowed; bounds views were released at construction
        seen.append(record.borrow_exclusive(record.state, data))
        record.release_exclusive(record.state, data)
        return population.sum(axis=1)

    _ternavik._DE(4, 2, {}, (data[0], data[1])).optimize(fitness, 0)
    assert seen == [0]
    readonly = data.copy()
    readonly.flags.writeable = False
    assert record.borrow_exclusive(record.state, readonly) == -2


def test_shared_borrows_of_one_array_coexist():
    data = np.arange(9.0).reshape(3, 3)
    kinds = np.ones(3, np.int64)
    # the same array twice in one call, and a slice of it, are all shared borrows
    assert _ternavik.topsis(data, data[0], kinds).shape == (3,)
    assert _ternavik.topsis(data, data[:, 1], kinds).shape == (3,)


def test_existing_registry_is_used_not_replaced():
    done = run_python(REGISTRY_PRELUDE + textwrap.dedent("""
        calls = []
        record = Record(1, None, BORROW(lambda s, a: calls.append("borrow") or 0),
                        BORROW(lambda s, a: 0), RELEASE(lambda s, a: calls.append("release")),
                        RELEASE(lambda s, a: None))
        capsule = install(record)
        import _ternavik
        _ternavik.topsis(np.ones((2, 2)), np.ones(2), np.ones(2, np.int64))
        assert core._RUST_NUMPY_BORROW_CHECKING_API is capsule
        print(" ".join(calls))
    """))
    assert done.stdout.split() == ["borrow"] * 3 + ["release"] * 3


@pytest.mark.parametrize("replacement, message", [
    ("object()", "Interal borrow checking API error: TypeError: 'object' object cannot be converted to 'PyCapsule'"),
    ("old_version_capsule()", "Interal borrow checking API error: TypeError: Version 0 of borrow checking API is not supported"),
])
def test_unusable_registry_is_an_internal_failure(replacement, message):
    done = run_python(f"""
        import ctypes
        import numpy as np
        core = np._core.multiarray if int(np.__version__.split(".")[0]) >= 2 else np.core.multiarray
        zeros = (ctypes.c_uint64 * 6)()
        def old_version_capsule():
            new = ctypes.pythonapi.PyCapsule_New
            new.restype = ctypes.py_object
            new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
            return new(ctypes.addressof(zeros), b"_RUST_NUMPY_BORROW_CHECKING_API", None)
        core._RUST_NUMPY_BORROW_CHECKING_API = {replacement}
        import _ternavik
        try:
            _ternavik.topsis(np.ones((2, 2)), np.ones(2), np.ones(2, np.int64))
        except BaseException as e:
            assert type(e).__name__ == "PanicException"
            print(e)
    """)
    assert done.stdout.startswith(message), done.stdout
