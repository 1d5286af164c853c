#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik {

// Objective weightings: one weight per criterion, derived from the decision
// matrix alone. Codes are what the package passes across the boundary.
enum class Weighting : std::uint64_t {
    equal = 0,
    sum_entropy = 1,         // Shannon entropy of p = x / sum(x), the textbook form
    minmax_entropy = 2,      // the entropy of entropy_weight (min-max normalised)
    standard_deviation = 3,  // sample standard deviation of the raw values
    variance = 4,            // sample variance of the min-max normalised values
    critic = 5,              // contrast times conflict, normalised by direction
    merec = 6,               // removal effects on a log performance measure
    gini = 7,                // Gini coefficient of the raw values
    angle = 8,               // angle between p = x / sum(x) and the uniform vector
};
inline constexpr std::uint64_t weighting_count = 9;

// Weights of an n x m matrix by `method`; `indicator_type` gives the
// criteria's directions (code 1 benefit, else cost), used by minmax_entropy,
// critic and merec. Fails with a ValueError value for fewer than two rows;
// throws InternalFailure when `indicator_type` does not have m elements.
// Inputs are never written; the result is the same, bit for bit, for every
// memory layout and thread count.
Outcome<std::vector<double>> objective_weights(Weighting method, const StridedMatrix& data,
                                               const StridedVector<std::int64_t>& indicator_type);

// Scales non-negative criterion values c[0..m) to sum to one (sum in j
// order); all zeros give equal weights, since nothing tells the criteria apart.
void normalise_weights(double* c, std::size_t m);

}  // namespace ternavik
