#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/decision_matrix.hpp"
#include "core/mcda/column_pass.hpp"

namespace ternavik::mcda {

// The normalisations, numbered as the Python layer names them.
enum class Normalization : int {
    minmax = 0,
    max = 1,
    sum = 2,
    vector = 3,
    logarithmic = 4,
    linear = 5,
    nonlinear = 6,
    enhanced_accuracy = 7,
    zavadskas_turskis = 8,
};
inline constexpr int normalization_count = 9;

// Normalises one criterion in place (n values, row order), the cost
// direction flipped so that larger is better for every criterion. Returns
// false when the values are outside the method's domain (sum and
// logarithmic need values > 0, linear needs values != 0).
bool normalize_column(Normalization method, double* column, std::size_t n, IndicatorKind kind);

// Why normalize_column refused a criterion.
const char* normalization_domain(Normalization method);

// The whole matrix normalised criterion by criterion on the pool.
Outcome<TransformedMatrix> normalize_matrix(const StridedMatrix& data,
                                            const std::vector<IndicatorKind>& kinds,
                                            Normalization method);

// Sum of the values in row order, from 0.0.
double sum_in_order(const double* values, std::size_t n);

}  // namespace ternavik::mcda

namespace ternavik::mcda {

// The public normalisation: checks n >= 2 and one kind per criterion, then
// returns the normalised matrix row-major (n x m).
Outcome<std::vector<double>> normalized_rows(const StridedMatrix& data,
                                             const StridedVector<std::int64_t>& kinds,
                                             Normalization method);

}  // namespace ternavik::mcda
