#pragma once
#include <cstdint>
#include <cstring>

namespace ternavik {

// Arithmetic with a fixed NaN result. When both operands of an addition are
// NaN, the hardware returns one of them, and which one depends on the order
// in which the compiler placed the operands; vector and scalar copies of one
// loop may place them differently. These operations return the first NaN
// operand in source order, quieted, so a result's bits do not depend on the
// code path or on how a loop was cut into pieces. Kernels use plain
// arithmetic and redo only the rare NaN results with these.

inline double quieted(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits |= std::uint64_t{1} << 51;
    std::memcpy(&x, &bits, sizeof bits);
    return x;
}

inline bool is_nan(double x) { return x != x; }

inline double ordered_add(double a, double b) {
    if (is_nan(a)) return quieted(a);
    if (is_nan(b)) return quieted(b);
    return a + b;
}

inline double ordered_sub(double a, double b) {
    if (is_nan(a)) return quieted(a);
    if (is_nan(b)) return quieted(b);
    return a - b;
}

inline double ordered_mul(double a, double b) {
    if (is_nan(a)) return quieted(a);
    if (is_nan(b)) return quieted(b);
    return a * b;
}

inline double ordered_div(double a, double b) {
    if (is_nan(a)) return quieted(a);
    if (is_nan(b)) return quieted(b);
    return a / b;
}

}  // namespace ternavik
