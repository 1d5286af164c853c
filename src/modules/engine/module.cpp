// ternavik._engine: the native entry points of the ternavik package. It is
// built from the same core and runtime as _ternavik, whose surface is fixed;
// everything new the package needs from native code lives here.
//
// The package calls its native work through this module only, so that in
// normal use one worker pool is busy at a time: _ternavik's own pool wakes
// only when a program calls _ternavik directly.
//
//     entropy_weight(data, indicator_type) -> (weights, scores)   # as _ternavik's
//     topsis(data, weights, indicator_type) -> closeness          # as _ternavik's
//     topsis_scan, topsis_ideals, topsis_closeness,               # the same methods
//     entropy_extremes, entropy_sums, entropy_weights,            # on consecutive
//     entropy_scores                                              # row blocks (Dask)
#include "binding/module_init.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {
namespace {

template <PyObject* (*Shim)(PyObject*, PyObject*, PyObject*)>
constexpr PyCFunction as_method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Shim));
}

PyMethodDef methods[] = {
    {"entropy_weight", as_method<entropy_weight_entry>(), METH_VARARGS | METH_KEYWORDS,
     "entropy_weight(data, indicator_type)\n--\n\n"},
    {"topsis", as_method<topsis_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis(data, weights, indicator_type)\n--\n\n"},
    {"topsis_scan", as_method<topsis_scan_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis_scan(block, state)\n--\n\n"},
    {"topsis_ideals", as_method<topsis_ideals_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis_ideals(state, weights, indicator_type)\n--\n\n"},
    {"topsis_closeness", as_method<topsis_closeness_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis_closeness(block, ideals)\n--\n\n"},
    {"entropy_extremes", as_method<entropy_extremes_entry>(), METH_VARARGS | METH_KEYWORDS,
     "entropy_extremes(block, state)\n--\n\n"},
    {"entropy_sums", as_method<entropy_sums_entry>(), METH_VARARGS | METH_KEYWORDS,
     "entropy_sums(block, extremes, indicator_type, state)\n--\n\n"},
    {"entropy_weights", as_method<entropy_weights_entry>(), METH_VARARGS | METH_KEYWORDS,
     "entropy_weights(extremes, sums, rows)\n--\n\n"},
    {"entropy_scores", as_method<entropy_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "entropy_scores(block, extremes, weights, indicator_type)\n--\n\n"},
    {"objective_weights", as_method<objective_weights_entry>(), METH_VARARGS | METH_KEYWORDS,
     "objective_weights(data, indicator_type, method)\n--\n\n"},
    {"rank_coefficients", as_method<rank_coefficients_entry>(), METH_VARARGS | METH_KEYWORDS,
     "rank_coefficients(rankings, coefficient)\n--\n\n"},
    {"normalize", as_method<normalize_entry>(), METH_VARARGS | METH_KEYWORDS,
     "normalize(data, kinds, method)\n--\n\n"},
    {"topsis_scores", as_method<topsis_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis_scores(data, weights, kinds, normalization)\n--\n\n"},
    {"vikor_scores", as_method<vikor_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "vikor_scores(data, weights, kinds, v)\n--\n\n"},
    {"promethee2_scores", as_method<promethee2_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "promethee2_scores(data, weights, kinds, functions, q, p, s)\n--\n\n"},
    {"copras_scores", as_method<copras_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "copras_scores(data, weights, kinds)\n--\n\n"},
    {"waspas_scores", as_method<waspas_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "waspas_scores(data, weights, kinds, lam)\n--\n\n"},
    {"edas_scores", as_method<edas_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "edas_scores(data, weights, kinds)\n--\n\n"},
    {"moora_scores", as_method<moora_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "moora_scores(data, weights, kinds)\n--\n\n"},
    {"aras_scores", as_method<aras_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "aras_scores(data, weights, kinds)\n--\n\n"},
    {"mabac_scores", as_method<mabac_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "mabac_scores(data, weights, kinds)\n--\n\n"},
    {"codas_scores", as_method<codas_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "codas_scores(data, weights, kinds, tau)\n--\n\n"},
    {"cocoso_scores", as_method<cocoso_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "cocoso_scores(data, weights, kinds, lam)\n--\n\n"},
    {"mairca_scores", as_method<mairca_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "mairca_scores(data, weights, kinds)\n--\n\n"},
    {"marcos_scores", as_method<marcos_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "marcos_scores(data, weights, kinds)\n--\n\n"},
    {"spotis_scores", as_method<spotis_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "spotis_scores(data, weights, kinds, bounds, esp)\n--\n\n"},
    {"promethee1_flows", as_method<promethee1_flows_entry>(), METH_VARARGS | METH_KEYWORDS,
     "promethee1_flows(data, weights, kinds, functions, q, p, s)\n--\n\n"},
    {"electre1_outranking", as_method<electre1_outranking_entry>(), METH_VARARGS | METH_KEYWORDS,
     "electre1_outranking(data, weights, kinds, c, d)\n--\n\n"},
    {"gra_scores", as_method<gra_scores_entry>(), METH_VARARGS | METH_KEYWORDS,
     "gra_scores(data, weights, kinds, zeta)\n--\n\n"},
    {"rank_counts", as_method<rank_counts_entry>(), METH_VARARGS | METH_KEYWORDS,
     "rank_counts(scores, weights, higher_is_better)\n--\n\n"},
    {"de_engine_create", as_method<de_engine_create>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_create(low, high, pop, mutation, crossover, bounds_handling, F, F_high, CR, "
     "selection, immediate, key0, key1, integrality, constrained, parallel_threshold)\n--\n\n"
     "A new differential-evolution engine handle."},
    {"de_engine_configure", as_method<de_engine_configure>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_configure(engine, adaptation, budget, scale_low, scale_high, objective_copy)"
     "\n--\n\nAdaptation, unit-cube scaling and copies for the fitness, before init."},
    {"de_engine_init", as_method<de_engine_init>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_init(engine, kind, rows)\n--\n\nSets the initial population."},
    {"de_engine_evaluate", as_method<de_engine_evaluate>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_evaluate(engine, fitness)\n--\n\nEvaluates the whole population."},
    {"de_engine_run", as_method<de_engine_run>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_run(engine, fitness, generations, tol, atol, max_evaluations, max_seconds)"
     "\n--\n\nRuns generations until a limit; returns the stop reason."},
    {"de_engine_state", as_method<de_engine_state>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_state(engine)\n--\n\nPopulation, energies, violations, best index, "
     "evaluations, generations, relative spread."},
    {"evaluate_native", as_method<evaluate_native>(), METH_VARARGS | METH_KEYWORDS,
     "evaluate_native(address, rows)\n--\n\nCalls a native fitness function once."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "ternavik._engine", "Native entry points of the ternavik package.",
    0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace ternavik::engine

TERNAVIK_MODULE_INIT(_engine) {
    return ternavik::entry_guard([]() -> ternavik::Result<ternavik::PyRef> {
        ternavik::PyRef module =
            ternavik::PyRef::steal(PyModule_Create2(&ternavik::engine::module_def, 3));
        if (!module) return ternavik::PyErr::fetch();
        return module;
    });
}
