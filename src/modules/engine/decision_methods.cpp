// The ranking methods and normalisations of ternavik._engine. Every method
// takes (data, weights, kinds, ...) with weights a (K, m) batch of weight
// vectors and returns (K, n) arrays, so that a weight grid is one call.
#include "binding/array_view.hpp"
#include "binding/binder.hpp"
#include "core/mcda/methods.hpp"
#include "entry_points.hpp"
#include "method_arguments.hpp"

namespace ternavik::engine {

namespace {

using mcda::BatchScores;
using mcda::MethodInput;

// The (K, n) array of a batch of scores.
Result<PyRef> batch_array(Outcome<BatchScores>&& scores, const MethodInput& input) {
    if (!scores.ok()) return from_core_error(std::move(scores.error()));
    return matrix_to_array(scores.value().data(), input.batch(), input.n());
}

// Methods whose only inputs are the three arrays.
constexpr Parameter plain_parameters[] = {TERNAVIK_METHOD_ARRAYS};

template <Outcome<BatchScores> (*Method)(const MethodInput&)>
Result<PyRef> plain_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    return batch_array(Method(input), input);
}

// Methods with one float parameter after the arrays.
template <Outcome<BatchScores> (*Method)(const MethodInput&, double)>
Result<PyRef> float_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    return batch_array(Method(input, a.real(3)), input);
}

constexpr Signature copras_signature{"copras_scores", plain_parameters};
constexpr Signature edas_signature{"edas_scores", plain_parameters};
constexpr Signature moora_signature{"moora_scores", plain_parameters};
constexpr Signature aras_signature{"aras_scores", plain_parameters};
constexpr Signature mabac_signature{"mabac_scores", plain_parameters};
constexpr Signature mairca_signature{"mairca_scores", plain_parameters};
constexpr Signature marcos_signature{"marcos_scores", plain_parameters};

constexpr Parameter lam_parameters[] = {TERNAVIK_METHOD_ARRAYS, {"lam", Kind::real}};
constexpr Parameter tau_parameters[] = {TERNAVIK_METHOD_ARRAYS, {"tau", Kind::real}};
constexpr Signature waspas_signature{"waspas_scores", lam_parameters};
constexpr Signature codas_signature{"codas_scores", tau_parameters};
constexpr Signature cocoso_signature{"cocoso_scores", lam_parameters};

constexpr Parameter topsis_parameters[] = {
    TERNAVIK_METHOD_ARRAYS, {"normalization", Kind::code, mcda::normalization_count}};
constexpr Signature topsis_signature{"topsis_scores", topsis_parameters};

Result<PyRef> topsis_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    const auto method = static_cast<mcda::Normalization>(a.u64(3));
    return batch_array(mcda::topsis(input, method), input);
}

constexpr Parameter vikor_parameters[] = {TERNAVIK_METHOD_ARRAYS, {"v", Kind::real}};
constexpr Signature vikor_signature{"vikor_scores", vikor_parameters};

Result<PyRef> vikor_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    Outcome<mcda::VikorScores> scores = mcda::vikor(input, a.real(3));
    if (!scores.ok()) return from_core_error(std::move(scores.error()));
    const std::size_t k = input.batch(), n = input.n();
    PyRef s = matrix_to_array(scores.value().s.data(), k, n);
    PyRef r = matrix_to_array(scores.value().r.data(), k, n);
    PyRef q = matrix_to_array(scores.value().q.data(), k, n);
    return make_tuple({s.release(), r.release(), q.release()});
}

constexpr Signature promethee_signature{"promethee2_scores", promethee_parameters};

Result<PyRef> promethee_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    return batch_array(mcda::promethee2(input, preference_functions(a)), input);
}

constexpr Parameter spotis_parameters[] = {
    TERNAVIK_METHOD_ARRAYS, {"bounds", Kind::float64_matrix}, {"esp", Kind::float64_vector}};
constexpr Signature spotis_signature{"spotis_scores", spotis_parameters};

Result<PyRef> spotis_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    return batch_array(mcda::spotis(input, a.view(3).matrix(), a.view(4).float_vector()), input);
}

constexpr Parameter normalize_parameters[] = {
    {"data", Kind::float64_matrix},
    {"kinds", Kind::int64_vector},
    {"method", Kind::code, mcda::normalization_count},
};
constexpr Signature normalize_signature{"normalize", normalize_parameters};

// The normalised matrix, (n, m) in row order.
Result<PyRef> normalize_body(const Arguments& a) {
    const StridedMatrix data = a.view(0).matrix();
    Outcome<std::vector<double>> values = mcda::normalized_rows(
        data, a.view(1).int_vector(), static_cast<mcda::Normalization>(a.u64(2)));
    if (!values.ok()) return from_core_error(std::move(values.error()));
    return matrix_to_array(values.value().data(), data.rows, data.cols);
}

}  // namespace

std::vector<EntryPoint> decision_method_entry_points() {
    return {
        entry<normalize_signature, normalize_body>(),
        entry<topsis_signature, topsis_body>(),
        entry<vikor_signature, vikor_body>(),
        entry<promethee_signature, promethee_body>(),
        entry<copras_signature, plain_body<mcda::copras>>(),
        entry<waspas_signature, float_body<mcda::waspas>>(),
        entry<edas_signature, plain_body<mcda::edas>>(),
        entry<moora_signature, plain_body<mcda::moora>>(),
        entry<aras_signature, plain_body<mcda::aras>>(),
        entry<mabac_signature, plain_body<mcda::mabac>>(),
        entry<codas_signature, float_body<mcda::codas>>(),
        entry<cocoso_signature, float_body<mcda::cocoso>>(),
        entry<mairca_signature, plain_body<mcda::mairca>>(),
        entry<marcos_signature, plain_body<mcda::marcos>>(),
        entry<spotis_signature, spotis_body>(),
    };
}

}  // namespace ternavik::engine
