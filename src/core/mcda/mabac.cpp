// MABAC on the min-max normalisation r. The border approximation area of
// criterion j is G_j = w_j g_j with g_j the geometric mean of (r_ij + 1);
// score_i = sum_j ((r_ij + 1) w_j - G_j) in criterion order. Weights are
// taken as non-negative, as the method defines them.
#include <cmath>

#include "core/mcda/methods.hpp"
#include "core/checked_size.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

// Geometric mean of (r_i + 1), i in row order. The running product is
// rescaled by a power of two (exactly) every 256 factors, so it neither
// overflows nor underflows for any number of alternatives.
double shifted_geometric_mean(const double* r, std::size_t n) {
    double product = 1.0;
    long long exponent = 0;
    for (std::size_t i = 0; i < n; ++i) {
        product = product * (r[i] + 1.0);
        if ((i & 255) == 255) {
            int e = 0;
            product = std::frexp(product, &e);
            exponent += e;
        }
    }
    const double log_product = std::log(product) + static_cast<double>(exponent) * std::log(2.0);
    return std::exp(log_product / static_cast<double>(n));
}

void border_distance_block(const TransformedMatrix& r, const double* w, const double* border,
                           std::size_t first, std::size_t size, double* out) {
    double acc[alternative_block];
    for (std::size_t l = 0; l < size; ++l) acc[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* column = r.row(j) + first;
        for (std::size_t l = 0; l < size; ++l)
            acc[l] = acc[l] + ((column[l] + 1.0) * w[j] - border[j]);
    }
    for (std::size_t l = 0; l < size; ++l) out[l] = acc[l];
}

}  // namespace

Outcome<BatchScores> mabac(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    auto r = normalize_matrix(input.data, criterion_kinds(input), Normalization::minmax);
    std::vector<double> means(m);
    run_split(m, n * m * 2, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j)
            means[j] = shifted_geometric_mean(r.value().row(j), n);
    });
    std::vector<double> borders(allocation_elements({batch, m}));
    for (std::size_t e = 0; e < borders.size(); ++e) borders[e] = weights[e] * means[e % m];
    BatchScores scores(allocation_elements({batch, n}));
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            border_distance_block(r.value(), weights.data() + k * m, borders.data() + k * m,
                                  first, size, scores.data() + k * n + first);
    });
    return scores;
}

}  // namespace ternavik::mcda
