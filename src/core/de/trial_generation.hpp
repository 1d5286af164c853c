#pragma once
#include <bit>
#include <cstdint>

#include "core/de/config.hpp"
#include "runtime/random.hpp"

namespace ternavik {

// What making a trial vector reads: the population as it stood at the start
// of the generation and the run's fixed settings, flattened into plain
// pointers and values so the inner loop needs no indirection.
struct TrialInputs {
    TrialInputs(const DeConfig& config, const double* population_matrix)
        : population(population_matrix),
          min_bound(config.min_bound.data()),
          max_bound(config.max_bound.data()),
          pop(config.pop),
          dimensions(config.dimensions),
          F(config.F),
          CR(config.CR) {}

    const double* population;
    const double* min_bound;
    const double* max_bound;
    std::uint64_t pop;
    std::uint64_t dimensions;
    double F;
    double CR;
};

// `take ? a : b` through bit masks: crossover is a coin flip per component,
// and a branch on it would be mispredicted about as often as not.
inline double select_bits(bool take, double a, double b) {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(take);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) |
                                 (std::bit_cast<std::uint64_t>(b) & ~mask));
}

// DE/rand/1/bin trial vector of individual i, every draw from `rng`. The
// donors differ from each other but may include i; a mutant component is
// clipped to the box only when it is taken.
template <class Generator>
inline void make_trial(Generator& rng, const TrialInputs& in, std::uint64_t i,
                       double* __restrict out) {
    const std::uint64_t pop = in.pop;
    const std::uint64_t r1 = draw_index(rng, pop);
    std::uint64_t r2 = draw_index(rng, pop);
    while (r2 == r1) r2 = draw_index(rng, pop);
    std::uint64_t r3 = draw_index(rng, pop);
    while (r3 == r1 || r3 == r2) r3 = draw_index(rng, pop);
    const std::uint64_t dims = in.dimensions;
    const std::uint64_t jrand = draw_index(rng, dims);

    const double* __restrict x1 = in.population + r1 * dims;
    const double* __restrict x2 = in.population + r2 * dims;
    const double* __restrict x3 = in.population + r3 * dims;
    const double* __restrict target = in.population + i * dims;
    const double* __restrict low = in.min_bound;
    const double* __restrict high = in.max_bound;
    const double F = in.F;
    const double CR = in.CR;
    for (std::uint64_t j = 0; j < dims; ++j) {
        // The unit draw is made for every component, jrand included, so the
        // stream position never depends on which components cross over.
        const double u = draw_unit(rng);
        // Difference, then scale, then base: this order fixes the result.
        const double v = (x2[j] - x3[j]) * F + x1[j];
        const double clipped = low[j] > v ? low[j] : (high[j] < v ? high[j] : v);
        out[j] = select_bits((j == jrand) | (u < CR), clipped, target[j]);
    }
}

// Trial rows of all individuals in index order, drawing from `rng`, whose
// state runs on into the next generation.
void generate_trials_serial(const TrialInputs& in, Xoshiro256pp& rng, double* trial);

// Trial rows on the worker pool; each individual draws from its own generator
// seeded from the thread stream of the worker that makes it.
void generate_trials_parallel(const TrialInputs& in, double* trial);

}  // namespace ternavik
