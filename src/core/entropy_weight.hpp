#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/decision_matrix.hpp"
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

// The raw extremes of every criterion, continued over the rows of `data`
// (start at +inf and -inf). Each array has m elements.
void scan_entropy_extremes(const StridedMatrix& data, double* low, double* high);

// The sums S of the normalised values y and T of y ln y (over y > 1e-12) of
// every criterion, continued over the rows of `data` in row order (start at
// 0.0), given the criterion's extremes over all rows.
void scan_entropy_sums(const StridedMatrix& data,
                       const StridedVector<std::int64_t>& indicator_type, const double* low,
                       const double* high, double* sums, double* log_sums);

// Entropy of one criterion over n alternatives, divided by ln(n), from its
// extremes and sums.
double criterion_entropy(double low, double high, double sum, double log_sum, std::size_t n);

// Turns m entropies into weights proportional to their divergences 1 - e.
void entropy_to_weights(const double* entropy, std::size_t m, double* weights);

// scores[i] = sum over j of y_ij * weights[j], in j order, for every row of
// `data`; y is recomputed from the extremes, never stored.
void entropy_scores(const StridedMatrix& data, const StridedVector<std::int64_t>& indicator_type,
                    const double* low, const double* high, const double* weights, double* scores);

}  // namespace ternavik
