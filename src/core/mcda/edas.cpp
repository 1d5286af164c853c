// EDAS. With the criterion mean a_j = (sum_i x_ij) / n and the signed
// distance t_ij = (x_ij - a_j) / a_j (cost: (a_j - x_ij) / a_j), the
// positive and negative distances are max(t, 0) and max(-t, 0);
// SP_i, SN_i are their weighted sums and the score is
// (SP_i / max SP + (1 - SN_i / max SN)) / 2.
#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

bool distance_from_average(double* x, std::size_t n, IndicatorKind kind) {
    const double average = sum_in_order(x, n) / static_cast<double>(n);
    // An all-zero criterion (average 0 on data of at least 0) is constant:
    // no alternative is above or below its average.
    for (std::size_t i = 0; i < n; ++i)
        x[i] = average == 0.0 && x[i] == 0.0 ? 0.0
               : kind == IndicatorKind::Benefit ? (x[i] - average) / average
                                                : (average - x[i]) / average;
    return true;
}

void distance_sums_block(const TransformedMatrix& t, const double* w, std::size_t first,
                         std::size_t size, double* positive, double* negative) {
    double sp[alternative_block];
    double sn[alternative_block];
    for (std::size_t l = 0; l < size; ++l) sp[l] = sn[l] = 0.0;
    for (std::size_t j = 0; j < t.m; ++j) {
        const double* column = t.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            // A NaN distance stays NaN in both sums (NaN in, NaN out).
            const double t = column[l];
            const double above = t >= 0.0 ? t : (t < 0.0 ? 0.0 : t);
            const double below = t <= 0.0 ? -t : (t > 0.0 ? 0.0 : t);
            sp[l] = sp[l] + w[j] * above;
            sn[l] = sn[l] + w[j] * below;
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        positive[first + l] = sp[l];
        negative[first + l] = sn[l];
    }
}

}  // namespace

Outcome<BatchScores> edas(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto t = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            return distance_from_average(column, rows, kinds[j]);
        },
        "");
    BatchScores positive(batch * n), negative(batch * n), scores(batch * n);
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            distance_sums_block(t.value(), weights.data() + k * m, first, size,
                                positive.data() + k * n, negative.data() + k * n);
    });
    for_each_weight_vector(batch, n, [&](std::size_t k) {
        const double* sp = positive.data() + k * n;
        const double* sn = negative.data() + k * n;
        const double top_sp = extremes_of_values(sp, n).max;
        const double top_sn = extremes_of_values(sn, n).max;
        // Nobody above (below) the average: that part separates nobody and is
        // 0, so an all-equal matrix scores 0.5 throughout rather than NaN.
        for (std::size_t i = 0; i < n; ++i) {
            const double positive = top_sp == 0.0 && sp[i] == 0.0 ? 0.0 : sp[i] / top_sp;
            const double negative = top_sn == 0.0 && sn[i] == 0.0 ? 0.0 : sn[i] / top_sn;
            scores[k * n + i] = (positive + (1.0 - negative)) / 2.0;
        }
    });
    return scores;
}

}  // namespace ternavik::mcda
