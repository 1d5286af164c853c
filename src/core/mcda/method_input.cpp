#include "core/mcda/method_input.hpp"

#include <string>

#include "core/checked_size.hpp"

namespace ternavik::mcda {

std::optional<CoreError> check_method_input(const MethodInput& input) {
    if (auto error = check_alternative_count(input.n())) return error;
    // Views of no memory (zero columns, zero strides) can declare any shape:
    // the K x n, K x m and n x m buffers of a method must fit before any loop
    // runs over them.
    allocation_elements({input.batch(), input.n()});
    allocation_elements({input.batch(), input.m()});
    allocation_elements({input.n(), input.m()});
    const std::size_t m = input.m();
    if (input.weights.cols != m) {
        return CoreError{ErrorKind::value_error,
                         "weights have " + std::to_string(input.weights.cols) +
                             " entries per row but data has " + std::to_string(m) + " criteria"};
    }
    if (input.kinds.size() != m) {
        return CoreError{ErrorKind::value_error,
                         "kinds have " + std::to_string(input.kinds.size()) +
                             " entries but data has " + std::to_string(m) + " criteria"};
    }
    return std::nullopt;
}

std::vector<double> weight_rows(const MethodInput& input) {
    const std::size_t m = input.m();
    std::vector<double> rows(allocation_elements({input.batch(), m}));
    for (std::size_t k = 0; k < input.batch(); ++k)
        for (std::size_t j = 0; j < m; ++j) rows[k * m + j] = input.weights.at(k, j);
    return rows;
}

std::vector<IndicatorKind> criterion_kinds(const MethodInput& input) {
    std::vector<IndicatorKind> kinds(input.m());
    for (std::size_t j = 0; j < kinds.size(); ++j) kinds[j] = indicator_kind(input.kinds[j]);
    return kinds;
}

}  // namespace ternavik::mcda
