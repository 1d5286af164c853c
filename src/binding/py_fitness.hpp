#pragma once
#include <cstdint>
#include <optional>
#include <variant>

#include "binding/errors.hpp"
#include "binding/interrupt_check.hpp"
#include "core/de/fitness.hpp"

namespace ternavik {

// A native fitness function: void f(rows, cols, matrix, fitness), called
// without the interpreter lock. Once told how the lock was released, it
// looks for pending signals before each evaluation, so Ctrl-C stops a long
// run at the next generation.
class NativeFitness final : public FitnessFunction {
public:
    using Function = void (*)(std::uint64_t, std::uint64_t, double*, double*);
    explicit NativeFitness(std::uint64_t address)
        : function_(reinterpret_cast<Function>(static_cast<std::uintptr_t>(address))) {}

    // Polls for signals through `released` from now on.
    void watch_interrupts(GilRelease& released) { interrupts_.emplace(&released); }

    bool evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                  double* fitness) override {
        if (interrupts_ && (error_ = interrupts_->poll())) return false;
        function_(rows, cols, matrix, fitness);
        return true;
    }
    bool is_native() const override { return true; }

    // The exception that stopped the run (a signal handler's).
    PyErr take_error() { return std::move(*error_); }

private:
    Function function_;
    std::optional<InterruptCheck> interrupts_;
    std::optional<PyErr> error_;
};

// A vectorised Python callable: gets a new C-ordered copy of the matrix and
// must return a 1-D float64 array with one value per row. Runs with the
// interpreter lock held; pending signals are looked for before each call,
// since a callable that runs no bytecode never lets the interpreter do it.
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
    InterruptCheck interrupts_;
    std::optional<PyErr> error_;
};

// Native address or callable, decided once per optimize call.
using ClassifiedFitness = std::variant<NativeFitness, CallableFitness>;
Result<ClassifiedFitness> classify_fitness_function(PyObject* object);

}  // namespace ternavik
