// ternavik._engine: the native entry points of the ternavik package. It is
// built from the same core and runtime as _ternavik, whose surface is fixed;
// everything new the package needs from native code lives here.
//
// The package calls its native work through this module only, so that in
// normal use one worker pool is busy at a time: _ternavik's own pool wakes
// only when a program calls _ternavik directly.
#include "binding/module_init.hpp"
#include "entry_points.hpp"

namespace ternavik::engine {
namespace {

template <PyObject* (*Shim)(PyObject*, PyObject*, PyObject*)>
constexpr PyCFunction as_method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Shim));
}

PyMethodDef methods[] = {
    {"de_engine_create", as_method<de_engine_create>(), METH_VARARGS | METH_KEYWORDS,
     "de_engine_create(low, high, pop, mutation, crossover, bounds_handling, F, F_high, CR, "
     "selection, immediate, key0, key1, integrality, constrained, parallel_threshold)\n--\n\n"
     "A new differential-evolution engine handle."},
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
