#include "core/topsis.hpp"

#include <cmath>
#include <limits>

#include "core/checked_size.hpp"
#include "core/decision_passes.hpp"
#include "core/nan_order.hpp"

namespace ternavik {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Sums of squares and raw extremes of eight criteria, row by row.
struct ColumnScan {
    DoublePair squares[group_pairs];
    DoublePair low[group_pairs];
    DoublePair high[group_pairs];

    void row(const DoublePair* x) {
        for (std::size_t p = 0; p < group_pairs; ++p) {
            squares[p] = squares[p] + x[p] * x[p];
            low[p] = x[p] < low[p] ? x[p] : low[p];
            high[p] = x[p] > high[p] ? x[p] : high[p];
        }
    }
};

// Sum of squares of column j continued from `start` one operation at a time,
// for sums that came out NaN: the first NaN in row order then wins.
double ordered_square_sum(const StridedMatrix& data, std::size_t j, double start) {
    double sum = start;
    for (std::size_t i = 0; i < data.rows && !is_nan(sum); ++i) {
        const double x = data.at(i, j);
        sum = ordered_add(sum, x * x);
    }
    return is_nan(sum) ? quieted(sum) : sum;
}

// The column-pass kernel: continues `columns` group by group.
struct ScanKernel {
    const StridedMatrix& data;
    const TopsisColumns& columns;

    ColumnScan start(std::size_t first, std::size_t count) const {
        double squares[criterion_group] = {}, low[criterion_group] = {}, high[criterion_group] = {};
        for (std::size_t g = 0; g < count; ++g) {
            squares[g] = columns.squares[first + g];
            low[g] = columns.low[first + g];
            high[g] = columns.high[first + g];
        }
        ColumnScan scan;
        for (std::size_t p = 0; p < group_pairs; ++p) {
            scan.squares[p] = load_pair(squares + 2 * p);
            scan.low[p] = load_pair(low + 2 * p);
            scan.high[p] = load_pair(high + 2 * p);
        }
        return scan;
    }

    void finish(std::size_t first, std::size_t count, const ColumnScan& scan) const {
        double squares[criterion_group], low[criterion_group], high[criterion_group];
        std::memcpy(squares, scan.squares, sizeof squares);
        std::memcpy(low, scan.low, sizeof low);
        std::memcpy(high, scan.high, sizeof high);
        for (std::size_t g = 0; g < count; ++g) {
            const double start = columns.squares[first + g];
            columns.squares[first + g] =
                is_nan(squares[g]) ? ordered_square_sum(data, first + g, start) : squares[g];
            columns.low[first + g] = low[g];
            columns.high[first + g] = high[g];
        }
    }
};

// Extremes of x * factor over the raw extremes `low`, `high` of a column whose
// sum of squares is neither 0 nor NaN (so `factor` is the only possible NaN).
Extremes weighted_extremes(double factor, double low, double high) {
    Extremes out;
    if (is_nan(factor)) return out;  // every weighted value NaN
    if (factor == 0.0) {
        // Finite values weigh to zeros, infinite ones to NaN. A column with no
        // finite value has only NaN weighted values, which no ideal can change.
        out.min = out.max = 0.0;
        return out;
    }
    if (std::isinf(factor)) {
        // Zeros weigh to NaN, the rest to infinities of their sign times the factor's.
        const bool positive = high > 0.0;
        const bool negative = low < 0.0;
        const bool up = factor > 0.0;
        if (up ? positive : negative) out.max = infinity;
        if (up ? negative : positive) out.min = -infinity;
        return out;
    }
    const double a = low * factor;
    const double b = high * factor;
    out.min = factor > 0.0 ? a : b;
    out.max = factor > 0.0 ? b : a;
    return out;
}

// Closeness of row i one operation at a time, for results that came out NaN.
double ordered_closeness(const StridedMatrix& data, std::size_t i, const TopsisIdeals& ideals) {
    double to_ideal = 0.0;
    double to_anti = 0.0;
    for (std::size_t j = 0; j < data.cols; ++j) {
        const double v = ordered_mul(data.at(i, j), ideals.factor[j]);
        const double plus = ordered_sub(v, ideals.ideal[j]);
        const double minus = ordered_sub(v, ideals.anti_ideal[j]);
        to_ideal = ordered_add(to_ideal, plus * plus);
        to_anti = ordered_add(to_anti, minus * minus);
    }
    const double plus = std::sqrt(to_ideal);
    const double minus = std::sqrt(to_anti);
    const double both = ordered_add(plus, minus);
    if (both == 0.0) return 0.5;
    return ordered_div(minus, both);
}

// Closeness of up to row_block rows from `first`: the squared distances of
// the rows accumulate side by side, each over the criteria in order. Missing
// rows repeat the block's first row and are not written.
void closeness_of_block(const StridedMatrix& data, const TopsisIdeals& ideals,
                        std::size_t first, std::size_t rows, double* closeness) {
    const char* row[row_block];
    for (std::size_t l = 0; l < row_block; ++l) {
        const std::size_t i = first + (l < rows ? l : 0);
        row[l] = data.first + static_cast<std::ptrdiff_t>(i) * data.row_stride;
    }
    DoublePair to_ideal[row_pairs] = {};
    DoublePair to_anti[row_pairs] = {};
    for (std::size_t j = 0; j < data.cols; ++j) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(j) * data.col_stride;
        const DoublePair factor = {ideals.factor[j], ideals.factor[j]};
        const DoublePair best = {ideals.ideal[j], ideals.ideal[j]};
        const DoublePair worst = {ideals.anti_ideal[j], ideals.anti_ideal[j]};
        for (std::size_t p = 0; p < row_pairs; ++p) {
            const DoublePair v = load_column_pair(row[2 * p] + offset, row[2 * p + 1] + offset) * factor;
            const DoublePair plus = v - best;
            const DoublePair minus = v - worst;
            to_ideal[p] = to_ideal[p] + plus * plus;
            to_anti[p] = to_anti[p] + minus * minus;
        }
    }
    double sums_ideal[row_block], sums_anti[row_block];
    std::memcpy(sums_ideal, to_ideal, sizeof sums_ideal);
    std::memcpy(sums_anti, to_anti, sizeof sums_anti);
    for (std::size_t l = 0; l < rows; ++l) {
        const double c = closeness_of_alternative(sums_ideal[l], sums_anti[l]);
        closeness[first + l] = is_nan(c) ? ordered_closeness(data, first + l, ideals) : c;
    }
}

}  // namespace

void scan_topsis_columns(const StridedMatrix& data, const TopsisColumns& columns) {
    run_column_pass(data, ScanKernel{data, columns});
}

void topsis_ideals(const TopsisColumns& columns, std::size_t m,
                   const StridedVector<double>& weights,
                   const StridedVector<std::int64_t>& indicator_type, const TopsisIdeals& ideals) {
    for (std::size_t j = 0; j < m; ++j) {
        const double squares = columns.squares[j];
        if (squares == 0.0) {  // every weighted value is 0.0
            ideals.factor[j] = ideals.ideal[j] = ideals.anti_ideal[j] = 0.0;
            continue;
        }
        const double factor = ordered_div(weights[j], std::sqrt(squares));
        const Extremes extremes = weighted_extremes(factor, columns.low[j], columns.high[j]);
        const bool benefit = indicator_kind(indicator_type[j]) == IndicatorKind::Benefit;
        ideals.factor[j] = factor;
        ideals.ideal[j] = benefit ? extremes.max : extremes.min;
        ideals.anti_ideal[j] = benefit ? extremes.min : extremes.max;
    }
}

void topsis_closeness(const StridedMatrix& data, const TopsisIdeals& ideals, double* closeness) {
    run_row_pass(data, [&](std::size_t begin, std::size_t end) {
        for (std::size_t first = begin; first < end; first += row_block) {
            const std::size_t rows = end - first < row_block ? end - first : row_block;
            closeness_of_block(data, ideals, first, rows, closeness);
        }
    });
}

double closeness_of_alternative(double to_ideal, double to_anti_ideal) {
    const double plus = std::sqrt(to_ideal);
    const double minus = std::sqrt(to_anti_ideal);
    const double both = plus + minus;
    if (both == 0.0) return 0.5;
    return minus / both;
}

Outcome<std::vector<double>> topsis(const StridedMatrix& data,
                                    const StridedVector<double>& weights,
                                    const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t m = data.cols;
    check_criterion_length(weights.size(), m);
    check_criterion_length(indicator_type.size(), m);

    // Six per-criterion vectors in one allocation: the scan, then the ideals.
    std::vector<double> per_criterion(allocation_elements({6, m}));
    double* base = per_criterion.data();
    const TopsisColumns columns{base, base + m, base + 2 * m};
    for (std::size_t j = 0; j < m; ++j) columns.low[j] = infinity, columns.high[j] = -infinity;
    const TopsisIdeals ideals{base + 3 * m, base + 4 * m, base + 5 * m};

    scan_topsis_columns(data, columns);
    topsis_ideals(columns, m, weights, indicator_type, ideals);
    std::vector<double> closeness(data.rows);
    topsis_closeness(data, ideals, closeness.data());
    return closeness;
}

}  // namespace ternavik
