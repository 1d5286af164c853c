#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ternavik {

// Read-only strided access to memory owned by someone else. Strides are in
// bytes and may be negative, zero or not a multiple of the element size, so
// every element is read with an unaligned-safe load.
template <class T>
struct StridedVector {
    const char* first = nullptr;
    std::size_t length = 0;
    std::ptrdiff_t stride = 0;  // bytes

    T operator[](std::size_t i) const {
        T value;
        std::memcpy(&value, first + static_cast<std::ptrdiff_t>(i) * stride, sizeof value);
        return value;
    }
    std::size_t size() const { return length; }
};

struct StridedMatrix {
    const char* first = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t row_stride = 0;  // bytes
    std::ptrdiff_t col_stride = 0;  // bytes

    double at(std::size_t i, std::size_t j) const {
        double value;
        std::memcpy(&value,
                    first + static_cast<std::ptrdiff_t>(i) * row_stride +
                        static_cast<std::ptrdiff_t>(j) * col_stride,
                    sizeof value);
        return value;
    }
};

}  // namespace ternavik
