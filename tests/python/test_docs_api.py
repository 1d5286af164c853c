"""The documentation covers the package: every public name has a place in the API
reference, and every code block the guides present as runnable runs as written."""

import importlib
import importlib.util
import pkgutil
import re
import subprocess
import sys
import types

import pytest

import ternavik
from conftest import ROOT

DOCS = ROOT / "docs"
# Folders the build writes; their sources are not the documentation's own.
GENERATED = {"_build", "generated", "auto_examples"}
# What a guide's block needs beyond NumPy, by the module it imports.
OPTIONAL = ("pandas", "numba", "dask", "xarray", "matplotlib", "scipy")

_DIRECTIVE = re.compile(r"^\s*\.\. (\S+?)::\s*(\S*)\s*$")
_NAMED = {"autofunction", "autoclass", "autodata", "autoexception", "automodule",
          "py:function", "py:class", "py:data", "py:module", "module"}


def _sources(suffix):
    return sorted(p for p in DOCS.rglob(f"*{suffix}")
                  if not GENERATED & set(p.relative_to(DOCS).parts))


def _entries_of(text):
    """The fully qualified names a reStructuredText page documents: autosummary
    entries and auto*/py: directives, each under the current module at its place."""
    names, current, in_summary = set(), "", False
    for line in text.splitlines():
        match = _DIRECTIVE.match(line)
        if match:
            directive, argument = match.groups()
            in_summary = directive == "autosummary"
            if directive in ("currentmodule", "py:currentmodule", "module", "py:module"):
                current = argument
            if directive in _NAMED and argument:
                names.add(argument if directive in ("automodule", "module", "py:module")
                          or not current else f"{current}.{argument}")
            continue
        if in_summary:
            entry = line.strip()
            if not entry or entry.startswith(":"):
                continue
            if not line.startswith((" ", "\t")):
                in_summary = False
                continue
            entry = entry.lstrip("~")
            names.add(f"{current}.{entry}" if current else entry)
    return names


def documented_names():
    names = set()
    for path in _sources(".rst"):
        names |= _entries_of(path.read_text())
    return names


def _resolve(name):
    """The object a dotted name stands for, or None when nothing answers to it."""
    parts = name.split(".")
    for cut in range(len(parts), 0, -1):
        try:
            value = importlib.import_module(".".join(parts[:cut]))
        except ImportError:
            continue
        try:
            for attribute in parts[cut:]:
                value = getattr(value, attribute)
        except AttributeError:
            return None
        return value
    return None


def public_surface():
    """(module name, name) for ternavik.__all__ and every public submodule's __all__."""
    pairs = [("ternavik", name) for name in ternavik.__all__]
    for info in pkgutil.iter_modules(ternavik.__path__):
        if info.name.startswith("_"):
            continue
        module = importlib.import_module(f"ternavik.{info.name}")
        pairs += [(module.__name__, name) for name in getattr(module, "__all__", ())]
    return pairs


def _shared_identity(value):
    # Only objects whose identity means something: a small int or a string may be
    # the same object under unrelated names.
    return isinstance(value, (types.FunctionType, types.BuiltinFunctionType, type,
                              types.ModuleType, dict, tuple, list))


def test_the_reference_documents_every_public_name():
    documented = documented_names()
    by_identity = {}
    for name in documented:
        value = _resolve(name)
        if value is not None and _shared_identity(value):
            by_identity.setdefault(id(value), name)
    missing = []
    for module, name in public_surface():
        full = f"{module}.{name}"
        if full in documented:
            continue
        value = getattr(importlib.import_module(module), name)
        if _shared_identity(value) and id(value) in by_identity:
            continue  # documented under another public name, such as ternavik.X
        missing.append(full)
    assert not missing, (
        "public names missing from the API reference; add each to an autosummary list "
        f"in docs/api.rst under the right currentmodule: {', '.join(sorted(missing))}")


def test_every_public_function_shows_an_example():
    # The reference promises a working example on each function's page; CI runs
    # them all as doctests.
    lacking, seen = [], set()
    for module, name in public_surface():
        value = getattr(importlib.import_module(module), name)
        if isinstance(value, types.FunctionType) and id(value) not in seen:
            seen.add(id(value))
            if ">>>" not in (value.__doc__ or ""):
                lacking.append(f"{module}.{name}")
    assert not lacking, f"public functions without an Examples section: {lacking}"


def test_every_documented_name_exists():
    # A renamed or removed function must leave the reference too, not 404 there.
    ghosts = sorted(name for name in documented_names() if _resolve(name) is None)
    assert not ghosts, f"docs/api.rst documents names that do not exist: {ghosts}"


@pytest.mark.parametrize("text, expected", [
    (".. currentmodule:: a\n\n.. autosummary::\n   :toctree: g/\n\n   f\n   ~g\n\nx\n   h\n",
     {"a.f", "a.g"}),
    (".. currentmodule:: a\n.. autofunction:: f\n.. currentmodule:: b\n.. autoclass:: C\n"
     ".. automodule:: a.b\n", {"a.f", "b.C", "a.b"}),
    (".. autosummary::\n\n   top.name\n", {"top.name"}),
])
def test_reference_entries_are_read_under_their_module(text, expected):
    assert _entries_of(text) == expected


def guide_python_blocks():
    """Every ```python block of the Markdown guides, as (page:line, code). Blocks
    shown for reading only (other libraries' code, C) use other fences."""
    blocks = []
    for path in _sources(".md"):
        text = path.read_text()
        for match in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M):
            line = text[:match.start()].count("\n") + 2
            blocks.append((f"{path.relative_to(DOCS)}:{line}", match.group(1)))
    return blocks


def test_the_guides_have_runnable_blocks():
    pages = {where.split(":")[0] for where, _ in guide_python_blocks()}
    assert {"getting-started.md", "optimisation.md", "decision/index.md"} <= pages


@pytest.mark.parametrize("where, code", guide_python_blocks(), ids=lambda v: str(v)[:40])
def test_guide_block_runs(tmp_path, where, code):
    for module in OPTIONAL:
        if re.search(rf"^\s*(import|from) {module}\b", code, re.M) and \
                importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed")
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, env={**__import__("os").environ,
                                                       "MPLBACKEND": "Agg"})
    assert done.returncode == 0, f"docs/{where}:\n{done.stderr}"


def _command_lines():
    """The `ternavik ...` lines of the command-line guide's example block."""
    text = (DOCS / "cli.md").read_text(encoding="utf-8")
    block = re.search(r"```text\n(.*?)```", text, re.S)
    return [line for line in block.group(1).splitlines() if line.startswith("ternavik ")]


@pytest.mark.parametrize("line", _command_lines())
def test_command_line_guide_examples_run(line):
    command = line.replace("ternavik ", f"{sys.executable} -m ternavik ", 1)
    done = subprocess.run(command, shell=True, cwd=ROOT, capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, (line, done.stderr)
    assert done.stdout.strip(), line
