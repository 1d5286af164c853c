#pragma once
// The parts of a trial vector that vary between configurations, each a
// small policy type. A trial maker is instantiated once per combination, so
// the per-component loop carries no branch on the configuration.
#include <bit>
#include <cstdint>

#include "runtime/random.hpp"

namespace ternavik {

// `take ? a : b` through bit masks: crossover is a coin flip per component,
// and a branch on it would be mispredicted about as often as not.
inline double select_bits(bool take, double a, double b) {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(take);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) |
                                 (std::bit_cast<std::uint64_t>(b) & ~mask));
}

// The rows a mutant reads: drawn donors, the best row and the target.
struct MutationRows {
    const double* __restrict d[5];
    const double* __restrict best;
    const double* __restrict target;
};

// Each mutation fixes its operation order, which fixes the result bit for bit.
struct Rand1Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        return (r.d[1][j] - r.d[2][j]) * F + r.d[0][j];
    }
};
struct Best1Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        return (r.d[0][j] - r.d[1][j]) * F + r.best[j];
    }
};
struct Rand2Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        return (r.d[1][j] + r.d[2][j] - r.d[3][j] - r.d[4][j]) * F + r.d[0][j];
    }
};
struct Best2Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        return (r.d[0][j] + r.d[1][j] - r.d[2][j] - r.d[3][j]) * F + r.best[j];
    }
};
struct RandToBest1Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        const double toward_best = (r.best[j] - r.d[0][j]) * F + r.d[0][j];
        return (r.d[1][j] - r.d[2][j]) * F + toward_best;
    }
};
struct CurrentToBest1Mutation {
    static double component(const MutationRows& r, std::uint64_t j, double F) {
        return (r.best[j] - r.target[j] + r.d[0][j] - r.d[1][j]) * F + r.target[j];
    }
};

// A mutant component, repaired if it left the box, where the crossover
// takes it; the target's component elsewhere.
struct ClipRepair {
    template <class Generator>
    static double apply(Generator&, bool take, double v, double target, double low, double high) {
        const double clipped = low > v ? low : (high < v ? high : v);
        return select_bits(take, clipped, target);
    }
};
struct ReinitializeRepair {
    // Draws only for a taken component outside the box, so the stream
    // position depends on the trial alone.
    template <class Generator>
    static double apply(Generator& rng, bool take, double v, double target, double low,
                        double high) {
        if (take & ((v < low) | (v > high))) return draw_between(rng, low, high);
        return select_bits(take, v, target);
    }
};

// Component jrand is always taken; a unit draw is made for every component,
// jrand included, so the stream never depends on which components cross.
struct BinomialCrossover {
    template <class Repair, class Generator, class Mutant>
    static void apply(Generator& rng, std::uint64_t dims, double CR, const double* __restrict low,
                      const double* __restrict high, const double* __restrict target,
                      double* __restrict out, const Mutant& mutant) {
        const std::uint64_t jrand = draw_index(rng, dims);
        for (std::uint64_t j = 0; j < dims; ++j) {
            const double u = draw_unit(rng);
            out[j] = Repair::apply(rng, (j == jrand) | (u < CR), mutant(j), target[j], low[j],
                                   high[j]);
        }
    }
};

// A circular run of components from a random start: the first is always
// taken, each further one while a unit draw stays below CR.
struct ExponentialCrossover {
    template <class Repair, class Generator, class Mutant>
    static void apply(Generator& rng, std::uint64_t dims, double CR, const double* __restrict low,
                      const double* __restrict high, const double* __restrict target,
                      double* __restrict out, const Mutant& mutant) {
        std::uint64_t j = draw_index(rng, dims);
        for (std::uint64_t k = 0; k < dims; ++k) out[k] = target[k];
        std::uint64_t taken = 0;
        do {
            out[j] = Repair::apply(rng, true, mutant(j), target[j], low[j], high[j]);
            j = j + 1 == dims ? 0 : j + 1;
        } while (++taken < dims && draw_unit(rng) < CR);
    }
};

// Mutually distinct donors, drawn in order; `forbidden` is the target when
// donors must differ from it, or `pop` (never drawn) when they need not.
template <unsigned Count, class Generator>
inline void draw_donors(Generator& rng, std::uint64_t pop, std::uint64_t forbidden,
                        std::uint64_t (&donors)[5]) {
    for (unsigned k = 0; k < Count; ++k) {
        std::uint64_t r;
        bool repeated;
        do {
            r = draw_index(rng, pop);
            repeated = r == forbidden;
            for (unsigned m = 0; m < k; ++m) repeated |= r == donors[m];
        } while (repeated);
        donors[k] = r;
    }
}

}  // namespace ternavik
