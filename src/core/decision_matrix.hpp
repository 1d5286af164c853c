#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/outcome.hpp"

namespace ternavik {

enum class IndicatorKind { Benefit, Cost };

// Code 1 means larger is better; every other code means smaller is better.
IndicatorKind indicator_kind(std::int64_t code);

// Fewer than two alternatives leave nothing to compare.
std::optional<CoreError> check_alternative_count(std::uint64_t n);

// A per-criterion vector of the wrong length is a caller bug, not bad data.
void check_criterion_length(std::uint64_t length, std::uint64_t m);

// Running minimum and maximum. Strict comparisons from the infinities keep
// NaN out of the extremes and keep the first of equal values (signed zeros).
struct Extremes {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();

    void see(double value) {
        if (value < min) min = value;
        if (value > max) max = value;
    }
};

}  // namespace ternavik
