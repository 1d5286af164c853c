#pragma once
// What the ranking-method entry points of several files declare alike.
#include "binding/binder.hpp"
#include "core/mcda/method_input.hpp"
#include "core/mcda/methods.hpp"

namespace ternavik::engine {

// The three arrays every ranking method starts with.
#define TERNAVIK_METHOD_ARRAYS                                          \
    {"data", Kind::float64_matrix}, {"weights", Kind::float64_matrix}, \
        {"kinds", Kind::int64_vector}

inline mcda::MethodInput method_input(const Arguments& a) {
    return {a.view(0).matrix(), a.view(1).matrix(), a.view(2).int_vector()};
}

// The PROMETHEE methods: the arrays, then a preference function and its
// thresholds per criterion.
inline constexpr Parameter promethee_parameters[] = {
    TERNAVIK_METHOD_ARRAYS,      {"functions", Kind::int64_vector},
    {"q", Kind::float64_vector}, {"p", Kind::float64_vector},
    {"s", Kind::float64_vector},
};

inline mcda::PreferenceFunctions preference_functions(const Arguments& a) {
    return {a.view(3).int_vector(), a.view(4).float_vector(), a.view(5).float_vector(),
            a.view(6).float_vector()};
}

}  // namespace ternavik::engine
