#include "core/mcda/topsis_weight_grid.hpp"

#include "core/decision_matrix.hpp"
#include "core/topsis.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

// The first scan of topsis: a criterion's sum of squares in row order.
struct SquareSum {
    double sum = 0.0;
    void see(double value) { sum = sum + value * value; }
};

struct KeepSquares {
    using Scan = SquareSum;
    double* squares;
    void finish(std::size_t j, const double*, const SquareSum& scan) const { squares[j] = scan.sum; }
};

}  // namespace

Outcome<std::vector<double>> topsis_weight_grid(const StridedMatrix& data,
                                                const StridedMatrix& weights,
                                                const StridedVector<std::int64_t>& indicator_type) {
    if (auto error = check_alternative_count(data.rows)) return std::move(*error);
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    const std::size_t grid = weights.rows;
    check_criterion_length(weights.cols, m);
    check_criterion_length(indicator_type.size(), m);
    auto copy = uninitialised_matrix(n, m);
    std::vector<double> squares(m);
    run_criterion_pass(data, copy.get(), KeepSquares{squares.data()});

    std::vector<double> closeness(grid * n);
    // Each piece of the grid reuses one weighted matrix and reruns topsis's
    // own per-criterion and per-alternative steps, so every row matches it.
    run_parallel(grid, [&](std::size_t begin, std::size_t end) {
        auto weighted = uninitialised_matrix(m, n);
        std::vector<double> ideal(m);
        std::vector<double> anti_ideal(m);
        for (std::size_t k = begin; k < end; ++k) {
            for (std::size_t j = 0; j < m; ++j) {
                const Ideals found =
                    weigh_and_find_ideals(copy.get() + j * n, n, weights.at(k, j),
                                          indicator_kind(indicator_type[j]), squares[j],
                                          weighted.get() + j * n);
                ideal[j] = found.ideal;
                anti_ideal[j] = found.anti_ideal;
            }
            closeness_of_alternatives(weighted.get(), n, m, ideal.data(), anti_ideal.data(), 0,
                                      n, closeness.data() + k * n);
        }
    });
    return closeness;
}

}  // namespace ternavik
