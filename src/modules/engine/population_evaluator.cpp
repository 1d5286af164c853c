#include "population_evaluator.hpp"

#include <cstring>
#include <string>

#include "binding/array_view.hpp"
#include "binding/numpy_api.hpp"
#include "binding/python_call.hpp"

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

// Each call's array is a new one unless nothing but this evaluator holds
// the previous one any more (no stored reference, no view, no weak
// reference) and it is still the float64 C-ordered matrix it was made as.
// Then it is refilled: no caller can tell, and a large population saves an
// allocation and its page faults every generation.
PyRef PopulationEvaluator::population_array(const double* matrix, std::uint64_t rows,
                                            std::uint64_t cols) {
    if (last_array_ && Py_REFCNT(last_array_.get()) == 1) {
        const NpyArrayFields* a = array_fields(last_array_.get());
        const std::intptr_t row_bytes = static_cast<std::intptr_t>(cols * sizeof(double));
        PyRef float64 = PyRef::steal(require_numpy_api().descr_from_type(npy_double));
        const bool unchanged =
            a->nd == 2 && a->base == nullptr && a->weakreflist == nullptr &&
            a->descr == float64.get() &&
            a->dimensions[0] == static_cast<std::intptr_t>(rows) &&
            a->dimensions[1] == static_cast<std::intptr_t>(cols) &&
            a->strides[0] == row_bytes && a->strides[1] == sizeof(double) &&
            (a->flags & npy_array_writeable) != 0;
        if (unchanged && rows * cols != 0) {
            std::memcpy(a->data, matrix, rows * cols * sizeof(double));
            return PyRef::borrow(last_array_.get());
        }
    }
    last_array_ = matrix_to_array(matrix, rows, cols);
    return PyRef::borrow(last_array_.get());
}

bool PopulationEvaluator::call(double* matrix, std::uint64_t rows, std::uint64_t cols,
                               double* energies, double* violations) {
    PyRef population = population_array(matrix, rows, cols);
    Result<PyRef> called = call_python(callable_.get(), {population.release()});
    if (!called.ok()) {
        error = std::move(called.error());
        return false;
    }
    const PyRef& returned = called.value();
    if (violations == nullptr) return read(returned.get(), rows, energies);
    if (!PyTuple_Check(returned.get()) || PyTuple_Size(returned.get()) != 2) {
        error = PyErr::pending(PyExc_TypeError, "the evaluator must return (energies, violations)");
        return false;
    }
    return read(PyTuple_GetItem(returned.get(), 0), rows, energies) &&
           read(PyTuple_GetItem(returned.get(), 1), rows, violations);
}

}  // namespace ternavik::engine
