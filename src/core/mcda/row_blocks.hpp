#pragma once
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "core/checked_size.hpp"
#include "core/decision_matrix.hpp"
#include "core/strided.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

// Alternatives per block of a row reduction. Fixed, so that how partial sums
// are formed never depends on the number of threads.
inline constexpr std::size_t reduction_rows = 2048;

// Partial sums kept at most (doubles); only reductions into very many sums
// (CRITIC's m x m products of a wide matrix) need larger blocks to stay below.
inline constexpr std::size_t partial_limit = std::size_t{1} << 23;

// Rows per block: reduction_rows, or more when blocks * width would pass
// partial_limit. A function of the shape alone, never of the threads.
inline std::size_t rows_per_block(std::size_t n, std::size_t width) {
    const std::size_t most_blocks =
        std::max<std::size_t>(1, partial_limit / std::max<std::size_t>(1, width));
    return std::max(reduction_rows, (n + most_blocks - 1) / most_blocks);
}

// Copies row i of `data` (m values) into `row`.
inline void load_row(const StridedMatrix& data, std::size_t i, double* row) {
    const char* first = data.first + static_cast<std::ptrdiff_t>(i) * data.row_stride;
    if (data.col_stride == static_cast<std::ptrdiff_t>(sizeof(double))) {
        std::memcpy(row, first, data.cols * sizeof(double));
        return;
    }
    for (std::size_t j = 0; j < data.cols; ++j) {
        std::memcpy(row + j, first + static_cast<std::ptrdiff_t>(j) * data.col_stride,
                    sizeof(double));
    }
}

// Sums over alternatives, read straight from the caller's matrix in row
// order: add(row, acc) adds one alternative's terms (row holds its m values)
// into `width` accumulators. Rows fall into blocks of rows_per_block; each
// block sums its rows in order from 0, the blocks run on the worker pool,
// and out[w] = ((0 + block 0) + block 1) + ... in block order.
template <class Add>
void reduce_rows(const StridedMatrix& data, std::size_t width, const Add& add, double* out) {
    const std::size_t n = data.rows;
    const std::size_t size = rows_per_block(n, width);
    const std::size_t blocks = (n + size - 1) / size;
    std::vector<double> partial(allocation_elements({blocks, width}), 0.0);
    run_parallel(blocks, [&](std::size_t begin, std::size_t end) {
        std::vector<double> row(data.cols);
        for (std::size_t b = begin; b < end; ++b) {
            double* acc = partial.data() + b * width;
            const std::size_t last = n < (b + 1) * size ? n : (b + 1) * size;
            for (std::size_t i = b * size; i < last; ++i) {
                load_row(data, i, row.data());
                add(static_cast<const double*>(row.data()), acc);
            }
        }
    });
    for (std::size_t w = 0; w < width; ++w) out[w] = 0.0;
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t w = 0; w < width; ++w) out[w] = out[w] + partial[b * width + w];
    }
}

// Every criterion's extremes, scanned in row order by blocks and merged in
// block order; strict comparisons make this the same as one scan.
inline std::vector<Extremes> column_extremes(const StridedMatrix& data) {
    const std::size_t n = data.rows;
    const std::size_t m = data.cols;
    const std::size_t blocks = (n + reduction_rows - 1) / reduction_rows;
    std::vector<Extremes> partial(allocation_elements({blocks, m}, sizeof(Extremes)));
    run_parallel(blocks, [&](std::size_t begin, std::size_t end) {
        std::vector<double> row(m);
        for (std::size_t b = begin; b < end; ++b) {
            Extremes* found = partial.data() + b * m;
            const std::size_t last = n < (b + 1) * reduction_rows ? n : (b + 1) * reduction_rows;
            for (std::size_t i = b * reduction_rows; i < last; ++i) {
                load_row(data, i, row.data());
                for (std::size_t j = 0; j < m; ++j) found[j].see(row[j]);
            }
        }
    });
    std::vector<Extremes> all(m);
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t j = 0; j < m; ++j) {
            all[j].see(partial[b * m + j].min);
            all[j].see(partial[b * m + j].max);
        }
    }
    return all;
}

}  // namespace ternavik
