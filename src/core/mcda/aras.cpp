// ARAS. The optimal alternative x0_j (max for benefit, min for cost) joins
// the matrix ahead of row 0; the sum normalisation over the n + 1 values
// (x0 first) gives r0_j and r_ij (cost: (1 / x) / sum(1 / x)); S_i and S0 are
// weighted sums in criterion order and the utility degree is S_i / S0.
#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

bool shares_with_optimum(double* x, std::size_t n, IndicatorKind kind, double& optimum_share) {
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] <= 0.0) return false;  // NaN propagates instead
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) e.see(x[i]);
    const bool benefit = kind == IndicatorKind::Benefit;
    const double optimum = benefit ? e.max : 1.0 / e.min;
    double total = optimum;
    for (std::size_t i = 0; i < n; ++i) total = total + (benefit ? x[i] : 1.0 / x[i]);
    optimum_share = optimum / total;
    for (std::size_t i = 0; i < n; ++i) x[i] = benefit ? x[i] / total : (1.0 / x[i]) / total;
    return true;
}

}  // namespace

Outcome<BatchScores> aras(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    std::vector<double> optimum(m);
    auto r = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            return shares_with_optimum(column, rows, kinds[j], optimum[j]);
        },
        "ARAS needs every value > 0");
    if (!r.ok()) return std::move(r.error());
    BatchScores scores = weighted_sums(r.value(), weights, batch);
    for (std::size_t k = 0; k < batch; ++k) {
        double best = 0.0;
        for (std::size_t j = 0; j < m; ++j) best = best + optimum[j] * weights[k * m + j];
        for (std::size_t i = 0; i < n; ++i) scores[k * n + i] = scores[k * n + i] / best;
    }
    return scores;
}

}  // namespace ternavik::mcda
