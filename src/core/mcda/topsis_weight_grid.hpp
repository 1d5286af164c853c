#pragma once
#include <cstdint>
#include <vector>

#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik {

// TOPSIS closeness for K weight vectors at once (the rows of the K x m
// `weights`), for sensitivity analysis over a weight grid. Returns K x n
// closeness values, row-major; row k is, bit for bit, topsis(data,
// weights[k], indicator_type). The matrix is copied and its squares summed
// once; grid rows are spread over the worker pool. Fails like topsis.
Outcome<std::vector<double>> topsis_weight_grid(const StridedMatrix& data,
                                                const StridedMatrix& weights,
                                                const StridedVector<std::int64_t>& indicator_type);

}  // namespace ternavik
