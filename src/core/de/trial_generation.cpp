#include "core/de/trial_generation.hpp"

#include "runtime/parallel_for.hpp"

namespace ternavik {

void generate_trials_serial(const TrialInputs& in, Xoshiro256pp& rng, double* trial) {
    // A local copy whose address never escapes lets the generator state
    // live in registers across the whole generation.
    Xoshiro256pp local = rng;
    const std::uint64_t dims = in.dimensions;
    for (std::uint64_t i = 0; i < in.pop; ++i) make_trial(local, in, i, trial + i * dims);
    rng = local;
}

void generate_trials_parallel(const TrialInputs& in, double* trial) {
    run_parallel(in.pop, [&in, trial](std::size_t begin, std::size_t end) {
        // A piece runs on one thread, so one look-up of its stream serves
        // every individual of the piece.
        ChaChaRng& stream = thread_rng();
        const std::uint64_t dims = in.dimensions;
        for (std::uint64_t i = begin; i < end; ++i) {
            Xoshiro256pp own = seed_from_value(next_word(stream));
            make_trial(own, in, i, trial + i * dims);
        }
    });
}

}  // namespace ternavik
