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
    {"objective_weights", as_method<objective_weights_entry>(), METH_VARARGS | METH_KEYWORDS,
     "objective_weights(data, indicator_type, method)\n--\n\n"},
    {"rank_coefficients", as_method<rank_coefficients_entry>(), METH_VARARGS | METH_KEYWORDS,
     "rank_coefficients(rankings, coefficient)\n--\n\n"},
    {"topsis_weight_grid", as_method<topsis_weight_grid_entry>(), METH_VARARGS | METH_KEYWORDS,
     "topsis_weight_grid(data, weights, indicator_type)\n--\n\n"},
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
