#include "core/de/evolution.hpp"

#include <cstring>
#include <limits>

#include "core/de/trial_generation.hpp"
#include "core/de/working_state.hpp"

namespace ternavik {

namespace {

// Element (i, j) = draw_between(min_bound[j], max_bound[j]), row by row.
void initialise_population(const DeConfig& config, Xoshiro256pp& rng, double* population) {
    const double* low = config.min_bound.data();
    const double* high = config.max_bound.data();
    for (std::uint64_t i = 0; i < config.pop; ++i, population += config.dimensions)
        for (std::uint64_t j = 0; j < config.dimensions; ++j)
            population[j] = draw_between(rng, low[j], high[j]);
}

// Scans from index 0 with a strict comparison: ties keep the earlier index
// and NaN never wins.
double initial_best(const WorkingState& state, std::uint64_t pop, std::uint64_t dims) {
    double best = std::numeric_limits<double>::infinity();
    for (std::uint64_t i = 0; i < pop; ++i) {
        if (state.fitness.data()[i] < best) {
            best = state.fitness.data()[i];
            std::memcpy(state.best_position.data(), state.population.data() + i * dims,
                        dims * sizeof(double));
        }
    }
    return best;
}

// Greedy one-to-one replacement in index order; the best moves only when a
// trial replaces its target, so equal values never displace anything.
void select_survivors(WorkingState& state, std::uint64_t pop, std::uint64_t dims,
                      double& best) {
    double* fitness = state.fitness.data();
    const double* trial_fitness = state.trial_fitness.data();
    for (std::uint64_t i = 0; i < pop; ++i) {
        if (!(trial_fitness[i] < fitness[i])) continue;
        fitness[i] = trial_fitness[i];
        double* row = state.population.data() + i * dims;
        std::memcpy(row, state.trial.data() + i * dims, dims * sizeof(double));
        if (trial_fitness[i] < best) {
            best = trial_fitness[i];
            std::memcpy(state.best_position.data(), row, dims * sizeof(double));
        }
    }
}

// The worker pool pays off only for native functions (a callable needs the
// interpreter for every evaluation anyway) on large populations.
bool use_parallel_trials(const DeConfig& config, const FitnessFunction& fitness) {
    const unsigned __int128 elements =
        static_cast<unsigned __int128>(config.pop) * config.dimensions;
    return fitness.is_native() && elements > parallel_trial_threshold;
}

}  // namespace

std::optional<DeResult> run_evolution_from(const DeConfig& config, FitnessFunction& fitness,
                                           std::uint64_t iters, RunGeneratorSource source) {
    const std::uint64_t pop = config.pop;
    const std::uint64_t dims = config.dimensions;
    WorkingState state(pop, dims);
    Xoshiro256pp rng = source();
    initialise_population(config, rng, state.population.data());
    if (!fitness.evaluate(state.population.data(), pop, dims, state.fitness.data()))
        return std::nullopt;
    double best = initial_best(state, pop, dims);

    const TrialInputs inputs(config, state.population.data());
    const bool parallel = use_parallel_trials(config, fitness);
    for (std::uint64_t generation = 0; generation < iters; ++generation) {
        if (parallel)
            generate_trials_parallel(inputs, state.trial.data());
        else
            generate_trials_serial(inputs, rng, state.trial.data());
        if (!fitness.evaluate(state.trial.data(), pop, dims, state.trial_fitness.data()))
            return std::nullopt;
        select_survivors(state, pop, dims, best);
    }
    const double* best_position = state.best_position.data();
    return DeResult{best, std::vector<double>(best_position, best_position + dims)};
}

std::optional<DeResult> run_evolution(const DeConfig& config, FitnessFunction& fitness,
                                      std::uint64_t iters) {
    return run_evolution_from(config, fitness, iters, &from_entropy);
}

}  // namespace ternavik
