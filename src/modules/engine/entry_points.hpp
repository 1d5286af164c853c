#pragma once
#include "binding/errors.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature.

// Decision analysis: the whole functions, then the pieces for row blocks.
PyObject* entropy_weight_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_scan_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_ideals_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_closeness_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_extremes_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_sums_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_weights_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace ternavik::engine
