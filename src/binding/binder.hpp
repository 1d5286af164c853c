#pragma once
// Declared parameters and the one binder behind every entry point.
//
// An entry point is one declaration and one body:
//
//     constexpr Parameter normalize_parameters[] = {
//         {"data", Kind::float64_matrix}, {"kinds", Kind::int64_vector},
//         {"method", Kind::code, mcda::normalization_count}};
//     constexpr Signature normalize_signature{"normalize", normalize_parameters};
//     Result<PyRef> normalize_body(const Arguments& a) { ... a.view(0) ... a.u64(2) ... }
//
// and one row, entry<normalize_signature, normalize_body>(), in the list of
// entry points its source file returns (a new file's list goes into
// module.cpp's all_methods). The method table and each docstring's signature
// line are made from the declaration; the fuzz test's table of valid
// arguments (tests/python/test_engine_fuzz.py) needs the new name too. The binder takes a strong reference to every
// argument, converts every scalar before it borrows any array view (an
// __index__ or __float__ may run any Python code, including code that
// resizes or frees an array), keeps the views until the body has built its
// result and then releases them in reverse order. Its messages have one
// form: a TypeError "argument '<name>': ..." for a wrong type (an integer
// out of range keeps the interpreter's OverflowError), and a ValueError
// "unknown <name> code <value>" for a code past the last one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "binding/array_view.hpp"
#include "binding/errors.hpp"

namespace ternavik {

// How one argument is converted.
enum class Kind : std::uint8_t {
    // Scalars, converted first, in declaration order (each may run Python code).
    u64,     // int or __index__, 0 <= value < 2**64
    code,    // a u64 below Parameter::limit
    real,    // a float or an int, as a double
    number,  // anything float() accepts through __float__ or __index__
    flag,    // a truth value
    // Objects that are only checked and held (no Python code runs).
    object,   // anything
    native,   // a native fitness function (see native_capsule_name)
    fitness,  // a native fitness function or a Python callable
    // Array views, borrowed after every scalar, in declaration order.
    float64_matrix,
    float64_vector,
    int64_vector,
};

struct Parameter {
    const char* name;
    Kind kind;
    std::uint64_t limit = 0;    // code: how many codes there are
    bool none_allowed = false;  // arrays: None binds as "not given"
};

inline constexpr std::size_t max_parameters = 24;

// The name of the capsule that carries a native fitness function's address:
// the package makes one only after checking the function's signature. A
// bare int is never taken for an address, since nothing can check it.
inline constexpr char native_capsule_name[] = "ternavik.native_fitness";

// An entry point's Python name, parameters and docstring text.
struct Signature {
    template <std::size_t N>
    constexpr Signature(const char* function_name, const Parameter (&declared)[N],
                        const char* doc = "")
        : name(function_name), parameters(declared), count(N), summary(doc) {
        static_assert(N <= max_parameters, "raise max_parameters");
    }
    const char* name;
    const Parameter* parameters;
    std::size_t count;
    const char* summary;
};

// The converted arguments of one call, by position in the declaration.
class Arguments {
public:
    Arguments() = default;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments();

    std::uint64_t u64(std::size_t k) const { return slots_[k].integer; }  // u64, code, native
    double real(std::size_t k) const { return slots_[k].real; }           // real, number
    bool flag(std::size_t k) const { return slots_[k].integer != 0; }
    PyObject* object(std::size_t k) const { return slots_[k].object.get(); }
    const ArrayView& view(std::size_t k) const { return slots_[k].view; }
    // False for an array given as None where that is allowed.
    bool given(std::size_t k) const { return slots_[k].given; }
    // Kind::fitness: whether the argument is a native function (its address
    // is u64(k)) rather than a Python callable.
    bool is_native(std::size_t k) const { return slots_[k].integer != 0; }

private:
    friend Status bind(const Signature&, PyObject*, PyObject*, Arguments&);
    struct Slot {
        PyRef object;
        std::uint64_t integer = 0;
        double real = 0.0;
        ArrayView view;
        bool given = true;
    };
    Slot slots_[max_parameters];
    std::size_t count_ = 0;
};

// Binds and converts the arguments of one call.
Status bind(const Signature& signature, PyObject* args, PyObject* kwargs, Arguments& out);

using Body = Result<PyRef> (*)(const Arguments&);

// Binds, runs the body, and only then releases the arguments.
Result<PyRef> bind_and_run(const Signature& signature, Body body, PyObject* args,
                           PyObject* kwargs);

// A method-table function. Like the entry guard it calls, it is not
// noexcept: a thread the interpreter ends on its way out unwinds through it.
template <const Signature& S, Body B>
PyObject* entry_shim(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return bind_and_run(S, B, args, kwargs); });
}

struct EntryPoint {
    const Signature* signature;
    PyCFunction function;
};

template <const Signature& S, Body B>
EntryPoint entry() {
    return {&S, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry_shim<S, B>))};
}

// A METH_VARARGS | METH_KEYWORDS row whose docstring starts with
// "name(p1, p2, ...)\n--\n\n" made from the declaration; kept for the process.
PyMethodDef method_def(const EntryPoint& entry);

// The rows of `entries` and the terminating empty row, kept for the process.
PyMethodDef* method_table(const std::vector<EntryPoint>& entries);

}  // namespace ternavik
