#pragma once
#include "binding/py_ref.hpp"

// Declares an extension module's init function. On CPython 3.8
// PyMODINIT_FUNC does not mark the function visible, and the build hides
// every symbol by default, so the attribute is spelled out here.
#define TERNAVIK_MODULE_INIT(name) \
    extern "C" __attribute__((visibility("default"))) PyObject* PyInit_##name()
