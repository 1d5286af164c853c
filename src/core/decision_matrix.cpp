#include "core/decision_matrix.hpp"

#include <new>

#include "runtime/internal_failure.hpp"

namespace ternavik {

IndicatorKind indicator_kind(std::int64_t code) {
    return code == 1 ? IndicatorKind::Benefit : IndicatorKind::Cost;
}

std::optional<CoreError> check_alternative_count(std::uint64_t n) {
    if (n < 2) return CoreError{ErrorKind::value_error, "Data must have more than one row"};
    return std::nullopt;
}

void check_criterion_length(std::uint64_t length, std::uint64_t m) {
    if (length != m) throw InternalFailure("assertion failed: part.equal_dim(dimension)");
}

std::unique_ptr<double[]> uninitialised_matrix(std::size_t rows, std::size_t cols) {
    if (cols != 0 && rows > static_cast<std::size_t>(-1) / sizeof(double) / cols) {
        throw std::bad_array_new_length();
    }
    return std::unique_ptr<double[]>(new double[rows * cols]);
}

}  // namespace ternavik
