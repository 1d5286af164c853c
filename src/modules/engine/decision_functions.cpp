// entropy_weight and topsis for the package: the same arguments, checks and
// bits as _ternavik's, so the package can route all its work through here.
#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/entropy_weight.hpp"
#include "core/topsis.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

const char* const entropy_weight_parameters[] = {"data", "indicator_type"};
const ArgumentDescription entropy_weight_arguments{"entropy_weight()", entropy_weight_parameters, 2};

const char* const topsis_parameters[] = {"data", "weights", "indicator_type"};
const ArgumentDescription topsis_arguments{"topsis()", topsis_parameters, 3};

Result<PyRef> entropy_weight_body(PyObject* args, PyObject* kwargs) {
    PyObject* slots[2];
    Status bound = bind_arguments(entropy_weight_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> data = convert_argument("data", slots[0], extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    Result<ArrayView> kinds = convert_argument("indicator_type", slots[1], extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());

    Outcome<EntropyWeightResult> result =
        entropy_weight(data.value().matrix(), kinds.value().int_vector());
    if (!result.ok()) return from_core_error(std::move(result.error()));
    PyRef weights = vector_to_array(std::move(result.value().weights));
    PyRef scores = vector_to_array(std::move(result.value().scores));
    kinds.value().release();
    data.value().release();
    return make_tuple({weights.release(), scores.release()});
}

Result<PyRef> topsis_body(PyObject* args, PyObject* kwargs) {
    PyObject* slots[3];
    Status bound = bind_arguments(topsis_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> data = convert_argument("data", slots[0], extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    Result<ArrayView> weights = convert_argument("weights", slots[1], extract_float64_vector);
    if (!weights.ok()) return std::move(weights.error());
    Result<ArrayView> kinds = convert_argument("indicator_type", slots[2], extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());

    Outcome<std::vector<double>> closeness = topsis(
        data.value().matrix(), weights.value().float_vector(), kinds.value().int_vector());
    if (!closeness.ok()) return from_core_error(std::move(closeness.error()));
    PyRef array = vector_to_array(std::move(closeness.value()));
    kinds.value().release();
    weights.value().release();
    data.value().release();
    return array;
}

}  // namespace

PyObject* entropy_weight_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return entropy_weight_body(args, kwargs); });
}

PyObject* topsis_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return topsis_body(args, kwargs); });
}

}  // namespace ternavik::engine
