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

// Min-max normalises one criterion's n values (with their extremes already
// scanned) into `normalised` and returns its entropy divided by ln(n).
double normalise_and_entropy(const double* column, std::size_t n, IndicatorKind kind,
                             Extremes extremes, double* normalised);

// Turns m entropies into weights proportional to their divergences 1 - e.
void entropy_to_weights(const double* entropy, std::size_t m, double* weights);

// scores[i] = sum over j of normalised[j * n + i] * weights[j], in j order.
void composite_scores(const double* normalised, const double* weights, std::size_t n,
                      std::size_t m, double* scores);

}  // namespace ternavik
