"""ternavik: entropy weights, TOPSIS and differential evolution for NumPy.

    import ternavik
    w, s = ternavik.entropy_weight(df, kinds={"price": "min", "speed": "max"})
    c = ternavik.topsis(df, "entropy", "-+", nan_policy="omit")
    ternavik.rank(c)                    # 1 = best, NaN last
    ternavik.rank(ternavik.methods.vikor(df, "critic", "-+"))  # ranks by Q, lowest first
    r = ternavik.minimize(f, [(-5, 5)] * 3, pop=40, iters=200, seed=1)
    r.success, r.x, r.fun
    res = ternavik.compare(df, "critic", "-+", methods=["topsis", "vikor"])
    res.ranks, res.correlation          # and ternavik.sensitivity(...)
    r = ternavik.differential_evolution(g, [(-5, 5)] * 3, rng=1)   # SciPy's arguments

The native functions are available unchanged as ``ternavik.core.entropy_weight``,
``ternavik.core.topsis`` and ``ternavik.core._DE`` (the ``_ternavik`` module).
"""

from pkgutil import extend_path

# Sanitizer and development builds put the package's extension module in a
# build folder named ternavik/ rather than in this one; look there too.
__path__ = extend_path(__path__, __name__)

import _ternavik as core  # noqa: E402
from _ternavik import _DE

from . import functions, subjective
from ._differential_evolution import differential_evolution
from ._errors import InputError
from ._native import native_address
from ._result import Scores
from ._version import __version__
from .compare import CompareResult, compare
from .correlation import correlation_matrix, rank_correlation
from .mcda import entropy_weight, rank, topsis
from .optimize import OptimizeResult, minimize
from .plots import plot_ranks, plot_sensitivity
from ._pictures import plot_acceptability, plot_outranking
from .sensitivity import SensitivityResult, sensitivity
from ._smaa import SMAAResult, smaa
from .weighting import objective_weights

__all__ = [
    "CompareResult", "InputError", "OptimizeResult", "SMAAResult", "SensitivityResult", "_DE",
    "compare",
    "core", "correlation_matrix", "differential_evolution", "entropy_weight", "functions",
    "minimize", "native_address", "objective_weights", "plot_acceptability", "plot_outranking",
    "plot_ranks", "plot_sensitivity",
    "rank", "rank_correlation", "sensitivity", "smaa", "subjective", "topsis",
]


# Submodules imported on first use, so that ``ternavik.methods.topsis`` works
# straight after ``import ternavik`` without paying for them at import time.
_SUBMODULES = ("methods", "normalization", "weighting", "correlation", "sensitivity", "plots")


def __getattr__(name: str) -> object:
    if name in _SUBMODULES:
        import importlib
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
