"""Which data each decision method accepts, checked before its kernel runs.

A method's formula holds on a domain: vector normalisation takes any real
value, a ratio to the column's maximum only values above 0, and so on. Fed
values outside it, a kernel does not fail: it returns plausible numbers in
the wrong order (x / max reverses a column whose maximum is negative). So
every method declares its :class:`Domain`, one :class:`Rule` for benefit and
one for cost criteria, and the front end refuses data outside it, naming
the method, the criterion by its label and the rule.

Where the literature accepts such data by moving the criterion up first,
the methods offer that as ``shift=True``: every criterion holding a value
outside the domain is moved by a constant so that its smallest value is 1.
"""

from typing import Any, Callable, NamedTuple, Optional

import numpy as np
import numpy.typing as npt

from ._errors import InputError

Column = npt.NDArray[np.float64]


class Rule(NamedTuple):
    """A condition on one criterion's values.

    ``problem(column)`` says what breaks it (None when the column is fine);
    ``text`` is how messages state the rule; ``shiftable`` whether moving
    the column up mends it.
    """

    text: str
    problem: Callable[[Column], Optional[str]]
    shiftable: bool = True


def _first(column: Column, bad: npt.NDArray[np.bool_], what: str) -> Optional[str]:
    where = np.flatnonzero(bad)
    if not where.size:
        return None
    return f"holds {float(column[where[0]])!r} (alternative #{int(where[0])}), {what}"


REAL = Rule("any real value", lambda column: None)
NONNEGATIVE = Rule("values >= 0",
                   lambda column: _first(column, column < 0.0, "below 0"))
POSITIVE = Rule("values > 0",
                lambda column: _first(column, column <= 0.0, "not above 0"))


def _log_total(column: Column) -> Optional[str]:
    positive = _first(column, column <= 0.0, "not above 0")
    if positive is not None:
        return positive
    finite = column[~np.isnan(column)]
    if finite.size and np.all(finite == finite[0]):
        return None  # a constant criterion is told apart by nobody
    total = float(np.sum(np.log(finite)))
    return None if total > 0.0 else (
        f"has logarithms summing to {total!r}; ln x / sum(ln x) keeps the order only when "
        f"that sum is above 0")


LOG_POSITIVE = Rule("values > 0 whose product exceeds 1", _log_total)


def _best_nonzero(benefit: bool) -> Rule:
    def problem(column: Column) -> Optional[str]:
        finite = column[~np.isnan(column)]
        if not finite.size:
            return None
        best = float(finite.max() if benefit else finite.min())
        return "has a best value of 0" if best == 0.0 else None
    return Rule("a best value other than 0", problem, shiftable=False)


class Domain(NamedTuple):
    """The values a method accepts on benefit and on cost criteria."""

    benefit: Rule
    cost: Rule

    def describe(self) -> str:
        """The domain in words, as docstrings and messages state it."""
        if self.benefit.text == self.cost.text:
            return self.benefit.text
        return f"{self.benefit.text} (benefit), {self.cost.text} (cost)"

    def violation(self, values: Any, codes: Any) -> Optional[Any]:
        """(criterion, rule, problem) of the first criterion outside the domain."""
        if self.benefit is self.cost and self.benefit in (NONNEGATIVE, POSITIVE):
            # One pass over the whole matrix for the common case: nothing wrong.
            low = np.nanmin(values) if values.size and not np.isnan(values).all() else 1.0
            if low > 0.0 or (low == 0.0 and self.benefit is NONNEGATIVE):
                return None
        for j in range(values.shape[1]):
            rule = self.benefit if codes[j] == 1 else self.cost
            if rule is REAL:
                continue
            problem = rule.problem(values[:, j])
            if problem is not None:
                return j, rule, problem
        return None


ANY = Domain(REAL, REAL)
NONNEGATIVE_ONLY = Domain(NONNEGATIVE, NONNEGATIVE)
POSITIVE_ONLY = Domain(POSITIVE, POSITIVE)
ZAVADSKAS_TURSKIS = Domain(_best_nonzero(True), _best_nonzero(False))
LOGARITHMIC = Domain(LOG_POSITIVE, LOG_POSITIVE)


def check(method: str, domain: Domain, values: Any, codes: Any,
          name: Callable[[int], str], shift: Optional[bool] = None) -> Any:
    """``values`` when they lie in ``domain``; shifted when ``shift`` allows; else InputError.

    Shifting moves each offending criterion by 1 - min so that its smallest
    value becomes 1: the ranking within a criterion is kept, and the
    result no longer depends on where the caller put the zero of the scale.
    """
    found = domain.violation(values, codes)
    if found is None:
        return values
    if shift and all(rule.shiftable for rule in domain):
        moved = np.array(values, dtype=np.float64, copy=True)
        for j in range(moved.shape[1]):
            rule = domain.benefit if codes[j] == 1 else domain.cost
            if rule.problem(moved[:, j]) is not None:
                moved[:, j] = moved[:, j] - np.nanmin(moved[:, j]) + 1.0
        return moved
    j, rule, problem = found
    hint = " (or pass shift=True to move such criteria up to a minimum of 1)" \
        if shift is not None and all(r.shiftable for r in domain) else ""
    raise InputError(f"{method} needs {rule.text} on {'benefit' if codes[j] == 1 else 'cost'} "
                     f"criteria; criterion {name(j)} {problem}{hint}")
