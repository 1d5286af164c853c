#pragma once
// A criterion-major private copy of a matrix, made on the worker pool, for
// kernels that must rearrange a criterion's values (sorting, in-place
// transforms). Each work item copies a group of criteria while streaming the
// rows once, feeding every value in row order to the criterion's first scan.
#include <cstddef>
#include <cstring>

#include "core/decision_passes.hpp"
#include "core/matrix_buffer.hpp"
#include "core/strided.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

// Copies `count` criteria from `first` into their criterion-major rows of
// `copy`. Count is a template argument for full groups so the row loop unrolls.
template <std::size_t Count, class Scan>
void copy_and_scan(const StridedMatrix& data, double* copy, std::size_t first,
                   std::size_t count, Scan* scans) {
    if constexpr (Count != 0) count = Count;
    const std::size_t n = data.rows;
    const char* origin = data.first + static_cast<std::ptrdiff_t>(first) * data.col_stride;
    double* target = copy + first * n;
    for (std::size_t i = 0; i < n; ++i) {
        const char* row = origin + static_cast<std::ptrdiff_t>(i) * data.row_stride;
        for (std::size_t g = 0; g < count; ++g) {
            double value;
            std::memcpy(&value, row + static_cast<std::ptrdiff_t>(g) * data.col_stride,
                        sizeof value);
            target[g * n + i] = value;
            scans[g].see(value);
        }
    }
}

// Copies and scans up to criterion_group criteria, then lets the kernel
// finish each one from its contiguous copy.
template <class Kernel>
void copy_and_process_group(const StridedMatrix& data, double* copy, std::size_t first,
                            std::size_t count, const Kernel& kernel) {
    typename Kernel::Scan scans[criterion_group];
    if (count == criterion_group) {
        copy_and_scan<criterion_group>(data, copy, first, count, scans);
    } else {
        copy_and_scan<0>(data, copy, first, count, scans);
    }
    for (std::size_t g = 0; g < count; ++g) {
        kernel.finish(first + g, copy + (first + g) * data.rows, scans[g]);
    }
}

// One work item per criterion on the worker pool; Kernel::Scan is the
// per-criterion first scan, kernel.finish(j, column, scan) writes criterion
// j's outputs from its own column of the copy.
template <class Kernel>
void run_criterion_pass(const StridedMatrix& data, double* copy, const Kernel& kernel) {
    run_parallel(data.cols, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; j += criterion_group) {
            const std::size_t count = end - j < criterion_group ? end - j : criterion_group;
            copy_and_process_group(data, copy, j, count, kernel);
        }
    });
}

}  // namespace ternavik
