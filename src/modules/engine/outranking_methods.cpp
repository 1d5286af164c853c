// ternavik._engine's entry points for the outranking and grey methods and
// for the rank counts of stochastic weights:
//     promethee1_flows(data, weights, kinds, functions, q, p, s) -> (positive, negative)
//     electre1_outranking(data, weights, kinds, c, d) -> (K * n, n) of 0.0 / 1.0
//     gra_scores(data, weights, kinds, zeta) -> (K, n)
//     rank_counts(scores, weights, higher_is_better) -> (counts (n, n), central (n, m))
#include <vector>

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/mcda/outranking.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

using mcda::MethodInput;

// A float parameter: a Python float or int.
Result<double> extract_number(PyObject* object) {
    if (!PyFloat_Check(object) && !PyLong_Check(object)) return type_check_error(object, "float");
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

// Every argument of one call: bound first (strong references), then the
// three method arrays converted in signature order, the rest left to the body.
template <std::size_t Count>
struct Bound {
    PyRef slots[Count];
    ArrayView data, weights, kinds;
    MethodInput input() const { return {data.matrix(), weights.matrix(), kinds.int_vector()}; }
};

template <std::size_t Count>
Status bind_method(const char* name, const char* const (&parameters)[Count], PyObject* args,
                   PyObject* kwargs, Bound<Count>& bound) {
    const ArgumentDescription description{name, parameters, Count};
    Status status = bind_arguments(description, args, kwargs, bound.slots);
    if (!status.ok()) return status;
    Result<ArrayView> data = convert_argument("data", bound.slots[0].get(), extract_float64_matrix);
    if (!data.ok()) return std::move(data.error());
    bound.data = std::move(data.value());
    Result<ArrayView> weights =
        convert_argument("weights", bound.slots[1].get(), extract_float64_matrix);
    if (!weights.ok()) return std::move(weights.error());
    bound.weights = std::move(weights.value());
    Result<ArrayView> kinds = convert_argument("kinds", bound.slots[2].get(), extract_int64_vector);
    if (!kinds.ok()) return std::move(kinds.error());
    bound.kinds = std::move(kinds.value());
    return ok_status();
}

const char* const promethee1_parameters[] = {"data", "weights", "kinds", "functions", "q", "p", "s"};
const char* const electre1_parameters[] = {"data", "weights", "kinds", "c", "d"};
const char* const gra_parameters[] = {"data", "weights", "kinds", "zeta"};
const char* const rank_count_parameters[] = {"scores", "weights", "higher_is_better"};

Result<PyRef> promethee1_body(PyObject* args, PyObject* kwargs) {
    Bound<7> b;
    Status status = bind_method("promethee1_flows()", promethee1_parameters, args, kwargs, b);
    if (!status.ok()) return std::move(status.error());
    Result<ArrayView> functions =
        convert_argument("functions", b.slots[3].get(), extract_int64_vector);
    if (!functions.ok()) return std::move(functions.error());
    Result<ArrayView> q = convert_argument("q", b.slots[4].get(), extract_float64_vector);
    if (!q.ok()) return std::move(q.error());
    Result<ArrayView> p = convert_argument("p", b.slots[5].get(), extract_float64_vector);
    if (!p.ok()) return std::move(p.error());
    Result<ArrayView> s = convert_argument("s", b.slots[6].get(), extract_float64_vector);
    if (!s.ok()) return std::move(s.error());
    const MethodInput input = b.input();
    const mcda::PreferenceFunctions preference{functions.value().int_vector(),
                                               q.value().float_vector(), p.value().float_vector(),
                                               s.value().float_vector()};
    Outcome<mcda::PrometheeFlows> flows = mcda::promethee_flows(input, preference);
    if (!flows.ok()) return from_core_error(std::move(flows.error()));
    PyRef positive = matrix_to_array(flows.value().positive.data(), input.batch(), input.n());
    PyRef negative = matrix_to_array(flows.value().negative.data(), input.batch(), input.n());
    return make_tuple({positive.release(), negative.release()});
}

Result<PyRef> electre1_body(PyObject* args, PyObject* kwargs) {
    Bound<5> b;
    Status status = bind_method("electre1_outranking()", electre1_parameters, args, kwargs, b);
    if (!status.ok()) return std::move(status.error());
    Result<double> c = convert_argument("c", b.slots[3].get(), extract_number);
    if (!c.ok()) return std::move(c.error());
    Result<double> d = convert_argument("d", b.slots[4].get(), extract_number);
    if (!d.ok()) return std::move(d.error());
    const MethodInput input = b.input();
    Outcome<std::vector<std::uint8_t>> flags = mcda::electre1(input, c.value(), d.value());
    if (!flags.ok()) return from_core_error(std::move(flags.error()));
    std::vector<double> values(flags.value().begin(), flags.value().end());
    return matrix_to_array(values.data(), input.batch() * input.n(), input.n());
}

Result<PyRef> gra_body(PyObject* args, PyObject* kwargs) {
    Bound<4> b;
    Status status = bind_method("gra_scores()", gra_parameters, args, kwargs, b);
    if (!status.ok()) return std::move(status.error());
    Result<double> zeta = convert_argument("zeta", b.slots[3].get(), extract_number);
    if (!zeta.ok()) return std::move(zeta.error());
    const MethodInput input = b.input();
    Outcome<mcda::BatchScores> grades = mcda::gra(input, zeta.value());
    if (!grades.ok()) return from_core_error(std::move(grades.error()));
    return matrix_to_array(grades.value().data(), input.batch(), input.n());
}

Result<PyRef> rank_counts_body(PyObject* args, PyObject* kwargs) {
    const ArgumentDescription description{"rank_counts()", rank_count_parameters, 3};
    PyRef slots[3];
    Status status = bind_arguments(description, args, kwargs, slots);
    if (!status.ok()) return std::move(status.error());
    Result<ArrayView> scores = convert_argument("scores", slots[0].get(), extract_float64_matrix);
    if (!scores.ok()) return std::move(scores.error());
    Result<ArrayView> weights = convert_argument("weights", slots[1].get(), extract_float64_matrix);
    if (!weights.ok()) return std::move(weights.error());
    Result<std::uint64_t> higher = convert_argument("higher_is_better", slots[2].get(), extract_u64);
    if (!higher.ok()) return std::move(higher.error());
    Outcome<mcda::RankCounts> counts = mcda::rank_counts(
        scores.value().matrix(), weights.value().matrix(), higher.value() != 0);
    if (!counts.ok()) return from_core_error(std::move(counts.error()));
    const std::size_t n = scores.value().matrix().cols, m = weights.value().matrix().cols;
    PyRef ranks = matrix_to_array(counts.value().counts.data(), n, n);
    PyRef central = matrix_to_array(counts.value().central.data(), n, m);
    return make_tuple({ranks.release(), central.release()});
}

}  // namespace

PyObject* promethee1_flows_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return promethee1_body(args, kwargs); });
}
PyObject* electre1_outranking_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return electre1_body(args, kwargs); });
}
PyObject* gra_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return gra_body(args, kwargs); });
}
PyObject* rank_counts_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return rank_counts_body(args, kwargs); });
}

}  // namespace ternavik::engine
