// CODAS on the linear normalisation r with v = r w. From the negative ideal
// nis_j = min_i v_ij, E_i = sqrt(sum_j (v_ij - nis_j)^2) and
// T_i = sum_j |v_ij - nis_j|; the score is
// H_i = sum_k ((E_i - E_k) + psi(E_i - E_k) (T_i - T_k)), k = 0 .. n-1 in
// order, with psi(x) = 1 when |x| >= tau, else 0.
#include <cmath>

#include "core/mcda/methods.hpp"
#include "core/checked_size.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

void distances_block(const TransformedMatrix& r, const double* w, const double* nis,
                     std::size_t first, std::size_t size, double* euclid, double* taxicab) {
    double squares[alternative_block];
    double absolute[alternative_block];
    for (std::size_t l = 0; l < size; ++l) squares[l] = absolute[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* column = r.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            const double gap = column[l] * w[j] - nis[j];
            squares[l] = squares[l] + gap * gap;
            absolute[l] = absolute[l] + std::fabs(gap);
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        euclid[first + l] = std::sqrt(squares[l]);
        taxicab[first + l] = absolute[l];
    }
}

void assessment_block(const double* e, const double* t, std::size_t n, double tau,
                      std::size_t first, std::size_t size, double* out) {
    double acc[alternative_block];
    for (std::size_t l = 0; l < size; ++l) acc[l] = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t l = 0; l < size; ++l) {
            const double de = e[first + l] - e[k];
            const double psi = std::fabs(de) >= tau ? 1.0 : 0.0;
            acc[l] = acc[l] + (de + psi * (t[first + l] - t[k]));
        }
    }
    for (std::size_t l = 0; l < size; ++l) out[first + l] = acc[l];
}

}  // namespace

Outcome<BatchScores> codas(const MethodInput& input, double tau) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    auto normalized = normalize_matrix(input.data, criterion_kinds(input), Normalization::linear);
    if (!normalized.ok()) return std::move(normalized.error());
    const TransformedMatrix& r = normalized.value();
    // min(r * w) is exactly min(r) * w for w >= 0 and max(r) * w for w < 0.
    std::vector<double> nis(allocation_elements({batch, m}));
    for (std::size_t e = 0; e < nis.size(); ++e) {
        const double w = weights[e];
        nis[e] = (w < 0.0 ? r.ranges[e % m].max : r.ranges[e % m].min) * w;
    }
    const std::size_t size = allocation_elements({batch, n});
    BatchScores euclid(size), taxicab(size), scores(size);
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            distances_block(r, weights.data() + k * m, nis.data() + k * m, first, size,
                            euclid.data() + k * n, taxicab.data() + k * n);
    });
    for_alternative_blocks(n, batch * n, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            assessment_block(euclid.data() + k * n, taxicab.data() + k * n, n, tau, first, size,
                             scores.data() + k * n);
    });
    return scores;
}

}  // namespace ternavik::mcda
