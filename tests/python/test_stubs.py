"""The type stubs agree with the installed modules and type-check the examples."""

import importlib.util
import subprocess
import sys

import pytest

from conftest import ROOT, readme_python_blocks

pytestmark = pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                                reason="mypy is not installed")


def mypy(*args):
    """Run a mypy tool outside the source tree, so the installed package is checked."""
    return subprocess.run([sys.executable, "-m", *args], cwd=ROOT / "tests",
                          capture_output=True, text=True, timeout=600)


def test_examples_pass_strict_mypy():
    done = mypy("mypy", "--strict", "--no-incremental", str(ROOT / "examples"))
    assert done.returncode == 0, done.stdout + done.stderr


def test_readme_examples_pass_strict_mypy(tmp_path):
    for module in ("pandas", "numba"):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed")
    files = []
    for k, (_, code) in enumerate(readme_python_blocks()):
        files.append(tmp_path / f"readme_block_{k}.py")
        files[-1].write_text(code)
    done = mypy("mypy", "--strict", "--no-incremental", *map(str, files))
    assert done.returncode == 0, done.stdout + done.stderr


def test_package_passes_strict_mypy():
    done = mypy("mypy", "--strict", "--no-incremental", "-p", "ternavik")
    assert done.returncode == 0, done.stdout + done.stderr


def test_stubs_match_the_runtime():
    done = mypy("mypy.stubtest", "_ternavik", "ternavik")
    assert done.returncode == 0, done.stdout + done.stderr
