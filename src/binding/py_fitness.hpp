#pragma once
#include <cstdint>
#include <optional>
#include <variant>

#include "core/de/fitness.hpp"
#include "binding/errors.hpp"

namespace ternavik {

// A native fitness function: void f(rows, cols, matrix, fitness), called
// without the interpreter lock.
class NativeFitness final : public FitnessFunction {
public:
    using Function = void (*)(std::uint64_t, std::uint64_t, double*, double*);
    explicit NativeFitness(std::uint64_t address)
        : function_(reinterpret_cast<Function>(static_cast<std::uintptr_t>(address))) {}

    bool evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                  double* fitness) override {
        function_(rows, cols, matrix, fitness);
        return true;
    }
    bool is_native() const override { return true; }

private:
    Function function_;
};

// A vectorised Python callable: gets a new C-ordered copy of the matrix and
// must return a 1-D float64 array with one value per row. Runs with the
// interpreter lock held.
class CallableFitness final : public FitnessFunction {
public:
    explicit CallableFitness(PyRef callable) : callable_(std::move(callable)) {}

    bool evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                  double* fitness) override;
    bool is_native() const override { return false; }

    // The reason of the last failed evaluation.
    PyErr take_error() { return std::move(*error_); }

private:
    PyRef callable_;
    std::optional<PyErr> error_;
};

// Native address or callable, decided once per optimize call.
using ClassifiedFitness = std::variant<NativeFitness, CallableFitness>;
Result<ClassifiedFitness> classify_fitness_function(PyObject* object);

}  // namespace ternavik
