// Objective weights and rank-agreement coefficients: bind and convert in
// signature order, run the kernel, return arrays.
#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/mcda/rank_correlation.hpp"
#include "core/mcda/weighting.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

const char* const weights_parameters[] = {"data", "indicator_type", "method"};
const ArgumentDescription weights_arguments{"objective_weights()", weights_parameters, 3};

const char* const coefficients_parameters[] = {"rankings", "coefficient"};
const ArgumentDescription coefficients_arguments{"rank_coefficients()", coefficients_parameters,
                                                 2};

// A method code below `count`, else the ValueError the caller sees.
Result<std::uint64_t> method_code(const char* parameter, PyObject* object, std::uint64_t count) {
    Result<std::uint64_t> code = convert_argument(parameter, object, extract_u64);
    if (!code.ok() || code.value() < count) return code;
    return from_core_error(CoreError{ErrorKind::value_error,
                                     std::string("unknown ") + parameter + " code " +
                                         std::to_string(code.value())});
}

Result<PyRef> objective_weights_body(PyObject* args, PyObject* kwargs) {
    PyObject* slots[3];
    Status bound = bind_arguments(weights_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> data = convert_argument("data", slots[0], extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    Result<ArrayView> kinds = convert_argument("indicator_type", slots[1], extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());
    Result<std::uint64_t> method = method_code("method", slots[2], weighting_count);
    if (!method.ok()) return std::move(method.error());

    Outcome<std::vector<double>> weights =
        objective_weights(static_cast<Weighting>(method.value()), data.value().matrix(),
                          kinds.value().int_vector());
    if (!weights.ok()) return from_core_error(std::move(weights.error()));
    PyRef array = vector_to_array(std::move(weights.value()));
    kinds.value().release();
    data.value().release();
    return array;
}

Result<PyRef> rank_coefficients_body(PyObject* args, PyObject* kwargs) {
    PyObject* slots[2];
    Status bound = bind_arguments(coefficients_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> rankings = convert_argument("rankings", slots[0], extract_float64_matrix);
    if (!rankings.ok()) return std::move(rankings.error());
    Result<std::uint64_t> which = method_code("coefficient", slots[1], rank_coefficient_count);
    if (!which.ok()) return std::move(which.error());

    const StridedMatrix matrix = rankings.value().matrix();
    std::vector<double> result =
        coefficient_matrix(static_cast<RankCoefficient>(which.value()), matrix);
    PyRef array = matrix_to_array(result.data(), matrix.rows, matrix.rows);
    rankings.value().release();
    return array;
}

}  // namespace

PyObject* objective_weights_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return objective_weights_body(args, kwargs); });
}

PyObject* rank_coefficients_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return rank_coefficients_body(args, kwargs); });
}

}  // namespace ternavik::engine
