"""Generations whose trials come from the caller's ``strategy(candidate,
population, rng)``, as SciPy allows.

The strategy is Python and is called once per trial, so the generations run
here rather than in the native engine; everything else (the unit-cube
population, the feasibility rule, the stopping rules, the result) is the
engine's, so the rest of `differential_evolution` drives this loop through
the same interface as an `EngineHandle`.
"""

import math
import time
from typing import Any, Optional, Tuple

import numpy as np

from ._de_settings import EngineHandle, Settings

# The engine's StopReason codes.
_GENERATIONS, _CONVERGED, _EVALUATIONS, _TIME = range(4)


class CallableStrategyLoop:
    """The population, its energies and the generations of one run."""

    def __init__(self, settings: Settings, evaluator: Any) -> None:
        self.s, self._evaluator = settings, evaluator
        self._rng = np.random.default_rng(np.random.SeedSequence(list(settings.key)))
        # The engine draws the initial population, so it is the one a
        # built-in strategy would start from.
        population = EngineHandle(settings).state()[0]
        self.population = np.array(population, dtype=np.float64)
        self.energies = np.full(len(self.population), np.inf)
        self.violations = np.zeros(len(self.population))
        self.evaluations, self.generations = 0, 0

    def evaluate(self, fitness: Any) -> None:
        self.energies, self.violations = self._evaluate(self.population)

    def _evaluate(self, unit_rows: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        rows = np.ascontiguousarray(self.s.as_seen(unit_rows))
        self.evaluations += len(rows)
        if self.s.constraints:
            energies, violations = self._evaluator.constrained_energies(rows)
        else:
            energies, violations = self._evaluator.energies(rows), np.zeros(len(rows))
        energies = np.where(np.isnan(energies), np.inf, energies)
        return energies, violations

    def _trial(self, candidate: int) -> np.ndarray:
        seen = self.s.as_seen(self.population)
        trial = np.array(self.s.strategy_callable(candidate, seen, rng=self._rng), dtype=float)
        if trial.shape != (self.s.low.size,):
            raise RuntimeError("strategy must have signature f(candidate: int, population: "
                               "np.ndarray, rng=None) returning an array of shape (N,); "
                               f"got shape {trial.shape}")
        unit = self.s.unit_rows(trial[None, :])[0] if self.s.scaled else trial
        # A trial that left the box is redrawn there, as SciPy does.
        outside = ~((trial >= self.s.low) & (trial <= self.s.high))
        if outside.any():
            unit[outside] = self._rng.uniform(size=int(np.count_nonzero(outside)))
        return unit

    def _accepts(self, energy: float, violation: float, i: int) -> bool:
        """The feasibility rule: feasible beats infeasible, ties replace."""
        mine, theirs = violation > 0, self.violations[i] > 0
        if not mine and not theirs:
            return bool(energy <= self.energies[i])
        if mine != theirs:
            return not mine
        return bool(violation <= self.violations[i])

    def _generation(self) -> None:
        size = len(self.population)
        if self.s.immediate:
            for i in range(size):
                trial = self._trial(i)
                energy, violation = self._evaluate(trial[None, :])
                if self._accepts(energy[0], violation[0], i):
                    self.population[i], self.energies[i] = trial, energy[0]
                    self.violations[i] = violation[0]
        else:
            trials = np.array([self._trial(i) for i in range(size)])
            energies, violations = self._evaluate(trials)
            for i in range(size):
                if self._accepts(energies[i], violations[i], i):
                    self.population[i], self.energies[i] = trials[i], energies[i]
                    self.violations[i] = violations[i]
        self.generations += 1

    def _converged(self, tol: float, atol: float) -> bool:
        e = self.energies
        if math.isnan(tol) or np.isinf(e).any():
            return False
        return bool(np.std(e) <= atol + tol * abs(np.mean(e)))

    def run(self, fitness: Any, generations: int, tol: float, atol: float, budget: int,
            seconds: float) -> int:
        deadline = time.monotonic() + seconds
        for _ in range(generations):
            if budget - self.evaluations < len(self.population):
                return _EVALUATIONS
            if time.monotonic() >= deadline:
                return _TIME
            self._generation()
            if self._converged(tol, atol):
                return _CONVERGED
        return _GENERATIONS

    def _best(self) -> int:
        feasible = ~(self.violations > 0)
        if feasible.any():
            energies = np.where(feasible, self.energies, np.inf)
            if np.isfinite(energies).any() or not np.isinf(self.energies).all():
                return int(np.argmin(energies))
            return int(np.flatnonzero(feasible)[0])
        return int(np.argmin(self.violations))

    def state(self) -> Tuple[Any, ...]:
        e = self.energies
        spread = (math.inf if np.isinf(e).any()
                  else float(np.std(e) / (abs(np.mean(e)) + np.finfo(float).eps)))
        violations: Optional[np.ndarray] = self.violations.copy() if self.s.constraints else None
        return (self.population.copy(), e.copy(), violations, self._best(), self.evaluations,
                self.generations, spread)

    def generation(self) -> int:
        return self.generations

    def best_energy(self) -> float:
        return float(self.energies[self._best()])
