"""`minimize`: differential evolution with a result object.

The native optimiser takes the fitness function as a vectorised Python
callable or as a native
``void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness)``.
People compile such functions with numba, ctypes, cffi or hand them over as a
scipy LowLevelCallable; ``_native.native_address`` recognises those by type,
checks their signature and takes the address out, and this module keeps the
object alive while the optimiser calls into it.
"""

import os
from typing import Any, Callable, Dict, Sequence, Tuple, Union, cast

import numpy as np
import numpy.typing as npt

from ._errors import InputError
from ._native import native_address, native_function
from ._result import OptimizeResult

__all__ = ["OptimizeResult", "minimize", "native_address"]

Vector = npt.NDArray[np.float64]
Fitness = Union[Callable[[Vector], Any], int, Any]

_INT64_MAX = 2 ** 63 - 1
_UINT64_LIMIT = 2 ** 64


def _bounds_arrays(bounds: Any) -> Tuple[Vector, Vector]:
    """Split (low, high) pairs, one per dimension, into two float64 vectors."""
    if hasattr(bounds, "lb") and hasattr(bounds, "ub"):  # scipy.optimize.Bounds
        pairs = np.column_stack([np.atleast_1d(bounds.lb), np.atleast_1d(bounds.ub)])
    else:
        try:
            pairs = np.asarray(bounds, dtype=np.float64)
        except (TypeError, ValueError):
            raise InputError("bounds must be (low, high) pairs of numbers, "
                             "one per dimension") from None
    if pairs.ndim != 2 or pairs.shape[1] != 2 or pairs.shape[0] == 0:
        raise InputError(f"bounds must be (low, high) pairs, at least one, one per "
                         f"dimension; got shape {pairs.shape}")
    pairs = pairs.astype(np.float64)
    for j, (low, high) in enumerate(pairs):
        if not (np.isfinite(low) and np.isfinite(high) and low <= high):
            raise InputError(f"bounds of dimension {j} are ({low}, {high}); "
                             f"they must be finite with low <= high")
    return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])


def _count(value: Any, name: str, low: int, high: int) -> int:
    """An integer argument within [low, high)."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise InputError(f"{name} must be an integer, got {value!r}")
    if not low <= int(value) < high:
        raise InputError(f"{name} must be at least {low} and below {high}, got {value}")
    return int(value)


def _control(value: Any, name: str, low: float, high: float, open_low: bool) -> float:
    """F in (0, 2] or CR in [0, 1]: finite numbers in the range DE works in."""
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise InputError(f"{name} must be a number, got {value!r}") from None
    inside = (low < number if open_low else low <= number) and number <= high
    if not inside:
        interval = f"{'(' if open_low else '['}{low:g}, {high:g}]"
        raise InputError(f"{name} must lie in {interval}, got {number}")
    return number


def _physical_memory() -> int:
    """Bytes of memory in the machine, or 0 when unknown."""
    try:
        return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (AttributeError, ValueError, OSError):
        return 0


def check_size(pop: int, dims: int) -> None:
    """Refuse a population the machine cannot hold before asking for it."""
    if pop * dims > _INT64_MAX // 8:
        raise InputError(f"pop x dimensions = {pop} x {dims} is too large")
    needed = 2 * 8 * pop * dims  # the population and the trial matrix
    memory = _physical_memory()
    if memory and needed > memory:
        raise InputError(f"pop x dimensions = {pop} x {dims} needs at least "
                         f"{needed / 2 ** 30:.1f} GiB of working memory; this machine has "
                         f"{memory / 2 ** 30:.1f} GiB")


def _as_float64_result(fun: Callable[[Vector], Any]) -> Callable[[Vector], Vector]:
    """Let a callable return any array-like; float64 arrays pass through as they are."""
    def fitness(population: Vector) -> Vector:
        return np.asarray(fun(population), dtype=np.float64)
    return fitness


def _result(best: float, position: Vector, nfev: int, nit: int) -> OptimizeResult:
    """The result, telling a failed search from a found minimum."""
    x, success, message = position, True, f"ran {nit} generations"
    if best == np.inf:
        # The optimiser's best position is then its starting zeros, a point it
        # never evaluated and maybe outside the box: show no point at all.
        x, success = np.full(position.shape, np.nan), False
        message = (f"no finite fitness value was found in {nfev} evaluations "
                   f"(every value was NaN or +inf)")
    elif not np.isfinite(best):
        success, message = False, "the fitness function returned -inf at x"
    return OptimizeResult(x=x, fun=best, success=success, message=message, nfev=nfev,
                          nit=nit)


def minimize(fun: Fitness, bounds: Union[Sequence[Tuple[float, float]], Any], *,
             pop: int, iters: int, F: float = 0.5, CR: float = 0.7,
             seed: Any = None) -> OptimizeResult:
    """Minimise ``fun`` over a box by differential evolution (DE/rand/1/bin).

    ``fun`` evaluates a whole population at once: a Python callable taking a
    (pop, dims) float64 array and returning pop values, or a native function
    ``void f(uint64_t rows, uint64_t cols, double *matrix, double *fitness)``
    given as a numba cfunc, a ctypes or cffi function pointer or a
    scipy.LowLevelCallable (a declared signature other than this one raises
    TypeError, and so does a bare int, whose target nothing can check).
    Native functions run without the GIL.

    ``bounds`` holds one (low, high) pair per dimension. ``F`` lies in (0, 2],
    ``CR`` in [0, 1]. The run makes ``pop * (iters + 1)`` evaluations; there is
    no early stop. ``seed`` (an int, a SeedSequence or a Generator) makes the
    run repeatable bit for bit, whatever the number of threads; without it
    every run differs. ``success`` is False when no finite fitness value was
    found; ``x`` is then NaN. This is the short form of
    :func:`ternavik.differential_evolution`, which takes SciPy's arguments.

    Examples
    --------
    >>> import ternavik
    >>> from ternavik.functions import sphere
    >>> result = ternavik.minimize(sphere, [(-5.0, 5.0)] * 3, pop=30, iters=300, seed=1)
    >>> result.success, bool(result.fun < 1e-10), result.nfev
    (True, True, 9030)
    """
    return short_form(fun, bounds, pop=pop, iters=iters, F=F, CR=CR, seed=seed)


def short_form(fun: Fitness, bounds: Any, *, pop: int, iters: int, F: float = 0.5,
               CR: float = 0.7, seed: Any = None, strategy: str = "rand1bin",
               tol: Any = None, progress: bool = False) -> OptimizeResult:
    """minimize with the engine's further options (for the command line):
    one of SciPy's strategy names, a convergence tolerance (None: run all
    ``iters`` generations) and a progress bar."""
    low, high = _bounds_arrays(bounds)
    pop = _count(pop, "pop", 4, _INT64_MAX)
    iters = _count(iters, "iters", 0, _UINT64_LIMIT)
    check_size(pop, low.size)
    options = {"F": _control(F, "F", 0.0, 2.0, True), "CR": _control(CR, "CR", 0.0, 1.0, False)}
    address = native_function(fun)
    if address is None and not callable(fun):
        raise TypeError(f"fun must be a callable or a native function, "
                        f"got {type(fun).__name__}")
    # Imported here: the engine's front end uses this module's result type.
    from ._differential_evolution import minimize_population
    # `fun` stays referenced by this frame until the run returns, so the code
    # behind `address` cannot be freed while the engine calls it.
    run = minimize_population(_as_float64_result(cast(Callable[[Vector], Any], fun)), address,
                              low, high, pop, iters, options["F"], options["CR"], seed,
                              strategy=strategy, tol=tol, progress=progress)
    result = _result(run.fun, run.x, run.nfev, run.nit)
    if result.success and tol is not None:
        result.success, result.message = run.success, run.message
    return result
