#pragma once
#include <cstddef>
#include <memory>

namespace ternavik {

// Releases a buffer from uninitialised_matrix.
struct FreeBuffer {
    void operator()(double* buffer) const;
};
using MatrixBuffer = std::unique_ptr<double[], FreeBuffer>;

// Buffer of rows * cols doubles left uninitialised because every element is
// written before it is read; throws std::bad_alloc when it cannot exist.
MatrixBuffer uninitialised_matrix(std::size_t rows, std::size_t cols);

}  // namespace ternavik
