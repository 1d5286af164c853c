#include "core/de/evolution.hpp"

#include "core/de/engine.hpp"

namespace ternavik {

std::optional<DeResult> run_evolution_from(const DeConfig& config, FitnessFunction& fitness,
                                           std::uint64_t iters, RunGeneratorSource source) {
    // The fixed optimiser is the engine's default configuration: random
    // base, one difference, binomial crossover, clipping, strict selection.
    EngineSettings settings;
    settings.box = config;
    DeEngine engine(std::move(settings));
    engine.seed_run_generator(source());
    engine.draw_population_from_run_generator();
    if (!engine.evaluate_population(fitness)) return std::nullopt;
    for (std::uint64_t generation = 0; generation < iters; ++generation)
        if (!engine.step(fitness)) return std::nullopt;

    const std::uint64_t dims = config.dimensions;
    std::vector<double> best_position(dims, 0.0);
    if (engine.best_index() != DeEngine::no_best) {
        const double* row = engine.population() + engine.best_index() * dims;
        best_position.assign(row, row + dims);
    }
    return DeResult{engine.best_energy(), std::move(best_position)};
}

std::optional<DeResult> run_evolution(const DeConfig& config, FitnessFunction& fitness,
                                      std::uint64_t iters) {
    return run_evolution_from(config, fitness, iters, &from_entropy);
}

}  // namespace ternavik
