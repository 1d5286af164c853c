#include "core/de/trial_generation.hpp"

#include <algorithm>

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
        // The generators of a few trials at once, whose derivations overlap.
        constexpr unsigned batch = 8;
        PhiloxBlock states[batch];
        for (std::uint64_t i = begin; i < end; i += batch) {
            const unsigned count = static_cast<unsigned>(std::min<std::uint64_t>(batch, end - i));
            philox4x64_run(i, draws.generation, static_cast<std::uint64_t>(Stream::trial), 0,
                           draws.key, count, states);
            for (unsigned n = 0; n < count; ++n) {
                Xoshiro256pp own = Xoshiro256pp::from_state(states[n]);
                make_trial<M, Donors, C, R>(own, in, i + n, trial + (i + n) * dims);
            }
        }
        return;
    }
    for (std::uint64_t i = begin; i < end; ++i) {
        Xoshiro256pp own = trial_generator(draws, i);
        make_trial<M, Donors, C, R>(own, in, i, trial + i * dims);
    }
}

template <class M, unsigned Donors, class C>
TrialMaker with_repair(BoundHandling bounds) {
    return bounds == BoundHandling::clip ? &make_trials<M, Donors, C, ClipRepair>
                                         : &make_trials<M, Donors, C, ReinitializeRepair>;
}

// Per-trial counter streams carry no order to keep with another model, so
// their binomial crossover is the block form, which vectorises.
template <class M, unsigned Donors>
TrialMaker with_crossover(Crossover crossover, BoundHandling bounds, Seeding seeding) {
    if (crossover == Crossover::exponential)
        return with_repair<M, Donors, ExponentialCrossover>(bounds);
    return seeding == Seeding::counter ? with_repair<M, Donors, BlockBinomialCrossover>(bounds)
                                       : with_repair<M, Donors, BinomialCrossover>(bounds);
}

}  // namespace

Xoshiro256pp trial_generator(const TrialDraws& draws, std::uint64_t i) {
    if (draws.seeding == Seeding::counter)
        return counter_generator(draws.key, Stream::trial, draws.generation, i);
    // A piece runs on one thread, but thread_rng() is a thread-local look-up
    // that costs little beside the trial itself.
    return seed_from_value(next_word(thread_rng()));
}

TrialMaker choose_trial_maker(Mutation mutation, Crossover crossover, BoundHandling bounds,
                              Seeding seeding) {
    switch (mutation) {
        case Mutation::best1: return with_crossover<Best1Mutation, 2>(crossover, bounds, seeding);
        case Mutation::rand1: return with_crossover<Rand1Mutation, 3>(crossover, bounds, seeding);
        case Mutation::rand2: return with_crossover<Rand2Mutation, 5>(crossover, bounds, seeding);
        case Mutation::best2: return with_crossover<Best2Mutation, 4>(crossover, bounds, seeding);
        case Mutation::rand_to_best1:
            return with_crossover<RandToBest1Mutation, 3>(crossover, bounds, seeding);
        case Mutation::current_to_best1:
            return with_crossover<CurrentToBest1Mutation, 2>(crossover, bounds, seeding);
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
