#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/errors.hpp"

namespace ternavik {

// The static description of an entry point's parameters: all required,
// positional or keyword, no defaults.
struct ArgumentDescription {
    const char* name_in_messages;  // e.g. "topsis()"
    const char* const* parameters;
    std::size_t count;
};

// Fills slots[0..count) with strong references to the arguments, from the
// positional tuple and the keyword dictionary (either may be NULL), or
// returns the binding TypeError. The references are strong because the
// keyword dictionary can be the caller's own (`_DE(**d)`), which Python code
// run during conversion (an __index__, say) may change.
Status bind_arguments(const ArgumentDescription& description, PyObject* args, PyObject* kwargs,
                      PyRef* slots);

// The same with borrowed slots: valid only while no Python code runs, so
// prefer the PyRef form.
Status bind_arguments(const ArgumentDescription& description, PyObject* args, PyObject* kwargs,
                      PyObject** slots);

// The __qualname__ of an object's type, for messages.
std::string type_qualname(PyObject* object);

// The TypeError of a failed type check: "'<qualname>' object cannot be
// converted to '<expected>'".
PyErr type_check_error(PyObject* object, const char* expected);

// Prefixes a TypeError with the parameter's name; other errors pass unchanged.
PyErr argument_error(const char* parameter, PyErr error);

// Unsigned 64-bit integer through int or the index protocol.
Result<std::uint64_t> extract_u64(PyObject* object);

// Type checks that return the (borrowed) object.
Result<PyObject*> extract_dict(PyObject* object);
Result<PyObject*> extract_tuple(PyObject* object);

// A conversion tied to a named parameter: runs `convert(object)` and maps
// its failure through argument_error.
template <class Convert>
auto convert_argument(const char* parameter, PyObject* object, Convert&& convert)
    -> decltype(convert(object)) {
    auto result = convert(object);
    if (!result.ok()) return argument_error(parameter, std::move(result.error()));
    return result;
}

}  // namespace ternavik
