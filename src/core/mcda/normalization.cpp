// The nine normalisations. Each reads its statistics from the untouched
// column first and only then overwrites it, so normalising in place is safe.
// Operation orders are written out below; they fix the results bit for bit.
#include "core/mcda/normalization.hpp"

#include <cmath>

namespace ternavik::mcda {

namespace {

using Kind = IndicatorKind;

Extremes extremes_of(const double* x, std::size_t n) {
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) e.see(x[i]);
    return e;
}

// A constant criterion tells the alternatives nothing: every value is 1.
bool minmax(double* x, std::size_t n, Kind kind) {
    const Extremes e = extremes_of(x, n);
    const double range = e.max - e.min;
    for (std::size_t i = 0; i < n; ++i) {
        if (range == 0.0) x[i] = 1.0;
        else x[i] = kind == Kind::Benefit ? (x[i] - e.min) / range : (e.max - x[i]) / range;
    }
    return true;
}

// An all-zero criterion is constant: it normalises as any other constant
// one does (x / max = 1), not to 0 / 0.
bool max(double* x, std::size_t n, Kind kind) {
    const double top = extremes_of(x, n).max;
    for (std::size_t i = 0; i < n; ++i) {
        const double ratio = top == 0.0 && x[i] == 0.0 ? 1.0 : x[i] / top;
        x[i] = kind == Kind::Benefit ? ratio : 1.0 - ratio;
    }
    return true;
}

bool all_positive(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] <= 0.0) return false;  // NaN propagates instead
    return true;
}

// Cost criteria share the total of their reciprocals: (1 / x) / sum(1 / x).
bool sum(double* x, std::size_t n, Kind kind) {
    if (!all_positive(x, n)) return false;
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) total = total + (kind == Kind::Benefit ? x[i] : 1.0 / x[i]);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = kind == Kind::Benefit ? x[i] / total : (1.0 / x[i]) / total;
    return true;
}

bool vector(double* x, std::size_t n, Kind kind) {
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) squares = squares + x[i] * x[i];
    const double norm = std::sqrt(squares);
    // An all-zero criterion has no length: x / norm is taken as 0, so it
    // separates nobody instead of turning every result into NaN.
    for (std::size_t i = 0; i < n; ++i) {
        const double ratio = norm == 0.0 && x[i] == 0.0 ? 0.0 : x[i] / norm;
        x[i] = kind == Kind::Benefit ? ratio : 1.0 - ratio;
    }
    return true;
}

// ln of the product is taken as the sum of the logarithms, which neither
// overflows nor underflows however many alternatives there are.
bool logarithmic(double* x, std::size_t n, Kind kind) {
    if (!all_positive(x, n)) return false;
    double logs = 0.0;
    for (std::size_t i = 0; i < n; ++i) logs = logs + std::log(x[i]);
    const double others = static_cast<double>(n) - 1.0;
    // A criterion of ones has ln x = 0 throughout: every alternative gets the
    // equal share 1 / n that any other constant criterion gives.
    const double equal = 1.0 / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double share = logs == 0.0 && x[i] == 1.0 ? equal : std::log(x[i]) / logs;
        x[i] = kind == Kind::Benefit ? share : (1.0 - share) / others;
    }
    return true;
}

bool no_zero(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] == 0.0) return false;
    return true;
}

bool linear(double* x, std::size_t n, Kind kind) {
    if (!no_zero(x, n)) return false;
    const Extremes e = extremes_of(x, n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = kind == Kind::Benefit ? x[i] / e.max : e.min / x[i];
    return true;
}

// Squared ratio for benefit criteria, cubed (t * t * t) for cost criteria.
bool nonlinear(double* x, std::size_t n, Kind kind) {
    const Extremes e = extremes_of(x, n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = kind == Kind::Benefit ? x[i] / e.max : e.min / x[i];
        x[i] = kind == Kind::Benefit ? t * t : t * t * t;
    }
    return true;
}

// 1 - gap / sum(gap), the gap measured from the best value.
bool enhanced_accuracy(double* x, std::size_t n, Kind kind) {
    const Extremes e = extremes_of(x, n);
    double gaps = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        gaps = gaps + (kind == Kind::Benefit ? e.max - x[i] : x[i] - e.min);
    // A constant criterion has no gaps: every value is 1, as under min-max.
    for (std::size_t i = 0; i < n; ++i)
        x[i] = gaps == 0.0 ? 1.0
                           : 1.0 - (kind == Kind::Benefit ? e.max - x[i] : x[i] - e.min) / gaps;
    return true;
}

bool zavadskas_turskis(double* x, std::size_t n, Kind kind) {
    const Extremes e = extremes_of(x, n);
    const double best = kind == Kind::Benefit ? e.max : e.min;
    for (std::size_t i = 0; i < n; ++i) x[i] = 1.0 - std::fabs((best - x[i]) / best);
    return true;
}

}  // namespace

bool normalize_column(Normalization method, double* column, std::size_t n, IndicatorKind kind) {
    switch (method) {
        case Normalization::minmax: return minmax(column, n, kind);
        case Normalization::max: return max(column, n, kind);
        case Normalization::sum: return sum(column, n, kind);
        case Normalization::vector: return vector(column, n, kind);
        case Normalization::logarithmic: return logarithmic(column, n, kind);
        case Normalization::linear: return linear(column, n, kind);
        case Normalization::nonlinear: return nonlinear(column, n, kind);
        case Normalization::enhanced_accuracy: return enhanced_accuracy(column, n, kind);
        case Normalization::zavadskas_turskis: return zavadskas_turskis(column, n, kind);
    }
    return true;
}

const char* normalization_domain(Normalization method) {
    switch (method) {
        case Normalization::sum: return "the sum normalisation needs every value > 0";
        case Normalization::logarithmic: return "the logarithmic normalisation needs every value > 0";
        case Normalization::linear: return "the linear normalisation cannot take a value of 0";
        default: return "values outside the normalisation's domain";
    }
}

Outcome<TransformedMatrix> normalize_matrix(const StridedMatrix& data,
                                            const std::vector<IndicatorKind>& kinds,
                                            Normalization method) {
    return transform_criteria(
        data,
        [&](std::size_t j, double* column, std::size_t n) {
            return normalize_column(method, column, n, kinds[j]);
        },
        normalization_domain(method));
}

Outcome<std::vector<double>> normalized_rows(const StridedMatrix& data,
                                             const StridedVector<std::int64_t>& kinds,
                                             Normalization method) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    if (kinds.size() != data.cols)
        return CoreError{ErrorKind::value_error, "kinds need one entry per criterion"};
    std::vector<IndicatorKind> kind(data.cols);
    for (std::size_t j = 0; j < data.cols; ++j) kind[j] = indicator_kind(kinds[j]);
    auto normalized = normalize_matrix(data, kind, method);
    if (!normalized.ok()) return std::move(normalized.error());
    const TransformedMatrix& r = normalized.value();
    std::vector<double> rows(r.n * r.m);
    for (std::size_t i = 0; i < r.n; ++i)
        for (std::size_t j = 0; j < r.m; ++j) rows[i * r.m + j] = r.row(j)[i];
    return rows;
}

double sum_in_order(const double* values, std::size_t n) {
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) total = total + values[i];
    return total;
}

}  // namespace ternavik::mcda
