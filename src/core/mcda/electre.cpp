// ELECTRE I. With f_j = x_j on benefit and -x_j on cost criteria, the row
// alternative a outranks the column alternative b (a != b) when
//   concordance(a, b) = sum of w_j / sum(w) over the j with f_j(a) >= f_j(b),
//                       added in criterion order from 0.0, is >= c, and
//   discordance(a, b) = max_j max(f_j(b) - f_j(a), 0) / max_j range_j
//                       is <= d (0 when every criterion is constant).
// Differences and ranges are formed from halved values: halving is exact in
// binary64 above the subnormals, so the ratio is the same as from the full
// values wherever those are finite, and stays finite where x_b - x_a would
// overflow.
#include <algorithm>
#include <string>

#include "core/checked_size.hpp"
#include "core/mcda/outranking.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

// The largest relative loss of every ordered pair, n x n (weight-independent).
std::vector<double> discordance(const TransformedMatrix& f) {
    const std::size_t n = f.n, m = f.m;
    double widest = 0.0;
    for (std::size_t j = 0; j < m; ++j)
        widest = std::max(widest, f.ranges[j].max / 2.0 - f.ranges[j].min / 2.0);
    std::vector<double> out(allocation_elements({n, n}), 0.0);
    run_split(n, n * n * m, [&](std::size_t begin, std::size_t end) {
        for (std::size_t a = begin; a < end; ++a) {
            for (std::size_t j = 0; j < m; ++j) {
                const double* column = f.row(j);
                const double mine = column[a] / 2.0;
                for (std::size_t b = 0; b < n; ++b) {
                    const double loss = column[b] / 2.0 - mine;
                    if (loss > out[a * n + b]) out[a * n + b] = loss;
                }
            }
            for (std::size_t b = 0; b < n; ++b)
                out[a * n + b] = widest > 0.0 ? out[a * n + b] / widest : 0.0;
        }
    });
    return out;
}

}  // namespace

TransformedMatrix benefit_oriented(const MethodInput& input) {
    const std::vector<IndicatorKind> kinds = criterion_kinds(input);
    auto turned = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            if (kinds[j] != IndicatorKind::Benefit)
                for (std::size_t i = 0; i < rows; ++i) column[i] = -column[i];
            return true;
        },
        "");
    return std::move(turned.value());
}

Outcome<std::vector<std::uint8_t>> electre1(const MethodInput& input, double c, double d) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    const TransformedMatrix f = benefit_oriented(input);
    const std::vector<double> weights = unit_weight_rows(input);
    const std::vector<double> loss = discordance(f);
    std::vector<std::uint8_t> outranks(allocation_elements({batch, n, n}, 1), 0);
    run_split(n, batch * n * n * m, [&](std::size_t begin, std::size_t end) {
        std::vector<double> agree(n);
        for (std::size_t a = begin; a < end; ++a) {
            for (std::size_t k = 0; k < batch; ++k) {
                const double* w = weights.data() + k * m;
                std::fill(agree.begin(), agree.end(), 0.0);
                for (std::size_t j = 0; j < m; ++j) {
                    const double* column = f.row(j);
                    const double mine = column[a];
                    for (std::size_t b = 0; b < n; ++b)
                        if (mine >= column[b]) agree[b] = agree[b] + w[j];
                }
                std::uint8_t* row = outranks.data() + (k * n + a) * n;
                for (std::size_t b = 0; b < n; ++b)
                    row[b] = b != a && agree[b] >= c && loss[a * n + b] <= d ? 1 : 0;
            }
        }
    });
    return outranks;
}

}  // namespace ternavik::mcda
