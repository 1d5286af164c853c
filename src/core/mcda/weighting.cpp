#include "core/mcda/weighting.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/criterion_copy.hpp"
#include "core/decision_matrix.hpp"
#include "core/entropy_weight.hpp"
#include "core/mcda/lane_sum.hpp"
#include "core/mcda/row_blocks.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

using Values = std::vector<double>;

// Room for one alternative's m per-criterion values: on the stack for the
// usual few criteria, so the row loops allocate nothing.
class RowScratch {
public:
    explicit RowScratch(std::size_t m) : heap_(m > local_size ? m : 0) {}
    double* get() { return heap_.empty() ? local_ : heap_.data(); }

private:
    static constexpr std::size_t local_size = 64;
    double local_[local_size];
    std::vector<double> heap_;
};

// Every criterion's sum. A NaN (or +inf with -inf) makes it NaN, which marks
// the criterion whose weight cannot be known.
Values column_sums(const StridedMatrix& data) {
    const std::size_t m = data.cols;
    Values s(m);
    reduce_rows(data, m, [m](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) acc[j] = acc[j] + x[j];
    }, s.data());
    return s;
}

// c = 1 - e, e = -sum(p ln p) / ln n over p = x / sum(x), 0 ln 0 = 0. An
// all-zero criterion cannot tell alternatives apart: c = 0.
void entropy_values(const StridedMatrix& data, double* c) {
    const std::size_t m = data.cols;
    const Values s = column_sums(data);
    Values t(m);
    reduce_rows(data, m, [m, &s](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) {
            const double p = x[j] / s[j];
            acc[j] = acc[j] + (p == 0.0 ? 0.0 : p * std::log(p));
        }
    }, t.data());
    const double log_n = std::log(static_cast<double>(data.rows));
    for (std::size_t j = 0; j < m; ++j) c[j] = s[j] == 0.0 ? 0.0 : 1.0 - (-t[j]) / log_n;
}

// Sum of squared deviations of the values from their means.
Values squared_deviations(const StridedMatrix& data, const Values& mean) {
    const std::size_t m = data.cols;
    Values ss(m);
    reduce_rows(data, m, [m, &mean](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) {
            const double d = x[j] - mean[j];
            acc[j] = acc[j] + d * d;
        }
    }, ss.data());
    return ss;
}

void standard_deviation_values(const StridedMatrix& data, double* c) {
    const double n = static_cast<double>(data.rows);
    Values mean = column_sums(data);
    for (double& v : mean) v = v / n;
    const Values ss = squared_deviations(data, mean);
    for (std::size_t j = 0; j < data.cols; ++j) c[j] = std::sqrt(ss[j] / (n - 1.0));
}

// y = (x - min) / (max - min) by direction when `by_direction`, else as a
// benefit; a constant criterion has y = 1 (NaN stays NaN).
struct MinMax {
    std::vector<double> low;
    std::vector<double> range;
    std::vector<char> benefit;

    double operator()(double x, std::size_t j) const {
        if (range[j] == 0.0) return x == x ? 1.0 : not_a_number;
        return benefit[j] ? (x - low[j]) / range[j] : (low[j] + range[j] - x) / range[j];
    }
};

MinMax min_max(const StridedMatrix& data, const StridedVector<std::int64_t>* codes) {
    const std::vector<Extremes> e = column_extremes(data);
    MinMax f{Values(data.cols), Values(data.cols), std::vector<char>(data.cols)};
    for (std::size_t j = 0; j < data.cols; ++j) {
        f.low[j] = e[j].min;
        f.range[j] = e[j].max - e[j].min;
        f.benefit[j] = codes == nullptr || indicator_kind((*codes)[j]) == IndicatorKind::Benefit;
    }
    return f;
}

// Means of the normalised values.
Values normalised_means(const StridedMatrix& data, const MinMax& y) {
    const std::size_t m = data.cols;
    Values mean(m);
    reduce_rows(data, m, [m, &y](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) acc[j] = acc[j] + y(x[j], j);
    }, mean.data());
    for (double& v : mean) v = v / static_cast<double>(data.rows);
    return mean;
}

// Sample variance of the min-max normalised values.
void variance_values(const StridedMatrix& data, double* c) {
    const std::size_t m = data.cols;
    const MinMax y = min_max(data, nullptr);
    const Values mean = normalised_means(data, y);
    Values ss(m);
    reduce_rows(data, m, [m, &y, &mean](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) {
            const double d = y(x[j], j) - mean[j];
            acc[j] = acc[j] + d * d;
        }
    }, ss.data());
    for (std::size_t j = 0; j < m; ++j) c[j] = ss[j] / static_cast<double>(data.rows - 1);
}

// CRITIC: y normalised towards the ideal, d = y - mean(y); the products
// d_j d_k (k >= j) summed over alternatives give the sums of squares and the
// correlations r_jk. c_j = s_j * sum over k in k order of (1 - r_jk), s_j
// the sample standard deviation, r_jj = 1; a criterion without spread has
// correlation 0 with every other (it conflicts with nothing).
void critic_values(const StridedMatrix& data, const StridedVector<std::int64_t>& codes,
                   double* c) {
    const std::size_t m = data.cols;
    const MinMax y = min_max(data, &codes);
    const Values mean = normalised_means(data, y);
    Values cross(m * m);
    reduce_rows(data, m * m, [m, &y, &mean](const double* x, double* acc) {
        RowScratch scratch(m);
        double* dev = scratch.get();
        for (std::size_t j = 0; j < m; ++j) dev[j] = y(x[j], j) - mean[j];
        for (std::size_t j = 0; j < m; ++j) {
            for (std::size_t k = j; k < m; ++k) acc[j * m + k] = acc[j * m + k] + dev[j] * dev[k];
        }
    }, cross.data());
    for (std::size_t j = 0; j < m; ++j) {
        const double sjj = cross[j * m + j];
        double conflict = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
            const double skk = cross[k * m + k];
            double r = 1.0;
            if (sjj == 0.0 || skk == 0.0) {
                r = 0.0;
            } else if (k != j) {
                r = cross[std::min(j, k) * m + std::max(j, k)] / (std::sqrt(sjj) * std::sqrt(skk));
            }
            conflict = conflict + (1.0 - r);
        }
        c[j] = std::sqrt(sjj / static_cast<double>(data.rows - 1)) * conflict;
    }
}

// MEREC: n_ik = min_k / x_ik (benefit) or x_ik / max_k (cost), L_k =
// |ln n_ik|, S_i = ln(1 + (1/m) sum_k L_k), S'_ij the same sum without L_j
// (both in k order); c_j = sum over alternatives of |S'_ij - S_i|.
void merec_values(const StridedMatrix& data, const StridedVector<std::int64_t>& codes,
                  double* c) {
    const std::size_t m = data.cols;
    const std::vector<Extremes> e = column_extremes(data);
    std::vector<char> benefit(m);
    for (std::size_t j = 0; j < m; ++j) {
        benefit[j] = indicator_kind(codes[j]) == IndicatorKind::Benefit;
    }
    const double inv_m = 1.0 / static_cast<double>(m);
    reduce_rows(data, m, [&](const double* x, double* acc) {
        RowScratch scratch(m);
        double* logs = scratch.get();
        double total = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
            logs[k] = std::fabs(std::log(benefit[k] ? e[k].min / x[k] : x[k] / e[k].max));
            total = total + logs[k];
        }
        const double s = std::log(1.0 + inv_m * total);
        for (std::size_t j = 0; j < m; ++j) {
            double without = 0.0;
            for (std::size_t k = 0; k < m; ++k) {
                if (k != j) without = without + logs[k];
            }
            acc[j] = acc[j] + std::fabs(std::log(1.0 + inv_m * without) - s);
        }
    }, c);
}

// Gini coefficient sum_ik |x_i - x_k| / (2 n^2 mean). Sorting the private
// copy turns the double sum into sum over i < n/2 of
// (n - 1 - 2i)(x_(n-1-i) - x_(i)), all of whose terms are non-negative.
double gini_coefficient(double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != x[i]) return not_a_number;
    }
    std::sort(x, x + n);
    const double mean = lane_sum(n, [x](std::size_t i) { return x[i]; }) / static_cast<double>(n);
    const double half = lane_sum(n / 2, [x, n](std::size_t i) {
        return static_cast<double>(n - 1 - 2 * i) * (x[n - 1 - i] - x[i]);
    });
    const double nd = static_cast<double>(n);
    return half / ((nd * nd) * mean);
}

struct GiniColumns {
    using Scan = Extremes;
    std::size_t n;
    double* c;
    void finish(std::size_t j, double* column, const Extremes&) const {
        c[j] = gini_coefficient(column, n);
    }
};

void gini_values(const StridedMatrix& data, double* c) {
    auto copy = uninitialised_matrix(data.rows, data.cols);
    run_criterion_pass(data, copy.get(), GiniColumns{data.rows, c});
}

// Angle between p = x / sum(x) and the uniform direction, arccos of
// sum(p) / (sqrt(sum(p^2)) sqrt(n)), the cosine clamped to [-1, 1] so that
// rounding cannot give NaN; a constant criterion has angle 0.
void angle_values(const StridedMatrix& data, double* c) {
    const std::size_t m = data.cols;
    const Values s = column_sums(data);
    const std::vector<Extremes> e = column_extremes(data);
    Values sums(2 * m);
    reduce_rows(data, 2 * m, [m, &s](const double* x, double* acc) {
        for (std::size_t j = 0; j < m; ++j) {
            const double p = x[j] / s[j];
            acc[2 * j] = acc[2 * j] + p;
            acc[2 * j + 1] = acc[2 * j + 1] + p * p;
        }
    }, sums.data());
    const double root_n = std::sqrt(static_cast<double>(data.rows));
    for (std::size_t j = 0; j < m; ++j) {
        if (e[j].min == e[j].max && s[j] == s[j]) {
            c[j] = 0.0;
            continue;
        }
        const double cosine = sums[2 * j] / (std::sqrt(sums[2 * j + 1]) * root_n);
        c[j] = std::acos(cosine > 1.0 ? 1.0 : (cosine < -1.0 ? -1.0 : cosine));
    }
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
        case Weighting::sum_entropy: entropy_values(data, weights.data()); break;
        case Weighting::standard_deviation: standard_deviation_values(data, weights.data()); break;
        case Weighting::variance: variance_values(data, weights.data()); break;
        case Weighting::critic: critic_values(data, indicator_type, weights.data()); break;
        case Weighting::merec: merec_values(data, indicator_type, weights.data()); break;
        case Weighting::gini: gini_values(data, weights.data()); break;
        case Weighting::angle: angle_values(data, weights.data()); break;
    }
    normalise_weights(weights.data(), m);
    return weights;
}

}  // namespace ternavik
