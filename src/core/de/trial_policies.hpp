#pragma once
// The parts of a trial vector that vary between configurations, each a
// small policy type. A trial maker is instantiated once per combination, so
// the per-component loop carries no branch on the configuration.
#include <algorithm>
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
    static constexpr bool redraws = false;
    static double bounded(double v, double low, double high) {
        return low > v ? low : (high < v ? high : v);
    }
    static double bounded(double v, double low, double high, double) {
        return bounded(v, low, high);
    }
    template <class Generator>
    static double apply(Generator&, bool take, double v, double target, double low, double high) {
        return select_bits(take, bounded(v, low, high), target);
    }
};
struct ReinitializeRepair {
    static constexpr bool redraws = true;
    static double bounded(double v, double, double) { return v; }
    static double bounded(double v, double, double, double) { return v; }
    // Draws only for a taken component outside the box, so the stream
    // position depends on the trial alone.
    template <class Generator>
    static double apply(Generator& rng, bool take, double v, double target, double low,
                        double high) {
        if (take & ((v < low) | (v > high))) return draw_between(rng, low, high);
        return select_bits(take, v, target);
    }
};

// A component that left the box goes halfway from the target to the bound
// it crossed, so a population near a bound approaches it without piling
// onto it (the rule of the success-history family).
struct MidpointRepair {
    static constexpr bool redraws = false;
    // Both midpoints are made for every component and chosen by masks: as
    // conditional arithmetic the compiler keeps a branch per component
    // (it may not speculate a floating-point operation), which is scalar
    // and mispredicted early in a run.
    static double bounded(double v, double low, double high, double target) {
        const double below = (low + target) * 0.5, above = (high + target) * 0.5;
        return select_bits(v < low, below, select_bits(v > high, above, v));
    }
    template <class Generator>
    static double apply(Generator&, bool take, double v, double target, double low, double high) {
        return select_bits(take, bounded(v, low, high, target), target);
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

// Binomial crossover for the per-trial streams, built for speed: each
// 64-bit word decides two components by 32-bit thresholds, and a block's
// decisions are made before its arithmetic, so the arithmetic is one
// branch-free loop the compiler vectorises. The trial's generator, a fast
// stream of its own, draws jrand and then, block by block, the block's
// decision words and then its redraws for taken components outside the
// box, in component order.
struct BlockBinomialCrossover {
    static constexpr std::uint64_t block = 256;  // even: a word fills two slots

    // Take a component when its 32-bit draw is below this (CR < 1).
    static std::uint32_t threshold(double CR) {
        return CR >= 1.0 ? 0 : static_cast<std::uint32_t>(CR * 0x1.0p32);
    }

    template <class Repair, class Generator, class Mutant>
    static void apply(Generator& rng, std::uint64_t dims, double CR, const double* __restrict low,
                      const double* __restrict high, const double* __restrict target,
                      double* __restrict out, const Mutant& mutant) {
        Generator g = rng;  // a local copy stays in registers
        const std::uint64_t jrand = draw_index(g, dims);
        const std::uint32_t below = threshold(CR);
        const std::uint64_t take_all = CR >= 1.0 ? ~std::uint64_t{0} : 0;
        alignas(64) std::uint32_t draws[block];
        alignas(64) std::uint64_t take[block];
        alignas(64) std::uint64_t outside[block];
        for (std::uint64_t start = 0; start < dims; start += block) {
            const std::uint64_t n = std::min(block, dims - start);
            for (std::uint64_t k = 0; k < n; k += 2) {
                const std::uint64_t w = next_word(g);
                draws[k] = static_cast<std::uint32_t>(w);
                draws[k + 1] = static_cast<std::uint32_t>(w >> 32);
            }
            for (std::uint64_t k = 0; k < n; ++k)
                take[k] = (draws[k] < below ? ~std::uint64_t{0} : 0) | take_all;
            if (jrand - start < n) take[jrand - start] = ~std::uint64_t{0};
            mix_block<Repair>(n, take, low + start, high + start, target + start, out + start,
                              outside, [&mutant, start](std::uint64_t k) {
                                  return mutant(start + k);
                              });
            if constexpr (Repair::redraws)
                redraw_block(g, n, outside, low + start, high + start, out + start);
        }
        rng = g;
    }

private:
    // The block's components from the mutant where taken, the target's
    // elsewhere. When the repair redraws, `outside` marks (nonzero) the taken
    // components outside the box: clipping moves v exactly when it lies
    // outside, never a NaN, and keeps the loop free of branches.
    template <class Repair, class Mutant>
    static void mix_block(std::uint64_t n, const std::uint64_t* __restrict take,
                          const double* __restrict lo, const double* __restrict hi,
                          const double* __restrict tg, double* __restrict o,
                          std::uint64_t* __restrict outside, const Mutant& mutant) {
        for (std::uint64_t k = 0; k < n; ++k) {
            const double v = Repair::bounded(mutant(k), lo[k], hi[k], tg[k]);
            if constexpr (Repair::redraws) {
                const double clipped = ClipRepair::bounded(v, lo[k], hi[k]);
                outside[k] = take[k] & (std::bit_cast<std::uint64_t>(clipped) ^
                                        std::bit_cast<std::uint64_t>(v));
            }
            o[k] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(v) & take[k]) |
                                         (std::bit_cast<std::uint64_t>(tg[k]) & ~take[k]));
        }
    }

    // Early on a good share of mutants leave the box at random places, so the
    // components to redraw are gathered into bit masks without a branch and
    // visited lowest bit first.
    template <class Generator>
    static void redraw_block(Generator& g, std::uint64_t n, const std::uint64_t* outside,
                             const double* lo, const double* hi, double* o) {
        std::uint64_t any = 0;  // a vector loop; late in a run usually zero
        for (std::uint64_t k = 0; k < n; ++k) any |= outside[k];
        if (any == 0) return;
        for (std::uint64_t first = 0; first < n; first += 64) {
            const std::uint64_t m = std::min<std::uint64_t>(64, n - first);
            std::uint64_t bits = 0;
            for (std::uint64_t k = 0; k < m; ++k)
                bits |= static_cast<std::uint64_t>(outside[first + k] != 0) << k;
            for (; bits != 0; bits &= bits - 1) {
                const std::uint64_t k = first + static_cast<std::uint64_t>(std::countr_zero(bits));
                o[k] = draw_between(g, lo[k], hi[k]);
            }
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
