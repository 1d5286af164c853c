#include "core/mcda/preference_counts.hpp"

#include <algorithm>

namespace ternavik::mcda {

namespace {

// Sorted values of the criterion without NaN: a NaN difference prefers
// nothing, so NaN values take part in no count.
std::size_t sorted_numbers(const double* x, std::size_t n, double* sorted) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] == x[i]) sorted[count++] = x[i];
    std::sort(sorted, sorted + count);
    return count;
}

// #{k : value - s_k > t}: true for a prefix of the ascending values, since
// rounded subtraction is monotone in s_k.
double count_below(const double* s, std::size_t c, double value, double t) {
    return static_cast<double>(
        std::partition_point(s, s + c, [&](double v) { return value - v > t; }) - s);
}

// #{k : s_k - value > t}: true for a suffix of the ascending values.
double count_above(const double* s, std::size_t c, double value, double t) {
    return static_cast<double>(
        s + c - std::partition_point(s, s + c, [&](double v) { return !(v - value > t); }));
}

// Sum of the step function 1 above `upper`, 0.5 above `lower`, from the two
// counts; with lower >= upper the half step is empty.
double steps(double above_lower, double above_upper, double lower, double upper) {
    return lower < upper ? above_upper + 0.5 * (above_lower - above_upper) : above_upper;
}

}  // namespace

void step_preference_sums(const double* x, std::size_t n, double sign, double lower,
                          double upper, bool two_steps, double* scratch, double* plus,
                          double* minus) {
    const std::size_t c = sorted_numbers(x, n, scratch);
    const bool benefit = sign > 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        // d_ik = x_i - x_k on benefit criteria, x_k - x_i on cost criteria.
        auto outgoing = [&](double t) {
            return benefit ? count_below(scratch, c, x[i], t) : count_above(scratch, c, x[i], t);
        };
        auto incoming = [&](double t) {
            return benefit ? count_above(scratch, c, x[i], t) : count_below(scratch, c, x[i], t);
        };
        if (two_steps) {
            plus[i] = steps(outgoing(lower), outgoing(upper), lower, upper);
            minus[i] = steps(incoming(lower), incoming(upper), lower, upper);
        } else {
            plus[i] = outgoing(lower);
            minus[i] = incoming(lower);
        }
    }
}

}  // namespace ternavik::mcda
