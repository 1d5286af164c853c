#pragma once
#include <optional>

#include "binding/errors.hpp"
#include "core/de/fitness.hpp"

namespace ternavik::engine {

// A Python evaluator: called with a (rows, dims) array of its own, returns
// a 1-D float64 array of rows energies, or (energies, violations) when the
// engine is constrained. Runs with the interpreter lock held.
class PopulationEvaluator final : public FitnessFunction {
public:
    explicit PopulationEvaluator(PyObject* callable) : callable_(PyRef::borrow(callable)) {}

    bool evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                  double* energies) override {
        return call(matrix, rows, cols, energies, nullptr);
    }
    bool evaluate_constrained(double* matrix, std::uint64_t rows, std::uint64_t cols,
                              double* energies, double* violations) override {
        return call(matrix, rows, cols, energies, violations);
    }
    bool is_native() const override { return false; }

    std::optional<PyErr> error;

private:
    bool call(double* matrix, std::uint64_t rows, std::uint64_t cols, double* energies,
              double* violations);
    bool read(PyObject* values, std::uint64_t rows, double* out);
    PyRef population_array(const double* matrix, std::uint64_t rows, std::uint64_t cols);
    PyRef callable_;
    PyRef last_array_;  // the array of the previous call
};

}  // namespace ternavik::engine
