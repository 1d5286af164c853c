// Objective weights and rank-agreement coefficients.
#include <string>

#include "binding/array_view.hpp"
#include "binding/binder.hpp"
#include "core/mcda/rank_correlation.hpp"
#include "core/mcda/weighting.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

constexpr Parameter weights_parameters[] = {
    {"data", Kind::float64_matrix},
    {"indicator_type", Kind::int64_vector},
    {"method", Kind::code, weighting_count},
};
constexpr Signature weights_signature{"objective_weights", weights_parameters};

Result<PyRef> objective_weights_body(const Arguments& a) {
    const StridedMatrix data = a.view(0).matrix();
    const StridedVector<std::int64_t> kinds = a.view(1).int_vector();
    if (kinds.size() != data.cols)
        return PyErr::pending(PyExc_ValueError,
                              "indicator_type has " + std::to_string(kinds.size()) +
                                  " entries but data has " + std::to_string(data.cols) +
                                  " criteria");
    Outcome<std::vector<double>> weights =
        objective_weights(static_cast<Weighting>(a.u64(2)), data, kinds);
    if (!weights.ok()) return from_core_error(std::move(weights.error()));
    return vector_to_array(std::move(weights.value()));
}

constexpr Parameter coefficients_parameters[] = {
    {"rankings", Kind::float64_matrix},
    {"coefficient", Kind::code, rank_coefficient_count},
};
constexpr Signature coefficients_signature{"rank_coefficients", coefficients_parameters};

Result<PyRef> rank_coefficients_body(const Arguments& a) {
    const StridedMatrix matrix = a.view(0).matrix();
    std::vector<double> result =
        coefficient_matrix(static_cast<RankCoefficient>(a.u64(1)), matrix);
    return matrix_to_array(result.data(), matrix.rows, matrix.rows);
}

}  // namespace

std::vector<EntryPoint> weighting_entry_points() {
    return {entry<weights_signature, objective_weights_body>(),
            entry<coefficients_signature, rank_coefficients_body>()};
}

}  // namespace ternavik::engine
