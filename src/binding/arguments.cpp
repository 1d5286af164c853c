#include "binding/arguments.hpp"

#include <vector>

namespace ternavik {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k > 0) {
            if (names.size() == 2) out += " and ";
            else if (k + 1 == names.size()) out += ", and ";
            else out += ", ";
        }
        out += "'" + names[k] + "'";
    }
    return out;
}

PyErr missing_arguments(const ArgumentDescription& description, PyObject** slots) {
    std::vector<std::string> missing;
    for (std::size_t k = 0; k < description.count; ++k)
        if (slots[k] == nullptr) missing.emplace_back(description.parameters[k]);
    std::string message = std::string(description.name_in_messages) + " missing " +
                          std::to_string(missing.size()) + " required positional " +
                          (missing.size() == 1 ? "argument" : "arguments") + ": " +
                          quoted_list(missing);
    return PyErr::pending(PyExc_TypeError, std::move(message));
}

// Index of the parameter named by `key`, or count when there is none.
std::size_t parameter_index(const ArgumentDescription& description, PyObject* key) {
    if (!PyUnicode_Check(key)) return description.count;
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(key));
    if (!bytes) {
        PyErr_Clear();
        return description.count;
    }
    std::string_view name(PyBytes_AsString(bytes.get()),
                          static_cast<std::size_t>(PyBytes_Size(bytes.get())));
    for (std::size_t k = 0; k < description.count; ++k)
        if (name == description.parameters[k]) return k;
    return description.count;
}

Status bind_keywords(const ArgumentDescription& description, PyObject* kwargs,
                     PyObject** slots) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        std::size_t k = parameter_index(description, key);
        if (k == description.count) {
            // str() of the key may run Python code that changes the dictionary.
            const PyRef held_key = PyRef::borrow(key);
            std::string text;
            object_text(held_key.get(), text);
            return PyErr::pending(PyExc_TypeError, std::string(description.name_in_messages) +
                                                       " got an unexpected keyword argument '" +
                                                       text + "'");
        }
        if (slots[k] != nullptr)
            return PyErr::pending(PyExc_TypeError, std::string(description.name_in_messages) +
                                                       " got multiple values for argument '" +
                                                       description.parameters[k] + "'");
        slots[k] = value;
    }
    return ok_status();
}

}  // namespace

Status bind_arguments(const ArgumentDescription& description, PyObject* args, PyObject* kwargs,
                      PyObject** slots) {
    for (std::size_t k = 0; k < description.count; ++k) slots[k] = nullptr;
    const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
    const auto n = static_cast<Py_ssize_t>(description.count);
    for (Py_ssize_t k = 0; k < given && k < n; ++k) slots[k] = PyTuple_GetItem(args, k);
    if (given > n)
        return PyErr::pending(PyExc_TypeError, std::string(description.name_in_messages) +
                                                   " takes " + std::to_string(n) +
                                                   " positional arguments but " +
                                                   std::to_string(given) + " " +
                                                   (given == 1 ? "was" : "were") + " given");
    if (kwargs != nullptr) {
        Status bound = bind_keywords(description, kwargs, slots);
        if (!bound.ok()) return bound;
    }
    for (std::size_t k = 0; k < description.count; ++k)
        if (slots[k] == nullptr) return missing_arguments(description, slots);
    return ok_status();
}

Status bind_arguments(const ArgumentDescription& description, PyObject* args, PyObject* kwargs,
                      PyRef* slots) {
    // Binding itself runs no Python code on success, so the borrowed slots
    // are still valid when they are taken over here.
    std::vector<PyObject*> borrowed(description.count);
    Status bound = bind_arguments(description, args, kwargs, borrowed.data());
    if (!bound.ok()) return bound;
    for (std::size_t k = 0; k < description.count; ++k) slots[k] = PyRef::borrow(borrowed[k]);
    return ok_status();
}

std::string type_qualname(PyObject* object) {
    // The attribute lookup can run a metaclass's Python code.
    const PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object)));
    PyRef name = PyRef::steal(PyObject_GetAttrString(type.get(), "__qualname__"));
    std::string text;
    if (!name || !PyUnicode_Check(name.get()) || !object_text(name.get(), text)) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return text;
}

PyErr type_check_error(PyObject* object, const char* expected) {
    // Built by appending: GCC 12 warns falsely about "'" + std::string.
    std::string message(1, '\'');
    message.append(type_qualname(object)).append("' object cannot be converted to '");
    message.append(expected).append("'");
    return PyErr::pending(PyExc_TypeError, std::move(message));
}

PyErr argument_error(const char* parameter, PyErr error) {
    if (error.type() != PyExc_TypeError) return error;
    return PyErr::pending(PyExc_TypeError,
                          std::string("argument '") + parameter + "': " + error.text(),
                          error.cause());
}

Result<std::uint64_t> extract_u64(PyObject* object) {
    PyRef index;
    if (!PyLong_Check(object)) {
        index = PyRef::steal(PyNumber_Index(object));
        if (!index) return PyErr::fetch();
        object = index.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return PyErr::fetch();
    return static_cast<std::uint64_t>(value);
}

Result<PyObject*> extract_dict(PyObject* object) {
    if (!PyDict_Check(object)) return type_check_error(object, "PyDict");
    return object;
}

Result<PyObject*> extract_tuple(PyObject* object) {
    if (!PyTuple_Check(object)) return type_check_error(object, "PyTuple");
    return object;
}

}  // namespace ternavik
