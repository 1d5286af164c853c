#pragma once
#include <algorithm>
#include <cstdint>

#include "core/de/config.hpp"
#include "core/de/strategy.hpp"
#include "core/de/trial_policies.hpp"
#include "runtime/philox.hpp"
#include "runtime/random.hpp"

namespace ternavik {

// What making a trial vector reads: the population as it stood at the start
// of the generation (or, with immediate updating, as it stands now) and the
// generation's settings, flattened into plain pointers and values so the
// inner loop needs no indirection.
struct TrialInputs {
    TrialInputs(const DeConfig& config, const double* population_matrix)
        : population(population_matrix),
          min_bound(config.min_bound.data()),
          max_bound(config.max_bound.data()),
          best(population_matrix),
          pop(config.pop),
          dimensions(config.dimensions),
          F(config.F),
          CR(config.CR) {}

    const double* population;
    const double* min_bound;
    const double* max_bound;
    const double* best;  // row of the best individual
    std::uint64_t pop;
    std::uint64_t dimensions;
    double F;
    double CR;
    bool donors_exclude_target = false;
};

// Trial vector of individual i, every draw from `rng`: donors, then the
// crossover's draws, then any draws the bound repair needs.
template <class MutationPolicy, unsigned Donors, class CrossoverPolicy, class RepairPolicy,
          class Generator>
inline void make_trial(Generator& rng, const TrialInputs& in, std::uint64_t i,
                       double* __restrict out) {
    const std::uint64_t dims = in.dimensions;
    std::uint64_t donors[5] = {0, 0, 0, 0, 0};
    draw_donors<Donors>(rng, in.pop, in.donors_exclude_target ? i : in.pop, donors);
    MutationRows rows{};
    for (unsigned k = 0; k < 5; ++k) rows.d[k] = in.population + donors[k] * dims;
    rows.best = in.best;
    rows.target = in.population + i * dims;
    const double F = in.F;
    CrossoverPolicy::template apply<RepairPolicy>(
        rng, dims, in.CR, in.min_bound, in.max_bound, rows.target, out,
        [&rows, F](std::uint64_t j) { return MutationPolicy::component(rows, j, F); });
}

// Where the trials of one generation draw from.
struct TrialDraws {
    Seeding seeding = Seeding::run_generator;
    Xoshiro256pp* run_generator = nullptr;  // Seeding::run_generator: state runs on
    PhiloxKey key;                          // Seeding::counter
    std::uint64_t generation = 0;           // Seeding::counter
};

// Calls make(rng, i) for each trial i in [begin, end), rng a fast stream of
// the trial's own: each Philox block of (b, generation, trial stream) under
// the run's key seeds the streams of trials 4b .. 4b + 3, one word each; a
// few blocks are derived at once, so their derivations overlap. A trial's
// draws so depend on its index alone, never on how the rows are split.
template <class MakeTrial>
[[gnu::always_inline]] inline void for_each_counter_trial(const TrialDraws& draws,
                                                          std::uint64_t begin, std::uint64_t end,
                                                          MakeTrial&& make) {
    constexpr std::uint64_t per_block = 4, blocks = 4;
    PhiloxBlock words[blocks];
    const std::uint64_t last_block = (end + per_block - 1) / per_block;
    for (std::uint64_t b = begin / per_block; b < last_block; b += blocks) {
        const unsigned count = static_cast<unsigned>(std::min(blocks, last_block - b));
        philox4x64_run(b, draws.generation, static_cast<std::uint64_t>(Stream::trial), 0,
                       draws.key, count, words);
        for (unsigned n = 0; n < count; ++n)
            for (unsigned w = 0; w < per_block; ++w) {
                const std::uint64_t i = (b + n) * per_block + w;
                if (i < begin || i >= end) continue;
                WyRand own(words[n][w]);
                make(own, i);
            }
    }
}

// Makes the trial rows [begin, end) into `trial` (row i at trial + i * dims).
// With Seeding::run_generator the rows are made in order from the one
// generator; otherwise each row from its own.
using TrialMaker = void (*)(const TrialInputs& in, const TrialDraws& draws, std::uint64_t begin,
                            std::uint64_t end, double* trial);

// The vector instructions a trial maker may use.
enum class VectorWidth : std::uint8_t { baseline, avx2 };

// The widest this processor (and its operating system) supports.
VectorWidth widest_vectors();

// The maker for one configuration, chosen once per run. Every width makes
// the same trials bit for bit.
TrialMaker choose_trial_maker(Mutation mutation, Crossover crossover, BoundHandling bounds,
                              Seeding seeding, VectorWidth width = widest_vectors());

// All trial rows, on the worker pool when `parallel` (never with the run
// generator, whose draws must stay in index order).
void generate_trials(TrialMaker maker, const TrialInputs& in, const TrialDraws& draws,
                     double* trial, bool parallel);

}  // namespace ternavik
