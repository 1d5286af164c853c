#pragma once
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/checked_size.hpp"
#include "core/mcda/column_pass.hpp"
#include "core/mcda/loops.hpp"

namespace ternavik::mcda {

// out[l] = terms[0][first + l] * w[0] + terms[1][first + l] * w[1] + ...,
// from 0.0 in criterion order, for a block of `size` alternatives. Criteria
// whose `include` flag is 0 are skipped (null `include` takes them all).
inline void weighted_block_sums(const TransformedMatrix& terms, const double* w,
                                const char* include, std::size_t first, std::size_t size,
                                double* out) {
    double acc[alternative_block];
    for (std::size_t l = 0; l < size; ++l) acc[l] = 0.0;
    for (std::size_t j = 0; j < terms.m; ++j) {
        if (include != nullptr && !include[j]) continue;
        const double* t = terms.row(j) + first;
        const double wj = w[j];
        for (std::size_t l = 0; l < size; ++l) acc[l] = acc[l] + t[l] * wj;
    }
    for (std::size_t l = 0; l < size; ++l) out[l] = acc[l];
}

// The K x n weighted sums of a criterion-major term matrix, one row per
// weight vector of the K x m row-major `weights`.
inline std::vector<double> weighted_sums(const TransformedMatrix& terms,
                                         const std::vector<double>& weights, std::size_t batch,
                                         const char* include = nullptr) {
    const std::size_t n = terms.n;
    const std::size_t m = terms.m;
    std::vector<double> sums(allocation_elements({batch, n}));
    for_alternative_blocks(n, batch * m, [&](std::size_t first, std::size_t size) {
        for (std::size_t k = 0; k < batch; ++k)
            weighted_block_sums(terms, weights.data() + k * m, include, first, size,
                                sums.data() + k * n + first);
    });
    return sums;
}

// body(k) for every weight vector k: the per-vector finishing steps, each a
// few scans over n alternatives, spread over the pool for large batches.
template <class Body>
void for_each_weight_vector(std::size_t batch, std::size_t n, Body&& body) {
    run_split(batch, batch * n * 4, [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) body(k);
    });
}

// Smallest and largest of n values with the strict, NaN-skipping scan.
inline Extremes extremes_of_values(const double* values, std::size_t n) {
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) e.see(values[i]);
    return e;
}

}  // namespace ternavik::mcda

namespace ternavik::mcda {

// ln of every value of a transformed matrix, criterion by criterion on the
// pool: the products r^w of WPM and CoCoSo become exp(w * ln r), one
// logarithm per value whatever the number of weight vectors.
inline TransformedMatrix logarithms_of(const TransformedMatrix& r) {
    TransformedMatrix logs{r.n, r.m, uninitialised_matrix(r.m, r.n), {}};
    run_split(r.m, r.n * r.m * 8, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            const double* from = r.row(j);
            double* to = logs.values.get() + j * r.n;
            for (std::size_t i = 0; i < r.n; ++i) to[i] = std::log(from[i]);
        }
    });
    return logs;
}

// w * ln r with the convention r^0 = 1 (0 * -inf would be NaN).
inline double weighted_log(double w, double log_r) { return w == 0.0 ? 0.0 : w * log_r; }

// Flags of the criteria of one kind, for weighted_sums' `include`.
inline std::vector<char> criteria_of_kind(const std::vector<IndicatorKind>& kinds,
                                          IndicatorKind kind) {
    std::vector<char> flags(kinds.size());
    for (std::size_t j = 0; j < kinds.size(); ++j) flags[j] = kinds[j] == kind ? 1 : 0;
    return flags;
}

}  // namespace ternavik::mcda
