#include "binding/py_fitness.hpp"

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "binding/python_call.hpp"

namespace ternavik {

namespace {

// No function can live in the first page of memory: 0, True, False and
// small counts passed by mistake are not addresses, and calling one would
// end the process.
constexpr std::uint64_t lowest_native_address = 4096;

}  // namespace

bool CallableFitness::evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                               double* fitness) {
    if ((error_ = interrupts_.poll())) return false;
    PyRef population = matrix_to_array(matrix, rows, cols);
    Result<PyRef> called = call_python(callable_.get(), {population.release()});
    if (!called.ok()) {
        error_ = std::move(called.error());
        return false;
    }
    const PyRef& returned = called.value();
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
