// CoCoSo on the min-max normalisation r: S_i = sum_j r_ij w_j and
// P_i = sum_j r_ij^w_j (as exp(w ln r), r^0 = 1), both in criterion order;
// then, with sums over alternatives in row order,
//   ka_i = (P_i + S_i) / sum_k (P_k + S_k),
//   kb_i = S_i / min S + P_i / min P (see kb_divisor for a minimum of about 0),
//   kc_i = (lambda S_i + (1 - lambda) P_i) / (lambda max S + (1 - lambda) max P),
//   score_i = (ka_i kb_i kc_i)^(1/3) + (1/3) (ka_i + kb_i + kc_i).
#include <cmath>

#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

void sum_and_power_block(const TransformedMatrix& r, const TransformedMatrix& logs,
                         const double* w, std::size_t first, std::size_t size, double* s,
                         double* p) {
    double sums[alternative_block];
    double powers[alternative_block];
    for (std::size_t l = 0; l < size; ++l) sums[l] = powers[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* values = r.row(j) + first;
        const double* ln = logs.row(j) + first;
        for (std::size_t l = 0; l < size; ++l) {
            sums[l] = sums[l] + values[l] * w[j];
            powers[l] = powers[l] + std::exp(weighted_log(w[j], ln[l]));
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        s[first + l] = sums[l];
        p[first + l] = powers[l];
    }
}

// The divisor of k_b's ratio v / min v. When an alternative is worst on
// every criterion its S and P are 0 (and a near-worst one's are tiny), and
// dividing by that minimum makes every other k_b infinite or nearly so:
// the divisor is then the smallest value not below max v * 2^-52, so each
// ratio stays within 2^52 and keeps its order. Ordinary minima are used as
// they are.
double kb_divisor(const double* v, std::size_t n, const Extremes& e) {
    const double floor = e.max * 0x1p-52;
    if (e.min >= floor || e.min != e.min) return e.min;
    double least = e.max;
    for (std::size_t i = 0; i < n; ++i)
        if (v[i] >= floor && v[i] < least) least = v[i];
    return least;
}

// v / divisor, taken as 0 when every value is 0.
double ratio_to(double v, double divisor) { return divisor == 0.0 ? 0.0 : v / divisor; }

void combine(const double* s, const double* p, std::size_t n, double lambda, double* out) {
    const Extremes se = extremes_of_values(s, n);
    const Extremes pe = extremes_of_values(p, n);
    const double s_least = kb_divisor(s, n, se);
    const double p_least = kb_divisor(p, n, pe);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) total = total + (p[i] + s[i]);
    const double rest = 1.0 - lambda;
    const double best = lambda * se.max + rest * pe.max;
    for (std::size_t i = 0; i < n; ++i) {
        const double ka = (p[i] + s[i]) / total;
        const double kb = ratio_to(s[i], s_least) + ratio_to(p[i], p_least);
        const double kc = (lambda * s[i] + rest * p[i]) / best;
        out[i] = std::pow(ka * kb * kc, 1.0 / 3.0) + 1.0 / 3.0 * (ka + kb + kc);
    }
}

}  // namespace

Outcome<BatchScores> cocoso(const MethodInput& input, double lambda) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    auto r = normalize_matrix(input.data, criterion_kinds(input), Normalization::minmax);
    const TransformedMatrix logs = logarithms_of(r.value());
    BatchScores s(batch * n), p(batch * n), scores(batch * n);
    for_alternative_blocks(n, batch * m * 8, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            sum_and_power_block(r.value(), logs, weights.data() + k * m, first, size,
                                s.data() + k * n, p.data() + k * n);
    });
    for_each_weight_vector(batch, n, [&](std::size_t k) {
        combine(s.data() + k * n, p.data() + k * n, n, lambda, scores.data() + k * n);
    });
    return scores;
}

}  // namespace ternavik::mcda
