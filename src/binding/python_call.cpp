#include "binding/python_call.hpp"

#include <vector>

namespace ternavik {

Result<PyRef> call_python(PyObject* callable, PyObject* arguments) {
    // Held: the call may drop every other reference to either.
    const PyRef held_callable = PyRef::borrow(callable);
    const PyRef held_arguments = PyRef::borrow(arguments);
    PyObject* returned = nullptr;
    try {
        returned = PyObject_Call(held_callable.get(), held_arguments.get(), nullptr);
    } catch (...) {  // only a thread being ended can unwind out of it
        detail::thread_ending = true;
        throw;
    }
    if (returned == nullptr) return PyErr::fetch();
    return PyRef::steal(returned);
}

Result<PyRef> call_python(PyObject* callable, std::initializer_list<PyObject*> arguments) {
    // Owned first, so that every argument is released on any failure.
    std::vector<PyRef> owned;
    for (PyObject* item : arguments) owned.push_back(PyRef::steal(item));
    for (const PyRef& item : owned)
        if (!item) return PyErr::fetch();
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(owned.size())));
    if (!tuple) return PyErr::fetch();
    for (std::size_t k = 0; k < owned.size(); ++k)
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k), owned[k].release());
    return call_python(callable, tuple.get());
}

}  // namespace ternavik
