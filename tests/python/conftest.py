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
