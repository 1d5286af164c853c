#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/strided.hpp"

namespace ternavik {

// Coefficients that say how far two rankings of the same n alternatives
// agree. Codes are what the package passes across the boundary.
enum class RankCoefficient : std::uint64_t {
    spearman = 0,               // Pearson correlation of the ranks
    weighted_spearman = 1,      // r_w, disagreements near the top weigh more
    rank_similarity = 2,        // WS, asymmetric: the first ranking is the reference
    kendall_tau = 3,            // tau-b: (C - D) / sqrt((pairs - tied x) (pairs - tied y))
    goodman_kruskal_gamma = 4,  // (concordant - discordant) / (concordant + discordant)
};
inline constexpr std::uint64_t rank_coefficient_count = 5;

// The coefficient of rankings x and y (n values each). A NaN rank gives NaN;
// undefined quotients (no spread, no untied pair) give 0 / 0 = NaN.
double rank_coefficient(RankCoefficient which, const double* x, const double* y, std::size_t n);

// Concordant minus discordant pairs, the number of pairs tied in neither
// ranking and the pairs tied in x and in y, counted exactly in O(n log n).
struct PairCounts {
    std::int64_t difference;
    std::int64_t untied;
    std::int64_t tied_x = 0;
    std::int64_t tied_y = 0;
};
PairCounts count_pairs(const double* x, const double* y, std::size_t n);

// The K x K matrix (row-major) of the coefficient between every pair of the
// K rankings in the rows of `rankings`: entry (a, b) is coefficient(a, b).
// Entries are computed in parallel; each is independent of the thread count.
std::vector<double> coefficient_matrix(RankCoefficient which, const StridedMatrix& rankings);

}  // namespace ternavik
