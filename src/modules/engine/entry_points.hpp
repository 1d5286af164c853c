#pragma once
#include "binding/errors.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature.
PyObject* objective_weights_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* rank_coefficients_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* topsis_weight_grid_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace ternavik::engine
