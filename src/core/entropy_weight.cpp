#include "core/entropy_weight.hpp"

#include <cmath>

#include "core/nan_order.hpp"

namespace ternavik {

namespace {

// Alternatives scored together; their running sums stay in L1 while the
// criterion rows stream past.
constexpr std::size_t score_block = 256;

// Criterion-pass kernel: normalises criterion j into row j of Y and keeps e_j.
struct EntropyKernel {
    using Scan = Extremes;
    const StridedVector<std::int64_t>& codes;
    std::size_t n;
    double* normalised;
    double* entropy;

    void finish(std::size_t j, const double* column, const Extremes& extremes) const {
        entropy[j] = normalise_and_entropy(column, n, indicator_kind(codes[j]), extremes,
                                           normalised + j * n);
    }
};

// Sum of the divergences: plain for fewer than eight, else eight interleaved
// partial sums folded in a fixed pattern, then the tail.
double divergence_sum(const double* d, std::size_t m) {
    if (m < 8) {
        double sum = 0.0;
        for (std::size_t j = 0; j < m; ++j) sum = sum + d[j];
        return sum;
    }
    double p[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    const std::size_t whole = m / 8 * 8;
    for (std::size_t j = 0; j < whole; j += 8) {
        for (std::size_t k = 0; k < 8; ++k) p[k] = p[k] + d[j + k];
    }
    double acc = (((0.0 + (p[0] + p[4])) + (p[1] + p[5])) + (p[2] + p[6])) + (p[3] + p[7]);
    for (std::size_t j = whole; j < m; ++j) acc = acc + d[j];
    return acc;
}

}  // namespace

double normalise_and_entropy(const double* column, std::size_t n, IndicatorKind kind,
                             Extremes extremes, double* normalised) {
    const double r = extremes.max - extremes.min;
    if (r == 0.0) {
        for (std::size_t i = 0; i < n; ++i) normalised[i] = 1.0;
        return 1.0;
    }
    double s = 0.0;
    double t = 0.0;
    const bool benefit = kind == IndicatorKind::Benefit;
    // A NaN range (both extremes the same infinity) meets NaN differences:
    // those take the ordered path so their bits follow the source order.
    const bool nan_range = is_nan(r);
    for (std::size_t i = 0; i < n; ++i) {
        const double difference = benefit ? column[i] - extremes.min : extremes.max - column[i];
        const double y = nan_range ? ordered_div(difference, r) : difference / r;
        normalised[i] = y;
        s = s + y;
        if (y > 1e-12) t = t + std::log(y) * y;
    }
    if (!(s > 0.0)) return 1.0;
    const double log_n = std::log(static_cast<double>(n));
    const double bracket = t / s - std::log(s);
    return (-1.0 / log_n) * bracket;
}

void entropy_to_weights(const double* entropy, std::size_t m, double* weights) {
    for (std::size_t j = 0; j < m; ++j) weights[j] = 1.0 - entropy[j];
    const double total = divergence_sum(weights, m);
    if (total == 0.0) {
        const double even = 1.0 / static_cast<double>(m);
        for (std::size_t j = 0; j < m; ++j) weights[j] = even;
        return;
    }
    for (std::size_t j = 0; j < m; ++j) weights[j] = weights[j] / total;
}

void composite_scores(const double* normalised, const double* weights, std::size_t n,
                      std::size_t m, double* scores) {
    for (std::size_t i = 0; i < n; ++i) scores[i] = 0.0;
    for (std::size_t begin = 0; begin < n; begin += score_block) {
        const std::size_t count = n - begin < score_block ? n - begin : score_block;
        double* out = scores + begin;
        for (std::size_t j = 0; j < m; ++j) {
            const double* y = normalised + j * n + begin;
            const double w = weights[j];
            for (std::size_t l = 0; l < count; ++l) out[l] = out[l] + y[l] * w;
        }
    }
    // NaN scores again one operation at a time (see nan_order.hpp).
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_nan(scores[i])) continue;
        double sum = 0.0;
        for (std::size_t j = 0; j < m; ++j)
            sum = ordered_add(sum, ordered_mul(normalised[j * n + i], weights[j]));
        scores[i] = sum;
    }
}

Outcome<EntropyWeightResult> entropy_weight(const StridedMatrix& data,
                                            const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    auto copy = uninitialised_matrix(n, m);  // filled column by column in the pass
    auto normalised = uninitialised_matrix(m, n);
    std::vector<double> entropy(m);
    check_criterion_length(indicator_type.size(), m);

    run_criterion_pass(data, copy.get(),
                       EntropyKernel{indicator_type, n, normalised.get(), entropy.data()});
    EntropyWeightResult result{std::vector<double>(m), std::vector<double>(n)};
    entropy_to_weights(entropy.data(), m, result.weights.data());
    composite_scores(normalised.get(), result.weights.data(), n, m, result.scores.data());
    return result;
}

}  // namespace ternavik
