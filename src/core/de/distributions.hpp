#pragma once
// Normal and Cauchy draws for the adaptive parameters. They are made for
// every individual in every generation, where a logarithm or a tangent per
// draw would cost as much as making the trials, so the normal comes from
// Marsaglia and Tsang's ziggurat (2000): almost always one word, a table
// look-up and a multiplication, and exact up to the 32-bit resolution.
#include <cmath>
#include <cstdint>

#include "runtime/random.hpp"

namespace ternavik {

struct ZigguratTables {
    std::uint32_t k[128];  // |hz| below k[i]: inside the layer's rectangle
    double w[128];         // x = hz * w[i]
    double f[128];         // exp(-x^2 / 2) at the layer's edge
};

// Built once; only exp and log at fixed arguments go into it.
const ZigguratTables& ziggurat_tables();

inline constexpr double ziggurat_tail = 3.442619855899;  // where the base strip's tail starts

// The rare rest of a ziggurat draw whose first word fell outside its
// layer's rectangle: the base strip's tail or a wedge test, then further
// attempts. Kept out of line, so the common case below stays a few
// instructions inlined into the caller's loop.
template <class Generator>
[[gnu::noinline, gnu::cold]] double finish_standard_normal(Generator& g, std::int32_t hz,
                                                           unsigned iz) {
    const ZigguratTables& t = ziggurat_tables();
    for (;;) {
        const double x = static_cast<double>(hz) * t.w[iz];
        if (iz == 0) {  // the tail beyond ziggurat_tail, by Marsaglia's method
            double a, b;
            do {
                a = -std::log(1.0 - draw_unit(g)) / ziggurat_tail;
                b = -std::log(1.0 - draw_unit(g));
            } while (b + b < a * a);
            return hz > 0 ? ziggurat_tail + a : -ziggurat_tail - a;
        }
        if (t.f[iz] + draw_unit(g) * (t.f[iz - 1] - t.f[iz]) < std::exp(-0.5 * x * x)) return x;
        const std::uint64_t word = next_word(g);
        hz = static_cast<std::int32_t>(static_cast<std::uint32_t>(word >> 32));
        iz = static_cast<unsigned>(word & 127u);
        const std::uint32_t magnitude =
            hz < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(hz))
                   : static_cast<std::uint32_t>(hz);
        if (magnitude < t.k[iz]) return static_cast<double>(hz) * t.w[iz];
    }
}

template <class Generator>
[[gnu::always_inline]] inline double draw_standard_normal(Generator& g,
                                                          const ZigguratTables& t) {
    const std::uint64_t word = next_word(g);
    const auto hz = static_cast<std::int32_t>(static_cast<std::uint32_t>(word >> 32));
    const unsigned iz = static_cast<unsigned>(word & 127u);
    const std::uint32_t magnitude =
        hz < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(hz))
               : static_cast<std::uint32_t>(hz);
    if (magnitude < t.k[iz]) [[likely]]
        return static_cast<double>(hz) * t.w[iz];
    return finish_standard_normal(g, hz, iz);
}

template <class Generator>
double draw_standard_normal(Generator& g) {
    return draw_standard_normal(g, ziggurat_tables());
}

// Cauchy(location, scale) as the ratio of two standard normals.
template <class Generator>
[[gnu::always_inline]] inline double draw_cauchy(Generator& g, const ZigguratTables& t,
                                                 double location, double scale) {
    const double top = draw_standard_normal(g, t);
    double bottom;
    do bottom = draw_standard_normal(g, t); while (bottom == 0.0);
    return location + scale * (top / bottom);
}

template <class Generator>
double draw_cauchy(Generator& g, double location, double scale) {
    return draw_cauchy(g, ziggurat_tables(), location, scale);
}

template <class Generator>
[[gnu::always_inline]] inline double draw_normal(Generator& g, const ZigguratTables& t,
                                                 double mean, double sd) {
    return mean + sd * draw_standard_normal(g, t);
}

template <class Generator>
double draw_normal(Generator& g, double mean, double sd) {
    return draw_normal(g, ziggurat_tables(), mean, sd);
}

}  // namespace ternavik
