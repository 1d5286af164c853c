#pragma once
#include "binding/errors.hpp"

namespace ternavik {

// The one way native code calls Python code (objectives, evaluators,
// callbacks, exception constructors, NumPy's helpers). It holds strong
// references to the callable and its arguments for the length of the call,
// so the callable may drop its last outside reference to itself, and it
// marks a thread that the interpreter ends during the call (pthread_exit at
// shutdown): from then on that thread's frames leave every reference alone
// instead of touching an interpreter that is being torn down.
Result<PyRef> call_python(PyObject* callable, PyObject* arguments);

// The same with the arguments as new references (each may be NULL after a
// failed constructor: that is an internal failure).
Result<PyRef> call_python(PyObject* callable, std::initializer_list<PyObject*> arguments);

}  // namespace ternavik
