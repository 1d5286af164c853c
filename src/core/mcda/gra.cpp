// Grey relational analysis. r is the min-max normalisation (cost criteria
// turned around, a constant criterion 1 for everyone), Delta = 1 - r the
// deviation from the ideal sequence of ones, and with Delta_min and
// Delta_max taken over the whole matrix the grey relational coefficient is
// (Delta_min + zeta Delta_max) / (Delta + zeta Delta_max). The grade is the
// weighted sum of the coefficients in criterion order with the weights
// divided by their sum first, so it lies in [0, 1] and a uniform rescaling
// of the weights changes nothing.
#include "core/mcda/outranking.hpp"

#include <string>

#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

std::vector<double> unit_weight_rows(const MethodInput& input) {
    std::vector<double> rows = weight_rows(input);
    const std::size_t m = input.m();
    for (std::size_t k = 0; k < input.batch(); ++k) {
        const double total = sum_in_order(rows.data() + k * m, m);
        for (std::size_t j = 0; j < m; ++j) rows[k * m + j] = rows[k * m + j] / total;
    }
    return rows;
}

Outcome<BatchScores> gra(const MethodInput& input, double zeta) {
    if (auto error = check_method_input(input)) return std::move(*error);
    if (!(zeta > 0.0 && zeta <= 1.0))
        return CoreError{ErrorKind::value_error, "zeta must lie in (0, 1]"};
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    auto normalized = normalize_matrix(input.data, criterion_kinds(input), Normalization::minmax);
    if (!normalized.ok()) return std::move(normalized.error());
    TransformedMatrix& r = normalized.value();
    Extremes deviation;  // of 1 - r over the whole matrix: 1 - max r and 1 - min r
    for (std::size_t j = 0; j < m; ++j) {
        deviation.see(1.0 - r.ranges[j].max);
        deviation.see(1.0 - r.ranges[j].min);
    }
    const double low = deviation.min, spread = zeta * deviation.max;
    run_split(m, n * m * 4, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            double* column = r.values.get() + j * n;
            // Every criterion constant: nobody deviates, everyone ties at 1.
            for (std::size_t i = 0; i < n; ++i)
                column[i] = spread == 0.0 ? 1.0 : (low + spread) / ((1.0 - column[i]) + spread);
        }
    });
    return weighted_sums(r, unit_weight_rows(input), batch);
}

}  // namespace ternavik::mcda
