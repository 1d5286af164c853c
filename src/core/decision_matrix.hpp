#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "core/outcome.hpp"
#include "core/strided.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

enum class IndicatorKind { Benefit, Cost };

// Code 1 means larger is better; every other code means smaller is better.
IndicatorKind indicator_kind(std::int64_t code);

// Fewer than two alternatives leave nothing to compare.
std::optional<CoreError> check_alternative_count(std::uint64_t n);

// A per-criterion vector of the wrong length is a caller bug, not bad data.
void check_criterion_length(std::uint64_t length, std::uint64_t m);

// Releases a buffer from uninitialised_matrix.
struct FreeBuffer {
    void operator()(double* buffer) const;
};
using MatrixBuffer = std::unique_ptr<double[], FreeBuffer>;

// Buffer of rows * cols doubles left uninitialised because every element is
// written before it is read; throws std::bad_alloc when it cannot exist.
MatrixBuffer uninitialised_matrix(std::size_t rows, std::size_t cols);

// Running minimum and maximum. Strict comparisons from the infinities keep
// NaN out of the extremes and keep the first of equal values (signed zeros).
struct Extremes {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();

    void see(double value) {
        if (value < min) min = value;
        if (value > max) max = value;
    }
};

// Criteria copied together; one row of a row-major input is read one cache
// line at a time instead of once per criterion.
inline constexpr std::size_t criterion_group = 8;

// Copies `count` criteria from `first` into their criterion-major rows of
// `copy`, feeding every value in row order to its criterion's first scan.
// Count is a template argument for full groups so the row loop unrolls.
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

// The criterion pass: one work item per criterion on the worker pool. Each
// item takes its own column of the private copy (so the copy runs in
// parallel too) before anything reads it. Kernel::Scan is the per-criterion
// first scan; kernel.finish(j, column, scan) writes criterion j's outputs.
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
