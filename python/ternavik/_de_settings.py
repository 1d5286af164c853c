"""SciPy-style arguments of `differential_evolution` turned into engine settings."""

import math
import numbers
import operator
import os
import warnings
from dataclasses import dataclass, field
from typing import Any, List, Optional, Tuple

import numpy as np

from . import _engine
from ._de_constraints import WrappedConstraint, wrap_constraints
from ._errors import InputError
from ._native import native_address
from ._optional import import_optional

# Engine codes of the mutations and crossovers (src/core/de/strategy.hpp).
_MUTATIONS = {"best1": 0, "rand1": 1, "rand2": 2, "best2": 3, "randtobest1": 4,
              "currenttobest1": 5}
_CROSSOVERS = {"bin": 0, "exp": 1}
_BOUND_HANDLING = {"clip": 0, "reinitialize": 1}
_FEASIBILITY_SELECTION = 1
ALL_STRATEGIES = tuple(m + c for m in _MUTATIONS for c in _CROSSOVERS)

# Above this many population elements trials (and native evaluations) are
# spread over the worker pool. Results do not depend on it.
PARALLEL_THRESHOLD = 200000

_INIT_GIVEN, _INIT_LATIN_HYPERCUBE, _INIT_UNIFORM = 0, 1, 2

# Self-adaptive strategies (engine codes of src/core/de/adaptation.hpp); they
# replace mutation, recombination and updating with their own rules.
ADAPTIVE_STRATEGIES = {"jde": 1, "lshade": 2, "jso": 3}
_MIN_POP = 4  # where the shrinking populations end


@dataclass
class Settings:
    """Everything one run needs, checked."""

    func: Any
    native: Optional[int]            # address of a native function
    args: Tuple[Any, ...]
    low: np.ndarray                  # the caller's bounds
    high: np.ndarray
    engine_low: np.ndarray           # widened by half a unit on integer coordinates
    engine_high: np.ndarray
    integrality: np.ndarray          # bool, one per coordinate
    pop: int
    mutation: int
    crossover: int
    bounds_handling: int
    F: float
    F_high: float
    CR: float
    key: Tuple[int, int]
    init_kind: int
    init_rows: Optional[np.ndarray]
    immediate: bool
    vectorized: bool
    workers: Any
    maxiter: int
    tol: float
    atol: float
    maxfev: Optional[int]
    maxtime: Optional[float]
    constraints: List[WrappedConstraint] = field(default_factory=list)
    adaptation: int = 0              # 0, or a value of ADAPTIVE_STRATEGIES
    budget: int = 0                  # evaluations the shrinking population spans
    scaled: bool = True              # the engine's population lives in the unit cube
    strategy_callable: Any = None    # SciPy's strategy(candidate, population, rng)

    def as_seen(self, population: np.ndarray) -> np.ndarray:
        """Rows as the objective sees them: mapped from the unit cube into the
        box exactly as the engine maps them, integer coordinates rounded."""
        if self.scaled:
            population = _to_box(population, self.engine_low, self.engine_high)
        if self.integrality.any():
            population = population.copy()
            population[:, self.integrality] = np.rint(population[:, self.integrality])
        return population

    def unit_rows(self, rows: np.ndarray) -> np.ndarray:
        """Rows in box coordinates as unit-cube rows of the engine."""
        if not self.scaled:
            return rows
        return _to_unit(rows, self.engine_low, self.engine_high)

    def engine_box(self) -> Tuple[np.ndarray, np.ndarray]:
        if self.scaled:
            return np.zeros_like(self.engine_low), np.ones_like(self.engine_high)
        return self.engine_low, self.engine_high


def _to_box(unit: np.ndarray, low: np.ndarray, high: np.ndarray) -> np.ndarray:
    """The engine's map, operation for operation, so the bits agree."""
    centre, width = 0.5 * (low + high), high - low
    rows: np.ndarray = np.minimum(np.maximum((unit - 0.5) * width + centre, low), high)
    return rows


def _to_unit(rows: np.ndarray, low: np.ndarray, high: np.ndarray) -> np.ndarray:
    centre, width = 0.5 * (low + high), high - low
    with np.errstate(divide="ignore", invalid="ignore"):
        unit = np.where(width > 0, (rows - centre) / np.where(width > 0, width, 1.0) + 0.5, 0.5)
    out: np.ndarray = np.clip(unit, 0.0, 1.0)
    return out


def _bounds(bounds: Any) -> Tuple[np.ndarray, np.ndarray]:
    if hasattr(bounds, "lb") and hasattr(bounds, "ub"):  # scipy.optimize.Bounds
        low, high = np.atleast_1d(bounds.lb), np.atleast_1d(bounds.ub)
        low, high = np.broadcast_arrays(np.asarray(low, float), np.asarray(high, float))
        pairs = np.column_stack([low, high])
    else:
        try:
            pairs = np.asarray(bounds, dtype=np.float64)
        except (TypeError, ValueError):
            raise InputError("bounds must be (min, max) pairs, one per variable, "
                             "or a scipy.optimize.Bounds") from None
    if pairs.ndim != 2 or pairs.shape[1] != 2 or pairs.shape[0] == 0:
        raise InputError("bounds should be a sequence containing finite real valued "
                         f"(min, max) pairs for each value in x; got shape {pairs.shape}")
    if not np.all(np.isfinite(pairs)) or np.any(pairs[:, 0] > pairs[:, 1]):
        raise InputError("bounds should be a sequence containing finite real valued "
                         "(min, max) pairs for each value in x, with min <= max")
    return pairs[:, 0].copy(), pairs[:, 1].copy()


def _strategy(strategy: Any) -> Tuple[int, int, int]:
    """(mutation, crossover, adaptation) codes; a callable runs as rand1bin's
    configuration with the trials made by the caller."""
    if callable(strategy):
        return _MUTATIONS["rand1"], _CROSSOVERS["bin"], 0
    if strategy in ADAPTIVE_STRATEGIES:
        return _MUTATIONS["rand1"], _CROSSOVERS["bin"], ADAPTIVE_STRATEGIES[strategy]
    if strategy not in ALL_STRATEGIES:
        raise InputError(f"Please select a valid mutation strategy: one of "
                         f"{', '.join(ALL_STRATEGIES + tuple(ADAPTIVE_STRATEGIES))}, "
                         f"or a callable; got {strategy!r}")
    return _MUTATIONS[strategy[:-3]], _CROSSOVERS[strategy[-3:]], 0


def _mutation(mutation: Any) -> Tuple[float, float]:
    """F, or the dithering range (given in either order, as SciPy takes it)."""
    message = ("The mutation constant must be a float in U[0, 2), or specified as a "
               "tuple(min, max) where min, max are in U[0, 2).")
    if isinstance(mutation, numbers.Real):
        constant = float(mutation)
        if not 0 <= constant < 2:
            raise InputError(message)
        return constant, constant
    try:
        low, high = (float(m) for m in mutation)
    except (TypeError, ValueError):
        raise InputError(message) from None
    if not (0 <= low < 2 and 0 <= high < 2):
        raise InputError(message)
    return min(low, high), max(low, high)


def _count(value: Any, name: str) -> int:
    """A whole number of at least 0 (a float that is one is taken as well)."""
    if isinstance(value, (bool, np.bool_)):
        raise InputError(f"{name} must be a whole number, got {value!r}")
    if isinstance(value, numbers.Integral):
        number = operator.index(value)
    elif (isinstance(value, numbers.Real) and math.isfinite(float(value))
          and float(value).is_integer()):
        number = int(float(value))
    else:
        raise InputError(f"{name} must be a whole number, got {value!r}")
    if number < 0:
        raise InputError(f"{name} must be at least 0, got {number}")
    return number


def _budget(maxfev: Any) -> Optional[int]:
    """maxfev as a count, None (or infinity) for no limit."""
    if maxfev is None or (isinstance(maxfev, numbers.Real) and maxfev == math.inf):
        return None
    return min(_count(maxfev, "maxfev"), 2 ** 64 - 1)


def _check_population_size(pop: int, n: int) -> None:
    """A population the machine cannot hold is a MemoryError before anything
    is allocated (the engine holds it and its trials, 8 bytes a value)."""
    needed = 16 * pop * n
    memory = _physical_memory()
    if needed >= 2 ** 63 or (memory and needed > memory):
        raise MemoryError(f"a population of {pop} x {n} needs {needed / 2 ** 30:.3g} GiB of "
                          f"working memory; choose a smaller popsize")


def _physical_memory() -> int:
    """Bytes of memory in the machine, or 0 when unknown."""
    try:
        return int(os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES"))
    except (AttributeError, ValueError, OSError):
        return 0


def _seed_key(rng: Any, seed: Any) -> Tuple[int, int]:
    """Two 64-bit words of Philox key from an int, a SeedSequence, a Generator,
    a RandomState (legacy seed=) or fresh entropy."""
    if rng is not None and seed is not None:
        raise TypeError("give rng or seed, not both")
    source = rng if rng is not None else seed
    words: Any
    if isinstance(source, np.random.Generator):
        words = source.integers(0, 2 ** 64, size=2, dtype=np.uint64, endpoint=False)
    elif isinstance(source, np.random.RandomState):
        words = source.randint(0, 2 ** 64, size=2, dtype=np.uint64)
    else:
        if isinstance(source, (bool, np.bool_)) or not (
                source is None or isinstance(source, (numbers.Integral, np.random.SeedSequence))):
            raise InputError(f"rng must be None, an int, a SeedSequence or a Generator; "
                             f"got {type(source).__name__}")
        sequence = (source if isinstance(source, np.random.SeedSequence)
                    else np.random.SeedSequence(None if source is None else int(source)))
        words = sequence.generate_state(2, np.uint64)
    return int(words[0]), int(words[1])


def _integrality(integrality: Any, low: np.ndarray, high: np.ndarray
                 ) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """The integer mask and the engine's box: integer coordinates span
    (ceil(low) - 0.5, floor(high) + 0.5), so rounding lands on every integer
    in the bounds with equal chance and never outside them."""
    n = low.size
    if integrality is None:
        return np.zeros(n, dtype=bool), low, high
    mask = np.broadcast_to(np.asarray(integrality, dtype=bool), (n,)).copy()
    engine_low, engine_high = low.copy(), high.copy()
    lo, hi = np.ceil(low[mask]), np.floor(high[mask])
    if np.any(lo > hi):
        raise InputError("One of the integrality constraints does not have any possible "
                         "integer values between the lower/upper bounds.")
    engine_low[mask] = np.nextafter(lo - 0.5, np.inf)
    engine_high[mask] = np.nextafter(hi + 0.5, -np.inf)
    return mask, engine_low, engine_high


def _free_count(low: np.ndarray, high: np.ndarray) -> int:
    """Coordinates the search can move: a fixed one adds nothing to explore,
    so, as in SciPy, it does not enlarge the population."""
    return max(1, int(np.count_nonzero(low != high)))


def _population(init: Any, popsize: int, low: np.ndarray, high: np.ndarray,
                key: Tuple[int, int], free: int) -> Tuple[int, int, Optional[np.ndarray]]:
    n = low.size
    if isinstance(init, str):
        pop = max(5, popsize * free)
        if init == "latinhypercube":
            return pop, _INIT_LATIN_HYPERCUBE, None
        if init == "random":
            return pop, _INIT_UNIFORM, None
        if init in ("sobol", "halton"):
            return _quasi_random(init, pop, low, high, key)
        raise InputError("The population initialization method must be one of "
                         "'latinhypercube', 'random', 'sobol' or 'halton', or an array")
    rows = np.array(init, dtype=np.float64)
    if rows.ndim != 2 or rows.shape[1] != n or rows.shape[0] < 5:
        raise InputError("The population supplied needs to have shape (S, len(x)), "
                         "where S > 4.")
    return rows.shape[0], _INIT_GIVEN, np.clip(rows, low, high)


def _quasi_random(kind: str, pop: int, low: np.ndarray, high: np.ndarray,
                  key: Tuple[int, int]) -> Tuple[int, int, np.ndarray]:
    qmc: Any = import_optional("scipy.stats", "scipy", f"init={kind!r}").qmc
    rng = np.random.default_rng(list(key))
    if kind == "sobol":
        pop = 2 ** int(math.ceil(math.log2(pop)))  # Sobol' points balance at powers of two
        sampler: Any = qmc.Sobol(d=low.size, seed=rng)
    else:
        sampler = qmc.Halton(d=low.size, seed=rng)
    unit = sampler.random(pop)
    return pop, _INIT_GIVEN, low + unit * (high - low)


def read_settings(func: Any, bounds: Any, args: Any, strategy: Any, maxiter: Optional[int],
                  popsize: int,
                  tol: float, mutation: Any, recombination: float, rng: Any, seed: Any,
                  init: Any, atol: float, updating: str, workers: Any, constraints: Any,
                  x0: Any, integrality: Any, vectorized: bool, bounds_handling: str,
                  maxfev: Optional[int], maxtime: Optional[float]) -> Settings:
    native = native_address(func)
    if native is None and not callable(func):
        raise TypeError("func must be callable or a native function")
    if not isinstance(args, tuple):
        args = (args,)
    if native is not None and args:
        raise InputError("args cannot reach a native function, whose signature has no "
                         "place for them")
    mutation_code, crossover_code, adaptation = _strategy(strategy)
    low, high = _bounds(bounds)
    F, F_high = _mutation(mutation)
    if bounds_handling not in _BOUND_HANDLING:
        raise InputError("bounds_handling must be 'reinitialize' or 'clip'")
    if updating not in ("immediate", "deferred"):
        raise InputError("updating must be 'immediate' or 'deferred'")
    maxfev = _budget(maxfev)
    if maxiter is None:
        # SciPy's 1000 generations suit a fixed population; a shrinking one
        # given an evaluation budget runs until the budget is spent.
        adaptive_by_budget = strategy in ADAPTIVE_STRATEGIES and maxfev is not None
        maxiter = 2 ** 63 if adaptive_by_budget else 1000
    maxiter = _count(maxiter, "maxiter")
    if maxtime is not None and not maxtime >= 0:
        raise InputError("maxtime must be None or at least 0")
    key = _seed_key(rng, seed)
    mask, engine_low, engine_high = _integrality(integrality, low, high)
    pop, init_kind, init_rows = _population(init, _count(popsize, "popsize"), engine_low,
                                            engine_high, key, _free_count(low, high))
    _check_population_size(pop, low.size)
    if x0 is not None:
        init_rows = _with_x0(x0, pop, init_kind, init_rows, low, high, engine_low, engine_high,
                             key)
        init_kind = _INIT_GIVEN
    # The adaptive rules learn from whole generations: always deferred.
    vectorized, immediate = _overrides(bool(vectorized),
                                       updating == "immediate" and not adaptation, workers)
    settings = Settings(
        func=func, native=native, args=args, low=low, high=high, engine_low=engine_low,
        engine_high=engine_high, integrality=mask, pop=pop, mutation=mutation_code,
        crossover=crossover_code, bounds_handling=_BOUND_HANDLING[bounds_handling], F=F,
        F_high=F_high, CR=float(recombination), key=key, init_kind=init_kind,
        init_rows=init_rows, immediate=immediate, vectorized=bool(vectorized),
        workers=workers, maxiter=int(maxiter), tol=float(tol), atol=float(atol),
        maxfev=maxfev, maxtime=maxtime,
        constraints=wrap_constraints(constraints, low.size, vectorized),
        adaptation=adaptation,
        budget=_schedule_budget(pop, maxiter, maxfev) if adaptation > 1 else 0,
        strategy_callable=strategy if callable(strategy) else None)
    if settings.init_rows is not None:
        settings.init_rows = settings.unit_rows(settings.init_rows)
    return settings


def _schedule_budget(pop: int, maxiter: int, maxfev: Optional[int]) -> int:
    """The evaluations a shrinking population is spread over: maxfev, or
    less when maxiter generations would end the run first, so the
    population always gets to shrink to its end."""
    # Linear reduction over B evaluations takes about
    # B ln(pop / min) / (pop - min) generations.
    if pop > _MIN_POP:
        estimate = pop + maxiter * (pop - _MIN_POP) / math.log(pop / _MIN_POP)
    else:
        estimate = pop + maxiter * pop
    high = int(min(estimate, 2.0 ** 63)) if maxfev is None else min(max(maxfev, pop),
                                                                    int(min(estimate, 2.0 ** 63)))
    if maxiter > _EXACT_SCHEDULE_GENERATIONS or _generations_for(high, pop, maxiter) <= maxiter:
        return high
    low = pop  # the largest budget maxiter generations spend, by bisection
    while high - low > 1:
        middle = (low + high) // 2
        if _generations_for(middle, pop, maxiter) <= maxiter:
            low = middle
        else:
            high = middle
    return low


# Above this many generations the estimate stands: simulating the schedule
# would cost more than it is worth.
_EXACT_SCHEDULE_GENERATIONS = 20000


def _generations_for(budget: int, pop: int, limit: int) -> int:
    """Generations the engine's linear schedule makes within `budget`,
    counted up to one past `limit`."""
    initial, evaluations, generations = pop, pop, 0
    while evaluations + pop <= budget and generations <= limit:
        evaluations += pop
        generations += 1
        share = min(1.0, evaluations / budget)
        pop = min(pop, max(_MIN_POP, math.floor((_MIN_POP - initial) * share + initial + 0.5)))
    return generations


def _overrides(vectorized: bool, immediate: bool, workers: Any) -> Tuple[bool, bool]:
    """SciPy's rules: workers override vectorized (a Dask client keeps it: its
    chunks are evaluated vectorised) and both force deferred updating."""
    parallel = not (isinstance(workers, numbers.Integral) and workers == 1)
    client = any(c.__name__ == "Client" and c.__module__.startswith("distributed")
                 for c in type(workers).__mro__)
    if vectorized and parallel and not client:
        warnings.warn("differential_evolution: the 'workers' keyword overrides the "
                      "'vectorized' keyword", UserWarning, stacklevel=4)
        vectorized = False
    if immediate and parallel:
        warnings.warn("differential_evolution: the 'workers' keyword has overridden "
                      "updating='immediate' to updating='deferred'", UserWarning, stacklevel=4)
        immediate = False
    if immediate and vectorized:
        warnings.warn("differential_evolution: the 'vectorized' keyword has overridden "
                      "updating='immediate' to updating='deferred'", UserWarning, stacklevel=4)
        immediate = False
    return vectorized, immediate


def _with_x0(x0: Any, pop: int, init_kind: int, init_rows: Optional[np.ndarray],
             low: np.ndarray, high: np.ndarray, engine_low: np.ndarray,
             engine_high: np.ndarray, key: Tuple[int, int]) -> np.ndarray:
    """The initial rows with x0 in place of row 0 (drawn first when not given)."""
    point = np.asarray(x0, dtype=np.float64).ravel()
    if point.shape != low.shape:
        raise InputError(f"x0 must have shape ({low.size},); got {np.shape(x0)}")
    if np.any(point < low) or np.any(point > high):
        raise InputError("Some entries in x0 lay outside the specified bounds")
    if init_rows is None:
        probe = _engine.de_engine_create(np.zeros_like(low), np.ones_like(high), pop, 1, 0, 0,
                                         0.5, 0.5, 0.7, 1, False, key[0], key[1], np.zeros(0),
                                         False, PARALLEL_THRESHOLD)
        _engine.de_engine_init(probe, init_kind, None)
        init_rows = _to_box(_engine.de_engine_state(probe)[0], engine_low, engine_high)
    rows = np.array(init_rows, dtype=np.float64)
    rows[0] = point
    return rows


class EngineHandle:
    """One native engine configured from `Settings`."""

    def __init__(self, s: Settings) -> None:
        low, high = s.engine_box()
        self._handle = _engine.de_engine_create(
            low, high, s.pop, s.mutation, s.crossover, s.bounds_handling,
            s.F, s.F_high, s.CR, _FEASIBILITY_SELECTION, s.immediate, s.key[0], s.key[1],
            s.integrality.astype(np.float64) if s.integrality.any() else np.zeros(0),
            bool(s.constraints), PARALLEL_THRESHOLD)
        _engine.de_engine_configure(self._handle, s.adaptation, s.budget,
                                    s.engine_low if s.scaled else np.zeros(0),
                                    s.engine_high if s.scaled else np.zeros(0), True)
        _engine.de_engine_init(self._handle, s.init_kind, s.init_rows)

    def evaluate(self, fitness: Any) -> None:
        _engine.de_engine_evaluate(self._handle, fitness)

    def run(self, fitness: Any, generations: int, tol: float, atol: float, budget: int,
            seconds: float) -> int:
        return int(_engine.de_engine_run(self._handle, fitness, generations, tol, atol,
                                         budget, seconds))

    def state(self) -> Tuple[Any, ...]:
        return tuple(_engine.de_engine_state(self._handle))

    def generation(self) -> int:
        return int(self.state()[5])

    def best_energy(self) -> float:
        _, energies, _, best, _, _, _ = self.state()
        return float(energies[max(best, 0)])
