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

namespace {

// Position of the first ascending value for which `value - v > t` fails.
std::size_t end_of_below(const double* s, std::size_t c, double value, double t) {
    return static_cast<std::size_t>(
        std::partition_point(s, s + c, [&](double v) { return value - v > t; }) - s);
}

// Position of the first ascending value for which `v - value > t` holds.
std::size_t start_of_above(const double* s, std::size_t c, double value, double t) {
    return static_cast<std::size_t>(
        std::partition_point(s, s + c, [&](double v) { return !(v - value > t); }) - s);
}

struct Ramp {
    double lower, upper, per_width;
    double at(double d) const { return (d - lower) * per_width; }
};

// #{d > upper} + ramps, where d_k = value - s_k: the full steps are the
// smallest values, the ramp the ones just above them.
double sum_below(const double* s, std::size_t c, double value, const Ramp& r) {
    const std::size_t full = end_of_below(s, c, value, r.upper);
    const std::size_t any = end_of_below(s, c, value, r.lower);
    double ramps = 0.0;
    for (std::size_t k = full; k < any; ++k) ramps = ramps + r.at(value - s[k]);
    return static_cast<double>(full) + ramps;
}

// The same with d_k = s_k - value: the ramp values lie just below the full steps.
double sum_above(const double* s, std::size_t c, double value, const Ramp& r) {
    const std::size_t any = start_of_above(s, c, value, r.lower);
    const std::size_t full = start_of_above(s, c, value, r.upper);
    double ramps = 0.0;
    for (std::size_t k = any; k < full; ++k) ramps = ramps + r.at(s[k] - value);
    return static_cast<double>(c - full) + ramps;
}

}  // namespace

void ramp_preference_sums(const double* x, std::size_t n, double sign, double lower,
                          double upper, double* scratch, double* plus, double* minus) {
    const std::size_t c = sorted_numbers(x, n, scratch);
    const Ramp ramp{lower, upper, 1.0 / (upper - lower)};
    const bool benefit = sign > 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double below = sum_below(scratch, c, x[i], ramp);
        const double above = sum_above(scratch, c, x[i], ramp);
        plus[i] = benefit ? below : above;
        minus[i] = benefit ? above : below;
    }
}

}  // namespace ternavik::mcda
