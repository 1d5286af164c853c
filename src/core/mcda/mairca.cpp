// MAIRCA on the min-max normalisation r: with the theoretical rating
// T_j = (1 / n) w_j, the gap of alternative i is
// sum_j (T_j - r_ij T_j) in criterion order (lower is better).
#include "core/mcda/methods.hpp"
#include "core/checked_size.hpp"
#include "core/mcda/weighted_sums.hpp"

namespace ternavik::mcda {

namespace {

void gap_block(const TransformedMatrix& r, const double* rating, std::size_t first,
               std::size_t size, double* out) {
    double acc[alternative_block];
    for (std::size_t l = 0; l < size; ++l) acc[l] = 0.0;
    for (std::size_t j = 0; j < r.m; ++j) {
        const double* column = r.row(j) + first;
        for (std::size_t l = 0; l < size; ++l)
            acc[l] = acc[l] + (rating[j] - column[l] * rating[j]);
    }
    for (std::size_t l = 0; l < size; ++l) out[l] = acc[l];
}

}  // namespace

Outcome<BatchScores> mairca(const MethodInput& input) {
    if (auto error = check_method_input(input)) return std::move(*error);
    const std::size_t n = input.n(), m = input.m(), batch = input.batch();
    std::vector<double> rating = weight_rows(input);
    const double share = 1.0 / static_cast<double>(n);
    for (double& t : rating) t = share * t;
    auto r = normalize_matrix(input.data, criterion_kinds(input), Normalization::minmax);
    BatchScores gaps(allocation_elements({batch, n}));
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            gap_block(r.value(), rating.data() + k * m, first, size, gaps.data() + k * n + first);
    });
    return gaps;
}

}  // namespace ternavik::mcda
