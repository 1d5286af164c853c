// ternavik._engine's entry points for the outranking and grey methods and
// for the rank counts of stochastic weights:
//     promethee1_flows(data, weights, kinds, functions, q, p, s) -> (positive, negative)
//     electre1_outranking(data, weights, kinds, c, d) -> (K * n, n) of 0.0 / 1.0
//     electre3_credibility(data, weights, kinds, q, p, v) -> (K * n, n)
//     gra_scores(data, weights, kinds, zeta) -> (K, n)
//     rank_counts(scores, weights, higher_is_better) -> (counts (n, n), central (n, m))
#include <vector>

#include "binding/array_view.hpp"
#include "binding/binder.hpp"
#include "core/mcda/outranking.hpp"
#include "entry_points.hpp"
#include "method_arguments.hpp"

namespace ternavik::engine {

namespace {

using mcda::MethodInput;

constexpr Signature promethee1_signature{"promethee1_flows", promethee_parameters};

Result<PyRef> promethee1_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    Outcome<mcda::PrometheeFlows> flows = mcda::promethee_flows(input, preference_functions(a));
    if (!flows.ok()) return from_core_error(std::move(flows.error()));
    PyRef positive = matrix_to_array(flows.value().positive.data(), input.batch(), input.n());
    PyRef negative = matrix_to_array(flows.value().negative.data(), input.batch(), input.n());
    return make_tuple({positive.release(), negative.release()});
}

constexpr Parameter electre1_parameters[] = {
    TERNAVIK_METHOD_ARRAYS, {"c", Kind::real}, {"d", Kind::real}};
constexpr Signature electre1_signature{"electre1_outranking", electre1_parameters};

Result<PyRef> electre1_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    Outcome<std::vector<std::uint8_t>> flags = mcda::electre1(input, a.real(3), a.real(4));
    if (!flags.ok()) return from_core_error(std::move(flags.error()));
    std::vector<double> values(flags.value().begin(), flags.value().end());
    return matrix_to_array(values.data(), input.batch() * input.n(), input.n());
}

constexpr Parameter electre3_parameters[] = {
    TERNAVIK_METHOD_ARRAYS, {"q", Kind::float64_vector}, {"p", Kind::float64_vector},
    {"v", Kind::float64_vector}};
constexpr Signature electre3_signature{"electre3_credibility", electre3_parameters};

Result<PyRef> electre3_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    const mcda::PseudoCriteria thresholds{a.view(3).float_vector(), a.view(4).float_vector(),
                                          a.view(5).float_vector()};
    Outcome<mcda::BatchScores> sigma = mcda::electre3_credibility(input, thresholds);
    if (!sigma.ok()) return from_core_error(std::move(sigma.error()));
    return matrix_to_array(sigma.value().data(), input.batch() * input.n(), input.n());
}

constexpr Parameter gra_parameters[] = {TERNAVIK_METHOD_ARRAYS, {"zeta", Kind::real}};
constexpr Signature gra_signature{"gra_scores", gra_parameters};

Result<PyRef> gra_body(const Arguments& a) {
    const MethodInput input = method_input(a);
    Outcome<mcda::BatchScores> grades = mcda::gra(input, a.real(3));
    if (!grades.ok()) return from_core_error(std::move(grades.error()));
    return matrix_to_array(grades.value().data(), input.batch(), input.n());
}

constexpr Parameter rank_count_parameters[] = {
    {"scores", Kind::float64_matrix},
    {"weights", Kind::float64_matrix},
    {"higher_is_better", Kind::u64},
};
constexpr Signature rank_count_signature{"rank_counts", rank_count_parameters};

Result<PyRef> rank_counts_body(const Arguments& a) {
    const StridedMatrix scores = a.view(0).matrix(), weights = a.view(1).matrix();
    Outcome<mcda::RankCounts> counts = mcda::rank_counts(scores, weights, a.u64(2) != 0);
    if (!counts.ok()) return from_core_error(std::move(counts.error()));
    const std::size_t n = scores.cols, m = weights.cols;
    PyRef ranks = matrix_to_array(counts.value().counts.data(), n, n);
    PyRef central = matrix_to_array(counts.value().central.data(), n, m);
    return make_tuple({ranks.release(), central.release()});
}

}  // namespace

std::vector<EntryPoint> outranking_entry_points() {
    return {entry<promethee1_signature, promethee1_body>(),
            entry<electre1_signature, electre1_body>(),
            entry<electre3_signature, electre3_body>(), entry<gra_signature, gra_body>(),
            entry<rank_count_signature, rank_counts_body>()};
}

}  // namespace ternavik::engine
