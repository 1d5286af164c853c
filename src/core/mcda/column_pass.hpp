#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "core/decision_matrix.hpp"
#include "core/decision_passes.hpp"
#include "core/matrix_buffer.hpp"
#include "core/mcda/loops.hpp"
#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik::mcda {

// Extremes of one transformed criterion, found with the strict scan that
// keeps NaN out.
struct ColumnRange {
    double min = 0.0;
    double max = 0.0;
};

// A decision matrix transformed criterion by criterion: row j of `values`
// holds the n transformed values of criterion j (criterion-major), so the
// alternative passes read one contiguous run per criterion.
struct TransformedMatrix {
    std::size_t n = 0;
    std::size_t m = 0;
    MatrixBuffer values;
    std::vector<ColumnRange> ranges;

    const double* row(std::size_t j) const { return values.get() + j * n; }
};

// Copies criteria [first, first + count) into their rows of `target`,
// sweeping the input row by row so a row-major input is read one cache
// line at a time.
inline void copy_criteria(const StridedMatrix& data, std::size_t first, std::size_t count,
                          double* target) {
    const std::size_t n = data.rows;
    for (std::size_t i = 0; i < n; ++i) {
        const char* row = data.first + static_cast<std::ptrdiff_t>(i) * data.row_stride +
                          static_cast<std::ptrdiff_t>(first) * data.col_stride;
        for (std::size_t g = 0; g < count; ++g) {
            std::memcpy(target + (first + g) * n + i,
                        row + static_cast<std::ptrdiff_t>(g) * data.col_stride, sizeof(double));
        }
    }
}

// The criterion pass shared by every method: copy each criterion into the
// call's own criterion-major matrix, then let `rule(j, column, n)` turn the
// copy into the method's per-criterion values in place. The rule returns
// false when the criterion is outside its domain; the first such criterion
// (in column order, whatever the threads did) becomes `domain`'s ValueError.
template <class Rule>
Outcome<TransformedMatrix> transform_criteria(const StridedMatrix& data, const Rule& rule,
                                              const char* domain) {
    TransformedMatrix out;
    out.n = data.rows;
    out.m = data.cols;
    out.values = uninitialised_matrix(out.m, out.n);
    out.ranges.resize(out.m);
    std::vector<char> inside(out.m, 1);
    run_split(out.m, out.n * out.m * 4, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; j += criterion_group) {
            const std::size_t count = end - j < criterion_group ? end - j : criterion_group;
            copy_criteria(data, j, count, out.values.get());
            for (std::size_t g = j; g < j + count; ++g) {
                double* column = out.values.get() + g * out.n;
                inside[g] = rule(g, column, out.n) ? 1 : 0;
                Extremes extremes;
                for (std::size_t i = 0; i < out.n; ++i) extremes.see(column[i]);
                out.ranges[g] = ColumnRange{extremes.min, extremes.max};
            }
        }
    });
    for (std::size_t j = 0; j < out.m; ++j) {
        if (!inside[j]) {
            return CoreError{ErrorKind::value_error,
                             "criterion #" + std::to_string(j) + ": " + domain};
        }
    }
    return out;
}

}  // namespace ternavik::mcda
