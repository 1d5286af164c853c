#pragma once
#include "binding/errors.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature.

}  // namespace ternavik::engine
