#include "core/decision_matrix.hpp"

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

}  // namespace ternavik
