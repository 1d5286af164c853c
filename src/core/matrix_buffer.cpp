#include "core/matrix_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "core/checked_size.hpp"

namespace ternavik {

namespace {
constexpr std::size_t huge_page = std::size_t{2} << 20;
}  // namespace

void FreeBuffer::operator()(double* buffer) const { std::free(buffer); }

MatrixBuffer uninitialised_matrix(std::size_t rows, std::size_t cols) {
    // At most PTRDIFF_MAX bytes, so rounding up to a huge page cannot wrap.
    const std::size_t bytes = allocation_elements({rows, cols}) * sizeof(double);
    if (bytes < huge_page) {
        void* small = std::malloc(bytes == 0 ? 1 : bytes);
        if (small == nullptr) throw std::bad_alloc();
        return MatrixBuffer(static_cast<double*>(small));
    }
    // Large matrices are touched once per call, so faulting them in page by
    // page costs as much as the arithmetic; huge pages cut that 512-fold.
    const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
    void* large = std::aligned_alloc(huge_page, rounded);
    if (large == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(large, rounded, MADV_HUGEPAGE);  // only a hint; failure changes nothing
#endif
    return MatrixBuffer(static_cast<double*>(large));
}

}  // namespace ternavik
