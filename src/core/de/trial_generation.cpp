#include "core/de/trial_generation.hpp"

#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

template <class M, unsigned Donors, class C, class R>
void make_trials(const TrialInputs& in, const TrialDraws& draws, std::uint64_t begin,
                 std::uint64_t end, double* trial) {
    const std::uint64_t dims = in.dimensions;
    if (draws.seeding == Seeding::run_generator) {
        // A local copy whose address never escapes lets the generator state
        // live in registers across the whole generation.
        Xoshiro256pp local = *draws.run_generator;
        for (std::uint64_t i = begin; i < end; ++i)
            make_trial<M, Donors, C, R>(local, in, i, trial + i * dims);
        *draws.run_generator = local;
        return;
    }
    if (draws.seeding == Seeding::counter) {
        for_each_counter_trial(draws, begin, end, [&in, trial, dims](auto& own, std::uint64_t i) {
            make_trial<M, Donors, C, R>(own, in, i, trial + i * dims);
        });
        return;
    }
    // Seeding::thread_stream. A piece runs on one thread, but thread_rng() is
    // a thread-local look-up that costs little beside the trial itself.
    for (std::uint64_t i = begin; i < end; ++i) {
        Xoshiro256pp own = seed_from_value(next_word(thread_rng()));
        make_trial<M, Donors, C, R>(own, in, i, trial + i * dims);
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define TERNAVIK_AVX2_MAKERS 1
#endif

#ifdef TERNAVIK_AVX2_MAKERS
// The same trials with 256-bit vectors. Every call inside is inlined, so no
// code built for AVX2 is shared with the other makers, and the operations
// are the same IEEE operations in the same order, so the bits are the same.
template <class M, unsigned Donors, class C, class R>
[[gnu::target("avx2"), gnu::flatten]] void make_trials_avx2(const TrialInputs& in,
                                                            const TrialDraws& draws,
                                                            std::uint64_t begin, std::uint64_t end,
                                                            double* trial) {
    make_trials<M, Donors, C, R>(in, draws, begin, end, trial);
}

#endif

template <class M, unsigned Donors, class C>
TrialMaker with_repair(BoundHandling bounds, [[maybe_unused]] VectorWidth width) {
#ifdef TERNAVIK_AVX2_MAKERS
    if (width == VectorWidth::avx2)
        return bounds == BoundHandling::clip ? &make_trials_avx2<M, Donors, C, ClipRepair>
                                             : &make_trials_avx2<M, Donors, C, ReinitializeRepair>;
#endif
    return bounds == BoundHandling::clip ? &make_trials<M, Donors, C, ClipRepair>
                                         : &make_trials<M, Donors, C, ReinitializeRepair>;
}

// Per-trial counter streams carry no order to keep with another model, so
// their binomial crossover is the block form, which vectorises; only it
// gains from wider vectors.
template <class M, unsigned Donors>
TrialMaker with_crossover(Crossover crossover, BoundHandling bounds, Seeding seeding,
                          VectorWidth width) {
    if (crossover == Crossover::exponential)
        return with_repair<M, Donors, ExponentialCrossover>(bounds, VectorWidth::baseline);
    if (seeding != Seeding::counter)
        return with_repair<M, Donors, BinomialCrossover>(bounds, VectorWidth::baseline);
    return with_repair<M, Donors, BlockBinomialCrossover>(bounds, width);
}

}  // namespace

VectorWidth widest_vectors() {
    // The check covers the operating system's support for the wide
    // registers too; initialising first makes it safe however early it runs.
#ifdef TERNAVIK_AVX2_MAKERS
    static const VectorWidth widest = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? VectorWidth::avx2 : VectorWidth::baseline;
    }();
    return widest;
#else
    return VectorWidth::baseline;
#endif
}

TrialMaker choose_trial_maker(Mutation mutation, Crossover crossover, BoundHandling bounds,
                              Seeding seeding, VectorWidth width) {
    switch (mutation) {
        case Mutation::best1:
            return with_crossover<Best1Mutation, 2>(crossover, bounds, seeding, width);
        case Mutation::rand1:
            return with_crossover<Rand1Mutation, 3>(crossover, bounds, seeding, width);
        case Mutation::rand2:
            return with_crossover<Rand2Mutation, 5>(crossover, bounds, seeding, width);
        case Mutation::best2:
            return with_crossover<Best2Mutation, 4>(crossover, bounds, seeding, width);
        case Mutation::rand_to_best1:
            return with_crossover<RandToBest1Mutation, 3>(crossover, bounds, seeding, width);
        case Mutation::current_to_best1:
            return with_crossover<CurrentToBest1Mutation, 2>(crossover, bounds, seeding, width);
    }
    return nullptr;
}

void generate_trials(TrialMaker maker, const TrialInputs& in, const TrialDraws& draws,
                     double* trial, bool parallel) {
    if (!parallel || draws.seeding == Seeding::run_generator) {
        maker(in, draws, 0, in.pop, trial);
        return;
    }
    run_parallel(in.pop, [maker, &in, &draws, trial](std::size_t begin, std::size_t end) {
        maker(in, draws, begin, end, trial);
    });
}

}  // namespace ternavik
