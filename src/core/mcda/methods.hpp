#pragma once
// The ranking methods. Each takes a batch of K weight vectors and returns
// K x n row-major results, so a whole weight grid costs one call; the
// weight-independent work (normalising, pairwise preferences) runs once.
#include <cstdint>

#include "core/mcda/method_input.hpp"
#include "core/mcda/normalization.hpp"

namespace ternavik::mcda {

// Closeness to the ideal of the normalised, weighted matrix (higher better).
Outcome<BatchScores> topsis(const MethodInput& input, Normalization normalization);

// VIKOR's group utility S, individual regret R and compromise Q (all lower better).
struct VikorScores {
    BatchScores s, r, q;
};
Outcome<VikorScores> vikor(const MethodInput& input, double v);

// PROMETHEE II preference functions, numbered as the Python layer names them.
enum class Preference : std::int64_t {
    usual = 0,
    u_shape = 1,
    v_shape = 2,
    level = 3,
    linear = 4,
    gaussian = 5,
};
inline constexpr std::int64_t preference_count = 6;

// One preference function per criterion with its indifference threshold q,
// preference threshold p and Gaussian spread s (unused ones are ignored).
struct PreferenceFunctions {
    StridedVector<std::int64_t> functions;
    StridedVector<double> q, p, s;
};

// Net outranking flows (higher better).
Outcome<BatchScores> promethee2(const MethodInput& input, const PreferenceFunctions& preference);

Outcome<BatchScores> copras(const MethodInput& input);              // utility Q / max Q, higher better
Outcome<BatchScores> waspas(const MethodInput& input, double lambda);  // lambda WSM + (1 - lambda) WPM
Outcome<BatchScores> edas(const MethodInput& input);                // appraisal score, higher better
Outcome<BatchScores> moora(const MethodInput& input);               // ratio system, higher better
Outcome<BatchScores> aras(const MethodInput& input);                // utility degree, higher better
Outcome<BatchScores> mabac(const MethodInput& input);               // border distance sum, higher better
Outcome<BatchScores> codas(const MethodInput& input, double tau);   // assessment score, higher better
Outcome<BatchScores> cocoso(const MethodInput& input, double lambda);  // higher better
Outcome<BatchScores> mairca(const MethodInput& input);              // gap sum, lower better
Outcome<BatchScores> marcos(const MethodInput& input);              // utility function, higher better

// Distance to the ideal point `esp` within `bounds` (m x 2: low, high), lower better.
Outcome<BatchScores> spotis(const MethodInput& input, const StridedMatrix& bounds,
                            const StridedVector<double>& esp);

}  // namespace ternavik::mcda
