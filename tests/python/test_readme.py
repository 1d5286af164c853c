"""Every code block of the README and every script in examples/ runs as written."""

import importlib.util
import os
import shlex
import subprocess
import sys

import pytest

from conftest import ROOT, readme_python_blocks, readme_shell_commands

# What each block needs beyond NumPy, as the README says.
NEEDS = {"pandas": "pandas", "numba": "numba"}
# Calls that need an extra the block does not import itself.
CALLS = {"plot_ranks(": "matplotlib", "plot_sensitivity(": "matplotlib"}


def _skip_without_extras(code):
    for module in NEEDS:
        if f"import {module}" in code or f"from {module} " in code:
            if importlib.util.find_spec(module) is None:
                pytest.skip(f"{module} is not installed")
    for call, module in CALLS.items():
        if call in code and importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed")


def test_readme_has_the_blocks_it_promises():
    blocks = [code for _, code in readme_python_blocks()]
    assert len(blocks) >= 4
    assert any("import pandas" in b for b in blocks) and any("numba" in b for b in blocks)
    assert len(readme_shell_commands()) >= 4


@pytest.mark.parametrize("line, code", readme_python_blocks(), ids=lambda v: str(v)[:12])
def test_readme_python_block_runs(tmp_path, line, code):
    _skip_without_extras(code)
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, f"README line {line}:\n{done.stderr}"


@pytest.mark.parametrize("command", readme_shell_commands())
def test_readme_shell_command_runs(command):
    words = shlex.split(command.replace("python -m ternavik", "ternavik"))
    stdin = None
    if "<" in words:
        at = words.index("<")
        stdin = (ROOT / words[at + 1]).read_text()
        words = words[:at]
    if words[1] == "optimize":  # keep the test short; the options are what is checked
        words += ["--iters", "5"]
    done = subprocess.run([sys.executable, "-m", "ternavik", *words[1:]], cwd=ROOT, input=stdin,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0 and done.stderr == "", done.stderr


@pytest.mark.parametrize("script", sorted(p.name for p in (ROOT / "examples").glob("*.py")))
def test_example_script_runs(script):
    import ast
    tree = ast.parse((ROOT / "examples" / script).read_text())
    for node in tree.body:
        names = ([a.name for a in node.names] if isinstance(node, ast.Import)
                 else [node.module or ""] if isinstance(node, ast.ImportFrom) else [])
        for name in names:
            if importlib.util.find_spec(name.split(".")[0]) is None:
                pytest.skip(f"{name} is not installed")
    done = subprocess.run([sys.executable, str(ROOT / "examples" / script)], cwd=ROOT,
                          capture_output=True, text=True, timeout=300,
                          env={**os.environ, "MPLBACKEND": "Agg"})
    assert done.returncode == 0, done.stderr
