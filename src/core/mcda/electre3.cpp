// ELECTRE III credibility. With f_j = x_j on benefit and -x_j on cost
// criteria and g = f_j(b) - f_j(a), the amount by which b beats a on j:
//   partial concordance c_j(a, b) = 1 when g <= q_j, 0 when g >= p_j,
//                                   else (p_j - g) / (p_j - q_j);
//   discordance         d_j(a, b) = 0 when g <= p_j, 1 when g >= v_j,
//                                   else (g - p_j) / (v_j - p_j);
//   concordance         C(a, b)   = sum of w_j c_j(a, b), w divided by its
//                                   sum first, added in criterion order from 0.0;
//   credibility         sigma(a, b) = C(a, b) multiplied, criterion by
//                                   criterion in order, by (1 - d_j) / (1 - C)
//                                   for every j with d_j > C.
// The diagonal is 1. Differences and thresholds are taken as halves: halving
// is exact in binary64 above the subnormals, so every ratio equals the one
// from the full values wherever those are finite, and g stays finite where
// f_j(b) - f_j(a) would overflow.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "core/checked_size.hpp"
#include "core/mcda/outranking.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

std::optional<CoreError> check_thresholds(const PseudoCriteria& t, std::size_t m) {
    if (t.q.size() != m || t.p.size() != m || t.v.size() != m)
        return CoreError{ErrorKind::value_error, "q, p and v need one entry per criterion"};
    for (std::size_t j = 0; j < m; ++j) {
        const double q = t.q[j], p = t.p[j], v = t.v[j];
        if (!(std::isfinite(q) && std::isfinite(p) && 0.0 <= q && q <= p && p <= v))
            return CoreError{ErrorKind::value_error,
                             "criterion #" + std::to_string(j) +
                                 ": ELECTRE III needs 0 <= q <= p <= v with q and p finite"};
    }
    return std::nullopt;
}

double partial_concordance(double g, double q, double p) {
    if (g <= q) return 1.0;
    if (g >= p) return 0.0;
    return (p - g) / (p - q);
}

double discordance(double g, double p, double v) {
    if (g <= p) return 0.0;
    if (g >= v) return 1.0;
    return (g - p) / (v - p);
}

}  // namespace

Outcome<BatchScores> electre3_credibility(const MethodInput& input,
                                          const PseudoCriteria& thresholds) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    if (auto error = check_thresholds(thresholds, m)) return std::move(*error);
    const TransformedMatrix f = benefit_oriented(input);
    std::vector<double> q(m), p(m), v(m);
    for (std::size_t j = 0; j < m; ++j) {
        q[j] = thresholds.q[j] / 2.0;
        p[j] = thresholds.p[j] / 2.0;
        v[j] = thresholds.v[j] / 2.0;
    }
    const std::vector<double> weights = unit_weight_rows(input);
    BatchScores credibility(allocation_elements({batch, n, n}));
    // Row a's partial concordances and discordances (m x n each) do not
    // depend on the weights: computed once, then combined per weight vector.
    run_split(n, (batch + 4) * n * n * m, [&](std::size_t begin, std::size_t end) {
        std::vector<double> agree(allocation_elements({m, n})), veto(agree.size()), concordance(n);
        for (std::size_t a = begin; a < end; ++a) {
            for (std::size_t j = 0; j < m; ++j) {
                const double* column = f.row(j);
                const double mine = column[a] / 2.0;
                for (std::size_t b = 0; b < n; ++b) {
                    const double g = column[b] / 2.0 - mine;
                    agree[j * n + b] = partial_concordance(g, q[j], p[j]);
                    veto[j * n + b] = discordance(g, p[j], v[j]);
                }
            }
            for (std::size_t k = 0; k < batch; ++k) {
                const double* w = weights.data() + k * m;
                std::fill(concordance.begin(), concordance.end(), 0.0);
                for (std::size_t j = 0; j < m; ++j)
                    for (std::size_t b = 0; b < n; ++b)
                        concordance[b] = concordance[b] + w[j] * agree[j * n + b];
                double* row = credibility.data() + (k * n + a) * n;
                for (std::size_t b = 0; b < n; ++b) {
                    const double c = concordance[b];
                    double sigma = c;
                    for (std::size_t j = 0; j < m; ++j) {
                        const double d = veto[j * n + b];
                        if (d > c) sigma = sigma * ((1.0 - d) / (1.0 - c));
                    }
                    row[b] = b == a ? 1.0 : sigma;
                }
            }
        }
    });
    return credibility;
}

}  // namespace ternavik::mcda
