// PROMETHEE II. For criterion j and alternatives i, k with d = x_ij - x_kj
// (x_kj - x_ij for cost criteria), P_j(d) is the criterion's preference
// function. The unicriterion sums plus_ij = sum_k P_j(d_ik) and
// minus_ij = sum_k P_j(d_ki), over k = 0 .. n-1 in order, do not depend on
// the weights and are computed once; then for every weight vector
// phi_i = (sum_j w_j plus_ij) / (n - 1) - (sum_j w_j minus_ij) / (n - 1).
// Step functions (usual, u-shape, level) count instead of comparing every
// pair, with the same result to the last bit (preference_counts.hpp).
#include <cmath>
#include <string>

#include "core/mcda/methods.hpp"
#include "core/mcda/preference_counts.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

struct Thresholds {
    double q, p, s;
    double per_p;      // 1 / p
    double per_width;  // 1 / (p - q)
};

// The preference functions; d <= 0 always gives 0. The ramps multiply by
// the reciprocal computed once per criterion, d * (1 / p) and
// (d - q) * (1 / (p - q)), and are computed before the comparisons pick a
// value, so the loops compile to selects instead of unpredictable branches.
struct Usual {
    static double at(double d, const Thresholds&) { return d > 0.0 ? 1.0 : 0.0; }
};
struct UShape {
    static double at(double d, const Thresholds& t) { return d > t.q ? 1.0 : 0.0; }
};
struct VShape {
    static double at(double d, const Thresholds& t) {
        const double ramp = d * t.per_p;
        const double lower = d > 0.0 ? ramp : 0.0;
        return d > t.p ? 1.0 : lower;
    }
};
struct Level {
    static double at(double d, const Thresholds& t) {
        const double lower = d > t.q ? 0.5 : 0.0;
        return d > t.p ? 1.0 : lower;
    }
};
struct Linear {
    static double at(double d, const Thresholds& t) {
        const double ramp = (d - t.q) * t.per_width;
        const double lower = d > t.q ? ramp : 0.0;
        return d > t.p ? 1.0 : lower;
    }
};
// 1 - exp(-(d * d) / (2 * s * s)), the denominator evaluated as (2 * s) * s.
struct Gaussian {
    static double at(double d, const Thresholds& t) {
        return d > 0.0 ? 1.0 - std::exp(-(d * d) / (2.0 * t.s * t.s)) : 0.0;
    }
};

// plus and minus sums of alternatives [first, first + size) on one criterion.
template <class Function>
void pairwise_block(const double* x, std::size_t n, double sign, const Thresholds t,
                    std::size_t first, std::size_t size, double* plus, double* minus) {
    double more[alternative_block];
    double less[alternative_block];
    for (std::size_t l = 0; l < size; ++l) more[l] = less[l] = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double other = x[k];
        for (std::size_t l = 0; l < size; ++l) {
            const double d = sign * (x[first + l] - other);
            more[l] = more[l] + Function::at(d, t);
            less[l] = less[l] + Function::at(-d, t);
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        plus[first + l] = more[l];
        minus[first + l] = less[l];
    }
}

void pairwise_criterion(Preference function, const double* x, std::size_t n, double sign,
                        const Thresholds& t, std::size_t first, std::size_t size, double* plus,
                        double* minus) {
    switch (function) {
        case Preference::usual: return pairwise_block<Usual>(x, n, sign, t, first, size, plus, minus);
        case Preference::u_shape: return pairwise_block<UShape>(x, n, sign, t, first, size, plus, minus);
        case Preference::v_shape: return pairwise_block<VShape>(x, n, sign, t, first, size, plus, minus);
        case Preference::level: return pairwise_block<Level>(x, n, sign, t, first, size, plus, minus);
        case Preference::linear: return pairwise_block<Linear>(x, n, sign, t, first, size, plus, minus);
        case Preference::gaussian: return pairwise_block<Gaussian>(x, n, sign, t, first, size, plus, minus);
    }
}

std::optional<CoreError> check_preference(const PreferenceFunctions& preference, std::size_t m) {
    if (preference.functions.size() != m || preference.q.size() != m ||
        preference.p.size() != m || preference.s.size() != m)
        return CoreError{ErrorKind::value_error,
                         "preference functions and thresholds need one entry per criterion"};
    for (std::size_t j = 0; j < m; ++j) {
        const std::int64_t code = preference.functions[j];
        if (code < 0 || code >= preference_count)
            return CoreError{ErrorKind::value_error,
                             "criterion #" + std::to_string(j) + ": unknown preference function"};
    }
    return std::nullopt;
}

}  // namespace

Outcome<BatchScores> promethee2(const MethodInput& input, const PreferenceFunctions& preference) {
    if (auto error = check_method_input(input)) return std::move(*error);
    if (auto error = check_preference(preference, input.m())) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const std::vector<double> weights = weight_rows(input);
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto copied = transform_criteria(input.data, [](std::size_t, double*, std::size_t) { return true; }, "");
    const TransformedMatrix& x = copied.value();

    TransformedMatrix plus{n, m, uninitialised_matrix(m, n), {}};
    TransformedMatrix minus{n, m, uninitialised_matrix(m, n), {}};
    const auto function = [&](std::size_t j) {
        return static_cast<Preference>(preference.functions[j]);
    };
    const auto is_step = [&](std::size_t j) {
        return function(j) == Preference::usual || function(j) == Preference::u_shape ||
               function(j) == Preference::level;
    };
    run_split(m, n * m * 32, [&](std::size_t begin, std::size_t end) {
        std::vector<double> scratch(n);
        for (std::size_t j = begin; j < end; ++j) {
            if (!is_step(j)) continue;
            const bool usual = function(j) == Preference::usual;
            step_preference_sums(x.row(j), n, kinds[j] == IndicatorKind::Benefit ? 1.0 : -1.0,
                                 usual ? 0.0 : preference.q[j], preference.p[j],
                                 function(j) == Preference::level, scratch.data(),
                                 plus.values.get() + j * n, minus.values.get() + j * n);
        }
    });
    for_alternative_blocks(n, 2 * n * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t j = 0; j < m; ++j) {
            if (is_step(j)) continue;
            const double q = preference.q[j], p = preference.p[j];
            const Thresholds t{q, p, preference.s[j], 1.0 / p, 1.0 / (p - q)};
            const double sign = kinds[j] == IndicatorKind::Benefit ? 1.0 : -1.0;
            pairwise_criterion(static_cast<Preference>(preference.functions[j]), x.row(j), n,
                               sign, t, first, size, plus.values.get() + j * n,
                               minus.values.get() + j * n);
        }
    });
    const std::vector<double> outgoing = weighted_sums(plus, weights, batch);
    const std::vector<double> incoming = weighted_sums(minus, weights, batch);
    const double others = static_cast<double>(n) - 1.0;
    BatchScores flows(batch * n);
    for (std::size_t e = 0; e < flows.size(); ++e)
        flows[e] = outgoing[e] / others - incoming[e] / others;
    return flows;
}

}  // namespace ternavik::mcda
