#pragma once
#include <cstdint>
#include <vector>

#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik {

struct EntropyWeightResult {
    std::vector<double> weights;  // one per criterion (column)
    std::vector<double> scores;   // one per alternative (row)
};

// The entropy-weight method on an n x m decision matrix. Fails with a
// ValueError value for fewer than two rows; throws InternalFailure when
// `indicator_type` does not have m elements.
Outcome<EntropyWeightResult> entropy_weight(const StridedMatrix& data,
                                            const StridedVector<std::int64_t>& indicator_type);

}  // namespace ternavik
