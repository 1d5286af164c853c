"""Optional dependencies: imported only when a function needs them."""

import importlib
import sys
from types import ModuleType
from typing import Any


def import_optional(module: str, extra: str, purpose: str) -> ModuleType:
    """Import ``module``, or raise ImportError naming the extra that installs it."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise ImportError(f"{purpose} needs {module.split('.')[0]}; install it with "
                          f"pip install \"ternavik[{extra}]\"") from None


def is_instance(obj: Any, module: str, name: str) -> bool:
    """isinstance(obj, module.name), without importing the module.

    An object of a class from a module that was never imported cannot exist,
    so a module missing from sys.modules answers False at once.
    """
    loaded = sys.modules.get(module)
    cls = getattr(loaded, name, None) if loaded is not None else None
    return isinstance(cls, type) and isinstance(obj, cls)


def is_dataframe(obj: Any) -> bool:
    """True for a pandas DataFrame."""
    return is_instance(obj, "pandas", "DataFrame")


def is_series(obj: Any) -> bool:
    """True for a pandas Series."""
    return is_instance(obj, "pandas", "Series")
