#pragma once
#include "binding/errors.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature and, like
// the guard, is not noexcept: a thread the interpreter ends on its way out
// unwinds through it.

// The stepping differential-evolution engine (de_engine.cpp).
PyObject* de_engine_create(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_init(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_evaluate(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_run(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_state(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* evaluate_native(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace ternavik::engine
