"""The type stubs agree with the installed modules and type-check the examples."""

import importlib.util
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                                reason="mypy is not installed")


def mypy(*args):
    """Run a mypy tool outside the source tree, so the installed package is checked."""
    return subprocess.run([sys.executable, "-m", *args], cwd=ROOT / "tests",
                          capture_output=True, text=True, timeout=600)


def test_examples_pass_strict_mypy():
    done = mypy("mypy", "--strict", "--no-incremental", str(ROOT / "examples"))
    assert done.returncode == 0, done.stdout + done.stderr


def test_stubs_match_the_runtime():
    done = mypy("mypy.stubtest", "_ternavik", "ternavik")
    assert done.returncode == 0, done.stdout + done.stderr
