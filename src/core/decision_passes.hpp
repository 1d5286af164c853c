#pragma once
// The two kinds of loop of the decision functions. Column passes keep every
// criterion's sums in row order, so they split by groups of criteria and
// stream the rows once; row passes combine criteria within one alternative,
// so they split by rows. Small problems run on the calling thread.
#include <algorithm>
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

// Groups that one sweep over the rows feeds together, so a thread with
// several groups reads each row once rather than once per group.
inline constexpr std::size_t sweep_groups = 4;

// Feeds every row of `groups` consecutive groups from `first_group` to
// scans[k].row as four pairs a row; lanes past the last criterion hold 0.0
// and their results are dropped.
template <bool Packed, class Scan>
void stream_rows(const StridedMatrix& data, std::size_t first_group, std::size_t groups,
                 Scan* scans) {
    const std::size_t first = first_group * criterion_group;
    const std::size_t last_count =
        std::min(criterion_group, data.cols - (first_group + groups - 1) * criterion_group);
    const char* row = data.first + static_cast<std::ptrdiff_t>(first) * data.col_stride;
    double values[criterion_group] = {};
    DoublePair pairs[group_pairs];
    for (std::size_t i = 0; i < data.rows; ++i, row += data.row_stride) {
        for (std::size_t k = 0; k < groups; ++k) {
            const std::size_t count = k + 1 < groups ? criterion_group : last_count;
            const char* group = row + static_cast<std::ptrdiff_t>(k * criterion_group) *
                                          data.col_stride;
            if (Packed && count == criterion_group) {
                std::memcpy(pairs, group, sizeof pairs);
            } else {
                for (std::size_t g = 0; g < count; ++g) {
                    std::memcpy(&values[g], group + static_cast<std::ptrdiff_t>(g) * data.col_stride,
                                sizeof(double));
                }
                for (std::size_t g = count; g < criterion_group; ++g) values[g] = 0.0;
                for (std::size_t p = 0; p < group_pairs; ++p) pairs[p] = load_pair(values + 2 * p);
            }
            scans[k].row(pairs);
        }
    }
}

// The column pass. kernel.start(first, count) makes the scan of the group of
// `count` criteria from `first`, kernel.finish(first, count, scan) stores its
// results; the groups are spread over the workers and each worker sweeps the
// rows once for up to sweep_groups of its groups.
template <class Kernel>
void run_column_pass(const StridedMatrix& data, const Kernel& kernel) {
    const std::size_t m = data.cols;
    const std::size_t groups = (m + criterion_group - 1) / criterion_group;
    run_pass(groups, data.rows * m, [&](std::size_t begin, std::size_t end) {
        for (std::size_t sweep = begin; sweep < end; sweep += sweep_groups) {
            const std::size_t count = end - sweep < sweep_groups ? end - sweep : sweep_groups;
            decltype(kernel.start(0, 0)) scans[sweep_groups];
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t first = (sweep + k) * criterion_group;
                scans[k] = kernel.start(first, std::min(criterion_group, m - first));
            }
            if (data.col_stride == std::ptrdiff_t{sizeof(double)}) {
                stream_rows<true>(data, sweep, count, scans);
            } else {
                stream_rows<false>(data, sweep, count, scans);
            }
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t first = (sweep + k) * criterion_group;
                kernel.finish(first, std::min(criterion_group, m - first), scans[k]);
            }
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
