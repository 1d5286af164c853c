#pragma once
// Sizes computed from a caller's dimensions (rows, columns, batch,
// population) go through here, the way an allocator must see them: a
// product that wraps around would allocate a small buffer and then write
// far past it.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>

namespace ternavik {

// The largest byte count one buffer may have: what std::vector and NumPy
// can index with a signed size.
inline constexpr std::size_t max_buffer_bytes = static_cast<std::size_t>(PTRDIFF_MAX);

// The number of elements of a buffer shaped by `factors`, or nothing when
// it or its size in bytes (elements of `element_bytes`) cannot be allocated.
inline std::optional<std::size_t> checked_elements(std::initializer_list<std::size_t> factors,
                                                   std::size_t element_bytes = sizeof(double)) {
    std::size_t product = 1;
    for (std::size_t factor : factors)
        if (__builtin_mul_overflow(product, factor, &product)) return std::nullopt;
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(product, element_bytes, &bytes) || bytes > max_buffer_bytes)
        return std::nullopt;
    return product;
}

// The same for an allocation about to happen: a size that cannot be
// allocated is an out-of-memory failure (MemoryError to a Python caller),
// raised before anything is allocated.
inline std::size_t allocation_elements(std::initializer_list<std::size_t> factors,
                                       std::size_t element_bytes = sizeof(double)) {
    std::optional<std::size_t> elements = checked_elements(factors, element_bytes);
    if (!elements) throw std::bad_alloc();
    return *elements;
}

}  // namespace ternavik
