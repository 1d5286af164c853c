#pragma once
// The two kinds of loop of the decision functions. Column passes keep every
// criterion's sums in row order, so they split by groups of criteria and
// stream the rows once; row passes combine criteria within one alternative,
// so they split by rows. Small problems run on the calling thread.
#include <cstddef>
#include <cstring>

#include "core/strided.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

// Criteria that one column-pass item streams together: eight doubles are
// one 64-byte line of a row-major row, read once instead of once per criterion.
inline constexpr std::size_t criterion_group = 8;

// Below this many matrix elements, waking the workers costs more than the
// whole pass, so it runs on the calling thread and wakes nobody.
inline constexpr std::size_t caller_only_elements = std::size_t{1} << 15;

// run_parallel for `items`, or body(0, items) on the caller for small work.
// pool_size() still runs first, so a pool that failed to start fails here too.
template <class Body>
void run_pass(std::size_t items, std::size_t elements, Body&& body) {
    pool_size();
    if (elements < caller_only_elements || items <= 1) {
        if (items != 0) body(std::size_t{0}, items);
        return;
    }
    run_parallel(items, [&body](std::size_t begin, std::size_t end) { body(begin, end); });
}

// Two doubles in one register. Element-wise arithmetic on it is the same
// IEEE operation on each lane, so results do not change; it only lets the
// compiler keep eight running sums in four registers.
using DoublePair = double __attribute__((vector_size(16)));
inline constexpr std::size_t group_pairs = criterion_group / 2;

inline DoublePair load_pair(const double* values) {
    DoublePair pair;
    std::memcpy(&pair, values, sizeof pair);
    return pair;
}

// Feeds rows [0, n) of criteria [first, first + count) to scan.row as four
// pairs a row; lanes past `count` hold 0.0 and their results are dropped.
template <bool Packed, class Scan>
void stream_rows(const StridedMatrix& data, std::size_t first, std::size_t count, Scan& scan) {
    const char* row = data.first + static_cast<std::ptrdiff_t>(first) * data.col_stride;
    double values[criterion_group] = {};
    DoublePair pairs[group_pairs];
    for (std::size_t i = 0; i < data.rows; ++i, row += data.row_stride) {
        if constexpr (Packed) {
            std::memcpy(pairs, row, sizeof pairs);
        } else {
            for (std::size_t g = 0; g < count; ++g) {
                std::memcpy(&values[g], row + static_cast<std::ptrdiff_t>(g) * data.col_stride,
                            sizeof(double));
            }
            for (std::size_t p = 0; p < group_pairs; ++p) pairs[p] = load_pair(values + 2 * p);
        }
        scan.row(pairs);
    }
}

// One group: full groups of packed rows load each row's line directly.
template <class Scan>
void stream_group(const StridedMatrix& data, std::size_t first, std::size_t count, Scan& scan) {
    const bool packed = data.col_stride == std::ptrdiff_t{sizeof(double)};
    if (packed && count == criterion_group) {
        stream_rows<true>(data, first, count, scan);
    } else {
        stream_rows<false>(data, first, count, scan);
    }
}

// The column pass: group_body(first, count) for every group of up to eight
// criteria, the groups spread over the workers.
template <class GroupBody>
void run_column_pass(const StridedMatrix& data, GroupBody&& group_body) {
    const std::size_t m = data.cols;
    const std::size_t groups = (m + criterion_group - 1) / criterion_group;
    run_pass(groups, data.rows * m, [&](std::size_t begin, std::size_t end) {
        for (std::size_t group = begin; group < end; ++group) {
            const std::size_t first = group * criterion_group;
            group_body(first, m - first < criterion_group ? m - first : criterion_group);
        }
    });
}

// The row pass: row_body(begin, end) over pieces of the alternatives.
template <class RowBody>
void run_row_pass(const StridedMatrix& data, RowBody&& row_body) {
    run_pass(data.rows, data.rows * (data.cols + 1), row_body);
}

// Rows that a row pass works on side by side: their sums are independent,
// so they vectorise while each still runs over the criteria in order.
inline constexpr std::size_t row_block = 8;
inline constexpr std::size_t row_pairs = row_block / 2;

// The values at two addresses (one criterion of two rows) as a pair.
inline DoublePair load_column_pair(const char* a, const char* b) {
    double values[2];
    std::memcpy(&values[0], a, sizeof(double));
    std::memcpy(&values[1], b, sizeof(double));
    return load_pair(values);
}

}  // namespace ternavik
