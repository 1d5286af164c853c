#pragma once
#include <cstddef>

namespace ternavik::mcda {

// The plus and minus sums of PROMETHEE for one criterion whose preference
// function is a step (usual: threshold 0; u-shape: q; level: q and p). A step
// function's sum over k is a count of the k with d_ik above a threshold,
// found by binary search in the sorted values instead of n comparisons: the
// counts are integers, so the sums are exactly those of adding the steps in
// order. `sign` is +1 for benefit (d_ik = x_i - x_k), -1 for cost.
// `scratch` holds n values.
void step_preference_sums(const double* x, std::size_t n, double sign, double lower,
                          double upper, bool two_steps, double* scratch, double* plus,
                          double* minus);

// The same for a ramp (v-shape: lower 0; linear: lower q; both 1 above
// `upper` = p): plus_i = #{k : d_ik > p} + the ramps (d - lower) * (1 / (p - lower))
// of the k with lower < d_ik <= p, added from 0.0 in ascending order of x_k;
// minus_i likewise with d_ki. Only the k inside the ramp are visited.
void ramp_preference_sums(const double* x, std::size_t n, double sign, double lower,
                          double upper, double* scratch, double* plus, double* minus);

}  // namespace ternavik::mcda
