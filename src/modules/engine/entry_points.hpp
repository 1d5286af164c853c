#pragma once
#include "binding/errors.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature.

// The stepping differential-evolution engine (de_engine.cpp).
PyObject* de_engine_create(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* de_engine_init(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* de_engine_evaluate(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* de_engine_run(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* de_engine_state(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;
PyObject* evaluate_native(PyObject* self, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace ternavik::engine
