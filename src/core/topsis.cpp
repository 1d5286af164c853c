#include "core/topsis.hpp"

#include <cmath>

#include "core/nan_order.hpp"

namespace ternavik {

namespace {

// Alternatives whose distances accumulate side by side: independent sums
// that vectorise, each still added in criterion order.
constexpr std::size_t distance_block = 64;

// First scan of a criterion: its sum of squares in row order.
struct SquareSum {
    double sum = 0.0;
    void see(double value) { sum = sum + value * value; }
};

// Criterion-pass kernel: row j of V and the ideals of criterion j.
struct TopsisKernel {
    using Scan = SquareSum;
    const StridedVector<double>& weights;
    const StridedVector<std::int64_t>& codes;
    std::size_t n;
    double* weighted;
    double* ideal;
    double* anti_ideal;

    void finish(std::size_t j, const double* column, const SquareSum& squares) const {
        const Ideals found = weigh_and_find_ideals(column, n, weights[j], indicator_kind(codes[j]),
                                                   squares.sum, weighted + j * n);
        ideal[j] = found.ideal;
        anti_ideal[j] = found.anti_ideal;
    }
};

// The closeness of alternative i one operation at a time, for results that
// came out NaN: their bits then follow the source order (see nan_order.hpp).
double ordered_closeness(const double* weighted, std::size_t n, std::size_t m,
                         const double* ideal, const double* anti_ideal, std::size_t i) {
    double to_ideal = 0.0;
    double to_anti = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        const double plus = ordered_sub(weighted[j * n + i], ideal[j]);
        const double minus = ordered_sub(weighted[j * n + i], anti_ideal[j]);
        to_ideal = ordered_add(to_ideal, plus * plus);
        to_anti = ordered_add(to_anti, minus * minus);
    }
    const double plus = std::sqrt(to_ideal);
    const double minus = std::sqrt(to_anti);
    const double both = ordered_add(plus, minus);
    if (both == 0.0) return 0.5;
    return ordered_div(minus, both);
}

// Distances of up to distance_block consecutive alternatives starting at `first`.
void closeness_of_block(const double* weighted, std::size_t n, std::size_t m,
                        const double* ideal, const double* anti_ideal, std::size_t first,
                        std::size_t count, double* closeness) {
    double to_ideal[distance_block] = {};
    double to_anti[distance_block] = {};
    for (std::size_t j = 0; j < m; ++j) {
        const double* v = weighted + j * n + first;
        const double best = ideal[j];
        const double worst = anti_ideal[j];
        for (std::size_t l = 0; l < count; ++l) {
            const double plus = v[l] - best;
            const double minus = v[l] - worst;
            to_ideal[l] = to_ideal[l] + plus * plus;
            to_anti[l] = to_anti[l] + minus * minus;
        }
    }
    for (std::size_t l = 0; l < count; ++l) {
        const double c = closeness_of_alternative(to_ideal[l], to_anti[l]);
        closeness[first + l] =
            is_nan(c) ? ordered_closeness(weighted, n, m, ideal, anti_ideal, first + l) : c;
    }
}

}  // namespace

double ordered_square_sum(const double* column, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum = ordered_add(sum, column[i] * column[i]);
    return sum;
}

Ideals weigh_and_find_ideals(const double* column, std::size_t n, double weight,
                             IndicatorKind kind, double squares, double* weighted) {
    if (squares == 0.0) {
        for (std::size_t i = 0; i < n; ++i) weighted[i] = 0.0;
        return Ideals{0.0, 0.0};
    }
    if (is_nan(squares)) squares = ordered_square_sum(column, n);
    const double factor = ordered_div(weight, std::sqrt(squares));
    Extremes extremes;
    if (is_nan(factor)) {  // every value NaN: none becomes an extreme
        for (std::size_t i = 0; i < n; ++i) weighted[i] = ordered_mul(column[i], factor);
        if (kind == IndicatorKind::Benefit) return Ideals{extremes.max, extremes.min};
        return Ideals{extremes.min, extremes.max};
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double v = column[i] * factor;
        weighted[i] = v;
        extremes.see(v);
    }
    if (kind == IndicatorKind::Benefit) return Ideals{extremes.max, extremes.min};
    return Ideals{extremes.min, extremes.max};
}

double closeness_of_alternative(double to_ideal, double to_anti_ideal) {
    const double plus = std::sqrt(to_ideal);
    const double minus = std::sqrt(to_anti_ideal);
    const double both = plus + minus;
    if (both == 0.0) return 0.5;
    return minus / both;
}

void closeness_of_alternatives(const double* weighted, std::size_t n, std::size_t m,
                               const double* ideal, const double* anti_ideal,
                               std::size_t begin, std::size_t end, double* closeness) {
    for (std::size_t first = begin; first < end; first += distance_block) {
        const std::size_t count = end - first < distance_block ? end - first : distance_block;
        closeness_of_block(weighted, n, m, ideal, anti_ideal, first, count, closeness);
    }
}

Outcome<std::vector<double>> topsis(const StridedMatrix& data,
                                    const StridedVector<double>& weights,
                                    const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    auto copy = uninitialised_matrix(n, m);  // filled column by column in the pass
    auto weighted = uninitialised_matrix(m, n);
    std::vector<double> ideal(m);
    std::vector<double> anti_ideal(m);
    check_criterion_length(weights.size(), m);
    check_criterion_length(indicator_type.size(), m);

    run_criterion_pass(data, copy.get(),
                       TopsisKernel{weights, indicator_type, n, weighted.get(), ideal.data(),
                                    anti_ideal.data()});
    std::vector<double> closeness(n);
    run_parallel(n, [&](std::size_t begin, std::size_t end) {
        closeness_of_alternatives(weighted.get(), n, m, ideal.data(), anti_ideal.data(), begin,
                                  end, closeness.data());
    });
    return closeness;
}

}  // namespace ternavik
