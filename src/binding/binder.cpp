#include "binding/binder.hpp"

#include <deque>
#include <optional>
#include <string>

#include "binding/arguments.hpp"
#include "binding/interrupt_check.hpp"
#include "core/interruption.hpp"

namespace ternavik {

namespace {

bool is_scalar(Kind kind) { return kind <= Kind::flag; }
bool is_array(Kind kind) { return kind >= Kind::float64_matrix; }

Result<double> extract_real(PyObject* object) {
    if (!PyFloat_Check(object) && !PyLong_Check(object)) return type_check_error(object, "float");
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

Result<double> extract_number(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

PyErr not_native(const char* parameter, PyObject* object, const char* expected) {
    const char* why = PyLong_Check(object) || PyIndex_Check(object)
                          ? " (an int cannot be called as a function: nothing can check "
                            "what it points to)"
                          : "";
    return PyErr::pending(
        PyExc_TypeError,
        std::string("argument '") + parameter + "': expected " + expected + ", got '" +
            type_qualname(object) + "'" + why +
            "; pass a native function to ternavik.differential_evolution or ternavik.minimize "
            "as a numba cfunc, a ctypes or cffi function pointer, or a scipy.LowLevelCallable, "
            "which carry their signature");
}

std::uint64_t native_address(PyObject* object) {
    if (!PyCapsule_IsValid(object, native_capsule_name)) return 0;
    return reinterpret_cast<std::uintptr_t>(PyCapsule_GetPointer(object, native_capsule_name));
}

// Scalars: converted here, before any array is looked at.
Status convert_scalar(const Parameter& p, PyObject* object, std::uint64_t& integer,
                      double& real) {
    switch (p.kind) {
        case Kind::u64:
        case Kind::code: {
            Result<std::uint64_t> value = extract_u64(object);
            if (!value.ok()) return argument_error(p.name, std::move(value.error()));
            if (p.kind == Kind::code && value.value() >= p.limit)
                return PyErr::pending(PyExc_ValueError, std::string("unknown ") + p.name +
                                                            " code " +
                                                            std::to_string(value.value()));
            integer = value.value();
            return ok_status();
        }
        case Kind::real:
        case Kind::number: {
            Result<double> value =
                p.kind == Kind::real ? extract_real(object) : extract_number(object);
            if (!value.ok()) return argument_error(p.name, std::move(value.error()));
            real = value.value();
            return ok_status();
        }
        default: {  // flag
            const int truth = PyObject_IsTrue(object);
            if (truth < 0) return argument_error(p.name, PyErr::fetch());
            integer = static_cast<std::uint64_t>(truth);
            return ok_status();
        }
    }
}

// Objects that are only checked: no Python code runs.
Status check_object(const Parameter& p, PyObject* object, std::uint64_t& integer) {
    if (p.kind == Kind::object) return ok_status();
    integer = native_address(object);
    if (integer != 0) return ok_status();
    if (p.kind == Kind::fitness && PyCallable_Check(object)) return ok_status();
    return not_native(p.name, object,
                      p.kind == Kind::native ? "a native function"
                                             : "a callable or a native function");
}

Result<ArrayView> convert_array(const Parameter& p, PyObject* object) {
    switch (p.kind) {
        case Kind::float64_matrix: return convert_argument(p.name, object, extract_float64_matrix);
        case Kind::float64_vector: return convert_argument(p.name, object, extract_float64_vector);
        default: return convert_argument(p.name, object, extract_int64_vector);
    }
}

// Answers a kernel's "stop now?" from the interpreter's pending signals;
// bodies run on the calling thread with the interpreter lock held.
class SignalPoll final : public InterruptPoll {
public:
    bool stop_requested() override {
        error = check_.poll();
        return error.has_value();
    }
    std::optional<PyErr> error;

private:
    InterruptCheck check_;
};

}  // namespace

Arguments::~Arguments() {
    for (std::size_t k = count_; k-- > 0;) slots_[k].view.release();
}

Status bind(const Signature& signature, PyObject* args, PyObject* kwargs, Arguments& out) {
    const char* names[max_parameters];
    for (std::size_t k = 0; k < signature.count; ++k) names[k] = signature.parameters[k].name;
    const std::string name_in_messages = std::string(signature.name) + "()";
    const ArgumentDescription description{name_in_messages.c_str(), names, signature.count};
    PyRef held[max_parameters];
    Status bound = bind_arguments(description, args, kwargs, held);
    if (!bound.ok()) return bound;
    out.count_ = signature.count;
    for (std::size_t k = 0; k < signature.count; ++k) out.slots_[k].object = std::move(held[k]);

    for (std::size_t k = 0; k < signature.count; ++k) {
        const Parameter& p = signature.parameters[k];
        Arguments::Slot& slot = out.slots_[k];
        Status done = is_scalar(p.kind)
                          ? convert_scalar(p, slot.object.get(), slot.integer, slot.real)
                          : is_array(p.kind) ? ok_status()
                                             : check_object(p, slot.object.get(), slot.integer);
        if (!done.ok()) return done;
    }
    for (std::size_t k = 0; k < signature.count; ++k) {
        const Parameter& p = signature.parameters[k];
        Arguments::Slot& slot = out.slots_[k];
        if (!is_array(p.kind)) continue;
        if (p.none_allowed && slot.object.get() == Py_None) {
            slot.given = false;
            continue;
        }
        Result<ArrayView> view = convert_array(p, slot.object.get());
        if (!view.ok()) return std::move(view.error());
        slot.view = std::move(view.value());
    }
    return ok_status();
}

Result<PyRef> bind_and_run(const Signature& signature, Body body, PyObject* args,
                           PyObject* kwargs) {
    Arguments arguments;
    Status bound = bind(signature, args, kwargs, arguments);
    if (!bound.ok()) return std::move(bound.error());
    SignalPoll poll;
    ScopedInterruptPoll installed(poll);
    try {
        return body(arguments);
    } catch (const Interrupted&) {
        return std::move(*poll.error);
    }
}


PyMethodDef method_def(const EntryPoint& entry) {
    // Python keeps pointers to the docstrings: they live as long as the process.
    static std::deque<std::string> docs;
    const Signature& s = *entry.signature;
    std::string doc = std::string(s.name) + "(";
    for (std::size_t k = 0; k < s.count; ++k) {
        if (k > 0) doc += ", ";
        doc += s.parameters[k].name;
    }
    doc += ")\n--\n\n";
    doc += s.summary;
    docs.push_back(std::move(doc));
    return {s.name, entry.function, METH_VARARGS | METH_KEYWORDS, docs.back().c_str()};
}

PyMethodDef* method_table(const std::vector<EntryPoint>& entries) {
    auto* table = new std::vector<PyMethodDef>();  // kept for the process
    for (const EntryPoint& entry : entries) table->push_back(method_def(entry));
    table->push_back({nullptr, nullptr, 0, nullptr});
    return table->data();
}

}  // namespace ternavik
