#pragma once
#include "binding/binder.hpp"
#include "binding/errors.hpp"

namespace ternavik {

// The module's functions, also built into ternavik._engine.
extern const Signature entropy_weight_signature;
extern const Signature topsis_signature;
Result<PyRef> entropy_weight_body(const Arguments& a);
Result<PyRef> topsis_body(const Arguments& a);

// The heap type _DE, created once per process (borrowed reference).
Result<PyObject*> de_type();

}  // namespace ternavik
