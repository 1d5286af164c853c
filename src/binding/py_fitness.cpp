#include "binding/py_fitness.hpp"

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"

namespace ternavik {

namespace {

// No function can live in the first page of memory: 0, True, False and
// small counts passed by mistake are not addresses, and calling one would
// end the process.
constexpr std::uint64_t lowest_native_address = 4096;

// Calls the user's function. If the interpreter ends this thread meanwhile
// (it is shutting down), the references this thread owns are left alone.
PyObject* call_user_code(PyObject* callable, PyObject* arguments) {
    try {
        return PyObject_Call(callable, arguments, nullptr);
    } catch (...) {  // only a thread being ended can unwind out of it
        detail::thread_ending = true;
        throw;
    }
}

}  // namespace

bool CallableFitness::evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                               double* fitness) {
    if ((error_ = interrupts_.poll())) return false;
    PyRef population = matrix_to_array(matrix, rows, cols);
    PyRef arguments = make_tuple({population.release()});
    PyRef returned = PyRef::steal(call_user_code(callable_.get(), arguments.get()));
    if (!returned) {
        error_ = PyErr::fetch();
        return false;
    }
    Result<ArrayView> view = extract_float64_vector(returned.get());
    if (!view.ok()) {
        error_ = std::move(view.error());
        return false;
    }
    if (view.value().length() != rows) {
        error_ = PyErr::pending(PyExc_ValueError, "Fitness function returned incorrect shape");
        return false;
    }
    const StridedVector<double> values = view.value().float_vector();
    for (std::uint64_t i = 0; i < rows; ++i) fitness[i] = values[i];
    return true;
}

Result<ClassifiedFitness> classify_fitness_function(PyObject* object) {
    Result<std::uint64_t> address = extract_u64(object);
    if (address.ok() && address.value() >= lowest_native_address)
        return ClassifiedFitness(std::in_place_type<NativeFitness>, address.value());
    if (PyCallable_Check(object))
        return ClassifiedFitness(std::in_place_type<CallableFitness>, PyRef::borrow(object));
    return PyErr::pending(PyExc_TypeError, "Fitness function must be a callable or an address int");
}

}  // namespace ternavik
