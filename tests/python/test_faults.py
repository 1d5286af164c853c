"""Faults of the operating system, injected underneath the module in a child
interpreter: the entropy source failing for a run generator, at a worker's
first use of its generator and at a rekeying, and the worker pool failing to
start. Each child checks the outcome and that the process keeps working."""
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import run_python
from test_optimize import native  # noqa: F401  (session fixture)

@pytest.fixture(scope="session")
def fault_library():
    compiler = shutil.which("cc")
    if compiler is None:
        pytest.skip("no C compiler to build the fault-injection library")
    build = Path(tempfile.mkdtemp(prefix="ternavik-faults-"))
    library = build / "libfault_injection.so"
    subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-o", str(library),
                    str(Path(__file__).with_name("fault_injection.c")), "-ldl"], check=True)
    return library


# Shared by every child: the fault switch, a native sphere, and a check that
# a call ends with the internal failure and a given message.
PRELUDE = """
import ctypes, sys
import numpy as np
from _ternavik import _DE, entropy_weight, topsis

faults = ctypes.CDLL({fault_library!r})
RANDOM_FAILS, RANDOM_FAILS_OFF_CALLER, RANDOM_FAILS_AT_REKEY, THREAD_START_FAILS = 1, 2, 3, 4
native = ctypes.CDLL({native_library!r})
sphere = ctypes.cast(native.sphere, ctypes.c_void_p).value

def panics(call, prefix):
    try:
        call()
    except Exception as e:
        raise AssertionError(f"ordinary exception instead of a panic: {{e!r}}")
    except BaseException as e:
        assert type(e).__name__ == "PanicException", repr(e)
        assert str(e).startswith(prefix), str(e)
        print("observed:", str(e))
        return
    raise AssertionError("no failure")

data = np.array([[1.0, 2.0, 3.0], [2.0, 2.0, 1.0], [4.0, 2.0, 2.0], [3.0, 2.0, 5.0]])
kinds = np.array([1, 1, 0], dtype=np.int64)
weights = np.array([0.2, 0.3, 0.5])
small = _DE(6, 3, {{}}, (np.zeros(3), np.ones(3)))
big = _DE(20000, 11, {{}}, (np.full(11, -1.0), np.ones(11)))   # 220000 elements: parallel

def sphere_of(position):
    total = 0.0
    for v in position:
        total += v * v
    return total

def works(de, fitness, iters=2):
    # a successful run whose best fitness is that of its best position
    best, position = de.optimize(fitness, iters)
    assert np.isfinite(best) and position.ndim == 1 and position.dtype == np.float64
    assert best == (sphere_of(position) if fitness is sphere else float(fitness(position[None])[0]))

square_sums = lambda x: (x * x).sum(axis=1)
"""

SCENARIOS = {
    # The run generator of a call cannot be seeded: that call fails before
    # any evaluation, both variants; the next call seeds afresh and works.
    "run generator": """
calls = []
expected_topsis = topsis(data, weights, kinds).tobytes()
faults.fault_arm(RANDOM_FAILS)
panics(lambda: small.optimize(lambda x: calls.append(1) or square_sums(x), 3),
       "from_entropy failed: OS Error: 5")
panics(lambda: small.optimize(sphere, 3), "from_entropy failed: OS Error: 5")
assert calls == [] and faults.fault_injected() == 2
assert topsis(data, weights, kinds).tobytes() == expected_topsis  # draws no random numbers
faults.fault_arm(0)
works(small, square_sums); works(small, sphere)
""",
    # A worker creates its generator at its first parallel trial step; the
    # failure reaches the caller after the loop. It is not remembered.
    "worker generator at first use": """
works(small, sphere)                               # the caller's own generator is fine
expected_topsis = topsis(data, weights, kinds).tobytes()
faults.fault_arm(RANDOM_FAILS_OFF_CALLER)
panics(lambda: big.optimize(sphere, 2), "could not initialize thread_rng: OS Error: 5")
assert faults.fault_injected() >= 1
works(small, sphere)                               # serial runs need no worker generator
assert topsis(data, weights, kinds).tobytes() == expected_topsis
faults.fault_arm(0)
works(big, sphere)
""",
    # Rekeying after 64 KiB of a worker's stream fails silently: the run
    # completes with valid results on the old key.
    "worker generator at rekey": """
faults.fault_arm(RANDOM_FAILS_AT_REKEY)
for _ in range(3):
    works(big, sphere, iters=4)
print("failed rekeys:", faults.fault_injected())
assert faults.fault_injected() >= 1, "no rekey was attempted"
""",
    # The pool cannot start: the loop that asked fails with the sentence and
    # the thread error, every later loop fails too, and whatever needs no
    # loop (argument checks, serial optimisation) keeps working.
    "pool start": """
faults.fault_arm(THREAD_START_FAILS)
sentence = "The global thread pool has not been initialized."
panics(lambda: big.optimize(sphere, 1), sentence + ": ")
assert faults.fault_injected() == 1
faults.fault_arm(0)
panics(lambda: topsis(data, weights, kinds), sentence)
panics(lambda: entropy_weight(data, kinds), sentence)
panics(lambda: entropy_weight(data[:2, :0], kinds[:0]), sentence)   # empty loops too
panics(lambda: big.optimize(sphere, 1), sentence)
try:
    topsis(data[:1], weights, kinds)
except ValueError as e:
    assert e.args == ("Data must have more than one row",)
works(small, square_sums); works(small, sphere)
""",
}


@pytest.mark.parametrize("scenario", sorted(SCENARIOS))
def test_fault(scenario, fault_library, native):  # noqa: F811
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), str(fault_library)]))
    code = PRELUDE.format(fault_library=str(fault_library), native_library=native._name)
    done = run_python(code + SCENARIOS[scenario] + "\nprint('ok')\n",
                      env={"LD_PRELOAD": preload, "RAYON_NUM_THREADS": "2"}, check=False)
    assert done.returncode == 0 and done.stdout.rstrip().endswith("ok"), (
        f"{scenario}: exit {done.returncode}\n{done.stdout}\n{done.stderr}")
    print(f"{scenario}: {done.stdout.strip()}")
