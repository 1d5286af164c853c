#pragma once
#include <cstdint>
#include <vector>

#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik {

// TOPSIS closeness coefficients, one per alternative in row order. Fails
// with a ValueError value for fewer than two rows; throws InternalFailure
// when `weights` or `indicator_type` does not have m elements.
Outcome<std::vector<double>> topsis(const StridedMatrix& data,
                                    const StridedVector<double>& weights,
                                    const StridedVector<std::int64_t>& indicator_type);

}  // namespace ternavik
