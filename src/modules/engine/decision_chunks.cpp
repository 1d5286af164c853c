// The pieces of entropy_weight and topsis for matrices that arrive as
// consecutive blocks of rows (Dask chunks). Column scans continue a state
// from one block to the next in row order, so a matrix cut into blocks gives
// the sums of the matrix in one piece; row passes need the finished state.
//
//     topsis_scan(block, state) -> state          state: (3, m) squares, low, high
//     topsis_ideals(state, weights, indicator_type) -> ideals   (3, m) factor, ideal, anti
//     topsis_closeness(block, ideals) -> closeness of the block's rows
//     entropy_extremes(block, state) -> state      state: (2, m) low, high
//     entropy_sums(block, extremes, indicator_type, state) -> state   (2, m) S, T
//     entropy_weights(extremes, sums, rows) -> weights
//     entropy_scores(block, extremes, weights, indicator_type) -> scores of the block's rows
#include <string>
#include <vector>

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/decision_matrix.hpp"
#include "core/entropy_weight.hpp"
#include "core/topsis.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {

namespace {

// Arguments converted in order; the first failure ends the call.
template <std::size_t N>
struct Converted {
    ArrayView views[N];
};

using Extractor = Result<ArrayView> (*)(PyObject*);

template <std::size_t N>
Result<Converted<N>> convert_all(const ArgumentDescription& description, PyObject* args,
                                 PyObject* kwargs, const Extractor (&extract)[N]) {
    PyObject* slots[N];
    Status bound = bind_arguments(description, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Converted<N> out;
    for (std::size_t k = 0; k < N; ++k) {
        Result<ArrayView> view =
            convert_argument(description.parameters[k], slots[k], extract[k]);
        if (!view.ok()) return std::move(view.error());
        out.views[k] = std::move(view.value());
    }
    return out;
}

PyErr shape_error(const char* what, std::size_t rows, std::size_t m) {
    return PyErr::pending(PyExc_ValueError, std::string(what) + " must have shape (" +
                                                std::to_string(rows) + ", " + std::to_string(m) +
                                                ")");
}

// A (rows, m) state as a row-major copy, or the ValueError naming it.
Result<std::vector<double>> state_copy(const ArrayView& view, const char* what, std::size_t rows,
                                       std::size_t m) {
    const StridedMatrix state = view.matrix();
    if (state.rows != rows || state.cols != m) return shape_error(what, rows, m);
    std::vector<double> copy(rows * m);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < m; ++j) copy[r * m + j] = state.at(r, j);
    return copy;
}

Result<PyRef> check_length(std::size_t length, std::size_t m, const char* what) {
    if (length == m) return PyRef();
    return PyErr::pending(PyExc_ValueError, std::string(what) + " must have one element per column");
}

const Extractor matrix_matrix[] = {extract_float64_matrix, extract_float64_matrix};

const char* const scan_parameters[] = {"block", "state"};
const ArgumentDescription topsis_scan_arguments{"topsis_scan()", scan_parameters, 2};

Result<PyRef> topsis_scan_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(topsis_scan_arguments, args, kwargs, matrix_matrix);
    if (!in.ok()) return std::move(in.error());
    const StridedMatrix block = in.value().views[0].matrix();
    const std::size_t m = block.cols;
    auto state = state_copy(in.value().views[1], "state", 3, m);
    if (!state.ok()) return std::move(state.error());
    double* s = state.value().data();
    scan_topsis_columns(block, TopsisColumns{s, s + m, s + 2 * m});
    return matrix_to_array(s, 3, m);
}

const char* const ideals_parameters[] = {"state", "weights", "indicator_type"};
const ArgumentDescription topsis_ideals_arguments{"topsis_ideals()", ideals_parameters, 3};
const Extractor matrix_vector_kinds[] = {extract_float64_matrix, extract_float64_vector,
                                         extract_int64_vector};

Result<PyRef> topsis_ideals_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(topsis_ideals_arguments, args, kwargs, matrix_vector_kinds);
    if (!in.ok()) return std::move(in.error());
    const auto weights = in.value().views[1].float_vector();
    const auto kinds = in.value().views[2].int_vector();
    const std::size_t m = weights.size();
    auto state = state_copy(in.value().views[0], "state", 3, m);
    if (!state.ok()) return std::move(state.error());
    auto same = check_length(kinds.size(), m, "indicator_type");
    if (!same.ok()) return std::move(same.error());
    double* s = state.value().data();
    std::vector<double> ideals(3 * m);
    double* out = ideals.data();
    topsis_ideals(TopsisColumns{s, s + m, s + 2 * m}, m, weights, kinds,
                  TopsisIdeals{out, out + m, out + 2 * m});
    return matrix_to_array(out, 3, m);
}

const char* const closeness_parameters[] = {"block", "ideals"};
const ArgumentDescription topsis_closeness_arguments{"topsis_closeness()", closeness_parameters, 2};

Result<PyRef> topsis_closeness_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(topsis_closeness_arguments, args, kwargs, matrix_matrix);
    if (!in.ok()) return std::move(in.error());
    const StridedMatrix block = in.value().views[0].matrix();
    const std::size_t m = block.cols;
    auto ideals = state_copy(in.value().views[1], "ideals", 3, m);
    if (!ideals.ok()) return std::move(ideals.error());
    double* s = ideals.value().data();
    std::vector<double> closeness(block.rows);
    topsis_closeness(block, TopsisIdeals{s, s + m, s + 2 * m}, closeness.data());
    return vector_to_array(std::move(closeness));
}

const ArgumentDescription entropy_extremes_arguments{"entropy_extremes()", scan_parameters, 2};

Result<PyRef> entropy_extremes_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(entropy_extremes_arguments, args, kwargs, matrix_matrix);
    if (!in.ok()) return std::move(in.error());
    const StridedMatrix block = in.value().views[0].matrix();
    const std::size_t m = block.cols;
    auto state = state_copy(in.value().views[1], "state", 2, m);
    if (!state.ok()) return std::move(state.error());
    double* s = state.value().data();
    scan_entropy_extremes(block, s, s + m);
    return matrix_to_array(s, 2, m);
}

const char* const sums_parameters[] = {"block", "extremes", "indicator_type", "state"};
const ArgumentDescription entropy_sums_arguments{"entropy_sums()", sums_parameters, 4};
const Extractor sums_extract[] = {extract_float64_matrix, extract_float64_matrix,
                                  extract_int64_vector, extract_float64_matrix};

Result<PyRef> entropy_sums_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(entropy_sums_arguments, args, kwargs, sums_extract);
    if (!in.ok()) return std::move(in.error());
    const StridedMatrix block = in.value().views[0].matrix();
    const std::size_t m = block.cols;
    auto extremes = state_copy(in.value().views[1], "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    const auto kinds = in.value().views[2].int_vector();
    auto same = check_length(kinds.size(), m, "indicator_type");
    if (!same.ok()) return std::move(same.error());
    auto state = state_copy(in.value().views[3], "state", 2, m);
    if (!state.ok()) return std::move(state.error());
    const double* e = extremes.value().data();
    double* s = state.value().data();
    scan_entropy_sums(block, kinds, e, e + m, s, s + m);
    return matrix_to_array(s, 2, m);
}

const char* const weights_parameters[] = {"extremes", "sums", "rows"};
const ArgumentDescription entropy_weights_arguments{"entropy_weights()", weights_parameters, 3};

Result<PyRef> entropy_weights_body(PyObject* args, PyObject* kwargs) {
    PyObject* slots[3];
    Status bound = bind_arguments(entropy_weights_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<ArrayView> extremes_view = convert_argument("extremes", slots[0], extract_float64_matrix);
    if (!extremes_view.ok()) return std::move(extremes_view.error());
    Result<ArrayView> sums_view = convert_argument("sums", slots[1], extract_float64_matrix);
    if (!sums_view.ok()) return std::move(sums_view.error());
    Result<std::uint64_t> rows = convert_argument("rows", slots[2], extract_u64);
    if (!rows.ok()) return std::move(rows.error());
    if (auto error = check_alternative_count(rows.value())) return from_core_error(std::move(*error));
    const std::size_t m = extremes_view.value().matrix().cols;
    auto extremes = state_copy(extremes_view.value(), "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    auto sums = state_copy(sums_view.value(), "sums", 2, m);
    if (!sums.ok()) return std::move(sums.error());
    const double* e = extremes.value().data();
    const double* s = sums.value().data();
    std::vector<double> entropy(m), weights(m);
    for (std::size_t j = 0; j < m; ++j)
        entropy[j] = criterion_entropy(e[j], e[m + j], s[j], s[m + j], rows.value());
    entropy_to_weights(entropy.data(), m, weights.data());
    return vector_to_array(std::move(weights));
}

const char* const scores_parameters[] = {"block", "extremes", "weights", "indicator_type"};
const ArgumentDescription entropy_scores_arguments{"entropy_scores()", scores_parameters, 4};
const Extractor scores_extract[] = {extract_float64_matrix, extract_float64_matrix,
                                    extract_float64_vector, extract_int64_vector};

Result<PyRef> entropy_scores_body(PyObject* args, PyObject* kwargs) {
    auto in = convert_all(entropy_scores_arguments, args, kwargs, scores_extract);
    if (!in.ok()) return std::move(in.error());
    const StridedMatrix block = in.value().views[0].matrix();
    const std::size_t m = block.cols;
    auto extremes = state_copy(in.value().views[1], "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    const auto weights = in.value().views[2].float_vector();
    const auto kinds = in.value().views[3].int_vector();
    auto same = check_length(weights.size(), m, "weights");
    if (same.ok()) same = check_length(kinds.size(), m, "indicator_type");
    if (!same.ok()) return std::move(same.error());
    std::vector<double> w(m);
    for (std::size_t j = 0; j < m; ++j) w[j] = weights[j];
    const double* e = extremes.value().data();
    std::vector<double> scores(block.rows);
    entropy_scores(block, kinds, e, e + m, w.data(), scores.data());
    return vector_to_array(std::move(scores));
}

}  // namespace

PyObject* topsis_scan_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return topsis_scan_body(args, kwargs); });
}
PyObject* topsis_ideals_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return topsis_ideals_body(args, kwargs); });
}
PyObject* topsis_closeness_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return topsis_closeness_body(args, kwargs); });
}
PyObject* entropy_extremes_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return entropy_extremes_body(args, kwargs); });
}
PyObject* entropy_sums_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return entropy_sums_body(args, kwargs); });
}
PyObject* entropy_weights_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return entropy_weights_body(args, kwargs); });
}
PyObject* entropy_scores_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return entropy_scores_body(args, kwargs); });
}

}  // namespace ternavik::engine
