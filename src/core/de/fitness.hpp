#pragma once
#include <cstdint>

namespace ternavik {

// What the evolution loop needs of a fitness function: evaluate a whole
// row-major rows x cols matrix and fill one value per row.
class FitnessFunction {
public:
    virtual ~FitnessFunction() = default;

    // Fills fitness[0..rows). `matrix` is the loop's own working matrix: a
    // native function may write into it and the loop sees the change.
    // `fitness` is not cleared between calls. Returns false when the
    // evaluation failed; the implementation keeps the reason itself, so the
    // loop stays free of host-specific error types.
    virtual bool evaluate(double* matrix, std::uint64_t rows, std::uint64_t cols,
                          double* fitness) = 0;

    // True when the function may be evaluated without the interpreter, so
    // trial generation may use the worker pool.
    virtual bool is_native() const = 0;

    // As evaluate, and also the total constraint violation of each row
    // (0 when feasible), for engines configured with constraints.
    virtual bool evaluate_constrained(double* matrix, std::uint64_t rows, std::uint64_t cols,
                                      double* fitness, double* violations) {
        for (std::uint64_t i = 0; i < rows; ++i) violations[i] = 0.0;
        return evaluate(matrix, rows, cols, fitness);
    }
};

}  // namespace ternavik
