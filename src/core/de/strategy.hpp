#pragma once
#include <cstdint>

namespace ternavik {

// How a mutant is built from the population. "best" reads the best row,
// "current" the target row, the rest only drawn donors.
enum class Mutation : std::uint8_t {
    best1, rand1, rand2, best2, rand_to_best1, current_to_best1,
};

// Which components of the trial come from the mutant.
enum class Crossover : std::uint8_t {
    binomial,     // one forced component, every other with probability CR
    exponential,  // a circular run from a random start, extended with probability CR
};

// What happens to a mutant component that left the box.
enum class BoundHandling : std::uint8_t {
    clip,          // the nearest bound
    reinitialize,  // a fresh uniform draw between the bounds
};

// How a trial competes with its target.
enum class Selection : std::uint8_t {
    strict,       // replace only when strictly better; NaN never wins or loses
    feasibility,  // NaN counts as +inf, ties replace, feasible beats infeasible,
                  // the smaller total violation wins between infeasible points
};

// Where each trial's draws come from.
enum class Seeding : std::uint8_t {
    run_generator,  // one generator for the run, trials made in index order
    thread_stream,  // a generator per trial seeded from the worker's thread stream
    counter,        // a generator per trial derived from (key, generation, index)
};

// Donors each mutation draws.
constexpr unsigned donor_count(Mutation m) {
    switch (m) {
        case Mutation::best1: return 2;
        case Mutation::rand1: return 3;
        case Mutation::rand2: return 5;
        case Mutation::best2: return 4;
        case Mutation::rand_to_best1: return 3;
        case Mutation::current_to_best1: return 2;
    }
    return 0;
}

}  // namespace ternavik
