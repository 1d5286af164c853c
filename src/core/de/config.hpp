#pragma once
#include <cstdint>
#include <vector>

namespace ternavik {

// The immutable configuration of a differential-evolution search.
struct DeConfig {
    std::vector<double> min_bound;  // length `dimensions`
    std::vector<double> max_bound;  // length `dimensions`
    std::uint64_t pop = 4;          // at least 4
    std::uint64_t dimensions = 0;
    double F = 0.5;
    double CR = 0.7;
};

}  // namespace ternavik
