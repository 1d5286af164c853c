#pragma once
#include <string>
#include <utility>
#include <variant>

#include "binding/py_ref.hpp"
#include "core/outcome.hpp"
#include "runtime/internal_failure.hpp"

namespace ternavik {

// How code below the boundary reports an expected failure: either pending
// (an exception type and a message; no Python object made until raised) or
// captured from the interpreter (type, value and traceback, unchanged).
class PyErr {
public:
    static PyErr pending(PyObject* type, std::string message, PyRef cause = {});
    // Takes the interpreter's current exception. A fetched internal-failure
    // exception is not returned: it is resumed as an InternalFailure.
    static PyErr fetch();

    PyErr(PyErr&&) = default;
    PyErr& operator=(PyErr&&) = default;

    // Makes this error the interpreter's current exception.
    void raise() &&;

    // The exception type (borrowed).
    PyObject* type() const { return type_.get(); }
    // str() of the exception, and its __cause__ (may be empty).
    std::string text() const;
    // "<TypeName>: <text>", for messages that wrap this error.
    std::string describe() const;
    PyRef cause() const;
    // The exception object of a captured error (empty for a pending one).
    PyRef value() const { return value_.clone(); }

private:
    PyErr() = default;
    PyRef type_, value_, traceback_;
    std::string message_;
    PyRef cause_;
    bool captured_ = false;
};

// Either a value or a PyErr.
template <class T>
using Result = Expected<T, PyErr>;

// Success without a value.
struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

// The Python exception for an expected failure of an algorithm.
PyErr from_core_error(CoreError error);

// An interpreter call that must not fail returned NULL: print what the
// interpreter says and fail internally.
[[noreturn]] void api_call_failed();

// Returns `object` as a PyRef, or fails internally when it is NULL.
PyRef checked(PyObject* object);

// str(object) as UTF-8, or nullopt-like failure reported via `ok`.
bool object_text(PyObject* object, std::string& out);

// The internal-failure exception type "pyo3_runtime.PanicException".
PyObject* panic_exception_type();

// Runs an entry point's body and turns its outcome into the C-API
// convention: a new reference, or NULL with an exception set. Not noexcept,
// and neither may the shims that call it be: a thread that the interpreter
// ends on its way out (pthread_exit) unwinds through here to CPython.
template <class Body>
PyObject* entry_guard(Body&& body);

namespace detail {
void raise_internal_failure(const char* message) noexcept;
void raise_memory_error() noexcept;
}  // namespace detail

template <class Body>
PyObject* entry_guard(Body&& body) {
    try {
        Result<PyRef> result = body();
        if (result.ok()) return result.value().release();
        std::move(result.error()).raise();
    } catch (const InternalFailure& failure) {
        detail::raise_internal_failure(failure.what());
    } catch (const std::bad_alloc&) {
        detail::raise_memory_error();
    } catch (const std::exception& failure) {
        detail::raise_internal_failure(failure.what());
    } catch (...) {
        if (thread_is_ending()) {
            detail::thread_ending = true;
            throw;
        }
        detail::raise_internal_failure(nullptr);
    }
    return nullptr;
}

}  // namespace ternavik
