// PROMETHEE I and II. For criterion j and alternatives i, k with d_ik = x_ij - x_kj
// (x_kj - x_ij for cost criteria), P_j is the criterion's preference
// function. The unicriterion sums plus_ij = sum_k P_j(d_ik) and
// minus_ij = sum_k P_j(d_ki) do not depend on the weights and are computed
// once per call; then for every weight vector
// phi+_i = (sum_j w_j plus_ij) / (n - 1), phi-_i = (sum_j w_j minus_ij) / (n - 1)
// and PROMETHEE II's net flow phi_i = phi+_i - phi-_i.
// Step functions are counted and ramps summed over the sorted criterion
// (preference_counts.hpp), so only the Gaussian compares every pair.
#include <cmath>
#include <string>

#include "core/mcda/methods.hpp"
#include "core/mcda/outranking.hpp"
#include "core/mcda/preference_counts.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

// The Gaussian 1 - exp(-(d * d) / (2 * s * s)) for d > 0, else 0, the
// denominator evaluated as (2 * s) * s: no shortcut exists, so every pair is
// compared, alternatives side by side.
double gaussian(double d, double s) { return d > 0.0 ? 1.0 - std::exp(-(d * d) / (2.0 * s * s)) : 0.0; }

void gaussian_block(const double* x, std::size_t n, double sign, double s, std::size_t first,
                    std::size_t size, double* plus, double* minus) {
    double more[alternative_block];
    double less[alternative_block];
    for (std::size_t l = 0; l < size; ++l) more[l] = less[l] = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double other = x[k];
        for (std::size_t l = 0; l < size; ++l) {
            const double d = sign * (x[first + l] - other);
            more[l] = more[l] + gaussian(d, s);
            less[l] = less[l] + gaussian(-d, s);
        }
    }
    for (std::size_t l = 0; l < size; ++l) {
        plus[first + l] = more[l];
        minus[first + l] = less[l];
    }
}

// The sorted paths: steps are counted, ramps visit only the k on the ramp.
void sorted_criterion(Preference function, const double* x, std::size_t n, double sign,
                      double q, double p, double* scratch, double* plus, double* minus) {
    switch (function) {
        case Preference::usual: return step_preference_sums(x, n, sign, 0.0, p, false, scratch, plus, minus);
        case Preference::u_shape: return step_preference_sums(x, n, sign, q, p, false, scratch, plus, minus);
        case Preference::level: return step_preference_sums(x, n, sign, q, p, true, scratch, plus, minus);
        case Preference::v_shape: return ramp_preference_sums(x, n, sign, 0.0, p, scratch, plus, minus);
        case Preference::linear: return ramp_preference_sums(x, n, sign, q, p, scratch, plus, minus);
        case Preference::gaussian: return;
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

Outcome<PrometheeFlows> promethee_flows(const MethodInput& input,
                                        const PreferenceFunctions& preference) {
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
    const auto sign = [&](std::size_t j) {
        return kinds[j] == IndicatorKind::Benefit ? 1.0 : -1.0;
    };
    run_split(m, n * m * 32, [&](std::size_t begin, std::size_t end) {
        std::vector<double> scratch(n);
        for (std::size_t j = begin; j < end; ++j)
            sorted_criterion(function(j), x.row(j), n, sign(j), preference.q[j], preference.p[j],
                             scratch.data(), plus.values.get() + j * n, minus.values.get() + j * n);
    });
    for_alternative_blocks(n, 2 * n * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t j = 0; j < m; ++j) {
            if (function(j) != Preference::gaussian) continue;
            gaussian_block(x.row(j), n, sign(j), preference.s[j], first, size,
                           plus.values.get() + j * n, minus.values.get() + j * n);
        }
    });
    const std::vector<double> outgoing = weighted_sums(plus, weights, batch);
    const std::vector<double> incoming = weighted_sums(minus, weights, batch);
    const double others = static_cast<double>(n) - 1.0;
    PrometheeFlows flows{BatchScores(batch * n), BatchScores(batch * n)};
    for (std::size_t e = 0; e < batch * n; ++e) {
        flows.positive[e] = outgoing[e] / others;
        flows.negative[e] = incoming[e] / others;
    }
    return flows;
}

Outcome<BatchScores> promethee2(const MethodInput& input, const PreferenceFunctions& preference) {
    Outcome<PrometheeFlows> flows = promethee_flows(input, preference);
    if (!flows.ok()) return std::move(flows.error());
    BatchScores net(flows.value().positive.size());
    for (std::size_t e = 0; e < net.size(); ++e)
        net[e] = flows.value().positive[e] - flows.value().negative[e];
    return net;
}

}  // namespace ternavik::mcda
