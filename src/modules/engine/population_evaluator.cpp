#include "population_evaluator.hpp"

#include <string>

#include "binding/array_view.hpp"

namespace ternavik::engine {

bool PopulationEvaluator::read(PyObject* values, std::uint64_t rows, double* out) {
    Result<ArrayView> view = extract_float64_vector(values);
    if (!view.ok()) {
        error = std::move(view.error());
        return false;
    }
    if (view.value().length() != rows) {
        error = PyErr::pending(PyExc_ValueError, "the evaluator returned " +
                                                     std::to_string(view.value().length()) +
                                                     " values for " + std::to_string(rows) +
                                                     " rows");
        return false;
    }
    const StridedVector<double> v = view.value().float_vector();
    for (std::uint64_t i = 0; i < rows; ++i) out[i] = v[i];
    return true;
}

bool PopulationEvaluator::call(double* matrix, std::uint64_t rows, std::uint64_t cols, double* energies,
                       double* violations) {
    PyRef population = matrix_to_array(matrix, rows, cols);
    PyRef arguments = make_tuple({population.release()});
    PyRef returned = PyRef::steal(PyObject_Call(callable_.get(), arguments.get(), nullptr));
    if (!returned) {
        error = PyErr::fetch();
        return false;
    }
    if (violations == nullptr) return read(returned.get(), rows, energies);
    if (!PyTuple_Check(returned.get()) || PyTuple_Size(returned.get()) != 2) {
        error = PyErr::pending(PyExc_TypeError, "the evaluator must return (energies, violations)");
        return false;
    }
    return read(PyTuple_GetItem(returned.get(), 0), rows, energies) &&
           read(PyTuple_GetItem(returned.get(), 1), rows, violations);
}

}  // namespace ternavik::engine
