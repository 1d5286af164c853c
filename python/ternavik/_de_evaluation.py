"""How `differential_evolution` evaluates a population: in process, on a
process pool, a map-like callable, an Executor or a Dask cluster, and with
constraints. The engine calls `Evaluator.fitness` with a new (S, N) array."""

import os
from concurrent.futures import Executor
from typing import Any, Callable, List, Optional, Tuple

import numpy as np

from . import _engine
from ._de_constraints import total_violation


class ObjectiveShapeError(RuntimeError, ValueError):
    """A vectorised objective returned the wrong shape: RuntimeError as in
    SciPy, and ValueError as it was here before."""


def _as_energy(value: Any) -> float:
    if isinstance(value, float):  # the common case, checked cheaply
        return value
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        # np.asarray(None, float) is NaN: without this check an objective
        # that forgot its return statement would run the whole budget.
        raise TypeError("The user-provided objective function must return a real number; "
                        f"got {type(value).__name__} {value!r:.80}")
    if array.size != 1:
        raise ValueError("The user-provided objective function must return a scalar value: "
                         f"one float for a point x of shape (N,); got shape {array.shape}")
    return float(array.reshape(()))


def _vector_energies(value: Any, count: int, n: int) -> np.ndarray:
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError("The vectorized function must return real numbers; got "
                        f"{type(value).__name__} of dtype {array.dtype}")
    array = array.astype(np.float64, copy=False)
    if array.shape != (count,):
        if array.size == count and array.ndim == 2 and 1 in array.shape:
            return array.ravel()
        raise ObjectiveShapeError(
            f"The vectorized function must return an array of shape (S,) when given an "
            f"array of shape (len(x), S): func gets x of shape ({n}, {count}), one column "
            f"per point, and must return shape ({count},); got shape {array.shape}")
    return array


class RowObjective:
    """func(x, *args) as a float; picklable when func is."""

    def __init__(self, func: Any, args: Tuple[Any, ...]) -> None:
        self.func, self.args = func, args

    def __call__(self, x: np.ndarray) -> float:
        return _as_energy(self.func(x, *self.args))


class ChunkObjective:
    """Energies of a block of rows, for one remote task."""

    def __init__(self, func: Any, args: Tuple[Any, ...], vectorized: bool) -> None:
        self.func, self.args, self.vectorized = func, args, vectorized

    def __call__(self, rows: np.ndarray) -> np.ndarray:
        if self.vectorized:
            return _vector_energies(self.func(rows.T, *self.args), rows.shape[0], rows.shape[1])
        return np.array([_as_energy(self.func(x, *self.args)) for x in rows])


def _processor_count() -> int:
    """Processors this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def _is_dask_client(workers: Any) -> bool:
    return any(c.__name__ == "Client" and c.__module__.startswith("distributed")
               for c in type(workers).__mro__)


class Evaluator:
    """`fitness` for the engine (a native address or a Python callable), the
    evaluation count, and the pool to shut down afterwards."""

    def __init__(self, settings: Any) -> None:
        self.s = settings
        self.evaluated = 0
        self._pool: Any = None
        self._map: Optional[Callable[..., Any]] = None
        self._client: Any = None
        if settings.native is None:
            self._choose_workers(settings.workers)
        if settings.native is not None and not settings.constraints:
            self.fitness: Any = settings.native
        elif settings.constraints:
            self.fitness = self._constrained
        else:
            self.fitness = self._energies

    def _choose_workers(self, workers: Any) -> None:
        if _is_dask_client(workers):
            self._client = workers
        elif isinstance(workers, Executor):
            self._map = workers.map
        elif isinstance(workers, (int, np.integer)) and not isinstance(workers, bool):
            if workers == 1:
                return
            if workers == 0 or workers < -1:
                raise ValueError("workers must be a positive int, -1 for all processors, "
                                 "a map-like callable, an Executor or a dask Client")
            import multiprocessing
            count = _processor_count() if workers == -1 else int(workers)
            self._pool = multiprocessing.get_context().Pool(count)
            self._map = self._pool.map
        elif callable(workers):
            self._map = workers
        else:
            raise ValueError("workers must be an int, a map-like callable, an Executor or a "
                             f"dask Client; got {type(workers).__name__}")

    def _energies(self, rows: np.ndarray) -> np.ndarray:
        s = self.s
        self.evaluated += rows.shape[0]
        if s.native is not None:
            return _engine.evaluate_native(s.native, rows)
        if self._client is not None:
            return self._on_cluster(rows)
        if self._map is not None:
            return np.array(list(self._map(RowObjective(s.func, s.args), list(rows))),
                            dtype=np.float64)
        if s.vectorized:
            return _vector_energies(s.func(rows.T, *s.args), rows.shape[0], rows.shape[1])
        objective = RowObjective(s.func, s.args)
        return np.array([objective(x) for x in rows], dtype=np.float64)

    def _on_cluster(self, rows: np.ndarray) -> np.ndarray:
        """Splits the rows into one chunk per cluster worker."""
        workers = max(1, len(self._client.scheduler_info().get("workers", {})))
        chunks: List[np.ndarray] = [c for c in np.array_split(rows, workers) if len(c)]
        task = ChunkObjective(self.s.func, self.s.args, self.s.vectorized)
        futures = self._client.map(task, chunks, pure=False)
        return np.concatenate(self._client.gather(futures)).astype(np.float64)

    def _constrained(self, rows: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        """Only feasible rows are evaluated; the others get +inf."""
        violations = total_violation(self.s.constraints, rows)
        energies = np.full(rows.shape[0], np.inf)
        feasible = ~(violations > 0)
        if feasible.any():
            energies[feasible] = self._energies(np.ascontiguousarray(rows[feasible]))
        return energies, violations

    # For loops that evaluate rows themselves.
    def energies(self, rows: np.ndarray) -> np.ndarray:
        return self._energies(rows)

    def constrained_energies(self, rows: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        return self._constrained(rows)

    def nfev(self, engine: Any) -> int:
        if self.fitness is self.s.native:
            return int(engine.state()[4])
        return self.evaluated

    def close(self) -> None:
        if self._pool is not None:
            self._pool.terminate()
            self._pool.join()
            self._pool = None


def make_evaluator(settings: Any) -> Evaluator:
    return Evaluator(settings)


def scalar_objective(settings: Any) -> Callable[[np.ndarray], float]:
    """func as f(x) -> float, for polishing."""
    s = settings
    if s.native is not None:
        return lambda x: float(_engine.evaluate_native(
            s.native, np.ascontiguousarray(x, dtype=np.float64)[None, :])[0])
    if s.vectorized:
        return lambda x: float(_vector_energies(s.func(np.asarray(x)[:, None], *s.args), 1,
                                                len(x))[0])
    return RowObjective(s.func, s.args)
