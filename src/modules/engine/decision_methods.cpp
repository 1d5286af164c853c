// The ranking methods and normalisations of ternavik._engine. Every method
// takes (data, weights, kinds, ...) with weights a (K, m) batch of weight
// vectors and returns (K, n) arrays, so that a weight grid is one call.
#include <cstring>

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/mcda/methods.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

using mcda::BatchScores;
using mcda::MethodInput;

// The three arrays every method takes, converted in signature order.
struct MethodArrays {
    ArrayView data, weights, kinds;
    MethodInput input() const { return {data.matrix(), weights.matrix(), kinds.int_vector()}; }
};

Result<MethodArrays> convert_method_arrays(PyObject** slots) {
    Result<ArrayView> data = convert_argument("data", slots[0], extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    Result<ArrayView> weights = convert_argument("weights", slots[1], extract_float64_matrix);
    if (!weights.ok()) return std::move(weights.error());
    Result<ArrayView> kinds = convert_argument("kinds", slots[2], extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());
    return MethodArrays{std::move(data.value()), std::move(weights.value()),
                        std::move(kinds.value())};
}

// A float parameter: a Python float or int.
Result<double> extract_float(PyObject* object) {
    if (!PyFloat_Check(object) && !PyLong_Check(object)) return type_check_error(object, "float");
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

// A code below `count`, as the Python layer numbers its choices.
Result<std::uint64_t> extract_code(const char* parameter, PyObject* object, std::uint64_t count) {
    Result<std::uint64_t> code = convert_argument(parameter, object, extract_u64);
    if (!code.ok()) return code;
    if (code.value() >= count)
        return PyErr::pending(PyExc_ValueError, std::string("unknown ") + parameter + " code");
    return code;
}

// The (K, n) array of a batch of scores.
Result<PyRef> batch_array(Outcome<BatchScores>&& scores, const MethodInput& input) {
    if (!scores.ok()) return from_core_error(std::move(scores.error()));
    return matrix_to_array(scores.value().data(), input.batch(), input.n());
}

// Binds the arguments, converts the three common arrays and hands them and
// the remaining slots to `compute`.
template <std::size_t Count, class Compute>
Result<PyRef> run_method(const char* name, const char* const (&parameters)[Count],
                         PyObject* args, PyObject* kwargs, Compute&& compute) {
    const ArgumentDescription description{name, parameters, Count};
    PyObject* slots[Count];
    Status bound = bind_arguments(description, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<MethodArrays> arrays = convert_method_arrays(slots);
    if (!arrays.ok()) return std::move(arrays.error());
    return compute(arrays.value().input(), slots + 3);
}

// Methods whose only inputs are the three arrays.
template <Outcome<BatchScores> (*Method)(const MethodInput&)>
Result<PyRef> plain_method(const char* name, PyObject* args, PyObject* kwargs) {
    static const char* const parameters[] = {"data", "weights", "kinds"};
    return run_method(name, parameters, args, kwargs, [](const MethodInput& input, PyObject**) {
        return batch_array(Method(input), input);
    });
}

// Methods with one float parameter after the arrays.
template <Outcome<BatchScores> (*Method)(const MethodInput&, double)>
Result<PyRef> float_method(const char* name, const char* const (&parameters)[4], PyObject* args,
                           PyObject* kwargs) {
    return run_method(name, parameters, args, kwargs,
                      [&](const MethodInput& input, PyObject** extra) -> Result<PyRef> {
                          Result<double> value = convert_argument(parameters[3], extra[0], extract_float);
                          if (!value.ok()) return std::move(value.error());
                          return batch_array(Method(input, value.value()), input);
                      });
}

const char* const topsis_parameters[] = {"data", "weights", "kinds", "normalization"};
const char* const vikor_parameters[] = {"data", "weights", "kinds", "v"};
const char* const promethee_parameters[] = {"data", "weights", "kinds", "functions", "q", "p", "s"};
const char* const waspas_parameters[] = {"data", "weights", "kinds", "lam"};
const char* const codas_parameters[] = {"data", "weights", "kinds", "tau"};
const char* const cocoso_parameters[] = {"data", "weights", "kinds", "lam"};
const char* const spotis_parameters[] = {"data", "weights", "kinds", "bounds", "esp"};
const char* const normalize_parameters[] = {"data", "kinds", "method"};

Result<PyRef> topsis_body(PyObject* args, PyObject* kwargs) {
    return run_method("topsis_scores()", topsis_parameters, args, kwargs,
                      [](const MethodInput& input, PyObject** extra) -> Result<PyRef> {
                          Result<std::uint64_t> code =
                              extract_code("normalization", extra[0], mcda::normalization_count);
                          if (!code.ok()) return std::move(code.error());
                          const auto method = static_cast<mcda::Normalization>(code.value());
                          return batch_array(mcda::topsis(input, method), input);
                      });
}

Result<PyRef> vikor_body(PyObject* args, PyObject* kwargs) {
    return run_method(
        "vikor_scores()", vikor_parameters, args, kwargs,
        [](const MethodInput& input, PyObject** extra) -> Result<PyRef> {
            Result<double> v = convert_argument("v", extra[0], extract_float);
            if (!v.ok()) return std::move(v.error());
            Outcome<mcda::VikorScores> scores = mcda::vikor(input, v.value());
            if (!scores.ok()) return from_core_error(std::move(scores.error()));
            const std::size_t k = input.batch(), n = input.n();
            PyRef s = matrix_to_array(scores.value().s.data(), k, n);
            PyRef r = matrix_to_array(scores.value().r.data(), k, n);
            PyRef q = matrix_to_array(scores.value().q.data(), k, n);
            return make_tuple({s.release(), r.release(), q.release()});
        });
}

Result<PyRef> promethee_body(PyObject* args, PyObject* kwargs) {
    return run_method(
        "promethee2_scores()", promethee_parameters, args, kwargs,
        [](const MethodInput& input, PyObject** extra) -> Result<PyRef> {
            Result<ArrayView> functions = convert_argument("functions", extra[0], extract_int64_vector);
            if (!functions.ok()) return std::move(functions.error());
            Result<ArrayView> q = convert_argument("q", extra[1], extract_float64_vector);
            if (!q.ok()) return std::move(q.error());
            Result<ArrayView> p = convert_argument("p", extra[2], extract_float64_vector);
            if (!p.ok()) return std::move(p.error());
            Result<ArrayView> s = convert_argument("s", extra[3], extract_float64_vector);
            if (!s.ok()) return std::move(s.error());
            const mcda::PreferenceFunctions preference{
                functions.value().int_vector(), q.value().float_vector(),
                p.value().float_vector(), s.value().float_vector()};
            return batch_array(mcda::promethee2(input, preference), input);
        });
}

Result<PyRef> spotis_body(PyObject* args, PyObject* kwargs) {
    return run_method("spotis_scores()", spotis_parameters, args, kwargs,
                      [](const MethodInput& input, PyObject** extra) -> Result<PyRef> {
                          Result<ArrayView> bounds =
                              convert_argument("bounds", extra[0], extract_float64_matrix);
                          if (!bounds.ok()) return std::move(bounds.error());
                          Result<ArrayView> esp =
                              convert_argument("esp", extra[1], extract_float64_vector);
                          if (!esp.ok()) return std::move(esp.error());
                          return batch_array(mcda::spotis(input, bounds.value().matrix(),
                                                          esp.value().float_vector()),
                                             input);
                      });
}

// The normalised matrix, (n, m) in row order.
Result<PyRef> normalize_body(PyObject* args, PyObject* kwargs) {
    const ArgumentDescription description{"normalize()", normalize_parameters, 3};
    PyObject* slots[3];
    Status bound = bind_arguments(description, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> data = convert_argument("data", slots[0], extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    Result<ArrayView> kinds = convert_argument("kinds", slots[1], extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());
    Result<std::uint64_t> code = extract_code("method", slots[2], mcda::normalization_count);
    if (!code.ok()) return std::move(code.error());
    Outcome<std::vector<double>> values = mcda::normalized_rows(
        data.value().matrix(), kinds.value().int_vector(),
        static_cast<mcda::Normalization>(code.value()));
    if (!values.ok()) return from_core_error(std::move(values.error()));
    return matrix_to_array(values.value().data(), data.value().matrix().rows,
                           data.value().matrix().cols);
}

}  // namespace

PyObject* normalize_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return normalize_body(args, kwargs); });
}
PyObject* topsis_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return topsis_body(args, kwargs); });
}
PyObject* vikor_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return vikor_body(args, kwargs); });
}
PyObject* promethee2_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return promethee_body(args, kwargs); });
}
PyObject* spotis_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return spotis_body(args, kwargs); });
}
PyObject* copras_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::copras>("copras_scores()", args, kwargs); });
}
PyObject* edas_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::edas>("edas_scores()", args, kwargs); });
}
PyObject* moora_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::moora>("moora_scores()", args, kwargs); });
}
PyObject* aras_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::aras>("aras_scores()", args, kwargs); });
}
PyObject* mabac_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::mabac>("mabac_scores()", args, kwargs); });
}
PyObject* mairca_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::mairca>("mairca_scores()", args, kwargs); });
}
PyObject* marcos_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return plain_method<mcda::marcos>("marcos_scores()", args, kwargs); });
}
PyObject* waspas_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] {
        return float_method<mcda::waspas>("waspas_scores()", waspas_parameters, args, kwargs);
    });
}
PyObject* codas_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] {
        return float_method<mcda::codas>("codas_scores()", codas_parameters, args, kwargs);
    });
}
PyObject* cocoso_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] {
        return float_method<mcda::cocoso>("cocoso_scores()", cocoso_parameters, args, kwargs);
    });
}

}  // namespace ternavik::engine
