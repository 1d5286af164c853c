import os
import subprocess
import sys
import textwrap

import pytest


class Index:
    """An integer only through the index protocol."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    """An index protocol that raises its own exception."""

    def __index__(self):
        raise KeyError("from __index__")


def is_panic(exc):
    """The module's internal-failure exception: a BaseException, not an Exception."""
    return (type(exc).__name__ == "PanicException"
            and type(exc).__module__ == "pyo3_runtime"
            and not isinstance(exc, Exception))


def run_python(code, env=None, check=True, timeout=300):
    """Runs `code` in a fresh interpreter and returns the completed process."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=full_env,
                          capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise AssertionError(f"subprocess failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done


# Child-script prelude: a ctypes mirror of the shared borrow registry's
# record, and install(record), which puts a registry of the script's own
# where the module looks for one. Scripts build `record` from BORROW and
# RELEASE callbacks.
REGISTRY_PRELUDE = """
import ctypes
import numpy as np
core = np._core.multiarray if int(np.__version__.split(".")[0]) >= 2 else np.core.multiarray
BORROW = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
RELEASE = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)
class Record(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("state", ctypes.c_void_p),
                ("borrow_shared", BORROW), ("borrow_exclusive", BORROW),
                ("release_shared", RELEASE), ("release_exclusive", RELEASE)]
def install(record):
    new = ctypes.pythonapi.PyCapsule_New
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    capsule = new(ctypes.addressof(record), b"_RUST_NUMPY_BORROW_CHECKING_API", None)
    core._RUST_NUMPY_BORROW_CHECKING_API = capsule
    return capsule
"""

@pytest.fixture
def raises_panic():
    """Context manager: expects the internal-failure exception with a message."""
    class _Expect:
        def __init__(self, match):
            self.match = match

        def __enter__(self):
            return self

        def __exit__(self, kind, value, tb):
            assert value is not None, "no exception raised"
            assert is_panic(value), f"expected PanicException, got {kind!r}: {value}"
            assert str(value).startswith(self.match), str(value)
            self.value = value
            return True

    return _Expect


@pytest.fixture(scope="session")
def native_library():
    """native_fitness.c built once per session, loaded through ctypes."""
    import ctypes
    import shutil
    import tempfile
    from pathlib import Path

    compiler = shutil.which("cc")
    if compiler is None:
        pytest.skip("no C compiler to build the native fitness functions")
    library = Path(tempfile.mkdtemp(prefix="ternavik-native-")) / "libnative_fitness.so"
    subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-o", str(library),
                    str(Path(__file__).with_name("native_fitness.c"))], check=True)
    return ctypes.CDLL(str(library))


def native_function(library, name):
    """An exported C fitness function as a ctypes pointer with its signature."""
    import ctypes
    prototype = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64,
                                 ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double))
    return prototype((name, library))


def sphere_point(x, *args):
    """Sum of squares of one point (module level, so process pools can pickle it)."""
    shift = args[0] if args else 0.0
    return float(sum((v - shift) ** 2 for v in x))


def sphere_columns(x):
    """Sum of squares of each column of an (N, S) array, SciPy's vectorized form,
    summed in the order sphere_point and the C sphere use, so all agree bit for bit."""
    import numpy as np
    total = np.zeros(np.shape(x)[1])
    for row in np.asarray(x):
        total = total + row * row
    return total


def fingerprint(res):
    """Everything the same seed must reproduce, bit for bit."""
    import hashlib
    import numpy as np
    digest = hashlib.sha256()
    for part in (res.x, np.float64(res.fun), res.population, res.population_energies):
        digest.update(np.ascontiguousarray(part).tobytes())
    return digest.hexdigest(), res.nfev, res.nit


SEEDED_RUNS_SCRIPT = """
import json, sys
sys.path.insert(0, {tests!r})
import ternavik._de_settings as settings
from conftest import fingerprint, native_function, sphere_columns
from ternavik import differential_evolution
settings.PARALLEL_THRESHOLD = 0  # every generation on the pool
import ctypes
native = native_function(ctypes.CDLL({library!r}), "sphere")
out = []
for kwargs in {runs!r}:
    for fun, vectorized in ((native, False), (sphere_columns, True)):
        r = differential_evolution(fun, vectorized=vectorized, rng=5, polish=False, **kwargs)
        out.append(list(fingerprint(r)))
print(json.dumps(out))
"""


def seeded_runs_by_threads(library, runs, threads=(1, 2, 3)):
    """The C sphere and the vectorized Python one (same sums, same order)
    minimised with one seed under each keyword set of `runs`, every
    generation on the pool, in a fresh process per pool size: for each
    thread count, [digest, nfev, nit] per run, native then Python."""
    import json
    from pathlib import Path
    code = SEEDED_RUNS_SCRIPT.format(tests=str(Path(__file__).parent), library=library._name,
                                     runs=list(runs))
    return {count: json.loads(run_python(code, env={"RAYON_NUM_THREADS": str(count)}).stdout)
            for count in threads}


NAN_BITS_SCRIPT = """
    import numpy as np, _ternavik, reference_mcda as ref
    def flat(result):
        parts = result if isinstance(result, tuple) else (result,)
        return np.concatenate([np.ravel(np.asarray(a, np.float64)) for a in parts]).tobytes()
    rng = np.random.default_rng(0)  # the case that first showed two sign patterns
    d = rng.standard_normal((5, 128)); w = np.ones(128); w[[0, 40]] = -np.inf; w[1] = np.nan
    for d, w, c in [(d, w, np.zeros(128, np.int64))] + [ref.nan_case(s) for s in range(12)]:
        args = (d, w, c) if "{name}" == "topsis" else (d, c)
        want = flat(ref.{name}(*[a.tolist() for a in args]))
        got = {{flat(_ternavik.{name}(*args)) for _ in range(30)}}
        print(got == {{want}})
"""


def nan_bits_agree(name, threads):
    """Whether 30 calls of `name` on each NaN-rich case, with `threads`
    workers, all return the model's exact bits (NaN sign and payload too)."""
    out = run_python(NAN_BITS_SCRIPT.format(name=name),
                     env={"RAYON_NUM_THREADS": threads, "PYTHONPATH": os.pathsep.join(sys.path)})
    lines = out.stdout.split()
    return len(lines) == 13 and all(line == "True" for line in lines)


@pytest.fixture
def libc():
    """The C library, loaded afresh so attribute changes stay in this test."""
    import ctypes
    import ctypes.util
    return ctypes.CDLL(ctypes.util.find_library("c"))


@pytest.fixture
def libm():
    """The maths library, loaded afresh so attribute changes stay in this test."""
    import ctypes
    import ctypes.util
    return ctypes.CDLL(ctypes.util.find_library("m"))


ROOT = __import__("pathlib").Path(__file__).resolve().parents[2]


def readme_python_blocks():
    """The README's ```python blocks, in order, as (first line number, code)."""
    import re
    text = (ROOT / "README.md").read_text()
    return [(text[:m.start()].count("\n") + 2, m.group(1))
            for m in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M)]


def readme_shell_commands():
    """The README's indented shell lines that run ternavik on shipped files."""
    lines = (ROOT / "README.md").read_text().splitlines()
    return [line.strip() for line in lines
            if line.startswith("    ternavik ") or line.startswith("    python -m ternavik ")]
