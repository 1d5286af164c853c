#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/decision_matrix.hpp"
#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik {

// TOPSIS closeness coefficients, one per alternative in row order. Fails
// with a ValueError value for fewer than two rows; throws InternalFailure
// when `weights` or `indicator_type` does not have m elements.
Outcome<std::vector<double>> topsis(const StridedMatrix& data,
                                    const StridedVector<double>& weights,
                                    const StridedVector<std::int64_t>& indicator_type);

// What one scan of the raw columns gathers: per criterion the sum of squares
// in row order and the extremes of the raw values. Each array has m elements.
struct TopsisColumns {
    double* squares;  // start at 0.0
    double* low;      // start at +inf
    double* high;     // start at -inf
};

// Continues `columns` over the rows of `data`, so a matrix may arrive in
// consecutive blocks of rows and give the same sums as in one piece. A NaN
// sum holds the first NaN value of its column, quieted (see nan_order.hpp).
void scan_topsis_columns(const StridedMatrix& data, const TopsisColumns& columns);

// Per criterion: the factor w / sqrt(Q) that weighs a raw value, and the
// ideal and anti-ideal weighted values. Each array has m elements.
struct TopsisIdeals {
    double* factor;
    double* ideal;
    double* anti_ideal;
};

// The ideals of m criteria from their column scan. Scaling by a finite
// nonzero factor keeps the order of the values, so the extremes of the
// weighted values are the weighted extremes; in the other cases every
// weighted value is zero, infinite or NaN and follows from signs alone.
void topsis_ideals(const TopsisColumns& columns, std::size_t m,
                   const StridedVector<double>& weights,
                   const StridedVector<std::int64_t>& indicator_type, const TopsisIdeals& ideals);

// The closeness of every row of `data` given its criteria's ideals; the
// weighted values are recomputed, never stored.
void topsis_closeness(const StridedMatrix& data, const TopsisIdeals& ideals, double* closeness);

// Closeness from the squared distances to the ideal and the anti-ideal.
double closeness_of_alternative(double to_ideal, double to_anti_ideal);

}  // namespace ternavik
