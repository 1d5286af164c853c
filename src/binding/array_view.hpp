#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/strided.hpp"
#include "binding/errors.hpp"

namespace ternavik {

// A read-only view of a NumPy array read in place: holds a reference to the
// array and a shared borrow in the registry, both given back when the view
// is destroyed. Byte strides are kept as they are (negative, zero or not a
// multiple of 8), so every logical element is reached.
class ArrayView {
public:
    ArrayView() = default;
    ArrayView(ArrayView&& other) noexcept = default;
    ArrayView& operator=(ArrayView&& other) noexcept;
    ~ArrayView();

    StridedMatrix matrix() const;
    StridedVector<double> float_vector() const;
    StridedVector<std::int64_t> int_vector() const;
    std::size_t length() const { return shape_[0]; }

    // Ends the borrow and drops the reference now.
    void release();

private:
    friend Result<ArrayView> extract_array(PyObject*, int, int);
    PyRef array_;
    const char* data_ = nullptr;
    std::size_t shape_[2] = {0, 0};
    std::ptrdiff_t strides_[2] = {0, 0};
};

Result<ArrayView> extract_float64_matrix(PyObject* object);
Result<ArrayView> extract_float64_vector(PyObject* object);
Result<ArrayView> extract_int64_vector(PyObject* object);

// Hands a filled buffer to NumPy as a new 1-D float64 array without a copy;
// a keeper object owned by the array frees the buffer.
PyRef vector_to_array(std::vector<double>&& buffer);

// A new C-contiguous (rows, cols) float64 array holding a copy of a
// row-major matrix.
PyRef matrix_to_array(const double* data, std::size_t rows, std::size_t cols);

// A new tuple of the given new references, in order.
PyRef make_tuple(std::initializer_list<PyObject*> items);

}  // namespace ternavik
