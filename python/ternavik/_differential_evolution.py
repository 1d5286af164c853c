"""`differential_evolution`: SciPy's interface on ternavik's native engine.

The generations run in C++ (`ternavik._engine`); this module turns SciPy's
arguments into engine settings, wraps Python objectives so the engine can
call them on whole populations, and drives the stopping rules, callbacks,
progress reports and polishing that need the interpreter.

Results are reproducible: every trial draws from a generator derived from
the seed, the generation and the individual's index, so the same seed gives
the same result for any number of worker threads and for a native or a
Python objective. They are not the numbers SciPy gives for the same seed.
"""

import importlib
import inspect
import math
import time
import warnings
from typing import Any, Callable, Dict, List, Optional, Tuple

import numpy as np

from ._de_callable import CallableStrategyLoop
from ._de_evaluation import make_evaluator, scalar_objective
from ._optional import import_optional
from ._result import OptimizeResult
from ._de_settings import (ALL_STRATEGIES, EngineHandle, Settings, read_settings)

__all__ = ["differential_evolution", "OptimizeResult", "ALL_STRATEGIES"]

_MACHEPS = float(np.finfo(np.float64).eps)
_UNLIMITED = 2 ** 64 - 1

# Why a run of generations ended (the engine's StopReason).
_GENERATIONS, _CONVERGED, _EVALUATIONS, _TIME, _REQUESTED, _FAILED = range(6)

_MESSAGES = {
    "converged": "Optimization terminated successfully.",
    "maxiter": "Maximum number of iterations has been exceeded.",
    "maxfev": "Maximum number of function evaluations has been reached.",
    "maxtime": "Maximum time has been reached.",
    "callback": "callback function requested stop early",
}


def differential_evolution(func: Any, bounds: Any, args: Tuple[Any, ...] = (),
                           strategy: Any = "best1bin", maxiter: Optional[int] = None,
                           popsize: int = 15,
                           tol: float = 0.01, mutation: Any = (0.5, 1),
                           recombination: float = 0.7, rng: Any = None,
                           callback: Optional[Callable[..., Any]] = None, disp: bool = False,
                           polish: Any = True, init: Any = "latinhypercube", atol: float = 0,
                           updating: str = "immediate", workers: Any = 1,
                           constraints: Any = (), x0: Any = None, *, integrality: Any = None,
                           vectorized: bool = False, seed: Any = None,
                           bounds_handling: str = "reinitialize", maxfev: Optional[int] = None,
                           maxtime: Optional[float] = None,
                           progress: bool = False) -> OptimizeResult:
    """Find the global minimum of a function of several variables.

    The arguments and the result are SciPy's ``differential_evolution``
    (see its documentation), so replacing the import is the whole migration.
    Beyond SciPy:

    - ``func`` may be a native function ``void f(uint64_t rows, uint64_t
      cols, double *x, double *out)`` (numba ``cfunc``, ctypes or cffi
      function pointer, ``scipy.LowLevelCallable``; never a bare int). It is
      called on whole populations without the interpreter lock; ``args``
      and ``workers`` do not apply to it.
    - ``bounds_handling``: ``"reinitialize"`` (redraw a mutant component that
      left the box, SciPy's rule) or ``"clip"`` (move it to the nearest bound).
    - ``maxfev`` stops before a generation that would exceed this many
      evaluations (the initial population is always evaluated whole, so a
      budget below its size still spends that much); ``maxtime`` stops after the generation that passes this
      many seconds. ``message`` says which rule ended the run.
    - ``progress=True`` shows a tqdm bar with the best value so far.
    - ``workers`` also takes a ``concurrent.futures.Executor`` or a
      ``dask.distributed.Client``, which evaluates each generation in chunks
      on the cluster.
    - The same ``rng``/``seed`` gives a bit-identical result for any number
      of threads (``RAYON_NUM_THREADS``) and for a native or a Python
      function. The numbers differ from SciPy's for the same seed.
    - NaN values count as +inf. A run that never sees a finite value reports
      ``success=False``.
    - As in SciPy the population lives in the unit cube and is mapped into
      the bounds for evaluation, so a converged population collapses onto
      one point and the ``tol`` test ends the run. ``func`` gets its own copy
      of the points: what it writes there changes nothing.
    - ``strategy`` may be a callable ``strategy(candidate, population, rng)``
      returning a trial of shape (N,) (``population`` in the bounds'
      coordinates; components outside the bounds are redrawn), or one of the
      self-adaptive strategies, which set F and CR per individual from what
      succeeded and ignore ``mutation``, ``recombination`` and ``updating``
      (their generations are always deferred):

      * ``"jde"``: J. Brest, S. Greiner, B. Boskovic, M. Mernik and
        V. Zumer, "Self-adapting control parameters in differential
        evolution", IEEE TEVC 10(6), 2006. rand/1/bin; each individual's F
        (in [0.1, 1)) and CR are redrawn with probability 0.1 and survive
        with the trials they made.
      * ``"lshade"``: R. Tanabe and A. Fukunaga, "Improving the search
        performance of SHADE using linear population size reduction", IEEE
        CEC 2014. current-to-pbest/1/bin (p = 0.11) with an archive of 2.6
        times the population, success-history memories of F and CR (H = 6,
        weighted Lehmer means), and a population that shrinks linearly to 4
        over the evaluation budget.
      * ``"jso"``: J. Brest, M. S. Maucec and B. Boskovic, "Single objective
        real-parameter optimization: algorithm jSO", IEEE CEC 2017. As
        L-SHADE with H = 5 (the last entry fixed at 0.9), memories moving
        halfway to each new mean, an archive as large as the population, p
        from 0.25 down to 0.125, the weighted current-to-pBest-w/1 mutation
        and its staged bounds on F and CR.

      For these, ``popsize`` sets the initial size (``popsize`` times the
      number of free parameters; the papers use 18 x N and 25 ln(N) sqrt(N)).
      The population shrinks over ``maxfev`` evaluations; without
      ``maxfev``, over what ``maxiter`` generations spend. ``maxiter``
      defaults to 1000 generations, or to no limit for an adaptive strategy
      given ``maxfev``. A component that leaves the bounds goes halfway from
      its parent to the bound it crossed.
    - Polishing counts towards ``maxfev`` and stops where it is spent.

    Examples
    --------
    >>> import numpy as np
    >>> import ternavik
    >>> def shifted_sphere(x):
    ...     return float(np.sum((x - 1.0) ** 2))
    >>> result = ternavik.differential_evolution(shifted_sphere, [(-5, 5)] * 3, rng=1)
    >>> result.success, result.x.round(6)
    (True, array([1., 1., 1.]))

    A self-adaptive strategy within a budget of evaluations:

    >>> result = ternavik.differential_evolution(shifted_sphere, [(-5, 5)] * 3,
    ...                                          strategy="lshade", maxfev=3000, rng=1)
    >>> bool(result.fun < 1e-6), result.nfev <= 3000
    (True, True)
    """
    settings = read_settings(func, bounds, args, strategy, maxiter, popsize, tol, mutation,
                             recombination, rng, seed, init, atol, updating, workers,
                             constraints, x0, integrality, vectorized, bounds_handling,
                             maxfev, maxtime)
    evaluator = make_evaluator(settings)
    try:
        return _solve(settings, evaluator, callback, disp, polish, progress)
    finally:
        evaluator.close()


def _solve(settings: Settings, evaluator: Any, callback: Any, disp: bool, polish: Any,
           progress: bool) -> OptimizeResult:
    start = time.monotonic()
    engine: Any = (CallableStrategyLoop(settings, evaluator) if settings.strategy_callable
                   else EngineHandle(settings))
    engine.evaluate(evaluator.fitness)
    status, nit = _generations(settings, engine, evaluator.fitness, callback, disp, progress,
                               start)
    result = _result(settings, engine, evaluator, nit, status)
    if polish and not np.all(settings.integrality):
        _polish(settings, evaluator, engine, result, polish, disp)
    return result


def _remaining(settings: Settings, start: float) -> float:
    if settings.maxtime is None:
        return math.inf
    return max(0.0, settings.maxtime - (time.monotonic() - start))


def _generations(settings: Settings, engine: "EngineHandle", fitness: Any, callback: Any,
                 disp: bool, progress: bool, start: float) -> Tuple[str, int]:
    """Runs the generations; returns the rule that ended them and their count."""
    tol = float(settings.tol)
    budget = _UNLIMITED if settings.maxfev is None else int(settings.maxfev)
    first = engine.generation()
    if callback is None and not disp and not progress:
        # Nothing to report between generations: they all run in C++.
        reason = engine.run(fitness, settings.maxiter, tol, settings.atol, budget,
                            _remaining(settings, start))
        return _status(reason), engine.generation() - first
    notify = _wrap_callback(callback)
    bar = _progress_bar(settings.maxiter) if progress else None
    try:
        for nit in range(1, settings.maxiter + 1):
            reason = engine.run(fitness, 1, tol, settings.atol, budget,
                                _remaining(settings, start))
            if reason not in (_GENERATIONS, _CONVERGED):
                return _status(reason), engine.generation() - first
            best = engine.best_energy()
            if disp:
                print(f"differential_evolution step {nit}: f(x)= {best}")
            if bar is not None:
                bar.update(1)
                bar.set_postfix(best=best, refresh=False)
            if notify is not None and notify(_intermediate(settings, engine, nit)):
                return "callback", nit
            if reason == _CONVERGED:
                return "converged", nit
        return "maxiter", settings.maxiter
    finally:
        if bar is not None:
            bar.close()


def _status(reason: int) -> str:
    return {_GENERATIONS: "maxiter", _CONVERGED: "converged", _EVALUATIONS: "maxfev",
            _TIME: "maxtime"}[reason]


def _progress_bar(total: int) -> Any:
    tqdm = import_optional("tqdm.auto", "tqdm", "progress=True").tqdm
    return tqdm(total=total, desc="differential_evolution", unit="gen")


def _wrap_callback(callback: Any) -> Optional[Callable[[OptimizeResult], bool]]:
    """callback(intermediate_result=...) or the older callback(xk, convergence=...);
    True (or StopIteration) asks to stop."""
    if callback is None:
        return None
    try:
        names = set(inspect.signature(callback).parameters)
    except (TypeError, ValueError):
        names = set()

    def notify(res: OptimizeResult) -> bool:
        try:
            if names == {"intermediate_result"}:
                return bool(callback(intermediate_result=res))
            return bool(callback(np.copy(res.x), convergence=res.convergence))
        except StopIteration:
            return True
    return notify


def _intermediate(settings: Settings, engine: "EngineHandle", nit: int) -> OptimizeResult:
    population, energies, _, best, nfev, _, spread = engine.state()
    res = _basic_result(settings, population, energies, best, nfev, nit)
    res.message = "in progress"
    res.convergence = settings.tol / (spread + _MACHEPS)
    return res


def _basic_result(settings: Settings, population: np.ndarray, energies: np.ndarray, best: int,
                  nfev: int, nit: int) -> OptimizeResult:
    population = settings.as_seen(population)
    best = max(best, 0)
    return OptimizeResult(x=population[best].copy(), fun=float(energies[best]), nfev=nfev,
                          nit=nit, population=population, population_energies=energies)


def _result(settings: Settings, engine: "EngineHandle", evaluator: Any, nit: int,
            status: str) -> OptimizeResult:
    population, energies, violations, best, _, _, _ = engine.state()
    res = _basic_result(settings, population, energies, best, evaluator.nfev(engine), nit)
    res.success = status == "converged"
    res.message = _MESSAGES[status]
    if not np.isfinite(res.fun):
        res.success = False
        res.message += " No finite function value was found."
    if settings.constraints:
        _add_constraint_fields(settings, res)
    return res


def _add_constraint_fields(settings: Settings, res: OptimizeResult) -> None:
    res.constr = [c.violation_of(res.x) for c in settings.constraints]
    res.constr_violation = float(max((np.max(v) for v in res.constr if v.size), default=0.0))
    res.maxcv = res.constr_violation
    if res.maxcv > 0:
        res.success = False
        res.message = (f"The solution does not satisfy the constraints, "
                       f"MAXCV = {res.maxcv}")


_polish_warned = False


def _polish(settings: Settings, evaluator: Any, engine: "EngineHandle", res: OptimizeResult,
            polish: Any, disp: bool) -> None:
    """Refines the best point with a local method; keeps it when it is better."""
    global _polish_warned
    try:
        scipy_optimize: Any = importlib.import_module("scipy.optimize")
    except ImportError:
        scipy_optimize = None
    if scipy_optimize is None and not callable(polish):
        if not _polish_warned:
            _polish_warned = True
            warnings.warn('polish=True needs scipy; install it with pip install '
                          '"ternavik[scipy]". The result is not polished', RuntimeWarning,
                          stacklevel=4)
        return
    minimize = polish if callable(polish) else scipy_optimize.minimize

    low, high = settings.low.copy(), settings.high.copy()
    fixed = np.asarray(settings.integrality, dtype=bool)
    low[fixed] = high[fixed] = res.x[fixed]
    bounds: Any = (scipy_optimize.Bounds(low, high) if scipy_optimize is not None
                   else list(zip(low, high)))
    kwargs: Dict[str, Any] = {"bounds": bounds}
    method = "L-BFGS-B"
    if settings.constraints:
        method = "trust-constr"
        kwargs["constraints"] = [c.original for c in settings.constraints]
    if disp:
        print(f"Polishing solution with '{method}'")
    left = None if settings.maxfev is None else settings.maxfev - res.nfev
    if left is not None and left <= 0:
        return
    objective = _Budgeted(scalar_objective(settings), left)
    try:
        if callable(polish):
            polished = minimize(objective, np.copy(res.x), **kwargs)
        else:
            polished = minimize(objective, np.copy(res.x), method=method, **kwargs)
    except _BudgetSpent:
        # The local method would have gone past maxfev: keep the best point
        # it evaluated within the budget.
        polished = OptimizeResult(x=objective.best_x, fun=objective.best_fun, success=True)
    res.nfev += objective.calls
    better = (polished.fun < res.fun and getattr(polished, "success", True)
              and np.all(polished.x <= settings.high) and np.all(settings.low <= polished.x))
    if better:
        res.fun = float(polished.fun)
        res.x = np.asarray(polished.x, dtype=np.float64)
        res.jac = getattr(polished, "jac", None)
        best = int(np.argmin(res.population_energies))
        res.population[best] = res.x
        res.population_energies[best] = res.fun
        if settings.constraints:
            _add_constraint_fields(settings, res)


class _BudgetSpent(Exception):
    """The polishing objective was asked for one evaluation too many."""


class _Budgeted:
    """An objective that counts its calls, remembers its best point and
    refuses to run past `left` calls (None: no limit)."""

    def __init__(self, objective: Callable[[np.ndarray], float], left: Optional[int]) -> None:
        self.objective, self.left, self.calls = objective, left, 0
        self.best_x: Optional[np.ndarray] = None
        self.best_fun = math.inf

    def __call__(self, x: np.ndarray) -> float:
        if self.left is not None and self.calls >= self.left:
            raise _BudgetSpent
        self.calls += 1
        value = self.objective(x)
        if value < self.best_fun:
            self.best_x, self.best_fun = np.array(x, dtype=np.float64), value
        return value


def minimize_population(fun: Any, native: Optional[int], low: np.ndarray, high: np.ndarray,
                        pop: int, iters: int, F: float, CR: float, seed: Any,
                        strategy: str = "rand1bin", tol: Optional[float] = None,
                        progress: bool = False) -> OptimizeResult:
    """The engine behind ternavik.minimize: ``pop`` individuals drawn uniformly,
    up to ``iters`` generations of deferred updating with clipping, no polish.

    ``fun`` takes a whole (pop, dims) population and returns pop values (or
    ``native`` is the address of a native function). ``tol`` None runs all
    ``iters`` generations.
    """
    settings = read_settings(
        lambda x: 0.0, list(zip(low, high)), (), strategy, iters, 1,
        math.nan if tol is None else tol, 0.5, CR, None, seed, "random", 0.0, "deferred", 1,
        (), None, None, False, "clip", None, None)
    # The short form checks its own ranges (F up to 2 included) and sizes.
    settings.pop, settings.native, settings.F, settings.F_high = pop, native, F, F
    settings.scaled = False  # its results are fixed in box coordinates
    rows_fitness = native if native is not None else _rows_fitness(fun, pop)
    engine = EngineHandle(settings)
    engine.evaluate(rows_fitness)
    status, nit = _generations(settings, engine, rows_fitness, None, False, progress,
                               time.monotonic())
    population, energies, _, best, nfev, _, _ = engine.state()
    res = _basic_result(settings, population, energies, best, nfev, nit)
    res.success = status == "converged" or (tol is None and status == "maxiter")
    res.message = ("Ran all generations." if tol is None and status == "maxiter"
                   else _MESSAGES[status])
    if not np.isfinite(res.fun):
        res.success = False
        res.message += " No finite function value was found."
    return res


def _rows_fitness(fun: Any, pop: int) -> Callable[[np.ndarray], np.ndarray]:
    """A whole-population callable, its result checked for one value per row."""
    def fitness(rows: np.ndarray) -> np.ndarray:
        values = np.asarray(fun(rows), dtype=np.float64)
        if values.shape != (rows.shape[0],):
            raise ValueError(f"the fitness function gets the population as an array of shape "
                             f"({rows.shape[0]}, {rows.shape[1]}), one row per individual, and "
                             f"must return {rows.shape[0]} values; got shape {values.shape}")
        return values
    return fitness
