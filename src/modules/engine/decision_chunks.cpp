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

#include "binding/array_view.hpp"
#include "binding/binder.hpp"
#include "core/checked_size.hpp"
#include "core/decision_matrix.hpp"
#include "core/entropy_weight.hpp"
#include "core/topsis.hpp"
#include "entry_points.hpp"
#include "modules/ternavik/entry_points.hpp"

namespace ternavik::engine {

namespace {

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
    std::vector<double> copy(allocation_elements({rows, m}));
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < m; ++j) copy[r * m + j] = state.at(r, j);
    return copy;
}

Status check_length(std::size_t length, std::size_t m, const char* what) {
    if (length == m) return ok_status();
    return PyErr::pending(PyExc_ValueError, std::string(what) + " must have one element per column");
}

constexpr Parameter scan_parameters[] = {{"block", Kind::float64_matrix},
                                         {"state", Kind::float64_matrix}};
constexpr Signature topsis_scan_signature{"topsis_scan", scan_parameters};

Result<PyRef> topsis_scan_body(const Arguments& a) {
    const StridedMatrix block = a.view(0).matrix();
    const std::size_t m = block.cols;
    auto state = state_copy(a.view(1), "state", 3, m);
    if (!state.ok()) return std::move(state.error());
    double* s = state.value().data();
    scan_topsis_columns(block, TopsisColumns{s, s + m, s + 2 * m});
    return matrix_to_array(s, 3, m);
}

constexpr Parameter ideals_parameters[] = {{"state", Kind::float64_matrix},
                                           {"weights", Kind::float64_vector},
                                           {"indicator_type", Kind::int64_vector}};
constexpr Signature topsis_ideals_signature{"topsis_ideals", ideals_parameters};

Result<PyRef> topsis_ideals_body(const Arguments& a) {
    const auto weights = a.view(1).float_vector();
    const auto kinds = a.view(2).int_vector();
    const std::size_t m = weights.size();
    auto state = state_copy(a.view(0), "state", 3, m);
    if (!state.ok()) return std::move(state.error());
    Status same = check_length(kinds.size(), m, "indicator_type");
    if (!same.ok()) return std::move(same.error());
    double* s = state.value().data();
    std::vector<double> ideals(allocation_elements({3, m}));
    double* out = ideals.data();
    topsis_ideals(TopsisColumns{s, s + m, s + 2 * m}, m, weights, kinds,
                  TopsisIdeals{out, out + m, out + 2 * m});
    return matrix_to_array(out, 3, m);
}

constexpr Parameter closeness_parameters[] = {{"block", Kind::float64_matrix},
                                              {"ideals", Kind::float64_matrix}};
constexpr Signature topsis_closeness_signature{"topsis_closeness", closeness_parameters};

Result<PyRef> topsis_closeness_body(const Arguments& a) {
    const StridedMatrix block = a.view(0).matrix();
    const std::size_t m = block.cols;
    auto ideals = state_copy(a.view(1), "ideals", 3, m);
    if (!ideals.ok()) return std::move(ideals.error());
    double* s = ideals.value().data();
    std::vector<double> closeness(block.rows);
    topsis_closeness(block, TopsisIdeals{s, s + m, s + 2 * m}, closeness.data());
    return vector_to_array(std::move(closeness));
}

constexpr Signature entropy_extremes_signature{"entropy_extremes", scan_parameters};

Result<PyRef> entropy_extremes_body(const Arguments& a) {
    const StridedMatrix block = a.view(0).matrix();
    const std::size_t m = block.cols;
    auto state = state_copy(a.view(1), "state", 2, m);
    if (!state.ok()) return std::move(state.error());
    double* s = state.value().data();
    scan_entropy_extremes(block, s, s + m);
    return matrix_to_array(s, 2, m);
}

constexpr Parameter sums_parameters[] = {{"block", Kind::float64_matrix},
                                         {"extremes", Kind::float64_matrix},
                                         {"indicator_type", Kind::int64_vector},
                                         {"state", Kind::float64_matrix}};
constexpr Signature entropy_sums_signature{"entropy_sums", sums_parameters};

Result<PyRef> entropy_sums_body(const Arguments& a) {
    const StridedMatrix block = a.view(0).matrix();
    const std::size_t m = block.cols;
    auto extremes = state_copy(a.view(1), "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    const auto kinds = a.view(2).int_vector();
    Status same = check_length(kinds.size(), m, "indicator_type");
    if (!same.ok()) return std::move(same.error());
    auto state = state_copy(a.view(3), "state", 2, m);
    if (!state.ok()) return std::move(state.error());
    const double* e = extremes.value().data();
    double* s = state.value().data();
    scan_entropy_sums(block, kinds, e, e + m, s, s + m);
    return matrix_to_array(s, 2, m);
}

constexpr Parameter weights_parameters[] = {{"extremes", Kind::float64_matrix},
                                            {"sums", Kind::float64_matrix},
                                            {"rows", Kind::u64}};
constexpr Signature entropy_weights_signature{"entropy_weights", weights_parameters};

Result<PyRef> entropy_weights_body(const Arguments& a) {
    const std::uint64_t rows = a.u64(2);
    if (auto error = check_alternative_count(rows)) return from_core_error(std::move(*error));
    const std::size_t m = a.view(0).matrix().cols;
    auto extremes = state_copy(a.view(0), "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    auto sums = state_copy(a.view(1), "sums", 2, m);
    if (!sums.ok()) return std::move(sums.error());
    const double* e = extremes.value().data();
    const double* s = sums.value().data();
    std::vector<double> entropy(m), weights(m);
    for (std::size_t j = 0; j < m; ++j)
        entropy[j] = criterion_entropy(e[j], e[m + j], s[j], s[m + j], rows);
    entropy_to_weights(entropy.data(), m, weights.data());
    return vector_to_array(std::move(weights));
}

constexpr Parameter scores_parameters[] = {{"block", Kind::float64_matrix},
                                           {"extremes", Kind::float64_matrix},
                                           {"weights", Kind::float64_vector},
                                           {"indicator_type", Kind::int64_vector}};
constexpr Signature entropy_scores_signature{"entropy_scores", scores_parameters};

Result<PyRef> entropy_scores_body(const Arguments& a) {
    const StridedMatrix block = a.view(0).matrix();
    const std::size_t m = block.cols;
    auto extremes = state_copy(a.view(1), "extremes", 2, m);
    if (!extremes.ok()) return std::move(extremes.error());
    const auto weights = a.view(2).float_vector();
    const auto kinds = a.view(3).int_vector();
    Status same = check_length(weights.size(), m, "weights");
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

std::vector<EntryPoint> decision_chunk_entry_points() {
    return {entry<entropy_weight_signature, entropy_weight_body>(),
            entry<topsis_signature, topsis_body>(),
            entry<topsis_scan_signature, topsis_scan_body>(),
            entry<topsis_ideals_signature, topsis_ideals_body>(),
            entry<topsis_closeness_signature, topsis_closeness_body>(),
            entry<entropy_extremes_signature, entropy_extremes_body>(),
            entry<entropy_sums_signature, entropy_sums_body>(),
            entry<entropy_weights_signature, entropy_weights_body>(),
            entry<entropy_scores_signature, entropy_scores_body>()};
}

}  // namespace ternavik::engine
