// TOPSIS on any normalisation: v = r * w, the ideal and anti-ideal are the
// largest and smallest v of each criterion (the normalisation already made
// larger better), and each alternative's closeness is D- / (D+ + D-).
#include <cmath>

#include "core/mcda/methods.hpp"
#include "core/checked_size.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

// Ideal and anti-ideal weighted values of every criterion for one weight
// vector. Rounding is monotone, so max(r * w) is exactly max(r) * w for
// w >= 0 and min(r) * w for w < 0: no scan of the weighted values needed.
void weighted_ideals(const TransformedMatrix& r, const double* w, double* ideal, double* anti) {
    for (std::size_t j = 0; j < r.m; ++j) {
        const bool flips = w[j] < 0.0;
        ideal[j] = (flips ? r.ranges[j].min : r.ranges[j].max) * w[j];
        anti[j] = (flips ? r.ranges[j].max : r.ranges[j].min) * w[j];
    }
}

void closeness_block(const TransformedMatrix& r, const double* w, const double* ideal,
                     const double* anti, std::size_t first, std::size_t size, double* out) {
    double plus[alternative_block];
    double minus[alternative_block];
    for (std::size_t l = 0; l < size; ++l) plus[l] = minus[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* column = r.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            const double v = column[l] * w[j];
            const double p = v - ideal[j];
            const double q = v - anti[j];
            plus[l] = plus[l] + p * p;
            minus[l] = minus[l] + q * q;
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        const double d_plus = std::sqrt(plus[l]);
        const double d_minus = std::sqrt(minus[l]);
        const double both = d_plus + d_minus;
        out[l] = both == 0.0 ? 0.5 : d_minus / both;
    }
}

}  // namespace

Outcome<BatchScores> topsis(const MethodInput& input, Normalization normalization) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    auto normalized = normalize_matrix(input.data, criterion_kinds(input), normalization);
    if (!normalized.ok()) return std::move(normalized.error());
    const TransformedMatrix& r = normalized.value();

    std::vector<double> ideals(allocation_elements({2, batch, m}));
    for (std::size_t k = 0; k < batch; ++k)
        weighted_ideals(r, weights.data() + k * m, ideals.data() + 2 * k * m,
                        ideals.data() + (2 * k + 1) * m);
    BatchScores closeness(allocation_elements({batch, n}));
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            closeness_block(r, weights.data() + k * m, ideals.data() + 2 * k * m,
                            ideals.data() + (2 * k + 1) * m, first, size,
                            closeness.data() + k * n + first);
    });
    return closeness;
}

}  // namespace ternavik::mcda
