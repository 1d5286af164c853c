#include "core/mcda/weighting.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/decision_matrix.hpp"
#include "core/entropy_weight.hpp"
#include "core/mcda/lane_sum.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

bool has_nan(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != x[i]) return true;
    }
    return false;
}

double column_sum(const double* x, std::size_t n) {
    return lane_sum(n, [x](std::size_t i) { return x[i]; });
}

// Sample variance times (n - 1): squared deviations from the mean s / n.
double squared_deviations(const double* x, std::size_t n) {
    const double mean = column_sum(x, n) / static_cast<double>(n);
    return lane_sum(n, [x, mean](std::size_t i) {
        const double d = x[i] - mean;
        return d * d;
    });
}

// 1 - e with e = -sum(p ln p) / ln n over p = x / sum(x), taking 0 ln 0 = 0.
// An all-zero criterion cannot tell alternatives apart: divergence 0.
double entropy_divergence(const double* x, std::size_t n) {
    const double s = column_sum(x, n);
    if (s == 0.0) return 0.0;
    const double t = lane_sum(n, [x, s](std::size_t i) {
        const double p = x[i] / s;
        return p == 0.0 ? 0.0 : p * std::log(p);
    });
    return 1.0 - (-t) / std::log(static_cast<double>(n));
}

double standard_deviation(const double* x, std::size_t n) {
    return std::sqrt(squared_deviations(x, n) / static_cast<double>(n - 1));
}

// Variance of y = (x - min) / (max - min); a constant criterion has y = 1.
double normalised_variance(const double* x, std::size_t n, const Extremes& e) {
    const double r = e.max - e.min;
    if (r == 0.0) return 0.0;
    const double low = e.min;
    const double mean = lane_sum(n, [x, low, r](std::size_t i) { return (x[i] - low) / r; }) /
                        static_cast<double>(n);
    const double ss = lane_sum(n, [x, low, r, mean](std::size_t i) {
        const double d = (x[i] - low) / r - mean;
        return d * d;
    });
    return ss / static_cast<double>(n - 1);
}

// Gini coefficient sum_ik |x_i - x_k| / (2 n^2 mean). Sorting the private
// copy turns the double sum into sum over i < n/2 of
// (n - 1 - 2i)(x_(n-1-i) - x_(i)), all of whose terms are non-negative.
double gini_coefficient(double* x, std::size_t n) {
    std::sort(x, x + n);
    const double mean = column_sum(x, n) / static_cast<double>(n);
    const double half = lane_sum(n / 2, [x, n](std::size_t i) {
        return static_cast<double>(n - 1 - 2 * i) * (x[n - 1 - i] - x[i]);
    });
    const double nd = static_cast<double>(n);
    return half / ((nd * nd) * mean);
}

// Angle between p = x / sum(x) and the uniform direction; the cosine is
// clamped to 1 so that rounding cannot turn a constant criterion into NaN.
double uniform_angle(const double* x, std::size_t n, const Extremes& e) {
    if (e.min == e.max) return 0.0;
    const double s = column_sum(x, n);
    const double a = lane_sum(n, [x, s](std::size_t i) { return x[i] / s; });
    const double q = lane_sum(n, [x, s](std::size_t i) {
        const double p = x[i] / s;
        return p * p;
    });
    const double c = a / (std::sqrt(q) * std::sqrt(static_cast<double>(n)));
    return std::acos(c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c));
}

// Criterion pass for the weightings whose value per criterion depends on
// that criterion alone.
struct ColumnStatistic {
    using Scan = Extremes;
    Weighting method;
    std::size_t n;
    double* value;

    void finish(std::size_t j, double* column, const Extremes& e) const {
        value[j] = has_nan(column, n) ? not_a_number : statistic(column, e);
    }

    double statistic(double* column, const Extremes& e) const {
        switch (method) {
            case Weighting::entropy: return entropy_divergence(column, n);
            case Weighting::standard_deviation: return standard_deviation(column, n);
            case Weighting::variance: return normalised_variance(column, n, e);
            case Weighting::gini: return gini_coefficient(column, n);
            default: return uniform_angle(column, n, e);
        }
    }
};

// Criterion pass of CRITIC: the criterion normalised towards its ideal
// (1 best, 0 worst; a constant criterion is 1), centred on its mean, kept
// as row j of `centred`, with its sum of squares.
struct CriticColumns {
    using Scan = Extremes;
    const StridedVector<std::int64_t>& codes;
    std::size_t n;
    double* centred;
    double* squares;

    void finish(std::size_t j, const double* x, const Extremes& e) const {
        double* d = centred + j * n;
        const double r = e.max - e.min;
        const bool benefit = indicator_kind(codes[j]) == IndicatorKind::Benefit;
        for (std::size_t i = 0; i < n; ++i) {
            if (r == 0.0) {
                d[i] = x[i] == x[i] ? 1.0 : not_a_number;
            } else {
                d[i] = benefit ? (x[i] - e.min) / r : (e.max - x[i]) / r;
            }
        }
        const double mean = column_sum(d, n) / static_cast<double>(n);
        for (std::size_t i = 0; i < n; ++i) d[i] = d[i] - mean;
        squares[j] = lane_sum(n, [d](std::size_t i) { return d[i] * d[i]; });
    }
};

// Pearson correlation of two centred criteria. A criterion without spread
// conflicts with nothing: its correlations are taken as 0, not 0 / 0.
double centred_correlation(const double* a, const double* b, std::size_t n, double saa,
                           double sbb) {
    if (saa == 0.0 || sbb == 0.0) return 0.0;
    const double cross = lane_sum(n, [a, b](std::size_t i) { return a[i] * b[i]; });
    return cross / (std::sqrt(saa) * std::sqrt(sbb));
}

// CRITIC: c_j = s_j * sum over k in k order of (1 - r_jk), s_j the sample
// standard deviation of the normalised criterion, r_jj = 1.
void critic_values(const StridedMatrix& data, const StridedVector<std::int64_t>& codes,
                   double* value) {
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    auto copy = uninitialised_matrix(n, m);
    auto centred = uninitialised_matrix(m, n);
    std::vector<double> squares(m);
    run_criterion_pass(data, copy.get(), CriticColumns{codes, n, centred.get(), squares.data()});
    run_parallel(m, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            const double* dj = centred.get() + j * n;
            double conflict = 0.0;
            for (std::size_t k = 0; k < m; ++k) {
                const double r = k == j && squares[j] != 0.0
                                     ? 1.0
                                     : centred_correlation(dj, centred.get() + k * n, n,
                                                           squares[j], squares[k]);
                conflict = conflict + (1.0 - r);
            }
            value[j] = std::sqrt(squares[j] / static_cast<double>(n - 1)) * conflict;
        }
    });
}

// Criterion pass of MEREC: only the extremes are kept.
struct ExtremesOnly {
    using Scan = Extremes;
    Extremes* found;
    void finish(std::size_t j, const double*, const Extremes& e) const { found[j] = e; }
};

// One alternative's removal effects |S'_ij - S_i| for every j, with
// S = ln(1 + (1/m) sum_k L_k) and S'_j the same sum without L_j, both in k
// order, L_k = |ln n_ik|, n_ik = min_k / x_ik (benefit) or x_ik / max_k (cost).
void merec_row(const double* copy, std::size_t n, std::size_t m, std::size_t i,
               const Extremes* e, const StridedVector<std::int64_t>& codes, double* logs,
               double* effects) {
    const double inv_m = 1.0 / static_cast<double>(m);
    double total = 0.0;
    for (std::size_t k = 0; k < m; ++k) {
        const double x = copy[k * n + i];
        const bool benefit = indicator_kind(codes[k]) == IndicatorKind::Benefit;
        logs[k] = std::fabs(std::log(benefit ? e[k].min / x : x / e[k].max));
        total = total + logs[k];
    }
    const double s = std::log(1.0 + inv_m * total);
    for (std::size_t j = 0; j < m; ++j) {
        double without = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
            if (k != j) without = without + logs[k];
        }
        effects[j * n + i] = std::fabs(std::log(1.0 + inv_m * without) - s);
    }
}

// MEREC: e_j = sum over alternatives of the removal effects of criterion j.
void merec_values(const StridedMatrix& data, const StridedVector<std::int64_t>& codes,
                  double* value) {
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    auto copy = uninitialised_matrix(n, m);
    auto effects = uninitialised_matrix(m, n);
    std::vector<Extremes> extremes(m);
    run_criterion_pass(data, copy.get(), ExtremesOnly{extremes.data()});
    run_parallel(n, [&](std::size_t begin, std::size_t end) {
        std::vector<double> logs(m);
        for (std::size_t i = begin; i < end; ++i) {
            merec_row(copy.get(), n, m, i, extremes.data(), codes, logs.data(), effects.get());
        }
    });
    run_parallel(m, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) value[j] = column_sum(effects.get() + j * n, n);
    });
}

void column_values(Weighting method, const StridedMatrix& data, double* value) {
    auto copy = uninitialised_matrix(data.rows, data.cols);
    run_criterion_pass(data, copy.get(), ColumnStatistic{method, data.rows, value});
}

}  // namespace

void normalise_weights(double* c, std::size_t m) {
    double total = 0.0;
    for (std::size_t j = 0; j < m; ++j) total = total + c[j];
    if (total == 0.0) {
        for (std::size_t j = 0; j < m; ++j) c[j] = 1.0 / static_cast<double>(m);
        return;
    }
    for (std::size_t j = 0; j < m; ++j) c[j] = c[j] / total;
}

Outcome<std::vector<double>> objective_weights(Weighting method, const StridedMatrix& data,
                                               const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t m = data.cols;
    check_criterion_length(indicator_type.size(), m);
    std::vector<double> weights(m);
    switch (method) {
        case Weighting::equal:
            for (std::size_t j = 0; j < m; ++j) weights[j] = 1.0 / static_cast<double>(m);
            return weights;
        case Weighting::minmax_entropy: {
            Outcome<EntropyWeightResult> both = entropy_weight(data, indicator_type);
            if (!both.ok()) return std::move(both.error());
            return std::move(both.value().weights);
        }
        case Weighting::critic: critic_values(data, indicator_type, weights.data()); break;
        case Weighting::merec: merec_values(data, indicator_type, weights.data()); break;
        default: column_values(method, data, weights.data()); break;
    }
    normalise_weights(weights.data(), m);
    return weights;
}

}  // namespace ternavik
