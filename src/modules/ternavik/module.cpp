// _ternavik: exact and fast decision analysis and differential evolution.
//
//     entropy_weight(data, indicator_type) -> (weights, scores)
//     topsis(data, weights, indicator_type) -> closeness
//     _DE(pop, dimensions, options, bounds).optimize(fitness_function, iters)
//         -> (best_fitness, best_position)
//
// Arrays are float64 (data, weights, bounds) and int64 (indicator_type)
// NumPy arrays, read in place; results are new float64 arrays.
#include "binding/arguments.hpp"
#include "binding/module_init.hpp"
#include "entry_points.hpp"

namespace ternavik {

namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_ternavik", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Filled once by the first successful initialisation, never emptied.
PyObject* module_cell = nullptr;

// The module's __all__ list, created empty when missing.
Result<PyRef> all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyErr::fetch();
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return PyErr::fetch();
    }
    if (!PyList_Check(all.get())) return type_check_error(all.get(), "PyList");
    return all;
}

Status add_object(PyObject* module, PyObject* name, PyObject* object) {
    Result<PyRef> all = all_list(module);
    if (!all.ok()) return std::move(all.error());
    if (PyList_Append(all.value().get(), name) != 0)
        throw InternalFailure("could not append __name__ to __all__");
    if (PyObject_SetAttr(module, name, object) != 0) return PyErr::fetch();
    return ok_status();
}

Status add_function(PyObject* module, PyMethodDef* def) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return PyErr::fetch();
    PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
    if (!function) return PyErr::fetch();
    PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return PyErr::fetch();
    return add_object(module, name.get(), function.get());
}

Status module_body(PyObject* module) {
    // Python keeps pointers to the rows: they live as long as the process.
    static PyMethodDef entropy_weight_def =
        method_def(entry<entropy_weight_signature, entropy_weight_body>());
    static PyMethodDef topsis_def = method_def(entry<topsis_signature, topsis_body>());
    Status added = add_function(module, &entropy_weight_def);
    if (!added.ok()) return added;
    added = add_function(module, &topsis_def);
    if (!added.ok()) return added;
    Result<PyObject*> type = de_type();
    if (!type.ok()) return std::move(type.error());
    PyRef name = PyRef::steal(PyUnicode_FromString("_DE"));
    if (!name) return PyErr::fetch();
    return add_object(module, name.get(), type.value());
}

Result<PyRef> initialise() {
    if (module_cell != nullptr)
        return PyErr::pending(PyExc_ImportError,
                              "PyO3 modules compiled for CPython 3.8 or older may only be "
                              "initialized once per interpreter process");
    PyRef module = PyRef::steal(PyModule_Create2(&module_def, 3));
    if (!module) return PyErr::fetch();
    Status body = module_body(module.get());
    if (!body.ok()) return std::move(body.error());
    module_cell = module.release();
    return PyRef::borrow(module_cell);
}

}  // namespace

}  // namespace ternavik

TERNAVIK_MODULE_INIT(_ternavik) {
    return ternavik::entry_guard([] { return ternavik::initialise(); });
}
