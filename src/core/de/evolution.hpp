#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "core/de/config.hpp"
#include "core/de/fitness.hpp"
#include "runtime/random.hpp"

namespace ternavik {

// Best fitness and position found by one run.
struct DeResult {
    double best_fitness;
    std::vector<double> best_position;
};

// Above this many population elements the native variant generates its
// trial vectors on the worker pool.
inline constexpr std::uint64_t parallel_trial_threshold = 200000;

// One complete DE/rand/1/bin minimisation. Returns nullopt when the fitness
// function reported a failure (its reason stays with the fitness function).
// Throws InternalFailure for broken invariants and std::bad_alloc when the
// working state cannot be allocated.
std::optional<DeResult> run_evolution(const DeConfig& config, FitnessFunction& fitness,
                                      std::uint64_t iters);

// Where a run gets its run generator; called once, after the working state
// has been allocated and before the population is drawn.
using RunGeneratorSource = Xoshiro256pp (*)();

// run_evolution with the run generator taken from `source` instead of the
// operating system, so a run can be replayed exactly.
std::optional<DeResult> run_evolution_from(const DeConfig& config, FitnessFunction& fitness,
                                           std::uint64_t iters, RunGeneratorSource source);

}  // namespace ternavik
