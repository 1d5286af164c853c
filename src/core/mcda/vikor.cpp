// VIKOR: d_ij = (f*_j - f_ij) / (f*_j - f-_j) with f = x for benefit and
// f = max(x) - x for cost criteria; S_i = sum_j w_j d_ij, R_i = max_j w_j d_ij,
// Q_i = v (S_i - S*) / (S- - S*) + (1 - v) (R_i - R*) / (R- - R*).
#include <limits>

#include "core/checked_size.hpp"
#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

// The regret of every alternative on criterion j; a constant criterion
// separates no alternatives, so its regret is 0 instead of 0 / 0.
bool regret_column(double* x, std::size_t n, IndicatorKind kind) {
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) e.see(x[i]);
    // For cost criteria f = max - x, whose extremes are max - min and 0.
    const bool benefit = kind == IndicatorKind::Benefit;
    const double best = benefit ? e.max : e.max - e.min;
    const double worst = benefit ? e.min : 0.0;
    const double range = best - worst;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = benefit ? x[i] : e.max - x[i];
        x[i] = range == 0.0 ? 0.0 : (best - f) / range;
    }
    return true;
}

void utility_and_regret_block(const TransformedMatrix& d, const double* w, std::size_t first,
                              std::size_t size, double* s, double* r) {
    double sum[alternative_block];
    double most[alternative_block];
    // Without criteria there is no regret (0), not a maximum of nothing.
    const double none = d.m == 0 ? 0.0 : -std::numeric_limits<double>::infinity();
    for (std::size_t l = 0; l < size; ++l) {
        sum[l] = 0.0;
        most[l] = none;
    }
    for (std::size_t j = 0; j < d.m; ++j) {
        const double* column = d.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            const double t = w[j] * column[l];
            sum[l] = sum[l] + t;
            most[l] = t > most[l] ? t : most[l];
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        s[first + l] = sum[l];
        r[first + l] = most[l];
    }
}

// (value - best) / (worst - best), or 0 when every alternative ties.
double spread(double value, const Extremes& e, double factor) {
    const double range = e.max - e.min;
    return range == 0.0 ? 0.0 : factor * (value - e.min) / range;
}

}  // namespace

Outcome<VikorScores> vikor(const MethodInput& input, double v) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto regrets = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            return regret_column(column, rows, kinds[j]);
        },
        "");
    const TransformedMatrix& d = regrets.value();

    const std::size_t size = allocation_elements({batch, n});
    VikorScores out{BatchScores(size), BatchScores(size), BatchScores(size)};
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            utility_and_regret_block(d, weights.data() + k * m, first, size,
                                     out.s.data() + k * n, out.r.data() + k * n);
    });
    for_each_weight_vector(batch, n, [&](std::size_t k) {
        const double* s = out.s.data() + k * n;
        const double* r = out.r.data() + k * n;
        const Extremes se = extremes_of_values(s, n);
        const Extremes re = extremes_of_values(r, n);
        for (std::size_t i = 0; i < n; ++i)
            out.q[k * n + i] = spread(s[i], se, v) + spread(r[i], re, 1.0 - v);
    });
    return out;
}

}  // namespace ternavik::mcda
