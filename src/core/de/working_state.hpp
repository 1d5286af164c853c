#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace ternavik {

// A zero-filled array of doubles that belongs to one run.
class ZeroedArray {
public:
    // Throws std::bad_alloc when `count` doubles cannot be had.
    explicit ZeroedArray(std::uint64_t count);

    double* data() const { return data_.get(); }

private:
    struct Free {
        void operator()(double* p) const { std::free(p); }
    };
    std::unique_ptr<double, Free> data_;
};

// Everything one run works on, allocated once before the first draw and
// reused by every generation.
struct WorkingState {
    WorkingState(std::uint64_t pop, std::uint64_t dimensions);

    ZeroedArray population;     // pop x dimensions, row-major
    ZeroedArray trial;          // pop x dimensions, row-major
    ZeroedArray fitness;        // pop
    ZeroedArray trial_fitness;  // pop; kept between generations, never cleared
    ZeroedArray best_position;  // dimensions
};

}  // namespace ternavik
