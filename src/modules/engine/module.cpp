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

// Every declared entry point, in the order help() lists them.
PyMethodDef* all_methods() {
    std::vector<EntryPoint> entries;
    for (auto* list : {decision_chunk_entry_points, weighting_entry_points,
                       decision_method_entry_points, outranking_entry_points,
                       de_engine_entry_points})
        for (const EntryPoint& entry : list()) entries.push_back(entry);
    return method_table(entries);
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "ternavik._engine", "Native entry points of the ternavik package.",
    0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace ternavik::engine

TERNAVIK_MODULE_INIT(_engine) {
    return ternavik::entry_guard([]() -> ternavik::Result<ternavik::PyRef> {
        if (ternavik::engine::module_def.m_methods == nullptr)
            ternavik::engine::module_def.m_methods = ternavik::engine::all_methods();
        ternavik::PyRef module =
            ternavik::PyRef::steal(PyModule_Create2(&ternavik::engine::module_def, 3));
        if (!module) return ternavik::PyErr::fetch();
        return module;
    });
}
