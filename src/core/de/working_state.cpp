#include "core/de/working_state.hpp"

#include <cstddef>
#include <new>

#include "runtime/internal_failure.hpp"

namespace ternavik {

namespace {

// A matrix shape is representable only while the product of its non-zero
// axis lengths fits in a signed 64-bit length.
void check_shape(std::uint64_t rows, std::uint64_t cols) {
    const unsigned __int128 product = static_cast<unsigned __int128>(rows ? rows : 1) *
                                      static_cast<unsigned __int128>(cols ? cols : 1);
    if (product > static_cast<unsigned __int128>(INT64_MAX))
        throw InternalFailure(
            "ndarray: Shape too large, product of non-zero axis lengths overflows isize");
}

}  // namespace

ZeroedArray::ZeroedArray(std::uint64_t count) {
    // Sizes beyond what a pointer difference can span are refused here, so a
    // huge request ends as bad_alloc and never as a wrapped-around size.
    if (count > static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(double)) throw std::bad_alloc();
    const std::size_t n = count == 0 ? 1 : static_cast<std::size_t>(count);
    // calloc hands out untouched zero pages for large blocks, so the zero
    // fill of a big population costs nothing until a row is written.
    data_.reset(static_cast<double*>(std::calloc(n, sizeof(double))));
    if (!data_) throw std::bad_alloc();
}

WorkingState::WorkingState(std::uint64_t pop, std::uint64_t dimensions)
    : population((check_shape(pop, dimensions), pop * dimensions)),
      trial(pop * dimensions),
      fitness(pop),
      trial_fitness(pop),
      best_position(dimensions) {}

}  // namespace ternavik
