// WASPAS on the linear normalisation r (x / max x, cost min x / x):
// WSM_i = sum_j r_ij w_j, WPM_i = prod_j r_ij^w_j evaluated as
// exp(sum_j w_j ln r_ij) (r^0 = 1), score = lambda WSM_i + (1 - lambda) WPM_i.
// lambda = 1 is WSM alone, lambda = 0 WPM alone.
#include "core/mcda/methods.hpp"
#include "core/checked_size.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

void waspas_block(const TransformedMatrix& r, const TransformedMatrix& logs, const double* w,
                  double lambda, std::size_t first, std::size_t size, double* out) {
    double sums[alternative_block];
    double log_products[alternative_block];
    for (std::size_t l = 0; l < size; ++l) sums[l] = log_products[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* values = r.row(j) + first;
        const double* ln = logs.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            sums[l] = sums[l] + values[l] * w[j];
            log_products[l] = log_products[l] + weighted_log(w[j], ln[l]);
        }
    }
    const double rest = 1.0 - lambda;
    for (std::size_t l = 0; l < size; ++l)
        out[l] = lambda * sums[l] + rest * std::exp(log_products[l]);
}

}  // namespace

Outcome<BatchScores> waspas(const MethodInput& input, double lambda) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    auto r = normalize_matrix(input.data, criterion_kinds(input), Normalization::linear);
    if (!r.ok()) return std::move(r.error());
    const TransformedMatrix logs = logarithms_of(r.value());
    BatchScores scores(allocation_elements({batch, n}));
    for_alternative_blocks(n, batch * m * 4, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            waspas_block(r.value(), logs, weights.data() + k * m, lambda, first, size,
                         scores.data() + k * n + first);
    });
    return scores;
}

}  // namespace ternavik::mcda
