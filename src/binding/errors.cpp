#include "binding/errors.hpp"

#include <cstdio>
#include <cstdlib>

#include "binding/python_call.hpp"

namespace ternavik {

namespace {

const char panic_doc[] =
    "\nThe exception raised when ternavik's own native code fails internally.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Normalised exception of a (type, value) pair, for reading its text.
PyRef exception_value(const PyRef& type, const PyRef& value, const std::string& message) {
    if (value) return value.clone();
    PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                          static_cast<Py_ssize_t>(message.size())));
    if (!text) return {};
    Result<PyRef> made = call_python(type.get(), {text.release()});
    if (made.ok()) return std::move(made.value());
    std::move(made.error()).raise();  // left pending, for the caller to see
    return {};
}

// Prints the two-line banner and the exception, then resumes it as an
// internal failure of this module.
[[noreturn]] void resume_panic(PyRef type, PyRef value, PyRef traceback) {
    std::string message = "Unwrapped panic from Python code";
    std::string text;
    if (object_text(value.get(), text)) message = text;
    PyErr_Clear();
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n",
               stderr);
    std::fputs("Python stack trace below:\n", stderr);
    std::fflush(stderr);
    PyErr_Restore(type.release(), value.release(), traceback.release());
    PyErr_PrintEx(0);
    throw InternalFailure(message);
}

}  // namespace

PyObject* panic_exception_type() {
    // Created once under the interpreter lock and kept for the process.
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException", panic_doc, PyExc_BaseException, nullptr);
    if (type == nullptr) {
        PyErr_Print();
        std::fputs("ternavik: cannot create the internal-failure exception type\n", stderr);
        std::abort();
    }
    return type;
}

PyErr PyErr::pending(PyObject* type, std::string message, PyRef cause) {
    PyErr error;
    error.type_ = PyRef::borrow(type);
    error.message_ = std::move(message);
    error.cause_ = std::move(cause);
    return error;
}

PyErr PyErr::fetch() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != nullptr) PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type), owned_value = PyRef::steal(value),
          owned_traceback = PyRef::steal(traceback);
    if (!owned_type)
        return pending(PyExc_SystemError, "attempted to fetch exception but none was set");
    if (owned_type.get() == panic_exception_type())
        resume_panic(std::move(owned_type), std::move(owned_value), std::move(owned_traceback));
    PyErr error;
    error.type_ = std::move(owned_type);
    error.value_ = std::move(owned_value);
    error.traceback_ = std::move(owned_traceback);
    error.captured_ = true;
    return error;
}

void PyErr::raise() && {
    if (captured_) {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
        return;
    }
    PyRef value = exception_value(type_, value_, message_);
    if (!value) return;  // the interpreter's own failure is now pending
    if (cause_) PyException_SetCause(value.get(), cause_.release());
    PyErr_SetObject(type_.get(), value.get());
}

std::string PyErr::text() const {
    if (!captured_) return message_;
    std::string text;
    object_text(value_.get(), text);
    return text;
}

std::string PyErr::describe() const {
    std::string name;
    PyRef qualname = PyRef::steal(PyObject_GetAttrString(type_.get(), "__name__"));
    if (!qualname || !object_text(qualname.get(), name)) {
        PyErr_Clear();
        name = "<unknown exception>";
    }
    return name + ": " + text();
}

PyRef PyErr::cause() const {
    if (!captured_) return cause_.clone();
    if (!value_) return {};
    return PyRef::steal(PyException_GetCause(value_.get()));
}

PyErr from_core_error(CoreError error) {
    PyObject* type = PyExc_RuntimeError;
    switch (error.kind) {
        case ErrorKind::type_error: type = PyExc_TypeError; break;
        case ErrorKind::value_error: type = PyExc_ValueError; break;
        case ErrorKind::overflow_error: type = PyExc_OverflowError; break;
        case ErrorKind::runtime_error: type = PyExc_RuntimeError; break;
    }
    return PyErr::pending(type, std::move(error.message));
}

[[noreturn]] void api_call_failed() {
    PyErr_Print();
    throw InternalFailure("Python API call failed");
}

PyRef checked(PyObject* object) {
    if (object == nullptr) api_call_failed();
    return PyRef::steal(object);
}

bool object_text(PyObject* object, std::string& out) {
    if (object == nullptr) return false;
    PyRef text = PyRef::steal(PyObject_Str(object));
    if (!text) {
        PyErr_Clear();
        return false;
    }
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(text.get()));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) {
        PyErr_Clear();
        return false;
    }
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

namespace detail {

void raise_internal_failure(const char* message) noexcept {
    const char* text = message != nullptr && *message != '\0'
                           ? message
                           : "ternavik failed internally without a message";
    std::fprintf(stderr, "ternavik: internal failure: %s\n", text);
    std::fflush(stderr);
    PyErr_SetString(panic_exception_type(), text);
}

void raise_memory_error() noexcept { PyErr_NoMemory(); }

}  // namespace detail

}  // namespace ternavik
