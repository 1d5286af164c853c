#pragma once
#include <cstddef>

namespace ternavik {

// Sum of term(0) .. term(n - 1) in a fixed order that vectorises: eight
// partial sums take the terms whose index is congruent to their lane modulo
// 8 (over the largest multiple of 8), are folded as
// ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)), and the remaining terms
// are then added one by one. The order depends on n only, never on threads.
template <class Term>
double lane_sum(std::size_t n, Term term) {
    double p[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    const std::size_t whole = n / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8) {
        for (std::size_t k = 0; k < 8; ++k) p[k] = p[k] + term(i + k);
    }
    double acc = ((p[0] + p[4]) + (p[1] + p[5])) + ((p[2] + p[6]) + (p[3] + p[7]));
    for (std::size_t i = whole; i < n; ++i) acc = acc + term(i);
    return acc;
}

}  // namespace ternavik
