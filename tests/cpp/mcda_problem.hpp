// Decision problems for the method tests, owning the values their views read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/mcda/method_input.hpp"

namespace ternavik::mcda {

// A dense row-major rows x cols view of `values`.
inline StridedMatrix view(const std::vector<double>& values, std::size_t rows, std::size_t cols) {
    return {reinterpret_cast<const char*>(values.data()), rows, cols,
            static_cast<std::ptrdiff_t>(cols * sizeof(double)), sizeof(double)};
}

// A row-major n x m matrix, K x m weights and kinds that own their values.
struct Problem {
    std::vector<double> x, w;
    std::vector<std::int64_t> kinds;
    std::size_t n, m, k;
    MethodInput input() const {
        return {view(x, n, m), view(w, k, m),
                {reinterpret_cast<const char*>(kinds.data()), m, sizeof(std::int64_t)}};
    }
};

}  // namespace ternavik::mcda
