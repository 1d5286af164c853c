"""Named objective weightings on a prepared matrix (see :mod:`ternavik.weighting`).

A leaf module: the data preparation resolves weighting names through it,
and the public front end in ``ternavik.weighting`` prepares data through
the preparation, so neither has to import the other in a circle.
"""

from typing import Any, Callable, Dict, Optional

import numpy as np
import numpy.typing as npt

from . import _engine
from ._errors import InputError

Vector = npt.NDArray[np.float64]
Codes = npt.NDArray[np.int64]
# A weighting by name: (matrix, kind codes, optional criterion namer) -> weights.
Weighting = Callable[..., Vector]

# Names in the order of the native method codes.
WEIGHTINGS = ("equal", "sum_entropy", "minmax_entropy", "standard_deviation", "variance",
              "critic", "merec", "gini", "angle")
# "entropy" has always meant the weights of entropy_weight; it keeps that meaning.
ALIASES = {"entropy": "minmax_entropy"}
_CODE = {name: code for code, name in enumerate(WEIGHTINGS)}
_CODE.update({alias: _CODE[name] for alias, name in ALIASES.items()})


def _check_domain(name: str, values: npt.NDArray[np.float64], label: Callable[[int], str]) -> None:
    """Entropy takes logarithms of shares, MEREC of ratios: refuse what they cannot."""
    if name == "sum_entropy":
        bad = np.nonzero((values < 0).any(axis=0))[0]
        if bad.size:
            raise InputError(f"entropy weights need values of at least 0; criterion "
                             f"{label(int(bad[0]))} has a negative value")
    elif name == "merec":
        bad = np.nonzero((values <= 0).any(axis=0))[0]
        if bad.size:
            raise InputError(f"MEREC weights need positive values; criterion "
                             f"{label(int(bad[0]))} has a value of at most 0")


def weights_of(name: str, values: npt.NDArray[np.float64], codes: Codes,
               label: Optional[Callable[[int], str]] = None) -> Vector:
    """Weights by weighting ``name`` of a prepared C-ordered matrix and its kind codes."""
    key = name.strip().lower()
    if key not in _CODE:
        raise InputError(f"unknown weighting {name!r}; choose one of {', '.join(_CODE)}")
    _check_domain(key, values, label or (lambda j: f"#{j}"))
    result: Vector = _engine.objective_weights(values, codes, _CODE[key])
    return result


def weighting_table() -> Dict[str, Weighting]:
    """Each weighting as a function of (matrix, kind codes, criterion namer), by name."""
    def bind(name: str) -> Weighting:
        def derive(values: npt.NDArray[np.float64], codes: Codes,
                   label: Optional[Callable[[int], str]] = None) -> Vector:
            return weights_of(name, values, codes, label)
        return derive
    return {name: bind(name) for name in _CODE}
