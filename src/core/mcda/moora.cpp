// MOORA's ratio system: r_ij = x_ij / sqrt(sum_i x_ij^2) for every criterion,
// score_i = sum over benefit criteria of r_ij w_j - sum over cost criteria
// of r_ij w_j, each sum from 0.0 in criterion order.
#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

Outcome<BatchScores> moora(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto r = transform_criteria(
        input.data,
        [](std::size_t, double* column, std::size_t rows) {
            return normalize_column(Normalization::vector, column, rows, IndicatorKind::Benefit);
        },
        "");
    const std::vector<char> benefit = criteria_of_kind(kinds, IndicatorKind::Benefit);
    const std::vector<char> cost = criteria_of_kind(kinds, IndicatorKind::Cost);
    BatchScores scores = weighted_sums(r.value(), weights, batch, benefit.data());
    const std::vector<double> costs = weighted_sums(r.value(), weights, batch, cost.data());
    for (std::size_t e = 0; e < scores.size(); ++e) scores[e] = scores[e] - costs[e];
    return scores;
}

}  // namespace ternavik::mcda
