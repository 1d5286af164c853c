"""Per-criterion arguments: kinds and weights, keyed by label or by position.

Anything keyed (a mapping or a pandas Series) is aligned to the criteria by
label, the way pandas aligns; sequences and arrays are taken by position.
Named weightings ("equal", "entropy", "critic", ...) are derived from the
matrix itself and live in one table, so new weighting methods are one entry
each.
"""

import collections.abc
import numbers
from typing import Any, Callable, Dict, List, Sequence, Set, Tuple

import numpy as np
import numpy.typing as npt

from ._errors import InputError
from ._optional import is_series
from .subjective import AHPResult, BWMResult
from ._weightings import Weighting, weighting_table

Vector = npt.NDArray[np.float64]
Codes = npt.NDArray[np.int64]

BENEFIT = 1
COST = 0

_KIND_WORDS = {
    "benefit": BENEFIT, "max": BENEFIT, "+": BENEFIT,
    "cost": COST, "min": COST, "-": COST,
}
_KIND_CODES = {1: BENEFIT, 0: COST, -1: COST}


class Criteria:
    """The criterion labels of a matrix and how to name them in messages."""

    def __init__(self, labels: Sequence[Any], named: bool) -> None:
        self.labels = list(labels)
        self.named = named  # unnamed criteria are known by column number

    def name(self, j: int) -> str:
        """How criterion j is named in messages."""
        return repr(self.labels[j]) if self.named else f"#{j}"

    def __len__(self) -> int:
        return len(self.labels)


def _keyed_items(given: Any, what: str) -> List[Tuple[Any, Any]]:
    """The (label, value) pairs of a mapping or Series, refusing repeated labels."""
    if is_series(given):
        pairs = list(zip(given.index, given.tolist()))
    else:
        pairs = list(given.items())
    seen: Set[Any] = set()
    for label, _ in pairs:
        if label in seen:
            raise InputError(f"{what} has more than one entry for {label!r}")
        seen.add(label)
    return pairs


def is_keyed(given: Any) -> bool:
    """Mappings and Series are aligned by label; everything else by position."""
    return isinstance(given, collections.abc.Mapping) or is_series(given)


def align(given: Any, criteria: Criteria, what: str) -> List[Any]:
    """One value per criterion: by label for keyed input, else by position."""
    if is_keyed(given):
        pairs = _keyed_items(given, what)
        by_label = dict(pairs)
        known_labels = set(criteria.labels)
        unknown = [label for label, _ in pairs if label not in known_labels]
        missing = [label for label in criteria.labels if label not in by_label]
        if unknown:
            known = ", ".join(criteria.name(j) for j in range(len(criteria)))
            raise InputError(f"{what} names unknown criteria {', '.join(map(repr, unknown))}; "
                             f"the criteria are {known}")
        if missing:
            raise InputError(f"{what} has no entry for criteria "
                             f"{', '.join(map(repr, missing))}")
        return [by_label[label] for label in criteria.labels]
    try:
        items = list(np.asarray(given).ravel()) if isinstance(given, np.ndarray) else list(given)
    except TypeError:
        # A subjective weighting's result, say, rather than its weights.
        hint = "; pass its .weights" if hasattr(given, "weights") else ""
        raise InputError(f"{what} needs one entry per criterion (a sequence, or a mapping "
                         f"by criterion), got {type(given).__name__}{hint}") from None
    if len(items) != len(criteria):
        raise InputError(f"{what} has {len(items)} entries but data has "
                         f"{len(criteria)} criteria")
    return items


def _kind_code(value: Any, criteria: Criteria, j: int) -> int:
    """Map one kind (word, sign or 1/0/-1 code) to the native code."""
    code = None
    if isinstance(value, str):
        code = _KIND_WORDS.get(value.strip().lower())
    elif isinstance(value, (int, np.integer)) and not isinstance(value, (bool, np.bool_)):
        code = _KIND_CODES.get(int(value))
    if code is None:
        raise InputError(f"kind {value!r} of criterion {criteria.name(j)} is not one of "
                         f"1/0/-1, 'benefit'/'cost', 'max'/'min', '+'/'-'")
    return code


def kind_codes(kinds: Any, criteria: Criteria) -> Codes:
    """The kinds as a C-ordered int64 vector of native codes, one per criterion."""
    if isinstance(kinds, str):
        if set(kinds) - {"+", "-"}:
            raise InputError(f"kinds given as one string must be '+'/'-' signs, "
                             f"one per criterion, got {kinds!r}")
        kinds = list(kinds)
    items = align(kinds, criteria, "kinds")
    return np.array([_kind_code(v, criteria, j) for j, v in enumerate(items)], dtype=np.int64)


# Weightings chosen by name: each derives the weights from the matrix (only
# the alternatives kept by the missing-value policy), the kind codes and the
# criteria's names for messages. Their definitions are in ternavik.weighting
# (kept in the leaf module _weightings, so nothing here imports back).
WEIGHTINGS: Dict[str, Weighting] = weighting_table()


def weighting(word: str) -> Weighting:
    """The weighting called ``word``, or InputError listing the names."""
    found = WEIGHTINGS.get(word.strip().lower())
    if found is None:
        quoted = [repr(name) for name in WEIGHTINGS]
        names = ", ".join(quoted[:-1]) + " or " + quoted[-1]
        raise InputError(f"weights must be numbers, a mapping by criterion or one of "
                         f"{names}, got {word!r}")
    return found


def _weight(value: Any, criteria: Criteria, j: int) -> float:
    """One given weight: a finite number, not below zero."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise InputError(f"weight {value!r} of criterion {criteria.name(j)} is not a number")
    number = float(value)
    if not np.isfinite(number):
        raise InputError(f"weight of criterion {criteria.name(j)} is {number}, "
                         f"it must be finite")
    if number < 0.0:
        raise InputError(f"weight of criterion {criteria.name(j)} is {number}; "
                         f"weights must not be negative")
    return number


def given_weights(weights: Any, criteria: Criteria) -> Vector:
    """Weights given as numbers, aligned to the criteria and checked.

    They are used as given, not normalised; negative weights and weights that
    are all zero are refused, since they turn the ranking upside down or make
    every alternative tie.
    """
    if isinstance(weights, (AHPResult, BWMResult)):
        # A subjective weighting's result stands for its weights (a Series by
        # criterion when its judgements were labelled).
        weights = weights.weights
    items = align(weights, criteria, "weights")
    out = np.array([_weight(v, criteria, j) for j, v in enumerate(items)], dtype=np.float64)
    if out.size and not np.any(out > 0.0):
        raise InputError("weights are all zero; at least one criterion needs a positive "
                         "weight")
    return out
