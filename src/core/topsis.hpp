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

// Ideal and anti-ideal weighted values of one criterion.
struct Ideals {
    double ideal = 0.0;
    double anti_ideal = 0.0;
};

// Writes the n weighted, vector-normalised values of one criterion whose sum
// of squares is `squares` and returns its ideal and anti-ideal.
Ideals weigh_and_find_ideals(const double* column, std::size_t n, double weight,
                             IndicatorKind kind, double squares, double* weighted);

// Sum of squares in row order with the NaN of the first NaN value, quieted.
double ordered_square_sum(const double* column, std::size_t n);

// Closeness from the squared distances to the ideal and the anti-ideal.
double closeness_of_alternative(double to_ideal, double to_anti_ideal);

// Closeness of alternatives [begin, end) from the criterion-major m x n
// weighted matrix; each alternative's sums run over the criteria in order.
void closeness_of_alternatives(const double* weighted, std::size_t n, std::size_t m,
                               const double* ideal, const double* anti_ideal,
                               std::size_t begin, std::size_t end, double* closeness);

}  // namespace ternavik
