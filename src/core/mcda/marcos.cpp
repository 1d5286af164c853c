// MARCOS. The ideal AI (max for benefit, min for cost) normalises every
// criterion: r = x / AI for benefit, AI / x for cost, so AI itself scores 1
// and the anti-ideal min / max on either kind. With S_i, S_AI, S_AAI the
// weighted sums (criterion order), K-_i = S_i / S_AAI, K+_i = S_i / S_AI,
// f(K+) = K- / (K+ + K-), f(K-) = K+ / (K+ + K-) and the utility is
// (K+ + K-) / (1 + (1 - f(K+)) / f(K+) + (1 - f(K-)) / f(K-)).
#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

bool ratio_to_ideal(double* x, std::size_t n, IndicatorKind kind, double& anti_ideal) {
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) e.see(x[i]);
    const bool benefit = kind == IndicatorKind::Benefit;
    for (std::size_t i = 0; i < n; ++i) x[i] = benefit ? x[i] / e.max : e.min / x[i];
    anti_ideal = e.min / e.max;
    return true;
}

double utility(double s, double s_ideal, double s_anti) {
    const double k_minus = s / s_anti;
    const double k_plus = s / s_ideal;
    const double f_plus = k_minus / (k_plus + k_minus);
    const double f_minus = k_plus / (k_plus + k_minus);
    return (k_plus + k_minus) / (1.0 + (1.0 - f_plus) / f_plus + (1.0 - f_minus) / f_minus);
}

}  // namespace

Outcome<BatchScores> marcos(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    std::vector<double> anti(m);
    auto r = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            return ratio_to_ideal(column, rows, kinds[j], anti[j]);
        },
        "");
    BatchScores scores = weighted_sums(r.value(), weights, batch);
    for_each_weight_vector(batch, n, [&](std::size_t k) {
        double s_ideal = 0.0, s_anti = 0.0;
        for (std::size_t j = 0; j < m; ++j) {
            s_ideal = s_ideal + 1.0 * weights[k * m + j];
            s_anti = s_anti + anti[j] * weights[k * m + j];
        }
        for (std::size_t i = 0; i < n; ++i)
            scores[k * n + i] = utility(scores[k * n + i], s_ideal, s_anti);
    });
    return scores;
}

}  // namespace ternavik::mcda
