#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/decision_matrix.hpp"
#include "core/outcome.hpp"
#include "core/strided.hpp"

namespace ternavik::mcda {

// What every method takes: the n x m decision matrix, a batch of K weight
// vectors (K x m; one vector is K = 1) and one kind code per criterion.
// All three are read-only views; nothing here is ever written.
struct MethodInput {
    StridedMatrix data;
    StridedMatrix weights;
    StridedVector<std::int64_t> kinds;

    std::size_t n() const { return data.rows; }
    std::size_t m() const { return data.cols; }
    std::size_t batch() const { return weights.rows; }
};

// The shape checks every method makes before any arithmetic. Shapes whose
// buffers cannot be allocated throw std::bad_alloc here, before any loop.
std::optional<CoreError> check_method_input(const MethodInput& input);

// The weights copied to a contiguous K x m row-major buffer.
std::vector<double> weight_rows(const MethodInput& input);

// Kind of every criterion, in column order.
std::vector<IndicatorKind> criterion_kinds(const MethodInput& input);

// Scores of K weight vectors for n alternatives, row-major K x n.
using BatchScores = std::vector<double>;

}  // namespace ternavik::mcda
