#pragma once
#include "binding/errors.hpp"

namespace ternavik {

// Method-table shims of the module's functions (each runs the entry guard).
PyObject* entropy_weight_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_entry(PyObject* self, PyObject* args, PyObject* kwargs);

// The heap type _DE, created once per process (borrowed reference).
Result<PyObject*> de_type();

}  // namespace ternavik
