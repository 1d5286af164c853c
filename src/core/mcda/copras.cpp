// COPRAS. r_ij = x_ij / sum_i x_ij for every criterion (kinds do not flip
// it), S+_i and S-_i are the weighted sums over the benefit and the cost
// criteria, and the relative significance is the method's own
//   Q_i = S+_i + (min S- * sum_k S-_k) / (S-_i * sum_k (min S- / S-_k)),
// both sums over k = 0 .. n-1 in order. The score is Q_i / max Q. Without
// cost criteria Q_i = S+_i.
#include <algorithm>

#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

void relative_significance(const double* plus, const double* minus, std::size_t n, bool any_cost,
                           double* score) {
    if (!any_cost) {
        for (std::size_t i = 0; i < n; ++i) score[i] = plus[i];
    } else {
        const double least = extremes_of_values(minus, n).min;
        double total = 0.0;
        double ratios = 0.0;
        for (std::size_t i = 0; i < n; ++i) total = total + minus[i];
        if (least == 0.0) {
            // Cost shares that underflowed to 0 (a criterion spanning more
            // than the range of doubles): the formula's limit as they go to 0
            // gives them total / (how many) and every other alternative 0.
            double zeros = 0.0;
            for (std::size_t i = 0; i < n; ++i) zeros = zeros + (minus[i] == 0.0 ? 1.0 : 0.0);
            for (std::size_t i = 0; i < n; ++i)
                score[i] = plus[i] + (minus[i] == 0.0 ? total / zeros : 0.0);
        } else {
            for (std::size_t i = 0; i < n; ++i) ratios = ratios + least / minus[i];
            for (std::size_t i = 0; i < n; ++i)
                score[i] = plus[i] + (least * total) / (minus[i] * ratios);
        }
    }
    const double top = extremes_of_values(score, n).max;
    for (std::size_t i = 0; i < n; ++i) score[i] = score[i] / top;
}

}  // namespace

Outcome<BatchScores> copras(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto shares = transform_criteria(
        input.data,
        [](std::size_t, double* column, std::size_t rows) {
            return normalize_column(Normalization::sum, column, rows, IndicatorKind::Benefit);
        },
        "COPRAS needs every value > 0");
    if (!shares.ok()) return std::move(shares.error());
    const std::vector<char> benefit = criteria_of_kind(kinds, IndicatorKind::Benefit);
    const std::vector<char> cost = criteria_of_kind(kinds, IndicatorKind::Cost);
    const bool any_cost = std::find(cost.begin(), cost.end(), 1) != cost.end();
    const std::vector<double> plus = weighted_sums(shares.value(), weights, batch, benefit.data());
    const std::vector<double> minus = weighted_sums(shares.value(), weights, batch, cost.data());
    BatchScores scores(batch * n);
    for_each_weight_vector(batch, n, [&](std::size_t k) {
        relative_significance(plus.data() + k * n, minus.data() + k * n, n, any_cost,
                              scores.data() + k * n);
    });
    return scores;
}

}  // namespace ternavik::mcda
