// SPOTIS: with bounds [low_j, high_j] and the ideal point esp_j,
// d_ij = |(x_ij - esp_j) / (low_j - high_j)| and score_i = sum_j d_ij w_j in
// criterion order (lower is better). Values outside the bounds are refused.
#include <cmath>
#include <string>

#include "core/mcda/methods.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

bool distance_to_ideal(double* x, std::size_t n, double low, double high, double ideal) {
    if (!(low < high) || !(ideal >= low && ideal <= high)) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] < low || x[i] > high) return false;  // NaN propagates instead
    for (std::size_t i = 0; i < n; ++i) x[i] = std::fabs((x[i] - ideal) / (low - high));
    return true;
}

}  // namespace

Outcome<BatchScores> spotis(const MethodInput& input, const StridedMatrix& bounds,
                            const StridedVector<double>& esp) {
    if (auto error = check_method_input(input)) return std::move(*error);
    if (bounds.rows != input.m() || bounds.cols != 2 || esp.size() != input.m())
        return CoreError{ErrorKind::value_error,
                         "bounds must be (m, 2) and esp must have m entries"};
    auto d = transform_criteria(
        input.data,
        [&](std::size_t j, double* column, std::size_t rows) {
            return distance_to_ideal(column, rows, bounds.at(j, 0), bounds.at(j, 1), esp[j]);
        },
        "SPOTIS needs low < high bounds that hold every value");
    if (!d.ok()) return std::move(d.error());
    return weighted_sums(d.value(), weight_rows(input), input.batch());
}

}  // namespace ternavik::mcda
