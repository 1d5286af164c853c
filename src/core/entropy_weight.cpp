#include "core/entropy_weight.hpp"

#include <cmath>
#include <limits>

#include "core/checked_size.hpp"
#include "core/decision_passes.hpp"
#include "core/nan_order.hpp"

namespace ternavik {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Extremes of eight criteria, row by row.
struct ExtremesScan {
    DoublePair low[group_pairs];
    DoublePair high[group_pairs];

    void row(const DoublePair* x) {
        for (std::size_t p = 0; p < group_pairs; ++p) {
            low[p] = x[p] < low[p] ? x[p] : low[p];
            high[p] = x[p] > high[p] ? x[p] : high[p];
        }
    }
};

// Normalised value of x: (x - low) / r for a benefit criterion, (high - x) / r
// for a cost one.
struct Normaliser {
    double low, high, range;
    bool benefit;

    double operator()(double x) const { return (benefit ? x - low : high - x) / range; }
};

Normaliser normaliser(const StridedVector<std::int64_t>& codes, const double* low,
                      const double* high, std::size_t j) {
    return {low[j], high[j], high[j] - low[j],
            indicator_kind(codes[j]) == IndicatorKind::Benefit};
}

using LanePick = long long __attribute__((vector_size(16)));

// S and T of eight criteria, row by row: the normalised values and their
// sums side by side, then the logarithms one lane at a time.
struct SumsScan {
    DoublePair low[group_pairs], high[group_pairs], range[group_pairs];
    LanePick benefit[group_pairs];  // all ones in a benefit criterion's lane
    DoublePair sum[group_pairs];
    double log_sum[criterion_group];

    void row(const DoublePair* x) {
        double y[criterion_group];
        for (std::size_t p = 0; p < group_pairs; ++p) {
            const DoublePair up = x[p] - low[p];
            const DoublePair down = high[p] - x[p];
            const DoublePair normalised = (benefit[p] ? up : down) / range[p];
            sum[p] = sum[p] + normalised;
            std::memcpy(&y[2 * p], &normalised, sizeof normalised);
        }
        for (std::size_t g = 0; g < criterion_group; ++g) {
            if (y[g] > 1e-12) log_sum[g] = log_sum[g] + std::log(y[g]) * y[g];
        }
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

// Score of row i one operation at a time, for scores that came out NaN.
double ordered_score(const StridedMatrix& data, std::size_t i,
                     const StridedVector<std::int64_t>& codes, const double* low,
                     const double* high, const double* weights) {
    double score = 0.0;
    for (std::size_t j = 0; j < data.cols; ++j) {
        const Normaliser n = normaliser(codes, low, high, j);
        const double x = data.at(i, j);
        const double y =
            n.range == 0.0 ? 1.0 : ordered_div(n.benefit ? x - n.low : n.high - x, n.range);
        score = ordered_add(score, ordered_mul(y, weights[j]));
    }
    return score;
}

// Scores of up to row_block rows from `first`, accumulated side by side.
// Missing rows repeat the block's first row and are not written.
void scores_of_block(const StridedMatrix& data, const StridedVector<std::int64_t>& codes,
                     const double* low, const double* high, const double* weights,
                     std::size_t first, std::size_t rows, double* scores) {
    const char* row[row_block];
    for (std::size_t l = 0; l < row_block; ++l) {
        const std::size_t i = first + (l < rows ? l : 0);
        row[l] = data.first + static_cast<std::ptrdiff_t>(i) * data.row_stride;
    }
    DoublePair sum[row_pairs] = {};
    for (std::size_t j = 0; j < data.cols; ++j) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(j) * data.col_stride;
        const Normaliser n = normaliser(codes, low, high, j);
        const DoublePair w = {weights[j], weights[j]};
        if (n.range == 0.0) {  // a constant criterion: every y is 1.0
            const DoublePair one = {1.0, 1.0};
            for (std::size_t p = 0; p < row_pairs; ++p) sum[p] = sum[p] + one * w;
            continue;
        }
        const DoublePair lowest = {n.low, n.low}, highest = {n.high, n.high};
        const DoublePair range = {n.range, n.range};
        for (std::size_t p = 0; p < row_pairs; ++p) {
            const DoublePair x = load_column_pair(row[2 * p] + offset, row[2 * p + 1] + offset);
            const DoublePair y = (n.benefit ? x - lowest : highest - x) / range;
            sum[p] = sum[p] + y * w;
        }
    }
    double sums[row_block];
    std::memcpy(sums, sum, sizeof sums);
    for (std::size_t l = 0; l < rows; ++l) {
        scores[first + l] = is_nan(sums[l])
                                ? ordered_score(data, first + l, codes, low, high, weights)
                                : sums[l];
    }
}

// Column-pass kernel of the extremes.
struct ExtremesKernel {
    double* low;
    double* high;

    ExtremesScan start(std::size_t first, std::size_t count) const {
        double lows[criterion_group] = {}, highs[criterion_group] = {};
        std::memcpy(lows, low + first, count * sizeof(double));
        std::memcpy(highs, high + first, count * sizeof(double));
        ExtremesScan scan;
        for (std::size_t p = 0; p < group_pairs; ++p) {
            scan.low[p] = load_pair(lows + 2 * p);
            scan.high[p] = load_pair(highs + 2 * p);
        }
        return scan;
    }

    void finish(std::size_t first, std::size_t count, const ExtremesScan& scan) const {
        double lows[criterion_group], highs[criterion_group];
        std::memcpy(lows, scan.low, sizeof lows);
        std::memcpy(highs, scan.high, sizeof highs);
        std::memcpy(low + first, lows, count * sizeof(double));
        std::memcpy(high + first, highs, count * sizeof(double));
    }
};

// Column-pass kernel of the sums S and T.
struct SumsKernel {
    const StridedVector<std::int64_t>& codes;
    const double* low;
    const double* high;
    double* sums;
    double* log_sums;

    SumsScan start(std::size_t first, std::size_t count) const;

    void finish(std::size_t first, std::size_t count, const SumsScan& scan) const {
        double totals[criterion_group];
        std::memcpy(totals, scan.sum, sizeof totals);
        for (std::size_t g = 0; g < count; ++g) {
            sums[first + g] = totals[g];
            log_sums[first + g] = scan.log_sum[g];
        }
    }
};

// The sums scan of the group starting at `first`, with its per-lane constants.
SumsScan SumsKernel::start(std::size_t first, std::size_t count) const {
    double lows[criterion_group] = {}, highs[criterion_group] = {}, ranges[criterion_group];
    double starts[criterion_group] = {};
    long long picks[criterion_group] = {};
    SumsScan scan;
    for (std::size_t g = 0; g < criterion_group; ++g) {
        ranges[g] = 1.0;  // lanes past `count` stay finite
        scan.log_sum[g] = 0.0;
    }
    for (std::size_t g = 0; g < count; ++g) {
        const Normaliser n = normaliser(codes, low, high, first + g);
        lows[g] = n.low, highs[g] = n.high, ranges[g] = n.range;
        picks[g] = n.benefit ? -1 : 0;
        starts[g] = sums[first + g];
        scan.log_sum[g] = log_sums[first + g];
    }
    for (std::size_t p = 0; p < group_pairs; ++p) {
        scan.low[p] = load_pair(lows + 2 * p);
        scan.high[p] = load_pair(highs + 2 * p);
        scan.range[p] = load_pair(ranges + 2 * p);
        scan.sum[p] = load_pair(starts + 2 * p);
        std::memcpy(&scan.benefit[p], picks + 2 * p, sizeof scan.benefit[p]);
    }
    return scan;
}

}  // namespace

void scan_entropy_extremes(const StridedMatrix& data, double* low, double* high) {
    run_column_pass(data, ExtremesKernel{low, high});
}

void scan_entropy_sums(const StridedMatrix& data,
                       const StridedVector<std::int64_t>& indicator_type, const double* low,
                       const double* high, double* sums, double* log_sums) {
    // A constant criterion's sums are never used; its y may be NaN or infinite.
    run_column_pass(data, SumsKernel{indicator_type, low, high, sums, log_sums});
}

double criterion_entropy(double low, double high, double sum, double log_sum, std::size_t n) {
    if (high - low == 0.0) return 1.0;
    if (!(sum > 0.0)) return 1.0;
    const double log_n = std::log(static_cast<double>(n));
    const double bracket = log_sum / sum - std::log(sum);
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

void entropy_scores(const StridedMatrix& data, const StridedVector<std::int64_t>& indicator_type,
                    const double* low, const double* high, const double* weights,
                    double* scores) {
    run_row_pass(data, [&](std::size_t begin, std::size_t end) {
        for (std::size_t first = begin; first < end; first += row_block) {
            const std::size_t rows = end - first < row_block ? end - first : row_block;
            scores_of_block(data, indicator_type, low, high, weights, first, rows, scores);
        }
    });
}

Outcome<EntropyWeightResult> entropy_weight(const StridedMatrix& data,
                                            const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    check_criterion_length(indicator_type.size(), m);

    // Five per-criterion vectors in one allocation.
    std::vector<double> per_criterion(allocation_elements({5, m}));
    double* low = per_criterion.data();
    double* high = low + m;
    double* sums = high + m;
    double* log_sums = sums + m;
    double* entropy = log_sums + m;
    for (std::size_t j = 0; j < m; ++j) low[j] = infinity, high[j] = -infinity;

    scan_entropy_extremes(data, low, high);
    scan_entropy_sums(data, indicator_type, low, high, sums, log_sums);
    for (std::size_t j = 0; j < m; ++j)
        entropy[j] = criterion_entropy(low[j], high[j], sums[j], log_sums[j], n);
    EntropyWeightResult result{std::vector<double>(m), std::vector<double>(n)};
    entropy_to_weights(entropy, m, result.weights.data());
    entropy_scores(data, indicator_type, low, high, result.weights.data(), result.scores.data());
    return result;
}

}  // namespace ternavik
